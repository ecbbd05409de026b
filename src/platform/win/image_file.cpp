// Image files on Windows: CreateFileW (sharing read, write and delete), then
// positioned ReadFile calls.
#include <windows.h>

#include <algorithm>

#include "core/os_error.h"
#include "image/image_reader.h"
#include "platform/win/handle.h"
#include "platform/win/wide.h"

namespace sw {

namespace {

class FileImageReader final : public ImageReader {
  public:
    FileImageReader(win::Handle handle, uint64_t size) : handle_(std::move(handle)), size_(size) {}

    uint64_t size() const override { return size_; }

    Result<void, OsError> read_at(uint64_t offset, std::span<uint8_t> out) const override {
        size_t done = 0;
        while (done < out.size()) {
            uint64_t at = offset + done;
            OVERLAPPED ov{};
            ov.Offset = static_cast<DWORD>(at);
            ov.OffsetHigh = static_cast<DWORD>(at >> 32);
            DWORD want = static_cast<DWORD>(std::min<size_t>(out.size() - done, 1u << 30));
            DWORD got = 0;
            if (!ReadFile(handle_.get(), out.data() + done, want, &got, &ov)) {
                DWORD code = GetLastError();
                if (code == ERROR_HANDLE_EOF) return unexpected(short_read_error());
                return unexpected(os_error(static_cast<int>(code)));
            }
            if (got == 0) return unexpected(short_read_error());
            done += got;
        }
        return {};
    }

  private:
    win::Handle handle_;
    uint64_t size_;
};

bool is_directory(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

Result<std::unique_ptr<ImageReader>, std::string> open_image_file(const std::string& utf8_path) {
    std::wstring path = win::widen(utf8_path);
    win::Handle h(CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h.valid()) {
        DWORD code = GetLastError();
        // Windows answers "access denied" for a directory; say what it is.
        if (is_directory(path)) return unexpected(std::string("is a directory"));
        return unexpected(os_error(static_cast<int>(code)).text);
    }
    // Devices (NUL, CON, \\.\PhysicalDrive0, volumes), pipes and sockets are
    // not images: only a disk file with ordinary file information is read.
    BY_HANDLE_FILE_INFORMATION info{};
    bool regular =
        GetFileType(h.get()) == FILE_TYPE_DISK && GetFileInformationByHandle(h.get(), &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
    if (!regular) {
        bool dir = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        return unexpected(
            std::string(dir ? "is a directory" : "not a regular file (a device, pipe or socket)"));
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h.get(), &size)) return unexpected(last_os_error().text);
    return std::make_unique<FileImageReader>(std::move(h), static_cast<uint64_t>(size.QuadPart));
}

}  // namespace sw
