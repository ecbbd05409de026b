// Ejecting a disk on Linux through the kernel's sysfs files (what the steps
// mean is in eject_steps.h), and re-reading a disk's partition table.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "disk/drives.h"
#include "disk/platform_disks.h"
#include "disk/platform_health.h"
#include "platform/linux/disk/sysfs.h"
#include "platform/linux/fd.h"

namespace sw {

Result<std::vector<std::string>, OsError> disks_below(const std::string& block_dir,
                                                      const std::string& usb_dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path usb = fs::canonical(usb_dir, ec);
    if (ec) return unexpected(os_error(ec.value()));
    fs::directory_iterator it(block_dir, ec);
    if (ec) return unexpected(os_error(ec.value()));
    std::vector<std::string> out;
    for (const auto& entry : it) {
        std::error_code entry_ec;
        fs::path device = fs::canonical(entry.path(), entry_ec);
        if (entry_ec) continue;  // gone in between
        auto [u, d] = std::mismatch(usb.begin(), usb.end(), device.begin(), device.end());
        if (u == usb.end() && d != device.end())
            out.push_back("/dev/" + entry.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace sw

namespace sw::platform {

namespace fs = std::filesystem;

namespace {

// The disk's instance identifier is its device path below /sys.
std::string sysfs_dir_of(const DeviceInfo& disk) {
    return (fs::path("/sys") / fs::path(disk.instance_id).relative_path()).string();
}

class ExclusiveDisk final : public HeldDisk {
  public:
    explicit ExclusiveDisk(UniqueFd fd) : fd_(std::move(fd)) {}
    Result<void, OsError> flush() override {
        if (::fsync(fd_.get()) != 0) return unexpected(last_os_error());
        return {};
    }

  private:
    UniqueFd fd_;
};

class SysfsEjectOps final : public LinuxEjectOps {
  public:
    explicit SysfsEjectOps(std::shared_ptr<DiskSystem> disks) : disks_(std::move(disks)) {}
    Result<std::string, OsError> disk_node(uint32_t number) override { return disk_path(number); }
    Result<std::unique_ptr<HeldDisk>, OsError> hold_exclusive(const std::string& node) override {
        UniqueFd fd(::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_EXCL));
        if (!fd) return unexpected(last_os_error());
        return std::unique_ptr<HeldDisk>(std::make_unique<ExclusiveDisk>(std::move(fd)));
    }
    std::vector<std::string> mount_points(uint32_t number) override {
        std::vector<std::string> out;
        auto volumes = disks_->enumerate_volumes();
        if (!volumes) return out;
        for (const auto& v : *volumes)
            if (std::find(v.disks.begin(), v.disks.end(), number) != v.disks.end())
                out.insert(out.end(), v.mount_points.begin(), v.mount_points.end());
        return out;
    }
    bool exists(const std::string& file) override {
        std::error_code ec;
        return fs::exists(file, ec);
    }
    Result<void, OsError> write_attribute(const std::string& file,
                                          std::string_view value) override {
        UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CLOEXEC));
        if (!fd) return unexpected(last_os_error());
        ssize_t n = ::write(fd.get(), value.data(), value.size());
        if (n < 0) return unexpected(last_os_error());
        if (static_cast<size_t>(n) != value.size()) return unexpected(os_error(EIO));
        return {};
    }

    Result<std::vector<std::string>, OsError> disks_of_usb_device(
        const std::string& usb_dir) override {
        return disks_below("/sys/block", usb_dir);
    }
    std::string disk_sysfs_dir(const DeviceInfo& disk) override { return sysfs_dir_of(disk); }

  private:
    std::shared_ptr<DiskSystem> disks_;
};

class LinuxEject final : public EjectSystem {
  public:
    explicit LinuxEject(std::shared_ptr<DiskSystem> disks)
        : disks_(disks), ops_(std::move(disks)) {}
    Result<DeviceInfo, std::string> identify(const DeviceIdentity& expected) override {
        return identify_drive(disks_, expected);
    }
    std::optional<EjectTarget> parent_of(const DeviceInfo& disk) override {
        auto usb = usb_device_of(sysfs_dir_of(disk), [](const std::string& dir) {
            std::error_code ec;
            return fs::exists(dir + "/idVendor", ec);
        });
        if (!usb) return std::nullopt;
        return EjectTarget{0, *usb, true};
    }
    EjectTarget own_node(const DeviceInfo& disk) override {
        return EjectTarget{0, sysfs_dir_of(disk), false};
    }
    Result<void, std::string> request_eject(const DeviceInfo& disk,
                                            const EjectTarget& target) override {
        return linux_request_eject(ops_, disk, target);
    }
    Result<void, OsError> refresh_layout(uint32_t number) override {
        auto node = disk_path(number);
        if (!node) return unexpected(node.error());
        UniqueFd fd(::open(node->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd) return unexpected(last_os_error());
        if (::ioctl(fd.get(), BLKRRPART) != 0) return unexpected(last_os_error());
        return {};
    }
    std::string_view refresh_name() const override { return "BLKRRPART"; }

  private:
    std::shared_ptr<DiskSystem> disks_;
    SysfsEjectOps ops_;
};

}  // namespace

std::unique_ptr<EjectSystem> eject_system(std::shared_ptr<DiskSystem> disks) {
    return std::make_unique<LinuxEject>(std::move(disks));
}

}  // namespace sw::platform
