#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

#include "core/system.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win/wide.h"
#else
#include <stdlib.h>
#endif

namespace sw::test {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::ostringstream name;
    name << "stickwright-test-" << platform::process_id() << "-" << stamp << "-" << counter++;
    path_ = std::filesystem::temp_directory_path() / name.str();
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void write_file(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void make_file(const std::filesystem::path& path, uint64_t size) {
    std::ofstream(path, std::ios::binary).close();
    std::filesystem::resize_file(path, size);
}

std::string read_range(const std::filesystem::path& path, uint64_t offset, size_t n) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string s(n, '\0');
    in.read(s.data(), static_cast<std::streamsize>(n));
    s.resize(static_cast<size_t>(in.gcount()));
    return s;
}

std::string as_text(std::span<const std::byte> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

namespace {

void set_env_var(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
    SetEnvironmentVariableW(win::widen(name).c_str(), value ? win::widen(*value).c_str() : nullptr);
#else
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
#endif
}

}  // namespace

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)), old_(platform::env_var(name_)) {
    set_env_var(name_, value);
}

ScopedEnv::~ScopedEnv() {
    set_env_var(name_, old_);
}

}  // namespace sw::test
