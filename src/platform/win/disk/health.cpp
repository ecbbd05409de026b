// The drive check's file test on Windows: the drive's letters, the file
// system name of each, and plain file calls.
#include <windows.h>

#include <algorithm>
#include <array>

#include "disk/platform_health.h"
#include "platform/win/disk/win_disk.h"
#include "platform/win/wide.h"

namespace sw::platform {

namespace {

class WindowsTestFile final : public TestFile {
  public:
    explicit WindowsTestFile(win::Handle h) : h_(std::move(h)) {}

    Result<void, OsError> write(std::span<const std::byte> data) override {
        size_t done = 0;
        while (done < data.size()) {
            DWORD n = 0;
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
            if (!WriteFile(h_.get(), data.data() + done, chunk, &n, nullptr))
                return unexpected(last_os_error());
            if (n == 0) return unexpected(os_error(ERROR_WRITE_FAULT));
            done += n;
        }
        return {};
    }
    Result<void, OsError> flush() override {
        if (!FlushFileBuffers(h_.get())) return unexpected(last_os_error());
        return {};
    }
    Result<void, OsError> close() override {
        if (!h_.close()) return unexpected(last_os_error());
        return {};
    }

  private:
    win::Handle h_;
};

class WindowsFileOps final : public FileOps {
  public:
    Result<std::unique_ptr<TestFile>, OsError> create(const std::string& path) override {
        // A link left on the drive under the test file's name is replaced,
        // never followed to a file elsewhere.
        win::Handle h(CreateFileW(win::widen(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!h.valid()) return unexpected(last_os_error());
        return std::unique_ptr<TestFile>(std::make_unique<WindowsTestFile>(std::move(h)));
    }
    Result<void, OsError> remove(const std::string& path) override {
        if (!DeleteFileW(win::widen(path).c_str())) return unexpected(last_os_error());
        return {};
    }
};

}  // namespace

std::shared_ptr<FileOps> file_ops() {
    return std::make_shared<WindowsFileOps>();
}

std::vector<FileTestTarget> file_test_targets(const DeviceInfo& drive,
                                              const Result<std::vector<VolumeInfo>, OsError>&) {
    std::vector<FileTestTarget> out;
    for (char letter : drive.letters)
        out.push_back(letter_target(letter));
    return out;
}

std::optional<std::string> file_system_name(const FileTestTarget& target) {
    std::array<wchar_t, 64> name{};
    if (!GetVolumeInformationW(win::widen(target.root).c_str(), nullptr, 0, nullptr, nullptr,
                               nullptr, name.data(), static_cast<DWORD>(name.size())))
        return std::nullopt;
    return win::narrow(name.data(), name.size());
}

}  // namespace sw::platform
