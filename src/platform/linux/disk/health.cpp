// The drive check's file test on Linux: the drive's mounted file systems,
// their names from the mount table, and plain file calls.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "disk/drives.h"
#include "disk/linux_drive_facts.h"
#include "disk/platform_health.h"
#include "platform/linux/disk/sysfs.h"
#include "platform/linux/fd.h"

namespace sw::platform {

namespace {

class LinuxTestFile final : public TestFile {
  public:
    explicit LinuxTestFile(UniqueFd fd) : fd_(std::move(fd)) {}
    Result<void, OsError> write(std::span<const std::byte> data) override {
        size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::write(fd_.get(), data.data() + done, data.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return unexpected(last_os_error());
            }
            if (n == 0) return unexpected(os_error(EIO));
            done += static_cast<size_t>(n);
        }
        return {};
    }
    Result<void, OsError> flush() override {
        if (::fsync(fd_.get()) != 0) return unexpected(last_os_error());
        return {};
    }
    Result<void, OsError> close() override { return fd_.close(); }

  private:
    UniqueFd fd_;
};

class LinuxFileOps final : public FileOps {
  public:
    Result<std::unique_ptr<TestFile>, OsError> create(const std::string& path) override {
        UniqueFd fd(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!fd) return unexpected(last_os_error());
        return std::unique_ptr<TestFile>(std::make_unique<LinuxTestFile>(std::move(fd)));
    }
    Result<void, OsError> remove(const std::string& path) override {
        if (::unlink(path.c_str()) != 0) return unexpected(last_os_error());
        return {};
    }
};

}  // namespace

std::shared_ptr<FileOps> file_ops() {
    return std::make_shared<LinuxFileOps>();
}

std::vector<FileTestTarget> file_test_targets(
    const DeviceInfo& drive, const Result<std::vector<VolumeInfo>, OsError>& volumes) {
    if (!volumes) return {};
    return mount_point_targets(drive.number, *volumes);
}

std::optional<std::string> file_system_name(const FileTestTarget& target) {
    auto text = linux_disk::read_file("/proc/self/mountinfo");
    if (!text) return std::nullopt;
    return mounted_file_system(target, parse_mountinfo(*text));
}

}  // namespace sw::platform
