// Locking and dismounting a Windows volume through its own handle, and
// claiming a disk for one job with a named object.
#include <windows.h>
#include <winioctl.h>

#include "core/text.h"
#include "disk/windows_drive_records.h"
#include "disk/platform_disks.h"
#include "platform/win/disk/win_disk.h"
#include "platform/win/wide.h"

namespace sw::platform {

namespace {

class HandleLock final : public VolumeLock {
  public:
    explicit HandleLock(win::Handle h) : h_(std::move(h)) {}
    HANDLE get() const { return h_.get(); }

  private:
    win::Handle h_;  // closing it gives the volume back
};

// Whoever creates the named object holds the claim; it goes away with its
// last handle, so a process that ends gives it back. The Global namespace
// reaches every session: two users cannot write one disk at once either.
Result<std::unique_ptr<VolumeLock>, OsError> claim_named(const std::string& key) {
    std::wstring name = win::widen("Global\\Ortivex-Stickwright-" + key);
    win::Handle h(CreateMutexW(nullptr, FALSE, name.c_str()));
    const DWORD err = GetLastError();
    if (!h.valid()) {
        // One made by another user, with rights this one lacks, is held too.
        OsError e = os_error(static_cast<int>(err));
        if (err == ERROR_ACCESS_DENIED) e.traits |= kInUse;
        return unexpected(e);
    }
    if (err == ERROR_ALREADY_EXISTS)
        return unexpected(message_error(fmt("{} is claimed already", key), kInUse));
    return std::unique_ptr<VolumeLock>(std::make_unique<HandleLock>(std::move(h)));
}

// A file's claim is keyed by what the system tells files apart by, so that
// two paths of one file meet.
Result<std::string, OsError> file_key(const std::string& path) {
    win::Handle h(CreateFileW(win::widen(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    if (!h.valid()) return unexpected(last_os_error());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h.get(), &info)) return unexpected(last_os_error());
    return fmt("file-{}-{}-{}", static_cast<unsigned long>(info.dwVolumeSerialNumber),
               static_cast<unsigned long>(info.nFileIndexHigh),
               static_cast<unsigned long>(info.nFileIndexLow));
}

class WinVolumeLocker final : public VolumeLocker {
  public:
    Result<std::unique_ptr<VolumeLock>, OsError> claim(uint32_t number) override {
        return claim_named(fmt("disk-{}", number));
    }
    Result<std::unique_ptr<VolumeLock>, OsError> open(const VolumeInfo& volume) override {
        std::wstring path = win::widen(trim_trailing_backslashes(volume.name));
        win::Handle h(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr));
        if (!h.valid()) return unexpected(last_os_error());
        return std::unique_ptr<VolumeLock>(std::make_unique<HandleLock>(std::move(h)));
    }
    Result<void, OsError> lock(VolumeLock& volume, uint32_t ms) override {
        return win::control_with_timeout(static_cast<HandleLock&>(volume).get(), FSCTL_LOCK_VOLUME,
                                         ms);
    }
    Result<void, OsError> dismount(VolumeLock& volume, uint32_t ms) override {
        return win::control_with_timeout(static_cast<HandleLock&>(volume).get(),
                                         FSCTL_DISMOUNT_VOLUME, ms);
    }
    std::string_view lock_name() const override { return "FSCTL_LOCK_VOLUME"; }
    std::string_view dismount_name() const override { return "FSCTL_DISMOUNT_VOLUME"; }
    Result<std::unique_ptr<VolumeLock>, OsError> hold_disk(uint32_t) override {
        return std::unique_ptr<VolumeLock>();  // the volume locks are all Windows needs
    }
};

}  // namespace

std::unique_ptr<VolumeLocker> volume_locker() {
    return std::make_unique<WinVolumeLocker>();
}

Result<std::unique_ptr<VolumeLock>, OsError> claim_path(const std::string& path) {
    if (auto number = win::physical_drive_number(path)) return claim_named(fmt("disk-{}", *number));
    auto key = file_key(path);
    if (!key) return unexpected(key.error());
    return claim_named(*key);
}

}  // namespace sw::platform
