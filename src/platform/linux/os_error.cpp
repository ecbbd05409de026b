#include "core/os_error.h"

#include <cerrno>
#include <cstring>

#include "core/text.h"

namespace sw {

namespace {

unsigned traits_of(int code) {
    switch (code) {
        // The device is gone: unplugged, its driver detached it, or the
        // handle no longer refers to anything.
        case ENODEV:
        case ENXIO:
        case ESHUTDOWN:
        case ENOTCONN:
        case EBADF:
            return kDisconnected;
        // No direct media-change error exists for Linux I/O; a stale handle
        // (the medium behind it was replaced) calls for the same cure: reopen.
        case ESTALE:
            return kMediaChanged;
        case EBUSY:
            return kInUse;
        case ENOMEDIUM:
            return kDisconnected | kNotReady;
        case ENOENT:
            return kDisconnected | kNotFound;
        case EROFS:
            return kWriteProtected;
        case ETIMEDOUT:
            return kTimedOut;
        case EACCES:
        case EPERM:
            return kAccessDenied;
        default:
            return 0;
    }
}

}  // namespace

OsError os_error(int code) {
    char buf[256];
    // GNU strerror_r returns the message (possibly not in buf).
    const char* msg = strerror_r(code, buf, sizeof buf);
    return OsError{code, fmt("{} (os error {})", msg, code), traits_of(code)};
}

OsError last_os_error() {
    return os_error(errno);
}

OsError os_timeout_error() {
    return os_error(ETIMEDOUT);
}

}  // namespace sw
