// Formats a file or block device with the drive formatter, for the formatting
// benchmark: the extents written in the formatter's order, then flushed to
// the device. Prints the layout and the bytes written as "key value" lines.
//
//   format-probe TARGET [SECTOR_BYTES]
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "format/format.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: format-probe TARGET [SECTOR_BYTES]\n");
        return 2;
    }
    uint32_t sector = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 512;
    int fd = ::open(argv[1], O_RDWR);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    off_t size = ::lseek(fd, 0, SEEK_END);
    auto layout = format::lay_out(static_cast<uint64_t>(size), sector, 0x0B5E55ED);
    if (!layout) {
        std::fprintf(stderr, "%s\n", format::describe(layout.error()).data());
        return 1;
    }
    std::vector<uint8_t> zeros(1 << 20, 0);
    for (const auto& e : layout->extents) {
        for (uint64_t done = 0; done < e.length;) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(e.length - done, zeros.size()));
            const uint8_t* data = e.bytes.empty() ? zeros.data() : e.bytes.data() + done;
            ssize_t w = ::pwrite(fd, data, n, static_cast<off_t>(e.offset + done));
            if (w <= 0) {
                std::perror("write");
                return 1;
            }
            done += static_cast<uint64_t>(w);
        }
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        std::perror("flush");
        return 1;
    }
    std::printf("file_system %s\ncluster_bytes %u\ncapacity_bytes %llu\nbytes_written %llu\n",
                format::name(layout->fs).data(), layout->cluster_bytes,
                static_cast<unsigned long long>(layout->capacity_bytes()),
                static_cast<unsigned long long>(layout->bytes_written()));
    return 0;
}
