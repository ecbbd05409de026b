// An error reported by the operating system (or by our own I/O layer on its
// behalf). It keeps the system's own code and message, and the platform
// adapter that created it says what kind of failure it is, so that the rules
// never test raw Windows codes or errno values.
#pragma once

#include <string>

namespace sw {

enum ErrorTrait : unsigned {
    kDisconnected = 1u << 0,    // the device is gone or not ready
    kMediaChanged = 1u << 1,    // the medium was changed under an open handle
    kWriteProtected = 1u << 2,  // the device refuses writes
    kTimedOut = 1u << 3,        // a request or control call ran out of time
    kAccessDenied = 1u << 4,    // insufficient rights or an exclusive holder
    kNotReady = 1u << 5,        // no medium / device not ready
    kNotFound = 1u << 6,        // file, key or value does not exist
    kInUse = 1u << 7,           // others still use it (a volume that cannot be locked)
    kStopped = 1u << 8,         // the work was stopped and its requests cancelled
};

struct OsError {
    int code = 0;      // the system's code (Windows error code or errno); 0 for our own texts
    std::string text;  // full text, e.g. "Access is denied. (os error 5)"
    unsigned traits = 0;

    bool is(ErrorTrait t) const { return (traits & t) != 0; }
};

// The platform's error for `code`: its message followed by " (os error {code})",
// with the traits of that code.
OsError os_error(int code);

// The calling thread's last error (GetLastError on Windows, errno elsewhere).
OsError last_os_error();

// The platform's own "the operation timed out" error (ERROR_TIMEOUT on
// Windows, ETIMEDOUT elsewhere), for a request that never completed.
OsError os_timeout_error();

// An error that is only a text of ours, optionally with traits
// (for example "short transfer 4096/8192" or a timed-out control request).
inline OsError message_error(std::string text, unsigned traits = 0) {
    return OsError{0, std::move(text), traits};
}

}  // namespace sw
