// A scriptable disk behind the asynchronous-request interface: it records
// every call, keeps the bytes written, and lets a test decide how each
// request, flush and reopen ends. Waits that run out advance a FakeClock,
// so 90-second limits pass in no time.
#pragma once

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/text.h"
#include "disk/raw_device.h"
#include "support/fake_clock.h"

namespace sw::test {

class FakeDisk final : public AsyncDisk {
  public:
    struct Request {
        size_t slot;
        IoDirection direction;
        uint64_t offset;
        size_t length;
        int handle;  // which open of the disk (0 = the first) received it
    };
    enum class Hang { No, UntilCancelled, Forever };

    FakeDisk(size_t slots, FakeClock& clock, uint64_t size = 64 << 20)
        : cache(size), storage(size), clock_(clock), pending_(slots) {}

    // Test hooks. Each may leave the default behaviour in place by
    // returning nullopt.
    std::function<std::optional<OsError>(const Request&)> fail_issue;
    std::function<std::optional<SlotOutcome>(const Request&)> complete;
    std::function<Hang(const Request&)> hang;
    std::function<std::optional<OsError>()> fail_flush;
    std::function<std::optional<OsError>(const OpenMode&)> fail_reopen;
    std::function<std::optional<OsError>()> fail_drop;
    std::optional<OsError> writable_error;

    // The system's cache of the disk: when `page_cache` is on, a buffered
    // handle reads and writes `cache` (a write also reaches `storage`, the
    // medium, unless `lost_on_medium` says the device lost it), while an
    // unbuffered one goes to `storage`. Dropping the cached pages makes the
    // cache the medium again.
    bool page_cache = false;
    std::function<bool(const Request&)> lost_on_medium;
    std::vector<std::byte> cache;
    OpenMode mode;  // of the handle open now

    std::vector<std::byte> storage;
    std::vector<Request> requests;
    std::vector<std::string> calls;  // "cancel 1", "cancel_all", "reopen nb=0 wt=0", "flush"
    std::vector<uint32_t> waits;     // the limit of every wait
    std::vector<OpenMode> opens;
    int handle = 0;

    size_t slots() const override { return pending_.size(); }

    Result<void, OsError> issue(size_t slot, IoDirection direction, uint64_t offset,
                                std::byte* data, size_t length) override {
        Request r{slot, direction, offset, length, handle};
        requests.push_back(r);
        if (pending_.at(slot).active) return unexpected(message_error("slot reused while busy"));
        if (fail_issue)
            if (auto e = fail_issue(r)) return unexpected(*e);
        pending_[slot] = Pending{true, false, r, data, Hang::No, !mode.no_buffering};
        if (hang) pending_[slot].hang = hang(r);
        return {};
    }

    SlotOutcome wait(size_t slot, uint32_t ms) override {
        waits.push_back(ms);
        Pending& p = pending_.at(slot);
        if (!p.active) return {SlotOutcome::Failed, 0, message_error("nothing to wait for")};
        if (p.hang == Hang::Forever || (p.hang == Hang::UntilCancelled && !p.cancelled)) {
            clock_.advance(std::chrono::milliseconds(ms));
            return {SlotOutcome::TimedOut, 0, {}};
        }
        p.active = false;
        if (p.cancelled && p.hang == Hang::UntilCancelled)
            return {SlotOutcome::Failed, 0, message_error("The I/O operation has been aborted")};
        if (complete)
            if (auto outcome = complete(p.request)) return *outcome;
        size_t n = p.request.offset >= storage.size()
                       ? 0
                       : std::min<size_t>(p.request.length, storage.size() - p.request.offset);
        const bool cached = page_cache && p.buffered;
        if (n > 0) {
            std::byte* medium = storage.data() + p.request.offset;
            if (p.request.direction == IoDirection::Write) {
                if (page_cache) std::memcpy(cache.data() + p.request.offset, p.data, n);
                if (!cached || !lost_on_medium || !lost_on_medium(p.request))
                    std::memcpy(medium, p.data, n);
            } else {
                std::memcpy(p.data, cached ? cache.data() + p.request.offset : medium, n);
            }
        }
        return {SlotOutcome::Done, static_cast<uint32_t>(n), {}};
    }

    void cancel(size_t slot) override {
        calls.push_back(fmt("cancel {}", slot));
        pending_.at(slot).cancelled = true;
    }
    void cancel_all() override {
        calls.push_back("cancel_all");
        for (auto& p : pending_)
            if (p.active) p.cancelled = true;
    }
    Result<void, OsError> flush() override {
        calls.push_back("flush");
        if (fail_flush)
            if (auto e = fail_flush()) return unexpected(*e);
        return {};
    }
    Result<void, OsError> reopen(const OpenMode& mode) override {
        calls.push_back(fmt("reopen nb={} wt={}", mode.no_buffering, mode.write_through));
        if (fail_reopen)
            if (auto e = fail_reopen(mode)) return unexpected(*e);
        opens.push_back(mode);
        this->mode = mode;
        ++handle;
        return {};
    }
    Result<void, OsError> drop_cached_pages() override {
        calls.push_back("drop_cached_pages");
        if (fail_drop)
            if (auto e = fail_drop()) return unexpected(*e);
        cache = storage;
        return {};
    }
    Result<void, OsError> query_writable(uint32_t) override {
        if (writable_error) return unexpected(*writable_error);
        return {};
    }

    size_t in_flight() const {
        size_t n = 0;
        for (const auto& p : pending_)
            n += p.active ? 1 : 0;
        return n;
    }

  private:
    struct Pending {
        bool active = false;
        bool cancelled = false;
        Request request{};
        std::byte* data = nullptr;
        Hang hang = Hang::No;
        bool buffered = false;
    };
    FakeClock& clock_;
    std::vector<Pending> pending_;
};

}  // namespace sw::test
