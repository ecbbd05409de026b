// What simulated drives need from Linux (development builds only).
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

#include "disk/platform_disks.h"
#include "disk/simulated/backing.h"
#include "platform/linux/disk/sysfs.h"
#include "platform/linux/fd.h"

namespace sw::platform {

using namespace linux_disk;

std::optional<FileIdentity> file_identity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

Result<Backing, OsError> probe_backing(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return unexpected(last_os_error());
    Backing b;
    {
        UniqueFd rw(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
        if (!rw && (errno == EACCES || errno == EPERM || errno == EROFS))
            b.open_refused = last_os_error();
    }
    if (S_ISREG(st.st_mode)) {
        b.size = static_cast<uint64_t>(st.st_size);
        b.identity =
            FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
        return b;
    }
    if (!S_ISBLK(st.st_mode)) return unexpected(os_error(ENODEV));
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return unexpected(last_os_error());
    uint64_t size = 0;
    if (::ioctl(fd.get(), BLKGETSIZE64, &size) != 0) return unexpected(last_os_error());
    int logical = 0;
    unsigned physical = 0;
    if (::ioctl(fd.get(), BLKSSZGET, &logical) == 0 && logical > 0)
        b.logical_sector = static_cast<uint32_t>(logical);
    if (::ioctl(fd.get(), BLKPBSZGET, &physical) == 0 && physical > 0) b.physical_sector = physical;
    b.size = size;
    b.disk_number = disk_number_of_dev(major(st.st_rdev), minor(st.st_rdev));
    return b;
}

std::vector<std::pair<uint32_t, FileIdentity>> file_backed_disks() {
    std::vector<std::pair<uint32_t, FileIdentity>> out;
    auto listed = listed_disks();
    if (!listed) return out;
    for (const auto& d : *listed) {
        if (!d.loop_backing) continue;
        if (auto id = file_identity(*d.loop_backing)) out.emplace_back(d.info.number, *id);
    }
    return out;
}

OsError simulated_error(SimulatedError kind) {
    switch (kind) {
        case SimulatedError::Removed:
            return os_error(ENODEV);
        case SimulatedError::Gone:
            return os_error(ENOENT);
        case SimulatedError::MediaChanged:
            return os_error(ESTALE);
        case SimulatedError::WriteProtected:
            return os_error(EROFS);
        case SimulatedError::Cancelled:
            return os_error(ECANCELED);
    }
    return os_error(EIO);
}

}  // namespace sw::platform
