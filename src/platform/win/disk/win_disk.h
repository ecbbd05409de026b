// Shared pieces of the Windows drive adapters.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "core/os_error.h"
#include "core/result.h"

namespace sw::win {

// Owns one kernel handle.
class Handle {
  public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    Handle(Handle&& o) noexcept : h_(o.h_) { o.h_ = INVALID_HANDLE_VALUE; }
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            reset();
            h_ = o.h_;
            o.h_ = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    void reset() {
        if (valid()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Issues control code `code` without input or output buffers on `handle`
// (opened for overlapped I/O) and waits at most `ms`. A request that runs
// out of time is cancelled, and settled before returning, and fails with
// "control code 0x{} timed out after {} ms".
Result<void, OsError> control_with_timeout(HANDLE handle, DWORD code, DWORD ms);

// "\\.\PhysicalDrive{}"
std::wstring physical_drive_path(uint32_t number);

}  // namespace sw::win
