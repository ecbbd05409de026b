#include "http/partial_file.h"

#include <windows.h>

#include <algorithm>

#include "platform/win/handle.h"

namespace sw {

namespace {

constexpr DWORD kMaxIo = 1u << 30;

OVERLAPPED at(uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

class WinPartialFile final : public PartialFile {
  public:
    explicit WinPartialFile(win::Handle h) : h_(std::move(h)) {}

    Result<size_t, OsError> read_at(uint64_t offset, std::span<uint8_t> buffer) override {
        size_t done = 0;
        while (done < buffer.size()) {
            DWORD want = static_cast<DWORD>(std::min<size_t>(buffer.size() - done, kMaxIo));
            DWORD got = 0;
            OVERLAPPED o = at(offset + done);
            if (!ReadFile(h_.get(), buffer.data() + done, want, &got, &o)) {
                if (GetLastError() == ERROR_HANDLE_EOF) break;
                return unexpected(last_os_error());
            }
            if (got == 0) break;
            done += got;
        }
        return done;
    }

    Result<void, OsError> write_at(uint64_t offset, std::span<const uint8_t> bytes) override {
        size_t done = 0;
        while (done < bytes.size()) {
            DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, kMaxIo));
            DWORD put = 0;
            OVERLAPPED o = at(offset + done);
            if (!WriteFile(h_.get(), bytes.data() + done, want, &put, &o))
                return unexpected(last_os_error());
            if (put == 0) return unexpected(message_error("write of 0 bytes"));
            done += put;
        }
        return {};
    }

    Result<uint64_t, OsError> length() override {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(h_.get(), &size)) return unexpected(last_os_error());
        return static_cast<uint64_t>(size.QuadPart);
    }

    Result<void, OsError> truncate() override {
        LARGE_INTEGER zero{};
        if (!SetFilePointerEx(h_.get(), zero, nullptr, FILE_BEGIN) || !SetEndOfFile(h_.get()))
            return unexpected(last_os_error());
        return {};
    }

  private:
    win::Handle h_;
};

}  // namespace

Result<std::unique_ptr<PartialFile>, OsError> open_partial_file(const std::filesystem::path& path) {
    win::Handle h(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) return unexpected(last_os_error());
    return std::make_unique<WinPartialFile>(std::move(h));
}

Result<void, OsError> replace_file(const std::filesystem::path& from,
                                   const std::filesystem::path& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
        return unexpected(last_os_error());
    return {};
}

}  // namespace sw
