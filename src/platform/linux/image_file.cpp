// Image files on Linux: open + fstat + pread.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/os_error.h"
#include "image/image_reader.h"
#include "platform/linux/fd.h"

namespace sw {

namespace {

class FileImageReader final : public ImageReader {
  public:
    FileImageReader(platform::UniqueFd fd, uint64_t size) : fd_(std::move(fd)), size_(size) {}

    uint64_t size() const override { return size_; }

    Result<void, OsError> read_at(uint64_t offset, std::span<uint8_t> out) const override {
        size_t done = 0;
        while (done < out.size()) {
            if (offset + done > static_cast<uint64_t>(INT64_MAX)) {
                return unexpected(short_read_error());
            }
            ssize_t n = ::pread(fd_.get(), out.data() + done, out.size() - done,
                                static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return unexpected(last_os_error());
            }
            if (n == 0) return unexpected(short_read_error());
            done += static_cast<size_t>(n);
        }
        return {};
    }

  private:
    platform::UniqueFd fd_;
    uint64_t size_;
};

}  // namespace

Result<std::unique_ptr<ImageReader>, std::string> open_image_file(const std::string& utf8_path) {
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer. The
    // type is checked before anything is read, so the flag never matters for
    // the regular file that is kept.
    platform::UniqueFd fd(::open(utf8_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) return unexpected(last_os_error().text);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return unexpected(last_os_error().text);
    if (S_ISDIR(st.st_mode)) return unexpected(std::string("is a directory"));
    if (!S_ISREG(st.st_mode)) {
        return unexpected(std::string("not a regular file (a device, pipe or socket)"));
    }
    int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    // The content check reads the whole file once, front to back.
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<FileImageReader>(std::move(fd), static_cast<uint64_t>(st.st_size));
}

}  // namespace sw
