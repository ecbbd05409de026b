// ortivex-mediatool: what a vendor needs to check and publish media.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "core/system.h"

namespace {

struct Command {
    std::string_view name;
    std::string_view usage;
    int (*run)(const std::vector<std::string>&);
};

constexpr Command kCommands[] = {
    {"json", "json FILE                 check that FILE is one strict JSON document",
     sw::mediatool::json_command},
    {"keygen", "keygen PREFIX             write a new Ed25519 key pair PREFIX.secret, PREFIX.pub",
     sw::mediatool::keygen_command},
    {"sign",
     "sign IMAGE SECRET --version V --build B --architecture A --channel C --created T\n"
     "                            sign the image's ortivex/MEDIA.SUMS placeholder in place",
     sw::mediatool::sign_command},
    {"inspect", "inspect IMAGE             print the image's layout and its verdict",
     sw::mediatool::inspect_command},
    {"descriptor",
     "descriptor IMAGE SECRET [--url URL] [--out FILE]\n"
     "                            write the release descriptor of a signed image\n"
     "                            (FILE defaults to OrtivexOS-Lastest.json)",
     sw::mediatool::descriptor_command},
};

int usage() {
    std::fputs("usage: ortivex-mediatool COMMAND [ARGS]\n\ncommands:\n", stderr);
    for (const auto& c : kCommands)
        std::fprintf(stderr, "  %.*s\n", int(c.usage.size()), c.usage.data());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args = sw::platform::command_line_args(argc, argv);
    if (args.empty()) return usage();
    for (const auto& c : kCommands) {
        if (args[0] == c.name) return c.run(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    return usage();
}
