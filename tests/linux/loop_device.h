// Shell commands and loop devices for the Linux tests that need real block
// devices (as root; the tests skip themselves otherwise).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace sw::test {

// Standard output of a shell command without its final line feeds; empty
// when the command fails.
inline std::string shell(const std::string& command) {
    std::string out;
    FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (p == nullptr) return out;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    if (::pclose(p) != 0) return "";
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// A loop device over a file, detached at the end; not ok() without root or
// without a free loop device.
class Loop {
  public:
    explicit Loop(const std::filesystem::path& file, bool partitions = false) {
        if (::geteuid() != 0) return;
        node_ =
            shell(std::string("losetup -f --show ") + (partitions ? "-P " : "") + file.string());
    }
    ~Loop() {
        if (!node_.empty()) shell("losetup -d " + node_);
    }
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    bool ok() const { return !node_.empty(); }
    const std::string& node() const { return node_; }
    std::string name() const { return node_.substr(5); }
    // The disk number the Linux adapters give it.
    std::optional<uint32_t> number() const {
        std::ifstream in("/sys/block/" + name() + "/diskseq");
        uint64_t n = 0;
        if (!(in >> n)) return std::nullopt;
        return static_cast<uint32_t>(n);
    }

  private:
    std::string node_;
};

}  // namespace sw::test
