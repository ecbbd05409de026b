// Files for tests: a fresh directory under the system's temporary folder
// (removed with its content when the test ends), reading and writing files,
// and the environment set for one test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace sw::test {

inline constexpr uint64_t MiB = 1 << 20;
inline constexpr uint64_t GiB = 1024 * MiB;
inline constexpr uint64_t TiB = 1024 * GiB;

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Writes `bytes` to a file, creating or truncating it.
void write_file(const std::filesystem::path& file, const std::string& bytes);
std::string read_file(const std::filesystem::path& file);
// A file of `size` zero bytes (sparse where the file system allows it).
void make_file(const std::filesystem::path& path, uint64_t size);
// Up to `n` bytes of a file from `offset` (fewer at its end).
std::string read_range(const std::filesystem::path& path, uint64_t offset, size_t n);
// Bytes as text, for comparing with file contents.
std::string as_text(std::span<const std::byte> bytes);

// Sets an environment variable for the lifetime of this object, then
// restores the previous value.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();

  private:
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace sw::test
