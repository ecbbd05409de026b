// Image files on Linux: open + fstat + pread.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/os_error.h"
#include "image/image_reader.h"

namespace sw {

namespace {

class FileImageReader final : public ImageReader {
  public:
    FileImageReader(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~FileImageReader() override { ::close(fd_); }
    FileImageReader(const FileImageReader&) = delete;
    FileImageReader& operator=(const FileImageReader&) = delete;

    uint64_t size() const override { return size_; }

    Result<void, std::string> read_at(uint64_t offset, std::span<uint8_t> out) const override {
        size_t done = 0;
        while (done < out.size()) {
            if (offset + done > static_cast<uint64_t>(INT64_MAX)) {
                return unexpected(std::string(kShortReadText));
            }
            ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                                static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return unexpected(last_os_error().text);
            }
            if (n == 0) return unexpected(std::string(kShortReadText));
            done += static_cast<size_t>(n);
        }
        return {};
    }

  private:
    int fd_;
    uint64_t size_;
};

}  // namespace

Result<std::unique_ptr<ImageReader>, std::string> open_image_file(const std::string& utf8_path) {
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer. The
    // type is checked before anything is read, so the flag never matters for
    // the regular file that is kept.
    int fd = ::open(utf8_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return unexpected(last_os_error().text);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        std::string text = last_os_error().text;
        ::close(fd);
        return unexpected(text);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return unexpected(std::string("is a directory"));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return unexpected(std::string("not a regular file (a device, pipe or socket)"));
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    // The content check reads the whole file once, front to back.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<FileImageReader>(fd, static_cast<uint64_t>(st.st_size));
}

}  // namespace sw
