// ortivex-enginebench: moves N MiB to or from a disk, loop device or file
// with the raw transfer engine and prints the time it took. A measuring
// tool for scripts/bench-engine.sh, not part of the product.
//
//   ortivex-enginebench write|read PATH MIB DEPTH IO_KIB [CHUNK_MIB]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "core/text.h"
#include "disk/platform_disks.h"
#include "disk/raw_device.h"

int main(int argc, char** argv) {
    using namespace sw;
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s write|read PATH MIB DEPTH IO_KIB [CHUNK_MIB]\n", argv[0]);
        return 2;
    }
    std::string mode = argv[1];
    std::string path = argv[2];
    auto mib = parse_u64_decimal(argv[3]);
    auto depth = parse_u64_decimal(argv[4]);
    auto io_kib = parse_u64_decimal(argv[5]);
    auto chunk_mib = parse_u64_decimal(argc > 6 ? argv[6] : "8");
    if ((mode != "write" && mode != "read") || !mib || !depth || !io_kib || !chunk_mib ||
        *chunk_mib == 0) {
        std::fprintf(stderr, "bad arguments\n");
        return 2;
    }
    IoConfig config{.no_buffering = true,
                    .write_through = false,
                    .depth = static_cast<size_t>(*depth),
                    .io_size = static_cast<size_t>(*io_kib) * 1024};
    auto disk = platform::open_async(path, open_mode_of(config), slot_count_for(config.depth));
    if (!disk) {
        std::fprintf(stderr, "open %s: %s\n", path.c_str(), disk.error().text.c_str());
        return 1;
    }
    uint64_t total = *mib << 20;
    size_t chunk = static_cast<size_t>(*chunk_mib) << 20;
    RawDevice device(std::move(*disk), 0, 512, total, config, real_clock());
    auto* buffer = static_cast<std::byte*>(::operator new(chunk, std::align_val_t(65536)));
    for (size_t i = 0; i < chunk; ++i)
        buffer[i] = static_cast<std::byte>((i * 131 + i / 4096) & 0xFF);

    auto start = std::chrono::steady_clock::now();
    for (uint64_t offset = 0; offset < total; offset += chunk) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, total - offset));
        std::span<std::byte> span(buffer, n);
        auto r = mode == "write" ? device.write_at(offset, span) : device.read_at(offset, span);
        if (!r) {
            std::fprintf(stderr, "%s at %llu: %s\n", mode.c_str(),
                         static_cast<unsigned long long>(offset), r.error().text.c_str());
            return 1;
        }
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s %s\n", fixed(seconds, 4).c_str(),
                fixed(static_cast<double>(total) / 1e6 / seconds, 1).c_str());
    ::operator delete(buffer, std::align_val_t(65536));
    return 0;
}
