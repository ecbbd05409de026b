#include "platform/linux/disk/sysfs.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "core/text.h"
#include "disk/windows_drive_records.h"

namespace sw::platform::linux_disk {

namespace fs = std::filesystem;

std::optional<std::string> attribute(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0'))
        text.pop_back();
    return text;
}

Result<std::string, OsError> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return unexpected(last_os_error());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {

std::optional<std::pair<uint32_t, uint32_t>> parse_dev(const std::string& text) {
    auto colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    auto major = parse_u32_decimal(trim(std::string_view(text).substr(0, colon)));
    auto minor = parse_u32_decimal(trim(std::string_view(text).substr(colon + 1)));
    if (!major || !minor) return std::nullopt;
    return std::pair{*major, *minor};
}

// The first ancestor of a sysfs device directory that is a USB device.
std::optional<fs::path> usb_device_dir(fs::path dir) {
    for (; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
        std::error_code ec;
        if (fs::exists(dir / "idVendor", ec) && fs::exists(dir / "speed", ec)) return dir;
        if (dir == "/sys/devices") break;
    }
    return std::nullopt;
}

std::optional<std::string> loop_backing(const fs::path& block_dir) {
    auto backing = attribute(block_dir / "loop" / "backing_file");
    if (!backing || backing->empty()) return std::nullopt;
    return backing;
}

uint64_t u64_attr(const fs::path& file) {
    auto text = attribute(file);
    return text ? parse_u64_decimal(trim(*text)).value_or(0) : 0;
}

}  // namespace

std::optional<uint32_t> disk_number(const std::string& name) {
    auto seq = attribute(fs::path("/sys/block") / name / "diskseq");
    std::optional<uint64_t> value = seq ? parse_u64_decimal(trim(*seq)) : std::nullopt;
    if (!value) {
        // Kernels before 5.15 have no sequence numbers: the device number
        // stands in (stable while the disk stays, but it may be reused).
        auto dev = attribute(fs::path("/sys/block") / name / "dev");
        auto parsed = dev ? parse_dev(*dev) : std::nullopt;
        if (!parsed || parsed->first >= 4096 || parsed->second >= (1u << 20)) return std::nullopt;
        value = (static_cast<uint64_t>(parsed->first) << 20) | parsed->second;
    }
    if (*value >= kFirstReservedDiskNumber) return std::nullopt;
    return static_cast<uint32_t>(*value);
}

Result<std::vector<ListedDisk>, OsError> listed_disks() {
    std::error_code ec;
    fs::directory_iterator it("/sys/block", ec);
    if (ec) return unexpected(os_error(ec.value()));
    std::vector<ListedDisk> out;
    for (const auto& entry : it) {
        std::string name = entry.path().filename().string();
        auto backing = loop_backing(entry.path());
        if (!is_listed_disk(name, backing.has_value())) continue;
        auto number = disk_number(name);
        auto dev = attribute(entry.path() / "dev");
        if (!number || !dev || !parse_dev(*dev)) continue;

        fs::path block_dir = fs::canonical(entry.path(), ec);
        if (ec) continue;
        fs::path device_dir = fs::canonical(entry.path() / "device", ec);
        if (ec) device_dir = block_dir;
        std::string device_path = device_dir.string();

        DeviceInfo d;
        d.number = *number;
        std::string devpath = block_dir.string();
        d.instance_id = devpath.starts_with("/sys") ? devpath.substr(4) : devpath;
        auto mmc_type = attribute(device_dir / "type").value_or("");
        d.bus = bus_kind_of_code(bus_code_of_sysfs_path(device_path, mmc_type));
        if (device_path.find("/mmc") != std::string::npos) {
            d.product = clean_text(attribute(device_dir / "name").value_or(""));
        } else {
            // A vendor name comes with a model (SCSI, USB and ATA disks);
            // a lone "vendor" is a bus ID such as virtio's 0x1af4.
            auto model = attribute(device_dir / "model");
            if (model) d.vendor = clean_text(attribute(device_dir / "vendor").value_or(""));
            d.product = clean_text(model.value_or(""));
        }
        std::optional<std::string> serial;
        if (auto usb = usb_device_dir(device_dir)) serial = attribute(*usb / "serial");
        if (!serial) serial = attribute(device_dir / "serial");
        if (!serial) serial = attribute(block_dir / "serial");
        d.serial = clean_text(serial.value_or(""));
        d.size = u64_attr(block_dir / "size") * 512;
        auto alignment = alignment_answer(
            static_cast<uint32_t>(u64_attr(block_dir / "queue/logical_block_size")),
            static_cast<uint32_t>(u64_attr(block_dir / "queue/physical_block_size")));
        SectorSizes sectors = choose_sectors(alignment, std::nullopt);
        d.logical_sector = sectors.logical;
        d.physical_sector = sectors.physical;
        d.removable = trim(attribute(block_dir / "removable").value_or("0")) == "1";
        auto parsed = parse_dev(*dev);
        d.dev_inst = (parsed->first << 20) | (parsed->second & 0xFFFFF);
        out.push_back(ListedDisk{name, *dev, backing, std::move(d)});
    }
    std::stable_sort(out.begin(), out.end(), [](const ListedDisk& a, const ListedDisk& b) {
        return a.info.number < b.info.number;
    });
    return out;
}

Result<std::vector<BlockNode>, OsError> block_nodes() {
    std::error_code ec;
    fs::directory_iterator it("/sys/class/block", ec);
    if (ec) return unexpected(os_error(ec.value()));
    std::vector<BlockNode> out;
    for (const auto& entry : it) {
        BlockNode n;
        n.name = entry.path().filename().string();
        auto dev = attribute(entry.path() / "dev");
        if (!dev) continue;
        n.dev = trim(*dev);
        n.loop_backing = loop_backing(entry.path());
        if (n.name.starts_with("loop") && !n.loop_backing &&
            !fs::exists(entry.path() / "partition", ec))
            continue;  // an unattached loop device holds nothing
        if (fs::exists(entry.path() / "partition", ec)) {
            fs::path real = fs::canonical(entry.path(), ec);
            if (!ec) n.parent = real.parent_path().filename().string();
        }
        for (const auto& slave : fs::directory_iterator(entry.path() / "slaves", ec))
            n.slaves.push_back(slave.path().filename().string());
        for (const auto& holder : fs::directory_iterator(entry.path() / "holders", ec))
            n.holders.push_back(holder.path().filename().string());
        std::sort(n.holders.begin(), n.holders.end());
        n.ram = is_ram_device(n.name);
        out.push_back(std::move(n));
    }
    std::sort(out.begin(), out.end(),
              [](const BlockNode& a, const BlockNode& b) { return a.name < b.name; });
    return out;
}

std::optional<uint32_t> disk_number_of_dev(uint32_t major, uint32_t minor) {
    std::error_code ec;
    fs::path real = fs::canonical(fs::path("/sys/dev/block") / dev_text(major, minor), ec);
    if (ec) return std::nullopt;
    if (fs::exists(real / "partition", ec)) real = real.parent_path();
    return disk_number(real.filename().string());
}

Result<PathStat, OsError> stat_path(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return unexpected(last_os_error());
    PathStat out;
    out.block_device = S_ISBLK(st.st_mode);
    dev_t dev = out.block_device ? st.st_rdev : st.st_dev;
    out.major = major(dev);
    out.minor = minor(dev);
    out.regular = S_ISREG(st.st_mode);
    out.size = out.regular ? static_cast<uint64_t>(st.st_size) : 0;
    return out;
}

Result<std::vector<std::string>, std::string> btrfs_devices_of(const MountEntry& mount) {
    auto source = stat_path(mount.source);
    if (!source || !source->block_device)
        return unexpected(
            fmt("btrfs at {}: its source {} is no block device", mount.mount_point, mount.source));
    const std::string wanted = dev_text(source->major, source->minor);
    std::error_code ec;
    for (const auto& fsid : fs::directory_iterator("/sys/fs/btrfs", ec)) {
        std::vector<std::string> devices;
        bool ours = false;
        std::error_code dev_ec;
        for (const auto& device : fs::directory_iterator(fsid.path() / "devices", dev_ec)) {
            auto dev = attribute(device.path() / "dev");
            if (!dev) continue;
            devices.emplace_back(trim(*dev));
            ours = ours || devices.back() == wanted;
        }
        if (ours) return devices;
    }
    return unexpected(
        fmt("btrfs at {}: no device list for {} in /sys/fs/btrfs", mount.mount_point, wanted));
}

}  // namespace sw::platform::linux_disk
