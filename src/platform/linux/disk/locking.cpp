// Taking a disk's volumes away on Linux: "locking" a volume unmounts every
// file system mounted from it (a file system still in use refuses, as a
// Windows volume with open files refuses its lock); afterwards the whole
// disk is held open exclusively, which the kernel grants only when nothing
// else claims the disk or any of its partitions (no mount, swap, device
// mapper or md member), and which keeps them from being claimed again while
// the job runs. Before all that the job claims the disk with an exclusive
// flock on its device node, the convention of tools that rewrite a disk: a
// second job (or such a tool) finds it taken, and udev leaves it alone.
#include <fcntl.h>
#include <sys/file.h>
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

// Whether a mount's file system comes from the block device "major:minor".
bool mounted_from(const MountEntry& m, const std::string& dev) {
    if (dev_text(m.major, m.minor) == dev) return true;
    if (m.major != 0 || !m.source.starts_with("/dev/")) return false;
    auto node = stat_path(m.source);
    return node && node->block_device && dev_text(node->major, node->minor) == dev;
}

Result<std::vector<MountEntry>, OsError> mount_table() {
    auto text = read_file("/proc/self/mountinfo");
    if (!text) return unexpected(text.error());
    return parse_mountinfo(*text);
}

// Unmounts the file systems of the block device "major:minor", innermost
// first. umount2 takes a path, and a path names whatever is mounted on top:
// each mount is unmounted only after the table shows, right then, that the
// one on top at its mount point is that very mount. A file system from
// elsewhere mounted on or inside the drive's is someone else's use of it:
// nothing is unmounted then.
Result<void, OsError> unmount_drive_mounts(const std::string& dev, const std::string& name) {
    auto mounts = mount_table();
    if (!mounts) return unexpected(mounts.error());
    auto plan = plan_unmounts(*mounts, [&](const MountEntry& m) { return mounted_from(m, dev); });
    if (plan.foreign)
        return unexpected(message_error(
            fmt("another file system is mounted over {} at {}", name, *plan.foreign), kInUse));
    for (const auto& planned : plan.order) {
        auto now = mount_table();
        if (!now) return unexpected(now.error());
        bool present = std::any_of(now->begin(), now->end(),
                                   [&](const MountEntry& m) { return m.id == planned.id; });
        if (!present) continue;  // gone already
        const MountEntry* top = top_mount_at(*now, planned.mount_point);
        if (top == nullptr || top->id != planned.id)
            return unexpected(message_error(
                fmt("another file system is mounted over {} at {}", name, planned.mount_point),
                kInUse));
        if (::umount2(planned.mount_point.c_str(), UMOUNT_NOFOLLOW) != 0)
            return unexpected(last_os_error());
    }
    return {};
}

bool has_mounts(const std::string& dev) {
    auto mounts = mount_table();
    if (!mounts) return true;  // cannot tell: as good as mounted
    return std::any_of(mounts->begin(), mounts->end(),
                       [&](const MountEntry& m) { return mounted_from(m, dev); });
}

// Unmounting can wait on a device that no longer answers; the caller waits
// at most `ms` and abandons the attempt.
Result<void, OsError> unmount_all(const std::string& dev, const std::string& name, uint32_t ms) {
    return run_with_time_limit(
        std::chrono::milliseconds(ms),
        [dev, name]() -> Result<void, OsError> { return unmount_drive_mounts(dev, name); },
        [&] {
            return message_error(fmt("unmounting {} timed out after {} ms", name, ms), kTimedOut);
        },
        real_clock());
}

class LinuxVolumeLocker final : public VolumeLocker {
  public:
    Result<std::unique_ptr<VolumeLock>, OsError> claim(uint32_t number) override {
        auto path = disk_path(number);
        if (!path) return unexpected(path.error());
        return claim_path(*path);
    }

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
        if (has_mounts(v.dev())) return unexpected(os_error(EBUSY));
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

Result<std::unique_ptr<VolumeLock>, OsError> claim_path(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return unexpected(last_os_error());
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        OsError e = last_os_error();
        if (e.code == EWOULDBLOCK) e.traits |= kInUse;
        return unexpected(e);
    }
    // Closing the descriptor gives the claim back.
    return std::unique_ptr<VolumeLock>(std::make_unique<FdLock>(std::move(fd), path, ""));
}

}  // namespace sw::platform
