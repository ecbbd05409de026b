#include "disk/linux_drive_facts.h"

#include <algorithm>
#include <array>
#include <set>

#include "core/text.h"

namespace sw {

namespace {

bool starts_with_any(std::string_view s, std::initializer_list<std::string_view> prefixes) {
    for (auto p : prefixes)
        if (s.starts_with(p)) return true;
    return false;
}

// File systems whose data lies on no local disk: kernel views, RAM and
// network or host shares. Writing any USB drive cannot harm them.
bool is_diskless_fs(std::string_view type) {
    static constexpr std::array<std::string_view, 30> kTypes = {
        "tmpfs",  "ramfs",      "devtmpfs", "proc",      "sysfs",       "devpts",
        "mqueue", "cgroup",     "cgroup2",  "debugfs",   "tracefs",     "securityfs",
        "pstore", "bpf",        "configfs", "hugetlbfs", "binfmt_misc", "fusectl",
        "nsfs",   "rpc_pipefs", "efivarfs", "autofs",    "nfs",         "nfs4",
        "cifs",   "smb3",       "9p",       "virtiofs",  "ceph",        "fuse.sshfs"};
    return std::find(kTypes.begin(), kTypes.end(), type) != kTypes.end();
}

// Mount points and swap names escape blanks and backslashes as \ooo.
std::string unescape_octal(std::string_view s) {
    auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && octal(s[i + 1]) && octal(s[i + 2]) &&
            octal(s[i + 3])) {
            out +=
                static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string_view> split_blanks(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// Splits overlay options at unescaped separators; a backslash keeps the next byte.
std::vector<std::string> split_escaped(std::string_view s, std::string_view separators) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            out.back() += s[++i];
        } else if (separators.find(s[i]) != std::string_view::npos) {
            out.emplace_back();
        } else {
            out.back() += s[i];
        }
    }
    return out;
}

constexpr int kMaxDepth = 8;

}  // namespace

bool is_ram_device(std::string_view name) {
    return starts_with_any(name, {"ram", "zram", "brd"});
}

bool is_listed_disk(std::string_view name, bool loop_attached) {
    if (is_ram_device(name)) return false;
    if (starts_with_any(name, {"dm-", "md", "sr"})) return false;
    if (name.starts_with("loop")) return loop_attached;
    return true;
}

uint32_t bus_code_of_sysfs_path(std::string_view path, std::string_view mmc_type) {
    auto has = [&](std::string_view part) { return path.find(part) != std::string_view::npos; };
    if (has("/usb")) return bus_code::kUsb;
    if (has("/mmc")) return trim(mmc_type) == "MMC" ? bus_code::kMmc : bus_code::kSd;
    if (has("/nvme")) return bus_code::kNvme;
    if (has("/ata")) return bus_code::kSata;
    if (has("/virtio")) return bus_code::kVirtual;
    if (has("/devices/virtual/block/loop")) return bus_code::kFileBackedVirtual;
    if (has("/host") || has("/target")) return bus_code::kScsi;
    return bus_code::kUnknown;
}

std::optional<UsbSpeed> usb_speed_of_mbps(std::string_view speed) {
    std::string_view s = trim(speed);
    size_t dot = s.find('.');
    auto whole = parse_u32_decimal(s.substr(0, dot));
    if (!whole) return std::nullopt;
    if (*whole <= 12) return UsbSpeed::Full;
    if (*whole <= 480) return UsbSpeed::High;
    if (*whole <= 5000) return UsbSpeed::Super;
    return UsbSpeed::SuperPlus;
}

std::string dev_text(uint32_t major, uint32_t minor) {
    return fmt("{}:{}", major, minor);
}

std::vector<MountEntry> parse_mountinfo(std::string_view text) {
    std::vector<MountEntry> out;
    for (auto line : split_lines(text)) {
        auto f = split_blanks(line);
        auto sep = std::find(f.begin(), f.end(), std::string_view("-"));
        if (f.size() < 6 || sep == f.end() || sep - f.begin() < 6 || f.end() - sep < 3) continue;
        auto colon = f[2].find(':');
        if (colon == std::string_view::npos) continue;
        auto major = parse_u32_decimal(f[2].substr(0, colon));
        auto minor = parse_u32_decimal(f[2].substr(colon + 1));
        if (!major || !minor) continue;
        auto id = parse_u32_decimal(f[0]);
        auto parent = parse_u32_decimal(f[1]);
        if (!id || !parent) continue;
        MountEntry e;
        e.id = *id;
        e.parent = *parent;
        e.major = *major;
        e.minor = *minor;
        e.mount_point = unescape_octal(f[4]);
        e.mount_options = unescape_octal(f[5]);
        e.fs_type = unescape_octal(sep[1]);
        e.source = unescape_octal(sep[2]);
        e.super_options = sep + 3 < f.end() ? unescape_octal(sep[3]) : "";
        out.push_back(std::move(e));
    }
    return out;
}

UnmountPlan plan_unmounts(const std::vector<MountEntry>& mounts,
                          const std::function<bool(const MountEntry&)>& of_drive) {
    std::map<uint32_t, const MountEntry*> by_id;
    for (const auto& m : mounts)
        by_id[m.id] = &m;
    // The mounts below `m`, nearest first (a loop in the table ends the walk).
    auto below = [&](const MountEntry& m) {
        std::vector<const MountEntry*> chain;
        std::set<uint32_t> seen{m.id};
        for (auto it = by_id.find(m.parent); it != by_id.end() && seen.insert(it->first).second;
             it = by_id.find(it->second->parent))
            chain.push_back(it->second);
        return chain;
    };
    UnmountPlan plan;
    std::vector<std::pair<size_t, const MountEntry*>> drive;  // (depth, mount)
    for (const auto& m : mounts) {
        auto chain = below(m);
        if (of_drive(m)) {
            drive.emplace_back(chain.size(), &m);
        } else if (std::any_of(chain.begin(), chain.end(),
                               [&](const MountEntry* b) { return of_drive(*b); })) {
            plan.foreign = m.mount_point;
            return plan;
        }
    }
    // Deeper mounts sit on shallower ones: they come off first.
    std::stable_sort(drive.begin(), drive.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [depth, m] : drive)
        plan.order.push_back(*m);
    return plan;
}

const MountEntry* top_mount_at(const std::vector<MountEntry>& mounts, const std::string& point) {
    // Of the mounts at one point, the top one is the mount no other one there
    // sits on.
    const MountEntry* top = nullptr;
    for (const auto& m : mounts) {
        if (m.mount_point != point) continue;
        bool covered = std::any_of(mounts.begin(), mounts.end(), [&](const MountEntry& o) {
            return &o != &m && o.mount_point == point && o.parent == m.id;
        });
        if (!covered) top = &m;
    }
    return top;
}

std::vector<SwapArea> parse_swap_areas(std::string_view text) {
    std::vector<SwapArea> out;
    auto lines = split_lines(text);
    for (size_t i = 1; i < lines.size(); ++i) {
        auto f = split_blanks(lines[i]);
        if (f.empty()) continue;
        SwapArea a;
        a.path = unescape_octal(f[0]);
        if (f.size() > 1) a.type = std::string(f[1]);
        if (f.size() > 2) a.size_kib = parse_u64_decimal(f[2]).value_or(0);
        out.push_back(std::move(a));
    }
    return out;
}

namespace {

// The mount whose mount point is the longest one above an absolute path (the
// top one where several share it).
const MountEntry* mount_containing(const std::vector<MountEntry>& mounts, const std::string& path) {
    if (!path.starts_with("/")) return nullptr;
    const MountEntry* best = nullptr;
    for (const auto& m : mounts) {
        const std::string& p = m.mount_point;
        bool above = p == "/" || path == p || (path.starts_with(p) && path[p.size()] == '/');
        if (above && (best == nullptr || p.size() >= best->mount_point.size())) best = &m;
    }
    return best;
}

Result<std::vector<std::string>, std::string> devices_of_path(const std::vector<MountEntry>& mounts,
                                                              const std::string& path,
                                                              LinuxPathQuery& query, int depth) {
    if (depth > kMaxDepth) return unexpected(fmt("{} is stacked too deeply", path));
    auto st = query.stat(path);
    if (!st) return unexpected(st.error().text);
    if (st->block_device) return std::vector<std::string>{dev_text(st->major, st->minor)};

    const MountEntry* mount = nullptr;
    for (const auto& m : mounts)  // the last mount of a device is the one on top
        if (m.major == st->major && m.minor == st->minor) mount = &m;
    if (mount == nullptr) {
        // btrfs gives each subvolume a device number of its own, which the
        // mount table does not list: the path then lies on the file system
        // mounted nearest above it, when that one is btrfs.
        const MountEntry* around = mount_containing(mounts, path);
        if (around != nullptr && around->fs_type == "btrfs") return query.btrfs_devices(*around);
        return unexpected(
            fmt("no mount of device {} in the mount table", dev_text(st->major, st->minor)));
    }
    if (mount->major != 0) return std::vector<std::string>{dev_text(mount->major, mount->minor)};
    if (mount->source.starts_with("/dev/")) {
        auto node = query.stat(mount->source);
        if (node && node->block_device)
            return std::vector<std::string>{dev_text(node->major, node->minor)};
    }
    // Any FUSE program may call itself sshfs: only a source naming a host
    // ("user@host:dir") makes it one.
    bool remote_source = mount->source.find(':') != std::string::npos &&
                         mount->source.find(':') < mount->source.find('/');
    if (is_diskless_fs(mount->fs_type) && (mount->fs_type != "fuse.sshfs" || remote_source))
        return std::vector<std::string>{};
    if (mount->fs_type == "overlay") {
        std::vector<std::string> devices;
        for (const auto& option : split_escaped(mount->super_options, ",")) {
            std::vector<std::string> dirs;
            if (option.starts_with("upperdir=")) dirs.push_back(option.substr(9));
            if (option.starts_with("workdir=")) dirs.push_back(option.substr(8));
            if (option.starts_with("lowerdir=")) dirs = split_escaped(option.substr(9), ":");
            for (const auto& dir : dirs) {
                if (dir.empty()) continue;
                auto inner = devices_of_path(mounts, dir, query, depth + 1);
                if (!inner) return inner;
                devices.insert(devices.end(), inner->begin(), inner->end());
            }
        }
        return devices;
    }
    return unexpected(
        fmt("{} file system from {} lies on no known block device", mount->fs_type, mount->source));
}

const VolumeInfo* volume_of_device(const std::vector<VolumeInfo>& volumes, const std::string& dev) {
    for (const auto& v : volumes)
        if (v.device == dev) return &v;
    return nullptr;
}

}  // namespace

DiskFact linux_disks_of_path(const std::vector<VolumeInfo>& volumes,
                             const std::vector<MountEntry>& mounts, const std::string& path,
                             LinuxPathQuery& query) {
    auto devices = devices_of_path(mounts, path, query, 0);
    if (!devices) return unexpected(fmt("volume of {}: {}", path, devices.error()));
    std::vector<uint32_t> disks;
    for (const auto& dev : *devices) {
        const VolumeInfo* v = volume_of_device(volumes, dev);
        if (v == nullptr) return unexpected(fmt("volume {} of {} not found", dev, path));
        if (v->unresolved)
            return unexpected(fmt("volume {} of {}: {}", v->name, path, *v->unresolved));
        for (uint32_t d : v->disks)  // devices of one file system share disks
            add_unique(disks, d);
    }
    return disks;
}

std::vector<VolumeInfo> linux_volumes(const std::vector<BlockNode>& nodes,
                                      const std::map<std::string, uint32_t>& numbers,
                                      const std::vector<MountEntry>& mounts,
                                      LinuxPathQuery& query) {
    std::map<std::string, const BlockNode*> by_name, by_dev;
    for (const auto& n : nodes) {
        by_name[n.name] = &n;
        by_dev[n.dev] = &n;
    }
    std::vector<uint32_t> every_disk;
    for (const auto& [name, number] : numbers)
        every_disk.push_back(number);

    std::optional<std::string> unresolved;
    std::function<void(const std::string&, int, std::vector<uint32_t>&)> resolve =
        [&](const std::string& name, int depth, std::vector<uint32_t>& out) {
            auto it = by_name.find(name);
            if (it == by_name.end()) return;
            if (depth > kMaxDepth) {
                // Whatever lies further down is not known: not "nothing".
                unresolved = fmt("/dev/{} is stacked more than {} devices deep", name, kMaxDepth);
                return;
            }
            const BlockNode& n = *it->second;
            if (auto num = numbers.find(name); num != numbers.end()) add_unique(out, num->second);
            if (n.parent) resolve(*n.parent, depth + 1, out);
            for (const auto& slave : n.slaves)
                resolve(slave, depth + 1, out);
            if (n.loop_backing) {
                auto devices = devices_of_path(mounts, *n.loop_backing, query, 0);
                if (!devices) {
                    // A loop device whose backing file cannot be located may
                    // rest on any disk.
                    for (uint32_t d : every_disk)
                        add_unique(out, d);
                    return;
                }
                for (const auto& dev : *devices)
                    if (auto b = by_dev.find(dev); b != by_dev.end())
                        resolve(b->second->name, depth + 1, out);
            }
        };

    std::vector<VolumeInfo> out;
    for (const auto& n : nodes) {
        VolumeInfo v;
        v.name = "/dev/" + n.name;
        v.device = n.dev;
        unresolved.reset();
        if (!n.ram) resolve(n.name, 0, v.disks);
        v.unresolved = unresolved;
        for (const auto& m : mounts) {
            bool same = dev_text(m.major, m.minor) == n.dev;
            if (!same && m.major == 0 && m.source.starts_with("/dev/")) {
                auto node = query.stat(m.source);
                same = node && node->block_device && dev_text(node->major, node->minor) == n.dev;
            }
            if (same) v.mount_points.push_back(m.mount_point);
        }
        out.push_back(std::move(v));
    }
    return out;
}

Result<SystemPlaces, std::string> linux_system_places(LinuxFactsSource& source) {
    auto mount_text = source.mountinfo();
    if (!mount_text) return unexpected(fmt("/proc/self/mountinfo: {}", mount_text.error().text));
    auto mounts = parse_mountinfo(*mount_text);
    auto exists = [&](const std::string& path) {
        auto st = source.stat(path);
        return st || !st.error().is(kNotFound);
    };

    SystemPlaces places;
    std::vector<std::string> system{"/"};
    if (exists("/usr")) system.push_back("/usr");
    places.system = system;
    places.boot = std::string(exists("/boot") ? "/boot" : "/");

    places.boot_partition = std::optional<BootPartitionPlace>{};
    bool found = false;
    for (std::string_view point : {"/boot/efi", "/efi", "/boot"}) {
        for (const auto& m : mounts) {
            if (m.mount_point == point && m.fs_type == "vfat") found = true;
        }
        if (found) {
            places.boot_partition = BootPartitionPlace{std::string(point), {}};
            break;
        }
    }
    if (!found && source.uefi_firmware())
        places.boot_partition =
            unexpected(std::string("boot partition EFI system partition not found among volumes"));

    auto swaps = source.swaps();
    if (swaps) {
        std::vector<SwapPlace> areas;
        for (const auto& area : parse_swap_areas(*swaps)) {
            SwapPlace place{area.path, area.type == "file"};
            if (place.file) {
                auto st = source.stat(area.path);
                place.intact = st && st->regular && st->size / 1024 >= area.size_kib;
            }
            areas.push_back(std::move(place));
        }
        places.swap = std::move(areas);
    } else {
        places.swap = unexpected(fmt("/proc/swaps: {}", swaps.error().text));
    }

    auto exe = source.current_exe();
    if (exe) {
        places.executable = *exe;
    } else {
        places.executable = unexpected(fmt("current_exe: {}", exe.error().text));
    }
    places.claims = source.claims();
    return places;
}

}  // namespace sw
