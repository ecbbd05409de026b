// Owns one file descriptor: closed exactly once, when the owner ends (or
// when the owner closes it on purpose to learn the result).
#pragma once

#include <unistd.h>

#include <utility>

#include "core/os_error.h"
#include "core/result.h"

namespace sw::platform {

class UniqueFd {
  public:
    UniqueFd() = default;
    // Takes `fd` (a negative value is "none", as open() reports a failure).
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& o) noexcept : fd_(o.release()) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }

    // Closes the current descriptor (if any) and takes `fd`.
    void reset(int fd = -1) {
        int old = std::exchange(fd_, fd);
        if (old >= 0) ::close(old);
    }

    // Closes now and reports what close() said: a file whose last data the
    // system could not store says so only here.
    Result<void, OsError> close() {
        int fd = release();
        if (fd >= 0 && ::close(fd) != 0) return unexpected(last_os_error());
        return {};
    }

  private:
    int fd_ = -1;
};

}  // namespace sw::platform
