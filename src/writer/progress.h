// The write's shared progress record: written by the job thread alone, read
// without locking by any number of observers (the window's timer, the
// heartbeat, the headless printer). Every field is one atomic word, so an
// observer may see fields from slightly different moments, never a torn one.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

namespace sw {

enum class WritePhase : uint8_t {
    Preparing = 0,
    Writing = 1,
    Flushing = 2,
    Verifying = 3,
    Finishing = 4
};

// Where Preparing is. The job never enters Clearing; the value is kept so
// that the record reads the same everywhere.
enum class PrepareStep : uint8_t {
    Checking = 0,
    Locking = 1,
    Dismounting = 2,
    Opening = 3,
    Clearing = 4
};

// "Preparing", "Writing", "Flushing", "Verifying", "Finishing".
std::string_view phase_name(WritePhase phase);
// "Checking", "Locking", "Dismounting", "Opening", "Clearing".
std::string_view step_name(PrepareStep step);

// Values above 4 read as the first one.
WritePhase phase_from_byte(uint8_t value);
PrepareStep step_from_byte(uint8_t value);

struct WriteProgress {
    std::atomic<uint64_t> done{0};   // bytes done in the current phase
    std::atomic<uint64_t> total{0};  // bytes to do in it (0: no byte count)
    std::atomic<uint8_t> phase{0};
    std::atomic<uint8_t> step{0};

    void set(uint64_t done_bytes, uint64_t total_bytes, WritePhase p) {
        done.store(done_bytes, std::memory_order_relaxed);
        total.store(total_bytes, std::memory_order_relaxed);
        phase.store(static_cast<uint8_t>(p), std::memory_order_release);
    }
    void set_step(PrepareStep s) { step.store(static_cast<uint8_t>(s), std::memory_order_release); }

    WritePhase read_phase() const { return phase_from_byte(phase.load(std::memory_order_acquire)); }
    PrepareStep read_step() const { return step_from_byte(step.load(std::memory_order_acquire)); }
};

}  // namespace sw
