// Process-level services of the write job and the benchmark that differ
// between Windows and Linux.
#pragma once

namespace sw::platform {

// Windows: tells the system that it is required (continuous, system-required
// execution state) so that it does not sleep during a write; false resets
// the state to continuous only. Linux: nothing (no session sleeps a running
// headless process here).
void keep_system_awake(bool required);

// Keeps the system awake for as long as it lives, so that every way out of
// a write lets the system sleep again.
class KeepAwake {
  public:
    KeepAwake() { keep_system_awake(true); }
    ~KeepAwake() { keep_system_awake(false); }
    KeepAwake(const KeepAwake&) = delete;
    KeepAwake& operator=(const KeepAwake&) = delete;
};

// The CPU time of this process so far (user + kernel), in seconds.
double process_cpu_seconds();

// The number of logical processors of the system (0 when unknown).
unsigned logical_processors();

}  // namespace sw::platform
