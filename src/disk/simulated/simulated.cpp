#include "disk/simulated/simulated.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "core/text.h"
#include "disk/simulated/backing.h"
#include "disk/windows_drive_records.h"

namespace sw {

namespace {

std::vector<std::string> split(std::string_view s, char sep) {
    std::vector<std::string> out(1);
    for (char c : s) {
        if (c == sep) {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

std::optional<uint64_t> offset_value(std::string_view v) {
    return parse_u64_decimal(trim(v));
}

std::optional<UsbSpeed> speed_value(std::string_view v, bool* ok) {
    std::string s = ascii_lower(trim(v));
    *ok = true;
    if (s == "full") return UsbSpeed::Full;
    if (s == "high") return UsbSpeed::High;
    if (s == "super") return UsbSpeed::Super;
    if (s == "superplus") return UsbSpeed::SuperPlus;
    *ok = s == "none";
    return std::nullopt;
}

// Applies one "key=value" (or flag) setting; false when not understood.
bool apply_setting(SimulatedDrive& sim, std::string_view setting) {
    size_t eq = setting.find('=');
    std::string key = ascii_lower(trim(setting.substr(0, eq)));
    std::string_view value = eq == std::string_view::npos ? "" : setting.substr(eq + 1);
    SimulatedFaults& f = sim.faults;
    if (key == "write-protect" && eq == std::string_view::npos) {
        f.write_protected = true;
        return true;
    }
    if (key == "buffered-writes-only" && eq == std::string_view::npos) {
        f.buffered_writes_only = true;
        return true;
    }
    if (eq == std::string_view::npos) return false;
    if (key == "serial") {
        sim.serial = std::string(trim(value));
        return true;
    }
    if (key == "vendor") {
        sim.vendor = std::string(trim(value));
        return true;
    }
    if (key == "product") {
        sim.product = std::string(trim(value));
        return true;
    }
    if (key == "usb") {
        bool ok = false;
        sim.usb = speed_value(value, &ok);
        return ok;
    }
    if (key == "sector") {
        auto s = parse_u32_decimal(trim(value));
        if (!s || (*s != 512 && *s != 4096)) return false;
        sim.sector = *s;
        return true;
    }
    if (key == "error") {
        size_t at = value.find('@');
        if (at == std::string_view::npos) return false;
        auto code = parse_u32_decimal(trim(value.substr(0, at)));
        auto offset = offset_value(value.substr(at + 1));
        if (!code || !offset || *code == 0 || *code > 0x7FFFFFFF) return false;
        f.errors.emplace_back(static_cast<int>(*code), *offset);
        return true;
    }
    if (key == "media-changed") {
        auto n = parse_u32_decimal(trim(value));
        if (!n) return false;
        f.media_changed = *n;
        return true;
    }
    if (key == "mbps") {
        auto n = parse_u32_decimal(trim(value));
        if (!n || *n == 0) return false;
        f.mbps = *n;
        return true;
    }
    std::optional<uint64_t>* target = key == "remove-at"        ? &f.remove_at
                                      : key == "drop-writes-at" ? &f.drop_writes_at
                                      : key == "hang-at"        ? &f.hang_at
                                                                : nullptr;
    if (target == nullptr) return false;
    auto offset = offset_value(value);
    if (!offset) return false;
    *target = *offset;
    return true;
}

}  // namespace

SimulatedParse parse_simulated_drives(std::string_view text) {
    SimulatedParse out;
    auto entries = split(text, ';');
    for (size_t i = 0; i < entries.size(); ++i) {
        std::string_view entry = trim(entries[i]);
        if (entry.empty()) continue;
        auto fields = split(entry, ',');
        SimulatedDrive sim;
        sim.position = i;
        sim.entry = std::string(entry);
        sim.path = std::string(trim(fields[0]));
        sim.serial = fmt("SIM{}", i + 1);
        bool ok = !sim.path.empty();
        for (size_t k = 1; k < fields.size() && ok; ++k) {
            if (trim(fields[k]).empty()) continue;
            if (!apply_setting(sim, fields[k])) {
                out.problems.push_back(
                    fmt("simulated drive {}: setting '{}' not understood", i + 1, trim(fields[k])));
                ok = false;
            }
        }
        if (sim.path.empty()) out.problems.push_back(fmt("simulated drive {}: no path", i + 1));
        if (ok) out.drives.push_back(std::move(sim));
    }
    return out;
}

std::shared_ptr<SimulatedState> SimulatedStates::of(const SimulatedDrive& sim) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& slot = states_[{sim.position, sim.entry}];
    if (!slot) {
        slot = std::make_shared<SimulatedState>();
        slot->media_changed_left = sim.faults.media_changed;
    }
    return slot;
}

DeviceInfo simulated_record(const SimulatedDrive& sim, uint64_t backing_size,
                            uint32_t logical_sector, uint32_t physical_sector) {
    DeviceInfo d;
    d.instance_id = fmt("SIMULATED\\USB\\{}", sim.position + 1);
    // The texts are cleaned as a real drive's descriptor texts are.
    d.vendor = clean_text(sim.vendor);
    d.product = clean_text(sim.product);
    d.serial = clean_text(sim.serial);
    d.bus = BusKind{BusKind::Usb, 0};
    // A disk is whole sectors long.
    d.size = backing_size / logical_sector * logical_sector;
    d.number = sim.number();
    d.logical_sector = logical_sector;
    d.physical_sector = std::max(logical_sector, physical_sector);
    d.removable = true;
    return d;
}

FaultInjectingDisk::FaultInjectingDisk(std::unique_ptr<AsyncDisk> inner,
                                       std::shared_ptr<SimulatedState> state,
                                       SimulatedFaults faults, uint64_t size, Clock& clock,
                                       OpenMode mode)
    : inner_(std::move(inner)),
      state_(std::move(state)),
      faults_(std::move(faults)),
      size_(size),
      clock_(&clock),
      slots_(inner_->slots()),
      mode_(mode) {}

bool FaultInjectingDisk::take_media_change() {
    uint32_t left = state_->media_changed_left.load();
    while (left > 0) {
        if (state_->media_changed_left.compare_exchange_weak(left, left - 1)) return true;
    }
    return false;
}

Result<void, OsError> FaultInjectingDisk::issue(size_t slot, IoDirection direction, uint64_t offset,
                                                std::byte* data, size_t length) {
    if (state_->removed)
        return unexpected(platform::simulated_error(platform::SimulatedError::Removed));
    if (take_media_change())
        return unexpected(platform::simulated_error(platform::SimulatedError::MediaChanged));
    Slot& s = slots_[slot];
    if (s.state != SlotState::Idle)
        return unexpected(message_error(fmt("request slot {} is still in use", slot)));
    s = Slot{};
    s.issued = clock_->now();
    uint64_t end = offset + length;
    auto touches = [&](uint64_t at) { return offset <= at && at < end; };
    auto settle = [&](SlotOutcome outcome) {
        s.state = SlotState::Settled;
        s.settled = std::move(outcome);
        return Result<void, OsError>{};
    };

    if (faults_.remove_at && end > *faults_.remove_at) {
        state_->removed = true;
        return settle(
            {SlotOutcome::Failed, 0, platform::simulated_error(platform::SimulatedError::Removed)});
    }
    if (faults_.hang_at && touches(*faults_.hang_at)) {
        s.state = SlotState::Hanging;
        return {};
    }
    for (const auto& [code, at] : faults_.errors)
        if (touches(at)) return settle({SlotOutcome::Failed, 0, os_error(code)});
    if (direction == IoDirection::Write && faults_.buffered_writes_only && mode_.no_buffering)
        return settle(
            {SlotOutcome::Failed, 0, message_error("unbuffered write refused by the drive")});
    if (direction == IoDirection::Write && faults_.write_protected)
        return settle({SlotOutcome::Failed, 0,
                       platform::simulated_error(platform::SimulatedError::WriteProtected)});

    uint64_t inside = offset >= size_ ? 0 : std::min<uint64_t>(length, size_ - offset);
    uint64_t stored = inside;
    if (direction == IoDirection::Write && faults_.drop_writes_at) {
        // Whole 4 KiB units, so that what reaches the backing stays aligned.
        uint64_t drop = *faults_.drop_writes_at / 4096 * 4096;
        stored = offset >= drop ? 0 : std::min<uint64_t>(stored, drop - offset);
    }
    s.reported = static_cast<uint32_t>(inside);
    if (stored == 0) return settle({SlotOutcome::Done, s.reported, {}});
    auto started = inner_->issue(slot, direction, offset, data, stored);
    if (!started) {
        s.state = SlotState::Idle;
        return started;
    }
    s.state = SlotState::Inner;
    s.forwarded = stored;
    return {};
}

SlotOutcome FaultInjectingDisk::wait(size_t slot, uint32_t ms) {
    Slot& s = slots_[slot];
    SlotOutcome outcome;
    switch (s.state) {
        case SlotState::Idle:
            return SlotOutcome{SlotOutcome::Failed, 0,
                               message_error(fmt("request slot {} has nothing to wait for", slot))};
        case SlotState::Hanging:
            clock_->sleep_for(std::chrono::milliseconds(ms));
            return SlotOutcome{SlotOutcome::TimedOut, 0, {}};
        case SlotState::Cancelled:
            s.state = SlotState::Idle;
            return SlotOutcome{SlotOutcome::Failed, 0,
                               platform::simulated_error(platform::SimulatedError::Cancelled)};
        case SlotState::Settled:
            outcome = std::move(s.settled);
            break;
        case SlotState::Inner:
            outcome = inner_->wait(slot, ms);
            if (outcome.kind == SlotOutcome::TimedOut) return outcome;
            if (outcome.kind == SlotOutcome::Done && outcome.bytes == s.forwarded)
                outcome.bytes = s.reported;
            break;
    }
    s.state = SlotState::Idle;
    if (faults_.mbps > 0 && outcome.kind == SlotOutcome::Done) {
        // One device moves one request at a time at the limited rate.
        auto cost = std::chrono::duration_cast<Clock::TimePoint::duration>(
            std::chrono::duration<double>(outcome.bytes / (faults_.mbps * 1e6)));
        busy_until_ = std::max(busy_until_, s.issued) + cost;
        auto now = clock_->now();
        if (busy_until_ > now)
            clock_->sleep_for(std::chrono::ceil<std::chrono::milliseconds>(busy_until_ - now));
    }
    return outcome;
}

void FaultInjectingDisk::cancel(size_t slot) {
    if (slots_[slot].state == SlotState::Hanging) {
        slots_[slot].state = SlotState::Cancelled;
    } else if (slots_[slot].state == SlotState::Inner) {
        inner_->cancel(slot);
    }
}

void FaultInjectingDisk::cancel_all() {
    for (auto& s : slots_)
        if (s.state == SlotState::Hanging) s.state = SlotState::Cancelled;
    inner_->cancel_all();
}

Result<void, OsError> FaultInjectingDisk::flush() {
    if (state_->removed)
        return unexpected(platform::simulated_error(platform::SimulatedError::Removed));
    if (take_media_change())
        return unexpected(platform::simulated_error(platform::SimulatedError::MediaChanged));
    return inner_->flush();
}

Result<void, OsError> FaultInjectingDisk::reopen(const OpenMode& mode) {
    if (state_->removed)
        return unexpected(platform::simulated_error(platform::SimulatedError::Gone));
    auto reopened = inner_->reopen(mode);
    if (reopened) mode_ = mode;
    return reopened;
}

Result<void, OsError> FaultInjectingDisk::drop_cached_pages() {
    if (state_->removed)
        return unexpected(platform::simulated_error(platform::SimulatedError::Removed));
    return inner_->drop_cached_pages();
}

Result<void, OsError> FaultInjectingDisk::query_writable(uint32_t ms) {
    if (state_->removed)
        return unexpected(platform::simulated_error(platform::SimulatedError::Removed));
    if (faults_.write_protected)
        return unexpected(platform::simulated_error(platform::SimulatedError::WriteProtected));
    return inner_->query_writable(ms);
}

}  // namespace sw
