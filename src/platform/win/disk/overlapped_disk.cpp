// Raw transfers on Windows: the disk (or a file) opened for overlapped I/O,
// one OVERLAPPED record and one manual-reset event per request slot.
#include <windows.h>
#include <winioctl.h>

#include <vector>

#include "core/text.h"
#include "disk/platform_disks.h"
#include "platform/win/disk/win_disk.h"
#include "platform/win/wide.h"

namespace sw::platform {

namespace {

DWORD open_flags(const OpenMode& mode) {
    return FILE_FLAG_OVERLAPPED | (mode.no_buffering ? FILE_FLAG_NO_BUFFERING : 0) |
           (mode.write_through ? FILE_FLAG_WRITE_THROUGH : 0);
}

win::Handle open_handle(const std::wstring& path, const OpenMode& mode) {
    return win::Handle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   open_flags(mode), nullptr));
}

class OverlappedDisk final : public AsyncDisk {
  public:
    OverlappedDisk(std::wstring path, win::Handle handle)
        : path_(std::move(path)), h_(std::move(handle)) {}

    Result<void, OsError> add_slots(size_t count) {
        for (size_t k = 0; k < count; ++k) {
            win::Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (!event.valid()) return unexpected(last_os_error());
            events_.push_back(std::move(event));
        }
        slots_.assign(count, OVERLAPPED{});
        busy_.assign(count, false);
        return {};
    }

    ~OverlappedDisk() override {
        // Nothing may still write into memory the caller is about to free.
        cancel_all();
        for (size_t k = 0; k < slots_.size(); ++k)
            if (busy_[k]) wait(k, kDrainWaitMs);
    }

    size_t slots() const override { return slots_.size(); }

    Result<void, OsError> issue(size_t slot, IoDirection direction, uint64_t offset,
                                std::byte* data, size_t length) override {
        if (slot >= slots_.size() || busy_[slot])
            return unexpected(message_error(fmt("request slot {} is still in use", slot)));
        OVERLAPPED& ov = slots_[slot];
        ov = OVERLAPPED{};
        ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
        ov.hEvent = events_[slot].get();
        BOOL ok = direction == IoDirection::Read
                      ? ReadFile(h_.get(), data, static_cast<DWORD>(length), nullptr, &ov)
                      : WriteFile(h_.get(), data, static_cast<DWORD>(length), nullptr, &ov);
        if (!ok && GetLastError() != ERROR_IO_PENDING) return unexpected(last_os_error());
        busy_[slot] = true;
        return {};
    }

    SlotOutcome wait(size_t slot, uint32_t ms) override {
        if (slot >= slots_.size() || !busy_[slot])
            return {SlotOutcome::Failed, 0,
                    message_error(fmt("request slot {} has nothing to wait for", slot))};
        DWORD got = 0;
        if (GetOverlappedResultEx(h_.get(), &slots_[slot], &got, ms, FALSE)) {
            busy_[slot] = false;
            return {SlotOutcome::Done, got, {}};
        }
        DWORD err = GetLastError();
        if (err == WAIT_TIMEOUT || err == ERROR_IO_INCOMPLETE)
            return {SlotOutcome::TimedOut, 0, {}};
        busy_[slot] = false;
        return {SlotOutcome::Failed, 0, os_error(static_cast<int>(err))};
    }

    void cancel(size_t slot) override {
        if (slot < slots_.size() && busy_[slot]) CancelIoEx(h_.get(), &slots_[slot]);
    }

    void cancel_all() override { CancelIoEx(h_.get(), nullptr); }

    Result<void, OsError> flush() override {
        if (!FlushFileBuffers(h_.get())) return unexpected(last_os_error());
        return {};
    }

    Result<void, OsError> reopen(const OpenMode& mode) override {
        win::Handle fresh = open_handle(path_, mode);
        if (!fresh.valid()) return unexpected(last_os_error());
        h_ = std::move(fresh);
        return {};
    }

    Result<void, OsError> query_writable(uint32_t ms) override {
        return win::control_with_timeout(h_.get(), IOCTL_DISK_IS_WRITABLE, ms);
    }

  private:
    std::wstring path_;
    win::Handle h_;
    std::vector<win::Handle> events_;
    std::vector<OVERLAPPED> slots_;
    std::vector<bool> busy_;
};

}  // namespace

Result<std::unique_ptr<AsyncDisk>, OsError> open_async(const std::string& path,
                                                       const OpenMode& mode, size_t slots) {
    std::wstring wide = win::widen(path);
    win::Handle h = open_handle(wide, mode);
    if (!h.valid()) return unexpected(last_os_error());
    auto disk = std::make_unique<OverlappedDisk>(wide, std::move(h));
    if (auto made = disk->add_slots(slot_count_for(slots)); !made) return unexpected(made.error());
    return std::unique_ptr<AsyncDisk>(std::move(disk));
}

std::string_view writable_query_name() {
    return "IOCTL_DISK_IS_WRITABLE";
}

}  // namespace sw::platform
