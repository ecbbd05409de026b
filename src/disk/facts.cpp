#include "disk/facts.h"

#include <algorithm>

#include "core/text.h"
#include "disk/windows_drive_records.h"

namespace sw {

namespace {

std::string number_list(const std::vector<uint32_t>& numbers) {
    std::string out = "[";
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0) out += ", ";
        out += fmt("{}", numbers[i]);
    }
    return out + "]";
}

bool contains(const std::vector<uint32_t>& list, uint32_t number) {
    return std::find(list.begin(), list.end(), number) != list.end();
}

}  // namespace

std::string debug_string(const DiskFact& fact) {
    if (fact) return fmt("Ok({})", number_list(*fact));
    return fmt("Err({})", debug_quoted(fact.error()));
}

std::string debug_string(const SystemFacts& f) {
    std::string held;
    for (const auto& [disk, reason] : f.held)
        held += fmt("{}{}: {}", held.empty() ? "" : ", ", disk, debug_quoted(reason));
    return fmt(
        "SystemFacts { windows: {}, system_drive: {}, boot_partition: {}, pagefile: {}, "
        "executable: {}, image: {}{} }",
        debug_string(f.system_volume), debug_string(f.boot_volume), debug_string(f.boot_partition),
        debug_string(f.swap), debug_string(f.executable), debug_string(f.image),
        held.empty() ? "" : fmt(", held: [{}]", held));
}

std::string debug_string(const Refusal& r) {
    switch (r.kind) {
        case Refusal::NotUsb:
            return "NotUsb";
        case Refusal::Windows:
            return "Windows";
        case Refusal::SystemDrive:
            return "SystemDrive";
        case Refusal::BootPartition:
            return "BootPartition";
        case Refusal::Pagefile:
            return "Pagefile";
        case Refusal::Executable:
            return "Executable";
        case Refusal::ContainsImage:
            return "ContainsImage";
        case Refusal::Undetermined:
            return fmt("Undetermined({})", debug_quoted(r.text));
        case Refusal::NoMedia:
            return "NoMedia";
        case Refusal::TooSmall:
            return fmt("TooSmall { need: {} }", r.need);
    }
    return "Undetermined";
}

std::string debug_string(const std::vector<Refusal>& refusals) {
    std::string out = "[";
    for (size_t i = 0; i < refusals.size(); ++i) {
        if (i > 0) out += ", ";
        out += debug_string(refusals[i]);
    }
    return out + "]";
}

std::vector<Refusal> refusals_for(const DeviceInfo& drive, const SystemFacts& facts,
                                  std::optional<uint64_t> image_size) {
    std::vector<Refusal> out;
    if (drive.bus.kind != BusKind::Usb) out.push_back(Refusal{Refusal::NotUsb, "", 0});
    // The refusals keep the names of the Windows product.
    // clang-format off
    const std::pair<const DiskFact*, Refusal::Kind> checks[] = {
        {&facts.system_volume, Refusal::Windows},
        {&facts.boot_volume, Refusal::SystemDrive},
        {&facts.boot_partition, Refusal::BootPartition},
        {&facts.swap, Refusal::Pagefile},
        {&facts.executable, Refusal::Executable},
        {&facts.image, Refusal::ContainsImage},
    };
    // clang-format on
    for (const auto& [fact, kind] : checks) {
        if (!*fact) {
            out.push_back(Refusal{Refusal::Undetermined, fact->error(), 0});
        } else if (contains(**fact, drive.number)) {
            out.push_back(Refusal{kind, "", 0});
        }
    }
    for (const auto& [disk, reason] : facts.held)
        if (disk == drive.number) {
            out.push_back(Refusal{Refusal::Undetermined, reason, 0});
            break;
        }
    if (drive.size == 0) {
        out.push_back(Refusal{Refusal::NoMedia, "", 0});
    } else if (image_size && drive.size < *image_size) {
        out.push_back(Refusal{Refusal::TooSmall, "", *image_size});
    }
    return out;
}

DiskFact windows_disks_of_path(const std::vector<VolumeInfo>& volumes, const std::string& path,
                               WindowsPathQuery& query) {
    if (path.size() >= 2 && path.starts_with("\\\\") &&
        (path.size() <= 3 || !(path.starts_with("\\\\?\\") || path.starts_with("\\\\.\\"))))
        return std::vector<uint32_t>{};

    auto mount_point = query.volume_path_name(path);
    if (!mount_point) return unexpected(fmt("volume of {}: {}", path, mount_point.error().text));
    auto guid = query.volume_name_for_mount_point(*mount_point);
    if (!guid) {
        if (mount_point->size() < 4 && query.is_remote_drive(*mount_point))
            return std::vector<uint32_t>{};
        return unexpected(fmt("volume of {}: {}", path, guid.error().text));
    }
    for (const auto& v : volumes) {
        if (!iequals_ascii(v.name, *guid)) continue;
        // A local volume always rests on some disk: an empty list means its
        // extents could not be read, which must not pass for "on no disk".
        if (v.disks.empty())
            return unexpected(fmt("disks of volume {} of {} unknown", *guid, path));
        return v.disks;
    }
    return unexpected(fmt("volume {} of {} not found", *guid, path));
}

SystemPlaces windows_system_places(WindowsFactsSource& source) {
    SystemPlaces places;
    auto root = source.env("SystemRoot");
    if (!root) root = source.env("windir");
    if (root) {
        places.system = std::vector<std::string>{*root};
    } else {
        places.system = unexpected(std::string("SystemRoot is not set"));
    }

    auto drive = source.env("SystemDrive");
    if (drive) {
        places.boot = fmt("{}\\", *drive);
    } else {
        places.boot = unexpected(std::string("SystemDrive is not set"));
    }

    auto partition = source.system_partition();
    if (partition) {
        places.boot_partition = BootPartitionPlace{{}, *partition};
    } else {
        places.boot_partition = unexpected(fmt("SystemPartition: {}", partition.error().text));
    }

    auto page_files = source.existing_page_files();
    if (!page_files) {
        if (page_files.error().is(kNotFound)) {
            places.swap = std::vector<SwapPlace>{};
        } else {
            places.swap = unexpected(fmt("ExistingPageFiles: {}", page_files.error().text));
        }
    } else {
        std::vector<SwapPlace> files;
        for (const auto& entry : *page_files) {
            if (entry.empty()) continue;
            std::string_view file = entry;
            while (file.starts_with("\\??\\"))
                file.remove_prefix(4);
            files.push_back({std::string(file)});
        }
        places.swap = std::move(files);
    }

    auto exe = source.current_exe();
    if (exe) {
        places.executable = *exe;
    } else {
        places.executable = unexpected(fmt("current_exe: {}", exe.error().text));
    }
    return places;
}

}  // namespace sw
