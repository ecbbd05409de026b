// Owns one kernel handle (a file, a disk, a volume, an event): closed
// exactly once, when the owner ends.
#pragma once

#include <windows.h>

namespace sw::win {

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
    // Closes now and says whether the system did (a file whose last data
    // could not be stored says so only here); false leaves the reason in
    // GetLastError.
    bool close() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h == INVALID_HANDLE_VALUE || h == nullptr || CloseHandle(h) != 0;
    }

  private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace sw::win
