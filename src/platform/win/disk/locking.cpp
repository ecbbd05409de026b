// Locking and dismounting a Windows volume through its own handle.
#include <windows.h>
#include <winioctl.h>

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

class WinVolumeLocker final : public VolumeLocker {
  public:
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

}  // namespace sw::platform
