// Taking a disk's volumes away on Linux: "locking" a volume unmounts every
// file system mounted from it (a file system still in use refuses, as a
// Windows volume with open files refuses its lock); afterwards the whole
// disk is held open exclusively, which the kernel grants only when nothing
// else claims the disk or any of its partitions (no mount, swap, device
// mapper or md member), and which keeps them from being claimed again while
// the job runs.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>

#include "core/text.h"
#include "runtime/thread.h"
#include "disk/linux_drive_facts.h"
#include "disk/platform_disks.h"
#include "platform/linux/disk/sysfs.h"
#include "platform/linux/fd.h"

namespace sw::platform {

using namespace linux_disk;

namespace {

class FdLock final : public VolumeLock {
  public:
    FdLock(UniqueFd fd, std::string name, std::string dev)
        : fd_(std::move(fd)), name_(std::move(name)), dev_(std::move(dev)) {}
    const std::string& name() const { return name_; }
    const std::string& dev() const { return dev_; }

  private:
    UniqueFd fd_;
    std::string name_;
    std::string dev_;
};

// Mount points of the block device "major:minor", the most recent first, so
// that file systems mounted inside others come off before them.
std::vector<std::string> mount_points_of(const std::string& dev) {
    std::vector<std::string> points;
    auto text = read_file("/proc/self/mountinfo");
    if (!text) return points;
    for (const auto& m : parse_mountinfo(*text)) {
        bool same = dev_text(m.major, m.minor) == dev;
        if (!same && m.major == 0 && m.source.starts_with("/dev/")) {
            auto node = stat_path(m.source);
            same = node && node->block_device && dev_text(node->major, node->minor) == dev;
        }
        if (same) points.push_back(m.mount_point);
    }
    std::reverse(points.begin(), points.end());
    return points;
}

// Unmounting can wait on a device that no longer answers; the caller waits
// at most `ms` and abandons the attempt.
Result<void, OsError> unmount_all(const std::string& dev, const std::string& name, uint32_t ms) {
    return run_with_time_limit(
        std::chrono::milliseconds(ms),
        [dev]() -> Result<void, OsError> {
            for (const auto& point : mount_points_of(dev)) {
                if (::umount2(point.c_str(), 0) != 0) return unexpected(last_os_error());
            }
            return {};
        },
        [&] {
            return message_error(fmt("unmounting {} timed out after {} ms", name, ms), kTimedOut);
        });
}

class LinuxVolumeLocker final : public VolumeLocker {
  public:
    Result<std::unique_ptr<VolumeLock>, OsError> open(const VolumeInfo& volume) override {
        UniqueFd fd(::open(volume.name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd) return unexpected(last_os_error());
        return std::unique_ptr<VolumeLock>(
            std::make_unique<FdLock>(std::move(fd), volume.name, volume.device));
    }

    Result<void, OsError> lock(VolumeLock& volume, uint32_t ms) override {
        auto& v = static_cast<FdLock&>(volume);
        return unmount_all(v.dev(), v.name(), ms);
    }

    Result<void, OsError> dismount(VolumeLock& volume, uint32_t) override {
        // Unmounted already; a mount that came back in between is still in use.
        auto& v = static_cast<FdLock&>(volume);
        if (!mount_points_of(v.dev()).empty()) return unexpected(os_error(EBUSY));
        return {};
    }

    std::string_view lock_name() const override { return "umount2"; }
    std::string_view dismount_name() const override { return "umount2"; }

    Result<std::unique_ptr<VolumeLock>, OsError> hold_disk(uint32_t number) override {
        auto path = disk_path(number);
        if (!path) return unexpected(path.error());
        UniqueFd fd(::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_EXCL));
        if (!fd) return unexpected(last_os_error());
        return std::unique_ptr<VolumeLock>(std::make_unique<FdLock>(std::move(fd), *path, ""));
    }
};

}  // namespace

std::unique_ptr<VolumeLocker> volume_locker() {
    return std::make_unique<LinuxVolumeLocker>();
}

}  // namespace sw::platform
