// A fresh directory under the system's temporary folder, removed with its
// content when the test ends.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace sw::test {

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
