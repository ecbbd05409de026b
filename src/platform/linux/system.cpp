#include "core/system.h"

#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "core/text.h"

namespace sw::platform {

std::vector<std::string> command_line_args(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    return args;
}

std::optional<std::string> env_var(std::string_view name) {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr || !is_valid_utf8(value)) return std::nullopt;
    return std::string(value);
}

// "Debian GNU/Linux 12 (bookworm) (kernel 6.1.0-18-amd64)": the distribution's
// PRETTY_NAME from /etc/os-release and the running kernel's release.
std::string system_description() {
    std::string name = "Linux";
    std::ifstream in("/etc/os-release");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.starts_with("PRETTY_NAME=")) continue;
        std::string value = line.substr(12);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        if (!trim(value).empty()) name = utf8_lossy(trim(value));
        break;
    }
    struct utsname uts {};
    std::string kernel = uname(&uts) == 0 ? uts.release : "";
    return kernel.empty() ? name : name + " (kernel " + kernel + ")";
}

bool is_elevated() {
    return geteuid() == 0;
}

void attach_parent_console() {}

unsigned long process_id() {
    return static_cast<unsigned long>(getpid());
}

std::optional<std::filesystem::path> current_executable() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::nullopt;
    return p;
}

Result<uint64_t, OsError> free_space(const std::filesystem::path& folder) {
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0) return unexpected(last_os_error());
    return static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
}

}  // namespace sw::platform
