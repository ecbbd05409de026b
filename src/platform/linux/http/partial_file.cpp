#include "http/partial_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/linux/fd.h"

namespace sw {

namespace {

class PosixPartialFile final : public PartialFile {
  public:
    explicit PosixPartialFile(platform::UniqueFd fd) : fd_(std::move(fd)) {}

    Result<size_t, OsError> read_at(uint64_t offset, std::span<uint8_t> buffer) override {
        size_t done = 0;
        while (done < buffer.size()) {
            ssize_t n = ::pread(fd_.get(), buffer.data() + done, buffer.size() - done,
                                static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return unexpected(last_os_error());
            }
            if (n == 0) break;
            done += static_cast<size_t>(n);
        }
        return done;
    }

    Result<void, OsError> write_at(uint64_t offset, std::span<const uint8_t> bytes) override {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::pwrite(fd_.get(), bytes.data() + done, bytes.size() - done,
                                 static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return unexpected(last_os_error());
            }
            done += static_cast<size_t>(n);
        }
        return {};
    }

    Result<uint64_t, OsError> length() override {
        struct stat st {};
        if (::fstat(fd_.get(), &st) != 0) return unexpected(last_os_error());
        return static_cast<uint64_t>(st.st_size);
    }

    Result<void, OsError> truncate() override {
        if (::ftruncate(fd_.get(), 0) != 0) return unexpected(last_os_error());
        return {};
    }

  private:
    platform::UniqueFd fd_;
};

}  // namespace

Result<std::unique_ptr<PartialFile>, OsError> open_partial_file(const std::filesystem::path& path) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd) return unexpected(last_os_error());
    return std::make_unique<PosixPartialFile>(std::move(fd));
}

Result<void, OsError> replace_file(const std::filesystem::path& from,
                                   const std::filesystem::path& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) return unexpected(last_os_error());
    return {};
}

}  // namespace sw
