#include "disk/raw_device.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "core/text.h"
#include "disk/disk_system.h"

namespace sw {

std::string debug_string(const IoConfig& c) {
    return fmt("IoConfig { no_buffering: {}, write_through: {}, depth: {}, io_size: {} }",
               c.no_buffering, c.write_through, c.depth, c.io_size);
}

IoConfig health_check_config() {
    return IoConfig{.no_buffering = true, .write_through = false, .depth = 1, .io_size = 1048576};
}

size_t slot_count_for(size_t depth) {
    return std::clamp<size_t>(depth, 1, kMaxSlots);
}

size_t request_size(size_t io_size, uint32_t sector) {
    size_t s = std::max<size_t>(sector, 1);
    return std::max(io_size, s) / s * s;
}

std::optional<IoConfig> gentler(const IoConfig& c) {
    IoConfig next = c;
    if (c.depth >= 2) {
        next.depth = 1;
    } else if (c.io_size > 65536) {
        next.io_size = 65536;
    } else if (c.no_buffering) {
        next.no_buffering = false;
        next.write_through = false;
    } else {
        return std::nullopt;
    }
    return next;
}

OsError short_transfer_error(uint32_t done, size_t requested) {
    return message_error(fmt("short transfer {}/{}", done, requested));
}

OsError control_timeout_error(uint32_t code, uint32_t ms) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(code));
    return message_error(fmt("control code 0x{} timed out after {} ms", hex, ms), kTimedOut);
}

OsError stopped_error() {
    return message_error("stopped: the requests in flight were cancelled", kStopped);
}

namespace {

// Waits at most `ms` for slot k's request. With a stop flag the wait goes in
// short slices, so that a stop is seen while a request hangs; nullopt when
// the flag was set before the request ended.
std::optional<SlotOutcome> wait_unless_stopped(AsyncDisk& disk, size_t slot, uint32_t ms,
                                               const std::atomic<bool>* stop) {
    if (stop == nullptr) return disk.wait(slot, ms);
    for (uint32_t waited = 0;;) {
        if (stop->load(std::memory_order_relaxed)) return std::nullopt;
        const uint32_t slice = std::min(kStopCheckMs, ms - waited);
        SlotOutcome outcome = disk.wait(slot, slice);
        waited += slice;
        if (outcome.kind != SlotOutcome::TimedOut || waited >= ms) return outcome;
    }
}

}  // namespace

Result<void, OsError> run_transfer(AsyncDisk& disk, IoDirection direction, uint64_t offset,
                                   std::span<std::byte> buffer, size_t depth, size_t io_size,
                                   uint32_t sector, uint32_t wait_ms,
                                   const std::atomic<bool>* stop) {
    const size_t request = request_size(io_size, sector);
    depth = std::clamp<size_t>(depth, 1, std::min(disk.slots(), kMaxSlots));

    // In-flight requests, oldest first: a ring of (slot, length).
    struct InFlight {
        size_t slot;
        size_t length;
    };
    std::array<InFlight, kMaxSlots> ring{};
    size_t head = 0, count = 0;

    std::optional<OsError> error;
    size_t issued = 0;
    size_t next_slot = 0;
    auto record = [&](OsError e) {
        if (error) return;
        error = std::move(e);
        if (issued < buffer.size()) disk.cancel_all();
    };

    for (;;) {
        while (count < depth && !error && issued < buffer.size()) {
            size_t length = std::min(request, buffer.size() - issued);
            size_t slot = next_slot;
            next_slot = (next_slot + 1) % depth;
            auto started =
                disk.issue(slot, direction, offset + issued, buffer.data() + issued, length);
            if (!started) {
                record(started.error());
                break;
            }
            ring[(head + count) % kMaxSlots] = InFlight{slot, length};
            ++count;
            issued += length;
        }
        if (count == 0) break;

        InFlight oldest = ring[head];
        head = (head + 1) % kMaxSlots;
        --count;
        std::optional<SlotOutcome> waited =
            error ? disk.wait(oldest.slot, kDrainWaitMs)
                  : wait_unless_stopped(disk, oldest.slot, wait_ms, stop);
        if (!waited) {
            // Stopped: nothing more is issued, and every request still in
            // flight, this one included, is cancelled and settled.
            error = stopped_error();
            disk.cancel_all();
            waited = disk.wait(oldest.slot, kDrainWaitMs);
        }
        const SlotOutcome& outcome = *waited;
        switch (outcome.kind) {
            case SlotOutcome::TimedOut:
                disk.cancel(oldest.slot);
                disk.wait(oldest.slot, kDrainWaitMs);
                record(os_timeout_error());
                break;
            case SlotOutcome::Failed:
                record(outcome.error);
                break;
            case SlotOutcome::Done:
                if (outcome.bytes < oldest.length)
                    record(short_transfer_error(outcome.bytes, oldest.length));
                break;
        }
    }
    if (error) return unexpected(*error);
    return {};
}

RawDevice::RawDevice(std::unique_ptr<AsyncDisk> disk, uint32_t number, uint32_t sector,
                     uint64_t size, const IoConfig& config, Clock& clock)
    : disk_(std::move(disk)),
      number_(number),
      sector_(sector == 0 ? 512 : sector),
      size_(size),
      config_(config),
      clock_(&clock) {
    config_.depth = std::min(slot_count_for(config.depth), disk_->slots());
    ceiling_ = config_;
}

Result<void, OsError> RawDevice::with_media_recovery(
    const std::function<Result<void, OsError>()>& op) {
    for (int recoveries = 0;; ++recoveries) {
        auto result = op();
        if (result || !result.error().is(kMediaChanged) || recoveries >= 3) return result;
        if (stop_requested()) return unexpected(stopped_error());
        Logger::write(LogLevel::Info,
                      "ERROR_MEDIA_CHANGED: reopening the drive and reissuing the request");
        clock_->sleep_for(std::chrono::milliseconds(300 * (recoveries + 1)));
        auto reopened = disk_->reopen(open_mode_of(config_));
        if (!reopened) return reopened;
    }
}

Result<void, OsError> RawDevice::write_at(uint64_t offset, std::span<std::byte> buffer) {
    for (;;) {
        auto result = with_media_recovery([&] {
            return run_transfer(*disk_, IoDirection::Write, offset, buffer, config_.depth,
                                config_.io_size, sector_, wait_ms_, stop_);
        });
        if (result) return result;
        // A device that is gone or not ready fails fast: retrying gently
        // cannot bring it back. A stopped write is not tried again either.
        if (result.error().is(kDisconnected) || result.error().is(kStopped)) return result;
        if (stop_requested()) return unexpected(stopped_error());
        auto next = gentler(config_);
        if (!next) return result;
        Logger::write(LogLevel::Warn,
                      fmt("write at {} failed ({}); retrying with {} (was {})", offset,
                          result.error().text, debug_string(*next), debug_string(config_)));
        disk_->cancel_all();
        clock_->sleep_for(std::chrono::milliseconds(500));
        auto reopened = disk_->reopen(open_mode_of(*next));
        if (!reopened) return reopened;
        next->depth = std::clamp<size_t>(next->depth, 1, disk_->slots());
        // Only what this step gave up is given up for good.
        if (next->depth < config_.depth) ceiling_.depth = next->depth;
        if (next->io_size < config_.io_size) ceiling_.io_size = next->io_size;
        ceiling_.no_buffering = next->no_buffering;
        ceiling_.write_through = next->write_through;
        config_ = *next;
    }
}

Result<void, OsError> RawDevice::read_at(uint64_t offset, std::span<std::byte> buffer) {
    return with_media_recovery([&] {
        return run_transfer(*disk_, IoDirection::Read, offset, buffer, config_.depth,
                            config_.io_size, sector_, wait_ms_, stop_);
    });
}

Result<void, OsError> RawDevice::flush() {
    return with_media_recovery([&] { return disk_->flush(); });
}

void RawDevice::cancel_all() {
    disk_->cancel_all();
}

RawDevice::StopScope RawDevice::stop_on(const std::atomic<bool>& stop) {
    StopScope scope(this, stop_);
    stop_ = &stop;
    return scope;
}

RawDevice::StopScope::StopScope(StopScope&& other) noexcept
    : device_(other.device_), previous_(other.previous_) {
    other.device_ = nullptr;
}

RawDevice::StopScope::~StopScope() {
    if (device_ != nullptr) device_->stop_ = previous_;
}

Result<void, OsError> RawDevice::query_writable(uint32_t ms) {
    return disk_->query_writable(ms);
}

RawDevice::ScopedSettings RawDevice::use_settings(uint32_t wait_ms, size_t depth, size_t io_size) {
    ScopedSettings saved(this, wait_ms_, config_.depth, config_.io_size);
    wait_ms_ = wait_ms;
    config_.depth = std::clamp<size_t>(std::min(depth, ceiling_.depth), 1, disk_->slots());
    config_.io_size = std::min(io_size, ceiling_.io_size);
    return saved;
}

RawDevice::ScopedSettings::ScopedSettings(RawDevice* device, uint32_t wait_ms, size_t depth,
                                          size_t io_size)
    : device_(device), wait_ms_(wait_ms), depth_(depth), io_size_(io_size) {}

RawDevice::ScopedSettings::ScopedSettings(ScopedSettings&& other) noexcept
    : device_(other.device_),
      wait_ms_(other.wait_ms_),
      depth_(other.depth_),
      io_size_(other.io_size_) {
    other.device_ = nullptr;
}

RawDevice::ScopedSettings::~ScopedSettings() {
    if (device_ == nullptr) return;
    device_->wait_ms_ = wait_ms_;
    device_->config_.depth = std::max<size_t>(1, std::min(depth_, device_->ceiling_.depth));
    device_->config_.io_size = std::min(io_size_, device_->ceiling_.io_size);
}

Result<RawDevice::MediumReads, OsError> RawDevice::read_from_medium() {
    if (config_.no_buffering) return MediumReads(nullptr);
    auto reopened = disk_->reopen(OpenMode{.no_buffering = true, .write_through = false});
    if (reopened) {
        Logger::write(
            LogLevel::Info,
            "the writes fell back to buffered I/O: reading back through an unbuffered handle");
        return MediumReads(this);
    }
    const std::string refused = reopened.error().text;
    if (auto dropped = disk_->drop_cached_pages(); !dropped)
        return unexpected(message_error(
            fmt("the drive cannot be read past the system cache (unbuffered open: {}; dropping "
                "the cache: {})",
                refused, dropped.error().text)));
    Logger::write(LogLevel::Warn,
                  fmt("the drive refused an unbuffered open ({}): dropped its cached pages before "
                      "reading back",
                      refused));
    return MediumReads(nullptr);
}

RawDevice::MediumReads::MediumReads(MediumReads&& other) noexcept : device_(other.device_) {
    other.device_ = nullptr;
}

RawDevice::MediumReads::~MediumReads() {
    if (device_ == nullptr) return;
    if (auto back = device_->disk_->reopen(open_mode_of(device_->config_)); !back)
        Logger::write(LogLevel::Warn,
                      fmt("reopening the drive for buffered writes failed: {}", back.error().text));
}

// --- Locking -------------------------------------------------------------------

std::string volume_label(const VolumeInfo& volume) {
    if (volume.letters.empty()) return volume.name;
    std::string label;
    for (char letter : volume.letters) {
        if (!label.empty()) label += ' ';
        label += fmt("{}:", letter);
    }
    return label;
}

Result<std::unique_ptr<VolumeLock>, OsError> claim_disk(uint32_t number, VolumeLocker& locker,
                                                        Clock& clock) {
    for (int attempt = 1;; ++attempt) {
        auto claimed = locker.claim(number);
        if (claimed || !claimed.error().is(kInUse)) return claimed;
        if (attempt == kClaimAttempts)
            return unexpected(
                message_error(fmt("another write or drive check holds disk {}", number), kInUse));
        clock.sleep_for(std::chrono::milliseconds(kClaimPauseMs));
    }
}

Result<LockedVolumes, OsError> lock_and_dismount(const std::shared_ptr<DiskSystem>& disks,
                                                 uint32_t number,
                                                 const std::vector<VolumeInfo>& volumes,
                                                 const LockProgress& progress) {
    auto locker_of_disks = disks->volume_locker();
    VolumeLocker& locker = *locker_of_disks;
    Clock& clock = disks->clock();
    auto claimed = claim_disk(number, locker, clock);
    if (!claimed) return unexpected(claimed.error());
    LockedVolumes locked;
    locked.keep_claim(std::move(*claimed));
    for (const auto& volume : volumes) {
        if (std::find(volume.disks.begin(), volume.disks.end(), number) == volume.disks.end())
            continue;
        std::string label = volume_label(volume);
        auto handle = locker.open(volume);
        if (!handle) {
            if (handle.error().is(kNotReady)) continue;  // no medium: nothing mounted
            return unexpected(handle.error());
        }
        if (progress) progress(LockStep::Locking, label);

        std::string last_error;
        bool is_locked = false;
        for (int attempt = 0; attempt < kLockAttempts && !is_locked; ++attempt) {
            auto result = locker.lock(**handle, kLockAttemptMs);
            if (result) {
                is_locked = true;
            } else {
                last_error = result.error().text;
                clock.sleep_for(std::chrono::milliseconds(kLockPauseMs));
            }
        }
        if (!is_locked)
            return unexpected(message_error(
                fmt("{} failed on {}: {}", locker.lock_name(), label, last_error), kInUse));

        if (progress) progress(LockStep::Dismounting, label);
        auto dismounted = locker.dismount(**handle, kDismountMs);
        if (!dismounted) {
            if (dismounted.error().is(kTimedOut))
                return unexpected(message_error(
                    fmt("{} on {}: {}", locker.dismount_name(), label, dismounted.error().text),
                    kInUse | kTimedOut));
            return unexpected(dismounted.error());
        }
        locked.add(std::move(*handle));
    }
    auto held = locker.hold_disk(number);
    if (!held) return unexpected(held.error());
    if (*held) locked.add(std::move(*held));
    return locked;
}

}  // namespace sw
