// Talking to a whole disk below its file systems: sector-aligned requests
// with several in flight, a flush, and the two recoveries a long write needs
// (the medium reported as changed, and a device that only copes with
// gentler transfers).
//
// The engine and the recoveries are written once, against AsyncDisk: one
// open disk that can start a request on one of its slots and wait for it.
// Windows implements it with OVERLAPPED requests, Linux with io_uring, and
// tests (and simulated drives) with fault-injecting fakes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "core/os_error.h"
#include "core/result.h"
#include "disk/device_info.h"
#include "logging/logger.h"

namespace sw {

// How transfers are issued.
struct IoConfig {
    bool no_buffering = true;    // bypass the system's file cache
    bool write_through = false;  // each write reaches the medium before it completes
    size_t depth = 1;            // requests in flight at once (1..16 once opened)
    size_t io_size = 1048576;    // bytes per request before sector rounding

    friend bool operator==(const IoConfig&, const IoConfig&) = default;
};

// IoConfig { no_buffering: true, write_through: false, depth: 1, io_size: 1048576 }
std::string debug_string(const IoConfig& config);

// What the health check opens a drive with: unbuffered, depth 1, 1 MiB.
IoConfig health_check_config();

inline constexpr size_t kMaxSlots = 16;
inline constexpr uint32_t kRequestWaitMs = 90000;  // one request may take this long
inline constexpr uint32_t kDrainWaitMs = 5000;     // waiting for requests after an error
inline constexpr uint32_t kStopCheckMs = 100;      // how often a wait looks at the stop flag

// `depth` clamped to 1..16.
size_t slot_count_for(size_t depth);
// The larger of io_size and sector, rounded down to whole sectors.
size_t request_size(size_t io_size, uint32_t sector);
// The next gentler configuration after a failed write: depth 1, then 64 KiB
// requests, then buffered without write-through; nothing once all is given up.
std::optional<IoConfig> gentler(const IoConfig& config);

// The buffering flags a disk handle is opened with (kept for reopening).
struct OpenMode {
    bool no_buffering = true;
    bool write_through = false;

    friend bool operator==(const OpenMode&, const OpenMode&) = default;
};
inline OpenMode open_mode_of(const IoConfig& c) {
    return OpenMode{c.no_buffering, c.write_through};
}

enum class IoDirection { Read, Write };

// How one request ended.
struct SlotOutcome {
    enum Kind { Done, Failed, TimedOut };
    Kind kind = Done;
    uint32_t bytes = 0;  // Done: bytes transferred
    OsError error;       // Failed
};

// One open disk with a fixed number of request slots. Used by one thread.
class AsyncDisk {
  public:
    virtual ~AsyncDisk() = default;
    virtual size_t slots() const = 0;
    // Starts reading or writing `length` bytes at `offset` on slot k. An
    // error means the request was not started. The memory must stay valid
    // until the slot's outcome has been collected.
    virtual Result<void, OsError> issue(size_t slot, IoDirection direction, uint64_t offset,
                                        std::byte* data, size_t length) = 0;
    // Waits at most `ms` for slot k's request.
    virtual SlotOutcome wait(size_t slot, uint32_t ms) = 0;
    // Asks the system to cancel slot k's request / every request of the handle.
    virtual void cancel(size_t slot) = 0;
    virtual void cancel_all() = 0;
    // Commits written data to the medium (the device's write cache included).
    virtual Result<void, OsError> flush() = 0;
    // Opens the same disk again with `mode`. On success the new handle
    // replaces the old one, which is closed; on failure the old one stays.
    virtual Result<void, OsError> reopen(const OpenMode& mode) = 0;
    // Asks the device whether it accepts writes, waiting at most `ms`: an
    // error with the write-protected trait when it refuses them.
    virtual Result<void, OsError> query_writable(uint32_t ms) = 0;
    // Commits written data and drops whatever the system caches of the disk,
    // so that the next buffered read comes from the medium. Where the system
    // cannot do that (Windows: only an unbuffered handle bypasses its cache),
    // an error.
    virtual Result<void, OsError> drop_cached_pages() {
        return unexpected(message_error("the system cache of the drive cannot be dropped"));
    }
};

// "short transfer 4096/8192"
OsError short_transfer_error(uint32_t done, size_t requested);
// "control code 0x002D0C14 timed out after 10000 ms", with the timed-out trait.
OsError control_timeout_error(uint32_t code, uint32_t ms);
// What a transfer ends with when it was stopped from outside: its requests
// were cancelled. Carries the stopped trait.
OsError stopped_error();

// Moves `buffer` from or to `offset` in requests of request_size(io_size,
// sector), up to `depth` of them in flight on slots taken round-robin,
// completed strictly in issue order. The first error wins; after it nothing
// more is issued, outstanding requests are cancelled and every issued one is
// still waited for (at most 5 s each) before returning.
// With a `stop` flag, each wait looks at it every 100 ms: once it is set,
// every request in flight is cancelled and settled, and the transfer ends
// with stopped_error(), however long a request would still have taken.
Result<void, OsError> run_transfer(AsyncDisk& disk, IoDirection direction, uint64_t offset,
                                   std::span<std::byte> buffer, size_t depth, size_t io_size,
                                   uint32_t sector, uint32_t wait_ms,
                                   const std::atomic<bool>* stop = nullptr);

// An open physical disk: the engine plus the recoveries, over one AsyncDisk.
// Used by one thread at a time; it may be moved to another thread.
class RawDevice {
  public:
    RawDevice(std::unique_ptr<AsyncDisk> disk, uint32_t number, uint32_t sector, uint64_t size,
              const IoConfig& config, Clock& clock);

    RawDevice(RawDevice&&) noexcept = default;
    RawDevice& operator=(RawDevice&&) noexcept = default;

    // Writes the whole buffer (a multiple of `sector`, aligned for
    // unbuffered I/O). A medium reported as changed is reopened up to three
    // times (pausing 300, 600, 900 ms); a write that still fails is retried
    // with gentler settings unless the device is gone. The gentler settings
    // stay for every later call.
    Result<void, OsError> write_at(uint64_t offset, std::span<std::byte> buffer);
    // Reads the whole buffer; recovers from a changed medium only.
    Result<void, OsError> read_at(uint64_t offset, std::span<std::byte> buffer);
    // Commits the device's write cache; recovers from a changed medium.
    Result<void, OsError> flush();
    // Cancels whatever is still outstanding on the handle.
    void cancel_all();

    // While the returned value lives, setting `stop` cancels the requests in
    // flight and ends the transfer with stopped_error(); after a stop no
    // gentler retry and no reopen is tried. When the value ends, the device
    // watches what it watched before. The device must not be moved while the
    // value lives.
    class StopScope {
      public:
        StopScope(StopScope&& other) noexcept;
        StopScope(const StopScope&) = delete;
        StopScope& operator=(const StopScope&) = delete;
        StopScope& operator=(StopScope&&) = delete;
        ~StopScope();

      private:
        friend class RawDevice;
        StopScope(RawDevice* device, const std::atomic<bool>* previous)
            : device_(device), previous_(previous) {}
        RawDevice* device_;
        const std::atomic<bool>* previous_;
    };
    [[nodiscard]] StopScope stop_on(const std::atomic<bool>& stop);
    // The writable query (IOCTL_DISK_IS_WRITABLE, or BLKROGET on Linux),
    // bounded by `ms`; write protection has the write-protected trait.
    Result<void, OsError> query_writable(uint32_t ms);

    uint32_t number() const { return number_; }
    uint32_t sector() const { return sector_; }
    uint64_t size() const { return size_; }
    size_t slots() const { return disk_->slots(); }
    const IoConfig& config() const { return config_; }
    uint32_t wait_ms() const { return wait_ms_; }

    // Settings for one stretch of work (the health check runs with a 45 s
    // completion wait, depth 1 and 1 MiB requests); when the returned value
    // ends, the wait, depth and request size come back, except that a
    // degradation made in between is kept. The device must not be moved
    // while the value lives.
    class ScopedSettings {
      public:
        ScopedSettings(ScopedSettings&& other) noexcept;
        ScopedSettings(const ScopedSettings&) = delete;
        ScopedSettings& operator=(const ScopedSettings&) = delete;
        ScopedSettings& operator=(ScopedSettings&&) = delete;
        ~ScopedSettings();

      private:
        friend class RawDevice;
        ScopedSettings(RawDevice* device, uint32_t wait_ms, size_t depth, size_t io_size);
        RawDevice* device_;
        uint32_t wait_ms_;
        size_t depth_;
        size_t io_size_;
    };
    [[nodiscard]] ScopedSettings use_settings(uint32_t wait_ms, size_t depth, size_t io_size);

    // A stretch of reads that must come from the medium rather than from the
    // system's cache of it (the read-back of what was written). A device that
    // fell back to buffered writes is reopened unbuffered for it; when that
    // open is refused, the buffered handle stays and the cached pages of the
    // drive are dropped first, which the log says. When the value ends, the
    // handle is opened again the way the writes need it. The device must not
    // be moved while the value lives.
    class MediumReads {
      public:
        MediumReads(MediumReads&& other) noexcept;
        MediumReads(const MediumReads&) = delete;
        MediumReads& operator=(const MediumReads&) = delete;
        MediumReads& operator=(MediumReads&&) = delete;
        ~MediumReads();

      private:
        friend class RawDevice;
        explicit MediumReads(RawDevice* reopened) : device_(reopened) {}
        RawDevice* device_;  // the device to reopen buffered at the end; null: nothing to undo
    };
    // Fails when the reads could not be made to reach the medium.
    [[nodiscard]] Result<MediumReads, OsError> read_from_medium();

  private:
    Result<void, OsError> with_media_recovery(const std::function<Result<void, OsError>()>& op);
    bool stop_requested() const {
        return stop_ != nullptr && stop_->load(std::memory_order_relaxed);
    }

    std::unique_ptr<AsyncDisk> disk_;
    uint32_t number_;
    uint32_t sector_;
    uint64_t size_;
    IoConfig config_;
    IoConfig ceiling_;  // what degradations have left: restored settings never exceed it
    uint32_t wait_ms_ = kRequestWaitMs;
    Clock* clock_;
    const std::atomic<bool>* stop_ = nullptr;  // watched while a StopScope lives
};

// --- Locking the volumes of a disk -------------------------------------------

// One volume taken away from the system (Windows: an open, locked and
// dismounted volume handle; Linux: an unmounted volume, or the disk held
// open exclusively). Ending the value gives it back.
class VolumeLock {
  public:
    virtual ~VolumeLock() = default;
};

// The platform's steps for one volume, and the claim of a whole disk.
class VolumeLocker {
  public:
    virtual ~VolumeLocker() = default;
    // One attempt to claim disk `number` for one job against every other
    // job on it, in this process or another (Windows: a named object per
    // disk; Linux: an exclusive flock on the disk's device node, which
    // udev and partitioning tools respect). An error with the in-use trait
    // while another holds it.
    virtual Result<std::unique_ptr<VolumeLock>, OsError> claim(uint32_t number) = 0;
    // Opens the volume; an error with the not-ready trait means it has no
    // medium (it is skipped).
    virtual Result<std::unique_ptr<VolumeLock>, OsError> open(const VolumeInfo& volume) = 0;
    // One lock attempt (FSCTL_LOCK_VOLUME; on Linux unmounting), at most `ms`.
    virtual Result<void, OsError> lock(VolumeLock& volume, uint32_t ms) = 0;
    // Dismounting (FSCTL_DISMOUNT_VOLUME; on Linux a check that nothing was
    // mounted again), at most `ms`.
    virtual Result<void, OsError> dismount(VolumeLock& volume, uint32_t ms) = 0;
    // What the system calls those two steps, for the texts of their failures
    // ("FSCTL_LOCK_VOLUME", "FSCTL_DISMOUNT_VOLUME"; "umount2" on Linux).
    virtual std::string_view lock_name() const = 0;
    virtual std::string_view dismount_name() const = 0;
    // After the volumes: whatever holds the whole disk for the job (Linux
    // opens it exclusively); nullptr when nothing is needed.
    virtual Result<std::unique_ptr<VolumeLock>, OsError> hold_disk(uint32_t number) = 0;
};

// The locks of one job and its claim of the disk; held until the value
// ends, the claim released last.
class LockedVolumes {
  public:
    LockedVolumes() = default;
    LockedVolumes(LockedVolumes&&) noexcept = default;
    LockedVolumes& operator=(LockedVolumes&&) noexcept = default;
    // The locks, not counting the claim.
    size_t size() const { return locks_.size(); }
    void add(std::unique_ptr<VolumeLock> lock) { locks_.push_back(std::move(lock)); }
    void keep_claim(std::unique_ptr<VolumeLock> claim) { claim_ = std::move(claim); }

  private:
    std::unique_ptr<VolumeLock> claim_;  // declared first: ends after the locks
    std::vector<std::unique_ptr<VolumeLock>> locks_;
};

enum class LockStep { Locking, Dismounting };
// "locking" / "dismounting" with the volume's label.
using LockProgress = std::function<void(LockStep step, std::string_view label)>;

// "E: F:" for a volume with letters, its name otherwise.
std::string volume_label(const VolumeInfo& volume);

inline constexpr int kLockAttempts = 20;
inline constexpr uint32_t kLockAttemptMs = 5000;
inline constexpr uint32_t kLockPauseMs = 250;
inline constexpr uint32_t kDismountMs = 60000;
// udev holds a disk's flock for the moment it probes the disk: a claim is
// asked for this many times before the disk counts as in use.
inline constexpr int kClaimAttempts = 8;
inline constexpr uint32_t kClaimPauseMs = 250;

// Claims disk `number` for one job (see VolumeLocker::claim), asking up to 8
// times 250 ms apart; held by another job it fails with "another write or
// drive check holds disk {}" and the in-use trait.
Result<std::unique_ptr<VolumeLock>, OsError> claim_disk(uint32_t number, VolumeLocker& locker,
                                                        Clock& clock);

}  // namespace sw
