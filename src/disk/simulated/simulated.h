// Simulated USB drives (development builds only; a release build compiles
// none of this). This machine has no USB bus, so files or block devices can
// stand in for USB drives, with faults injected where the transfer engine
// meets the disk: an error at an offset, a medium reported as changed,
// removal, write protection, writes silently dropped, a speed limit and a
// request that never completes.
//
// ORTIVEX_SIMULATED_USB lists them, separated by ';'. Each entry is a path
// followed by ','-separated settings:
//   serial=TEXT             serial number (default SIM1, SIM2, ... by position)
//   vendor=TEXT product=TEXT  descriptor texts (default "Ortivex", "Simulated USB")
//   usb=full|high|super|superplus|none   connection speed (default high)
//   sector=512|4096         logical sector size of a file (default 512)
//   error=CODE@OFFSET       requests touching OFFSET fail with system error CODE
//   media-changed=N         the next N requests or flushes report a changed medium
//   remove-at=OFFSET        the drive disappears once a request reaches OFFSET
//   write-protect           writes fail as on a write-protected stick
//   drop-writes-at=OFFSET   bytes written from OFFSET on are silently not stored
//   mbps=N                  transfers run at most N MB/s
//   hang-at=OFFSET          a request touching OFFSET never completes
//   buffered-writes-only    writes fail while the drive is open unbuffered
// The n-th entry (from 1) is disk number 4000000000 + n - 1.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "disk/device_info.h"
#include "disk/raw_device.h"

namespace sw {

inline constexpr std::string_view kSimulatedDrivesVariable = "ORTIVEX_SIMULATED_USB";
inline constexpr uint32_t kFirstSimulatedNumber = kFirstReservedDiskNumber;

inline bool is_simulated_number(uint32_t number) {
    return number >= kFirstSimulatedNumber;
}

struct SimulatedFaults {
    std::vector<std::pair<int, uint64_t>> errors;  // system error code at a byte offset
    uint32_t media_changed = 0;
    std::optional<uint64_t> remove_at;
    bool write_protected = false;
    std::optional<uint64_t> drop_writes_at;
    double mbps = 0;  // 0: no limit
    std::optional<uint64_t> hang_at;
    bool buffered_writes_only = false;
};

struct SimulatedDrive {
    size_t position = 0;  // 0-based place in the list; decides the disk number
    std::string entry;    // the entry as written, which keys its state
    std::string path;
    std::string serial;
    std::string vendor = "Ortivex";
    std::string product = "Simulated USB";
    std::optional<UsbSpeed> usb = UsbSpeed::High;
    uint32_t sector = 512;
    SimulatedFaults faults;

    uint32_t number() const { return kFirstSimulatedNumber + static_cast<uint32_t>(position); }
};

struct SimulatedParse {
    std::vector<SimulatedDrive> drives;
    std::vector<std::string> problems;  // entries or settings that were not understood
};

SimulatedParse parse_simulated_drives(std::string_view text);

// What a simulated drive remembers for the whole run, across opens.
struct SimulatedState {
    std::atomic<uint32_t> media_changed_left{0};
    std::atomic<bool> removed{false};
    // Eject requests and layout refreshes asked of the drive, for tests to
    // see; an accepted eject also marks the drive removed, as a real one
    // leaves the system.
    std::atomic<uint32_t> eject_requests{0};
    std::atomic<uint32_t> layout_refreshes{0};
};

// The states of the drives one decorator simulates, keyed by entry: a drive
// keeps its state while its entry stays the same, and a new decorator
// starts every drive afresh.
class SimulatedStates {
  public:
    // The state of one entry (created on first use with its fault counts).
    std::shared_ptr<SimulatedState> of(const SimulatedDrive& sim);

  private:
    std::mutex mutex_;
    std::map<std::pair<size_t, std::string>, std::shared_ptr<SimulatedState>> states_;
};

// The record a simulated drive is listed with (no letters, no speed); its
// vendor, product and serial texts cleaned as a real drive's are.
DeviceInfo simulated_record(const SimulatedDrive& sim, uint64_t backing_size,
                            uint32_t logical_sector, uint32_t physical_sector);

// The faults of one drive, injected around the disk that backs it. Requests
// past the drive's size transfer only the part inside it.
class FaultInjectingDisk final : public AsyncDisk {
  public:
    FaultInjectingDisk(std::unique_ptr<AsyncDisk> inner, std::shared_ptr<SimulatedState> state,
                       SimulatedFaults faults, uint64_t size, Clock& clock,
                       OpenMode mode = OpenMode{});

    size_t slots() const override { return inner_->slots(); }
    Result<void, OsError> issue(size_t slot, IoDirection direction, uint64_t offset,
                                std::byte* data, size_t length) override;
    SlotOutcome wait(size_t slot, uint32_t ms) override;
    void cancel(size_t slot) override;
    void cancel_all() override;
    Result<void, OsError> flush() override;
    Result<void, OsError> reopen(const OpenMode& mode) override;
    Result<void, OsError> query_writable(uint32_t ms) override;
    Result<void, OsError> drop_cached_pages() override;

  private:
    enum class SlotState { Idle, Inner, Settled, Hanging, Cancelled };
    struct Slot {
        SlotState state = SlotState::Idle;
        SlotOutcome settled;    // Settled: the answer without touching the backing
        uint32_t reported = 0;  // Inner: bytes to report when the backing did its part
        size_t forwarded = 0;   // Inner: bytes handed to the backing
        Clock::TimePoint issued{};
    };
    bool take_media_change();

    std::unique_ptr<AsyncDisk> inner_;
    std::shared_ptr<SimulatedState> state_;
    SimulatedFaults faults_;
    uint64_t size_;
    Clock* clock_;
    std::vector<Slot> slots_;
    Clock::TimePoint busy_until_{};
    OpenMode mode_;  // how the backing is open now
};

}  // namespace sw
