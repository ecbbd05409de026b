// Raw transfers on Linux: the disk (or a file) opened with O_DIRECT, and one
// io_uring whose submissions are the request slots. Completions arrive in
// any order; each is kept for its slot until the engine asks for it.
#include <fcntl.h>
#include <liburing.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "core/text.h"
#include "runtime/thread.h"
#include "disk/platform_disks.h"
#include "platform/linux/fd.h"

namespace sw::platform {

namespace {

constexpr uint64_t kCancelTag = ~0ull;

int open_flags(const OpenMode& mode) {
    return O_RDWR | O_CLOEXEC | (mode.no_buffering ? O_DIRECT : 0) |
           (mode.write_through ? O_DSYNC : 0);
}

class UringDisk final : public AsyncDisk {
  public:
    UringDisk(std::string path, UniqueFd fd, size_t slots)
        : path_(std::move(path)), fd_(std::move(fd)), slots_(slots) {}

    Result<void, OsError> init() {
        int ret = io_uring_queue_init(static_cast<unsigned>(slots_.size() * 2 + 2), &ring_, 0);
        if (ret < 0) return unexpected(os_error(-ret));
        ring_ready_ = true;
        return {};
    }

    ~UringDisk() override {
        if (ring_ready_) {
            // Nothing may still write into memory the caller is about to free.
            cancel_all();
            for (size_t k = 0; k < slots_.size(); ++k)
                if (slots_[k].busy) wait(k, kDrainWaitMs);
            io_uring_queue_exit(&ring_);
        }
    }

    size_t slots() const override { return slots_.size(); }

    Result<void, OsError> issue(size_t slot, IoDirection direction, uint64_t offset,
                                std::byte* data, size_t length) override {
        if (slot >= slots_.size() || slots_[slot].busy)
            return unexpected(message_error(fmt("request slot {} is still in use", slot)));
        io_uring_sqe* sqe = get_sqe();
        if (sqe == nullptr) return unexpected(os_error(EAGAIN));
        if (direction == IoDirection::Read) {
            io_uring_prep_read(sqe, fd_.get(), data, static_cast<unsigned>(length), offset);
        } else {
            io_uring_prep_write(sqe, fd_.get(), data, static_cast<unsigned>(length), offset);
        }
        uint64_t tag = (++generation_ << 8) | slot;
        io_uring_sqe_set_data64(sqe, tag);
        int ret = io_uring_submit(&ring_);
        if (ret < 0) return unexpected(os_error(-ret));
        slots_[slot] = Slot{true, false, 0, tag};
        return {};
    }

    SlotOutcome wait(size_t slot, uint32_t ms) override {
        if (slot >= slots_.size() || !slots_[slot].busy)
            return {SlotOutcome::Failed, 0,
                    message_error(fmt("request slot {} has nothing to wait for", slot))};
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!slots_[slot].done) {
            auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::nanoseconds(0)) return {SlotOutcome::TimedOut, 0, {}};
            auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            __kernel_timespec ts{ns / 1000000000, ns % 1000000000};
            io_uring_cqe* cqe = nullptr;
            int ret = io_uring_wait_cqe_timeout(&ring_, &cqe, &ts);
            if (ret == -ETIME) continue;
            if (ret == -EINTR) continue;
            if (ret < 0) return {SlotOutcome::Failed, 0, os_error(-ret)};
            reap(cqe);
        }
        Slot& s = slots_[slot];
        s.busy = false;
        s.done = false;
        if (s.result < 0) return {SlotOutcome::Failed, 0, os_error(-s.result)};
        return {SlotOutcome::Done, static_cast<uint32_t>(s.result), {}};
    }

    void cancel(size_t slot) override {
        if (slot >= slots_.size() || !slots_[slot].busy || slots_[slot].done) return;
        io_uring_sqe* sqe = get_sqe();
        if (sqe == nullptr) return;
        io_uring_prep_cancel64(sqe, slots_[slot].tag, 0);
        io_uring_sqe_set_data64(sqe, kCancelTag);
        io_uring_submit(&ring_);
    }

    void cancel_all() override {
        for (size_t k = 0; k < slots_.size(); ++k)
            cancel(k);
    }

    Result<void, OsError> flush() override {
        if (::fsync(fd_.get()) != 0) return unexpected(last_os_error());
        return {};
    }

    Result<void, OsError> reopen(const OpenMode& mode) override {
        UniqueFd fd(::open(path_.c_str(), open_flags(mode)));
        if (!fd) return unexpected(last_os_error());
        fd_ = std::move(fd);
        return {};
    }

    Result<void, OsError> drop_cached_pages() override {
        if (::fsync(fd_.get()) != 0) return unexpected(last_os_error());
        struct stat st {};
        if (::fstat(fd_.get(), &st) != 0) return unexpected(last_os_error());
        // A block device's buffer cache is flushed and emptied by BLKFLSBUF;
        // a file (or a device where that is refused) gives up its clean
        // pages through the advice.
        if (S_ISBLK(st.st_mode) && ::ioctl(fd_.get(), BLKFLSBUF, 0) == 0) return {};
        if (int e = ::posix_fadvise(fd_.get(), 0, 0, POSIX_FADV_DONTNEED); e != 0)
            return unexpected(os_error(e));
        return {};
    }

    Result<void, OsError> query_writable(uint32_t ms) override {
        struct stat st {};
        if (::fstat(fd_.get(), &st) != 0) return unexpected(last_os_error());
        if (!S_ISBLK(st.st_mode)) return {};  // a file opened for writing accepts writes
        return read_only_flag(fd_.get(), ms);
    }

  private:
    struct Slot {
        bool busy = false;
        bool done = false;
        int result = 0;
        uint64_t tag = 0;
    };

    io_uring_sqe* get_sqe() {
        io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
        if (sqe == nullptr) {
            io_uring_submit(&ring_);
            sqe = io_uring_get_sqe(&ring_);
        }
        return sqe;
    }

    void reap(io_uring_cqe* cqe) {
        uint64_t tag = io_uring_cqe_get_data64(cqe);
        int result = cqe->res;
        io_uring_cqe_seen(&ring_, cqe);
        if (tag == kCancelTag) return;
        size_t slot = tag & 0xFF;
        if (slot < slots_.size() && slots_[slot].busy && slots_[slot].tag == tag) {
            slots_[slot].done = true;
            slots_[slot].result = result;
        }
    }

    // BLKROGET on a thread of its own, so that a device that hangs in the
    // kernel cannot hold the caller longer than `ms`. The thread queries its
    // own copy of the descriptor, which stays open until it is done even when
    // the disk itself has been closed in between.
    static Result<void, OsError> read_only_flag(int fd, uint32_t ms) {
        UniqueFd copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
        if (!copy) return unexpected(last_os_error());
        return run_with_time_limit(
            std::chrono::milliseconds(ms),
            [copy = std::move(copy)]() -> Result<void, OsError> {
                int ro = 0;
                if (::ioctl(copy.get(), BLKROGET, &ro) < 0) return unexpected(last_os_error());
                if (ro != 0) return unexpected(os_error(EROFS));
                return {};
            },
            [ms] { return control_timeout_error(static_cast<uint32_t>(BLKROGET), ms); },
            real_clock());
    }

    std::string path_;
    UniqueFd fd_;
    io_uring ring_{};
    bool ring_ready_ = false;
    std::vector<Slot> slots_;
    uint64_t generation_ = 0;
};

}  // namespace

Result<std::unique_ptr<AsyncDisk>, OsError> open_async(const std::string& path,
                                                       const OpenMode& mode, size_t slots) {
    UniqueFd fd(::open(path.c_str(), open_flags(mode)));
    if (!fd) return unexpected(last_os_error());
    auto disk = std::make_unique<UringDisk>(path, std::move(fd), slot_count_for(slots));
    if (auto ready = disk->init(); !ready) return unexpected(ready.error());
    return std::unique_ptr<AsyncDisk>(std::move(disk));
}

std::string_view writable_query_name() {
    return "BLKROGET";
}

}  // namespace sw::platform
