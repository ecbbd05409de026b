#include "cli/benchmark.h"

#include <algorithm>
#include <optional>

#include "cli/headless.h"
#include "cli/modes.h"
#include "core/text.h"
#include "image/hashing.h"
#include "core/process.h"
#include "disk/drives.h"
#include "writer/buffer.h"

namespace sw {

namespace {
constexpr uint64_t MiB = 1048576;
using LineSink = std::function<void(std::string_view)>;
}  // namespace

const std::vector<BenchMethod>& bench_methods() {
    static const std::vector<BenchMethod> methods = {
        {"Buffered",
         IoConfig{.no_buffering = false, .write_through = false, .depth = 1, .io_size = 64 * MiB}},
        {"Write-through",
         IoConfig{.no_buffering = true, .write_through = true, .depth = 1, .io_size = 64 * MiB}},
        {"No-buffering sync",
         IoConfig{.no_buffering = true, .write_through = false, .depth = 1, .io_size = 64 * MiB}},
        {"Overlapped d2 x1MiB",
         IoConfig{.no_buffering = true, .write_through = false, .depth = 2, .io_size = MiB}},
        {"Overlapped d4 x1MiB",
         IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = MiB}},
        {"Overlapped d4 x2MiB",
         IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = 2 * MiB}},
        {"Overlapped d8 x1MiB",
         IoConfig{.no_buffering = true, .write_through = false, .depth = 8, .io_size = MiB}},
    };
    return methods;
}

const std::vector<uint64_t>& bench_chunk_mib() {
    static const std::vector<uint64_t> chunks = {1, 4, 8, 16, 32};
    return chunks;
}

uint64_t bench_run_size(uint64_t drive_size, uint32_t logical_sector, uint64_t requested_mib) {
    const uint64_t requested = requested_mib > UINT64_MAX / MiB ? UINT64_MAX : requested_mib * MiB;
    const uint64_t size = std::min(drive_size / 2, requested);
    const uint64_t sector = logical_sector == 0 ? 512 : logical_sector;
    return size / sector * sector;
}

void fill_bench_data(std::span<std::byte> out) {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (size_t i = 0; i < out.size(); i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        for (size_t k = 0; k < 8 && i + k < out.size(); ++k)
            out[i + k] = static_cast<std::byte>((state >> (8 * k)) & 0xFF);
    }
}

namespace {

// The verify path's read rate over the first `run_size` bytes.
void report_read_rate(const DeviceInfo& drive, uint64_t run_size, DiskSystem& disks,
                      const LineSink& out) {
    Clock& clock = disks.clock();
    if (auto device = disks.open_raw(
            drive.number, drive.logical_sector, drive.size,
            IoConfig{.no_buffering = true, .write_through = false, .depth = 1, .io_size = MiB})) {
        AlignedBuffer buffer(kBenchReadBytes);
        uint64_t read = 0;
        const auto started = clock.now();
        while (read < run_size) {
            const size_t piece =
                static_cast<size_t>(std::min<uint64_t>(kBenchReadBytes, run_size - read));
            if (!device->read_at(read, buffer.bytes_mut(0, piece))) break;
            read += piece;
        }
        const double t = std::max(elapsed_seconds(started, clock.now()), 0.001);
        out(fmt("Read (verify path) 8 MiB d4        {}",
                pad_left(fixed(static_cast<double>(read) / 1e6 / t, 1), 9)));
    }
}

// The in-process SHA-256 and, where asked, the system's, over the test data.
void report_hash_rates(const AlignedBuffer& data, Clock& clock, bool system_sha256,
                       const LineSink& out) {
    constexpr int kHashRounds = 16;
    constexpr double kHashedBytes = 536870912.0;
    {
        ImageHasher hasher = ImageHasher::in_process();
        const auto started = clock.now();
        for (int i = 0; i < kHashRounds; ++i)
            hasher.update(data.octets(0, kBenchDataBytes));
        (void)std::move(hasher).finish();
        const double t = std::max(elapsed_seconds(started, clock.now()), 0.001);
        out(fmt("SHA-256 sha2 crate (one core)       {}",
                pad_left(fixed(kHashedBytes / 1e6 / t, 1), 9)));
    }
    if (system_sha256) {
        if (auto engine = make_system_sha256()) {
            const auto started = clock.now();
            for (int i = 0; i < kHashRounds; ++i)
                engine->update(data.octets(0, kBenchDataBytes));
            (void)engine->finish();
            const double t = std::max(elapsed_seconds(started, clock.now()), 0.001);
            out(fmt("SHA-256 Windows CNG (one core)      {}",
                    pad_left(fixed(kHashedBytes / 1e6 / t, 1), 9)));
        }
    }
}

}  // namespace

int run_benchmark(const std::shared_ptr<Machine>& machine, const DeviceInfo& drive,
                  uint64_t requested_mib, unsigned processors, bool system_sha256,
                  const LineSink& out) {
    const std::shared_ptr<DiskSystem>& disks = machine->disks();
    Clock& clock = machine->clock();
    auto volumes = disks->enumerate_volumes();
    std::vector<VolumeInfo> none;
    auto locked = lock_and_dismount(disks, drive.number, volumes ? *volumes : none, {});
    if (!locked) {
        out(fmt("lock failed: {}", locked.error().text));
        return kExitFailed;
    }

    const unsigned cpus = std::max(processors, 1u);
    const uint64_t run_size = bench_run_size(drive.size, drive.logical_sector, requested_mib);
    out(fmt("benchmark: {} MiB per run, disk {} ({} bytes), {} logical CPUs", run_size / MiB,
            drive.number, drive.size, cpus));
    out("Method                         Chunk   Write MB/s   CPU");
    out(std::string(55, '-'));

    AlignedBuffer data(kBenchDataBytes);
    fill_bench_data(data.bytes_mut());

    std::optional<std::pair<std::string, double>> best;
    for (const auto& method : bench_methods()) {
        for (uint64_t chunk_mib : bench_chunk_mib()) {
            auto device =
                disks->open_raw(drive.number, drive.logical_sector, drive.size, method.config);
            if (!device) {
                out(fmt("open failed: {}", device.error().text));
                return kExitFailed;
            }
            const auto started = clock.now();
            const double cpu_before = platform::process_cpu_seconds();
            std::optional<OsError> error;
            for (uint64_t offset = 0; offset < run_size && !error;) {
                const size_t piece =
                    static_cast<size_t>(std::min<uint64_t>(chunk_mib * MiB, run_size - offset));
                if (auto w = device->write_at(offset, data.bytes_mut(0, piece)); !w)
                    error = w.error();
                offset += piece;
            }
            if (!error)
                if (auto f = device->flush(); !f) error = f.error();
            const double t = std::max(elapsed_seconds(started, clock.now()), 0.001);
            const double cpu = (platform::process_cpu_seconds() - cpu_before) / t / cpus * 100.0;
            const std::string label = pad_right(method.label, 30);
            const std::string chunk = pad_left(fmt("{}", chunk_mib), 3);
            if (error) {
                out(fmt("{} {} MiB  error: {}", label, chunk, error->text));
            } else {
                const double rate = static_cast<double>(run_size) / 1e6 / t;
                out(fmt("{} {} MiB  {}   {}%", label, chunk, pad_left(fixed(rate, 1), 9),
                        pad_left(fixed(cpu, 1), 4)));
                if (!best || rate > best->second)
                    best.emplace(fmt("{} {} MiB", method.label, chunk_mib), rate);
            }
        }  // the device is closed here
    }

    report_read_rate(drive, run_size, *disks, out);
    report_hash_rates(data, clock, system_sha256, out);

    out(fmt("best write: {} at {} MB/s", best ? best->first : std::string(),
            fixed(best ? best->second : 0.0, 1)));
    *locked = LockedVolumes();  // the volumes are given back
    return kExitOk;
}

int run_benchmark(const MachinePtr& machine, const DeviceInfo& drive, uint64_t requested_mib) {
    return run_benchmark(machine, drive, requested_mib, platform::logical_processors(),
                         system_sha256_available(), emit);
}

}  // namespace sw
