// The Linux drive adapters: disks and volumes from sysfs and the mount
// table, USB speed from the USB device, system facts from /proc.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <map>

#include "core/text.h"
#include "disk/linux_drive_facts.h"
#include "disk/platform_disks.h"
#include "platform/linux/disk/sysfs.h"
#include "platform/linux/fd.h"

namespace sw::platform {

namespace fs = std::filesystem;
using namespace linux_disk;

namespace {

class SystemPathQuery : public LinuxPathQuery {
  public:
    Result<PathStat, OsError> stat(const std::string& path) override { return stat_path(path); }
    Result<std::vector<std::string>, std::string> btrfs_devices(const MountEntry& m) override {
        return btrfs_devices_of(m);
    }
};

class SystemFactsSource final : public LinuxFactsSource {
  public:
    Result<PathStat, OsError> stat(const std::string& path) override { return stat_path(path); }
    Result<std::vector<std::string>, std::string> btrfs_devices(const MountEntry& m) override {
        return btrfs_devices_of(m);
    }
    Result<std::string, OsError> mountinfo() override { return read_file("/proc/self/mountinfo"); }
    Result<std::string, OsError> swaps() override { return read_file("/proc/swaps"); }
    Result<std::string, OsError> current_exe() override {
        std::error_code ec;
        auto p = fs::read_symlink("/proc/self/exe", ec);
        if (ec) return unexpected(os_error(ec.value()));
        return p.string();
    }
    bool uefi_firmware() override {
        std::error_code ec;
        return fs::exists("/sys/firmware/efi", ec);
    }
    Result<std::vector<KernelClaim>, OsError> claims() override {
        auto nodes = block_nodes();
        if (!nodes) return unexpected(nodes.error());
        auto listed = listed_disks();
        if (!listed) return unexpected(listed.error());
        std::map<std::string, uint32_t> numbers;
        for (const auto& d : *listed)
            numbers[d.name] = d.info.number;
        std::map<std::string, bool> has_partitions;
        for (const auto& n : *nodes)
            if (n.parent) has_partitions[*n.parent] = true;
        std::vector<KernelClaim> out;
        for (const auto& n : *nodes) {
            auto disk = numbers.find(n.parent.value_or(n.name));
            if (disk == numbers.end()) continue;
            KernelClaim c{n.name, n.dev, disk->second, n.holders, std::nullopt};
            // A whole disk with partitions is claimed whenever one of them
            // is: each partition answers for itself instead.
            if (n.parent || !has_partitions[n.name]) {
                UniqueFd fd(
                    ::open(("/dev/" + n.name).c_str(), O_RDONLY | O_CLOEXEC | O_EXCL | O_NONBLOCK));
                if (!fd) c.exclusive_open = last_os_error();
            }
            out.push_back(std::move(c));
        }
        return out;
    }
};

}  // namespace

Result<std::vector<DeviceInfo>, OsError> enumerate_system_disks() {
    auto listed = listed_disks();
    if (!listed) return unexpected(listed.error());
    std::vector<DeviceInfo> out;
    for (auto& d : *listed)
        out.push_back(std::move(d.info));
    return out;
}

Result<std::vector<VolumeInfo>, OsError> enumerate_system_volumes() {
    auto nodes = block_nodes();
    if (!nodes) return unexpected(nodes.error());
    std::map<std::string, uint32_t> numbers;
    if (auto listed = listed_disks())
        for (const auto& d : *listed)
            numbers[d.name] = d.info.number;
    auto mount_text = read_file("/proc/self/mountinfo");
    std::vector<MountEntry> mounts =
        mount_text ? parse_mountinfo(*mount_text) : std::vector<MountEntry>{};
    SystemPathQuery query;
    return linux_volumes(*nodes, numbers, mounts, query);
}

std::optional<UsbSpeed> usb_speed_of(const DeviceInfo& drive) {
    // The disk's sysfs path is its instance identifier; the USB device is
    // the nearest ancestor with a vendor ID.
    std::error_code ec;
    for (fs::path dir = fs::path("/sys") / fs::path(drive.instance_id).relative_path();
         !dir.empty() && dir != "/sys/devices" && dir != "/"; dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", ec)) {
            auto speed = attribute(dir / "speed");
            return speed ? usb_speed_of_mbps(*speed) : std::nullopt;
        }
    }
    return std::nullopt;
}

Result<SystemPlaces, std::string> system_places() {
    SystemFactsSource source;
    return linux_system_places(source);
}

DiskFact locate_path(const std::vector<VolumeInfo>& volumes, const std::string& path) {
    auto mount_text = read_file("/proc/self/mountinfo");
    if (!mount_text) return unexpected(fmt("volume of {}: {}", path, mount_text.error().text));
    SystemPathQuery query;
    return linux_disks_of_path(volumes, parse_mountinfo(*mount_text), path, query);
}

Result<std::string, OsError> disk_path(uint32_t number) {
    auto listed = listed_disks();
    if (!listed) return unexpected(listed.error());
    for (const auto& d : *listed) {
        if (d.info.number != number) continue;
        // The node must still be this disk, not a leftover of another one.
        std::string node = "/dev/" + d.name;
        auto st = stat_path(node);
        if (!st) return unexpected(st.error());
        if (!st->block_device || dev_text(st->major, st->minor) != trim(d.dev))
            return unexpected(os_error(ENODEV));
        return node;
    }
    return unexpected(os_error(ENODEV));
}

}  // namespace sw::platform
