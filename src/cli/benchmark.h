// "--benchmark": a destructive measurement on the test drive. It writes
// pseudo-random data to the start of the drive with seven raw-I/O methods
// and five request sizes, measures the read speed of the verification path
// and the speed of SHA-256, and names the fastest write setting.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "disk/device_info.h"
#include "disk/raw_device.h"
#include "machine/machine.h"

namespace sw {

struct BenchMethod {
    std::string_view label;
    IoConfig config;
};
// "Buffered", "Write-through", "No-buffering sync", "Overlapped d2 x1MiB", …
const std::vector<BenchMethod>& bench_methods();
// 1, 4, 8, 16 and 32 MiB.
const std::vector<uint64_t>& bench_chunk_mib();

inline constexpr size_t kBenchDataBytes = 33554432;  // 32 MiB of test data
inline constexpr size_t kBenchReadBytes = 8388608;   // one 8 MiB read buffer

// min(drive size / 2, requested MiB), rounded down to whole logical sectors:
// every piece written is then a whole number of sectors.
uint64_t bench_run_size(uint64_t drive_size, uint32_t logical_sector, uint64_t requested_mib);

// The xorshift test data: state from 0x9E3779B97F4A7C15; each step shifts
// 13 left, 7 right, 17 left and appends the state's 8 bytes little-endian.
void fill_bench_data(std::span<std::byte> out);

// The benchmark on `machine`'s drives and clock, every line to `out`;
// returns the exit code. `processors` is the count of logical processors
// (0: unknown) the CPU column is shared by; `system_sha256` whether to
// measure the system's SHA-256 too.
int run_benchmark(const std::shared_ptr<Machine>& machine, const DeviceInfo& drive,
                  uint64_t requested_mib, unsigned processors, bool system_sha256,
                  const std::function<void(std::string_view)>& out);

}  // namespace sw
