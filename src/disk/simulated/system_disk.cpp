#include "disk/simulated/system_disk.h"

#include <mutex>
#include <set>

#include "core/text.h"
#include "disk/raw_device.h"
#include "disk/simulated/simulated.h"
#include "logging/logger.h"
#include "core/system.h"

namespace sw::simulated {

std::optional<uint32_t> parse_system_disk(std::string_view text) {
    auto number = parse_u32_decimal(trim(text));
    if (!number || is_simulated_number(*number)) return std::nullopt;
    return number;
}

std::vector<std::string> assume_system_disk(std::vector<VolumeInfo>& volumes, uint32_t number) {
    std::vector<std::string> lines;
    for (auto& volume : volumes) {
        if (!volume.disks.empty()) continue;
        volume.disks.push_back(number);
        std::string letters = volume.letters.empty() ? "none" : volume_label(volume);
        lines.push_back(fmt("volume {} (device {}, letters {}) taken to rest on disk {}",
                            volume.name, volume.device.empty() ? "unknown" : volume.device, letters,
                            number));
    }
    return lines;
}

void apply_system_disk(std::vector<VolumeInfo>& volumes) {
    auto text = platform::env_var(kSystemDiskVariable);
    if (!text) return;
    auto number = parse_system_disk(*text);
    // Each line once per run, not at every enumeration.
    static std::mutex mutex;
    static std::set<std::string> logged;
    auto log_once = [&](LogLevel level, const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        if (logged.insert(line).second) Logger::write(level, line);
    };
    if (!number) {
        log_once(LogLevel::Warn,
                 fmt("{}={} not understood: a disk number below {} is needed; the facts stay as "
                     "the system tells them",
                     kSystemDiskVariable, *text, kFirstSimulatedNumber));
        return;
    }
    for (const auto& line : assume_system_disk(volumes, *number))
        log_once(LogLevel::Info, fmt("{}: {}", kSystemDiskVariable, line));
}

}  // namespace sw::simulated
