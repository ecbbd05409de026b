#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "commands.h"
#include "core/paths.h"
#include "json/json.h"

namespace sw::mediatool {
namespace {

// The whole file as bytes, or absent with a reason when it cannot be read.
std::optional<std::string> read_file(const std::filesystem::path& path, std::string& reason) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        reason = "is a directory";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        reason = std::filesystem::exists(path, ec) ? "cannot be opened" : "no such file";
        return std::nullopt;
    }
    std::string bytes;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        bytes.append(buf, static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) {
        reason = "read failed";
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

int json_command(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fputs("usage: ortivex-mediatool json FILE\n", stderr);
        return 2;
    }
    std::string reason;
    std::optional<std::string> bytes = read_file(path_from_utf8(args[0]), reason);
    if (!bytes) {
        std::fprintf(stderr, "cannot read %s: %s\n", args[0].c_str(), reason.c_str());
        return 2;
    }
    auto doc = parse_json(*bytes);
    if (!doc) {
        std::printf("error: %s at %zu\n", doc.error().message, doc.error().offset);
        return 1;
    }
    std::puts("ok");
    return 0;
}

}  // namespace sw::mediatool
