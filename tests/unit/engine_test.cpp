// The transfer engine and its recoveries against a scriptable disk: request
// sizes and slots, in-order completion, time limits, cancellation, the
// media-changed reopen and the degradation ladder, and the volume-locking loop.
#include <gtest/gtest.h>

#include <numeric>

#include "disk/drives.h"
#include "disk/raw_device.h"
#include "support/fake_clock.h"
#include "support/recording_log.h"
#include "support/fake_disk.h"
#include "support/temp_dir.h"

namespace sw {
namespace {

using std::chrono::milliseconds;
using test::FakeClock;
using Log = test::RecordingLog;
using test::FakeDisk;

using test::MiB;

OsError io_error() {
    return message_error("The request could not be performed because of an I/O device error.", 0);
}
OsError media_changed() {
    return message_error("The media in the drive may have changed.", kMediaChanged);
}
OsError removed() {
    return message_error("The device has been removed.", kDisconnected);
}

std::vector<std::byte> pattern(size_t n, unsigned seed = 1) {
    std::vector<std::byte> b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::byte>((i * 131 + seed * 7 + i / 4096) & 0xFF);
    return b;
}

struct Rig {
    FakeClock clock;
    Log log;
    FakeDisk* disk = nullptr;
    std::optional<RawDevice> device;

    explicit Rig(IoConfig config, uint32_t sector = 512, uint64_t size = 64 * MiB) {
        auto d = std::make_unique<FakeDisk>(slot_count_for(config.depth), clock, size);
        disk = d.get();
        device.emplace(std::move(d), 3, sector, size, config, clock);
    }
};

IoConfig deep() {
    return IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = MiB};
}

TEST(Engine, RequestSizesAreWholeSectors) {
    EXPECT_EQ(request_size(MiB, 4096), MiB);
    EXPECT_EQ(request_size(1000, 512), 512u);
    EXPECT_EQ(request_size(100, 512), 512u);
    EXPECT_EQ(request_size(6000, 4096), 4096u);
    EXPECT_EQ(slot_count_for(0), 1u);
    EXPECT_EQ(slot_count_for(40), 16u);
    Rig rig(IoConfig{.no_buffering = true, .write_through = false, .depth = 40, .io_size = MiB});
    EXPECT_EQ(rig.device->config().depth, 16u);
    EXPECT_EQ(rig.device->slots(), 16u);
}

TEST(Engine, TwoAndAHalfRequestsAtConsecutiveOffsets) {
    Rig rig(deep());
    auto data = pattern(5 * MiB / 2);
    ASSERT_TRUE(rig.device->write_at(8 * MiB, data));
    const auto& r = rig.disk->requests;
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].offset, 8 * MiB);
    EXPECT_EQ(r[1].offset, 9 * MiB);
    EXPECT_EQ(r[2].offset, 10 * MiB);
    EXPECT_EQ(r[2].length, MiB / 2);
    EXPECT_EQ((std::vector<size_t>{r[0].slot, r[1].slot, r[2].slot}),
              (std::vector<size_t>{0, 1, 2}));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), rig.disk->storage.begin() + 8 * MiB));

    std::vector<std::byte> back(data.size());
    ASSERT_TRUE(rig.device->read_at(8 * MiB, back));
    EXPECT_EQ(back, data);
}

TEST(Engine, SlotsRoundRobinAndNeverMoreThanDepthInFlight) {
    Rig rig(IoConfig{.no_buffering = true, .write_through = false, .depth = 2, .io_size = 4096});
    size_t most = 0;
    rig.disk->complete = [&](const FakeDisk::Request&) -> std::optional<SlotOutcome> {
        most = std::max(most, rig.disk->in_flight() + 1);  // this one is being completed
        return std::nullopt;
    };
    auto data = pattern(5 * 4096);
    ASSERT_TRUE(rig.device->write_at(0, data));
    std::vector<size_t> slots;
    for (const auto& r : rig.disk->requests)
        slots.push_back(r.slot);
    EXPECT_EQ(slots, (std::vector<size_t>{0, 1, 0, 1, 0}));
    EXPECT_EQ(most, 2u);
    EXPECT_EQ(rig.disk->in_flight(), 0u);
}

TEST(Engine, ShortTransferIsAnError) {
    Rig rig(IoConfig{.no_buffering = true, .write_through = false, .depth = 1, .io_size = 8192});
    rig.disk->complete = [](const FakeDisk::Request& r) -> std::optional<SlotOutcome> {
        return SlotOutcome{SlotOutcome::Done, static_cast<uint32_t>(r.length / 2), {}};
    };
    auto data = pattern(8192);
    auto r = rig.device->read_at(0, data);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().text, "short transfer 4096/8192");
}

TEST(Engine, FirstErrorStopsIssuingCancelsAndDrainsEverything) {
    Rig rig(IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = 4096});
    rig.disk->complete = [](const FakeDisk::Request& r) -> std::optional<SlotOutcome> {
        if (r.offset == 4096) return SlotOutcome{SlotOutcome::Failed, 0, removed()};
        return std::nullopt;
    };
    auto data = pattern(16 * 4096);
    auto r = rig.device->read_at(0, data);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().text, removed().text);
    EXPECT_EQ(rig.disk->requests.size(), 5u);  // four in flight, one more after the first completed
    EXPECT_EQ(rig.disk->in_flight(), 0u);
    EXPECT_EQ(rig.disk->calls, std::vector<std::string>{"cancel_all"});
    // After the error each remaining request is waited for at most 5 s.
    EXPECT_EQ(rig.disk->waits, (std::vector<uint32_t>{90000, 90000, 5000, 5000, 5000}));
}

TEST(Engine, IssueFailureCancelsWhatIsOutstanding) {
    Rig rig(IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = 4096});
    rig.disk->fail_issue = [](const FakeDisk::Request& r) -> std::optional<OsError> {
        if (r.offset == 2 * 4096) return io_error();
        return std::nullopt;
    };
    auto data = pattern(8 * 4096);
    auto r = run_transfer(*rig.disk, IoDirection::Write, 0, data, 4, 4096, 512, 90000);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().text, io_error().text);
    EXPECT_EQ(rig.disk->requests.size(), 3u);
    EXPECT_EQ(rig.disk->calls, std::vector<std::string>{"cancel_all"});
    EXPECT_EQ(rig.disk->in_flight(), 0u);
}

TEST(Engine, RequestThatNeverCompletesTimesOutAfter90Seconds) {
    Rig rig(IoConfig{.no_buffering = true, .write_through = false, .depth = 1, .io_size = MiB});
    rig.disk->hang = [](const FakeDisk::Request&) { return FakeDisk::Hang::UntilCancelled; };
    auto data = pattern(MiB);
    auto r = run_transfer(*rig.disk, IoDirection::Read, 0, data, 1, MiB, 512, kRequestWaitMs);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().text, os_timeout_error().text);
    EXPECT_TRUE(r.error().is(kTimedOut));
    EXPECT_EQ(rig.clock.elapsed(), milliseconds(90000));
    EXPECT_EQ(rig.disk->calls, std::vector<std::string>{"cancel 0"});
    EXPECT_EQ(rig.disk->waits, (std::vector<uint32_t>{90000, 5000}));
    EXPECT_EQ(rig.disk->in_flight(), 0u);
}

TEST(Engine, RequestThatIgnoresItsCancelIsWaitedForAtMostFiveSecondsMore) {
    Rig rig(IoConfig{.no_buffering = true, .write_through = false, .depth = 1, .io_size = MiB});
    rig.disk->hang = [](const FakeDisk::Request&) { return FakeDisk::Hang::Forever; };
    auto data = pattern(MiB);
    auto r = run_transfer(*rig.disk, IoDirection::Write, 0, data, 1, MiB, 512, kRequestWaitMs);
    ASSERT_FALSE(r);
    EXPECT_EQ(rig.clock.elapsed(), milliseconds(95000));
    // The slot is still busy: it is never reused for another request.
    auto again = rig.disk->issue(0, IoDirection::Write, 0, data.data(), MiB);
    EXPECT_FALSE(again);
}

// --- A stop from outside ---------------------------------------------------------

TEST(Stop, AStopWhileARequestHangsCancelsEveryRequestInFlight) {
    Rig rig(IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = 4096});
    std::atomic<bool> stop{false};
    // The third request never completes; the stop comes while it is out.
    rig.disk->hang = [&](const FakeDisk::Request& r) {
        if (r.offset != 2 * 4096) return FakeDisk::Hang::No;
        stop = true;
        return FakeDisk::Hang::UntilCancelled;
    };
    auto data = pattern(16 * 4096);
    auto r =
        run_transfer(*rig.disk, IoDirection::Write, 0, data, 4, 4096, 512, kRequestWaitMs, &stop);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().is(kStopped));
    EXPECT_FALSE(r.error().is(kTimedOut));
    EXPECT_EQ(rig.disk->requests.size(), 4u);  // nothing issued after the stop
    EXPECT_EQ(rig.disk->calls, std::vector<std::string>{"cancel_all"});
    EXPECT_EQ(rig.disk->waits, (std::vector<uint32_t>{5000, 5000, 5000, 5000}));
    EXPECT_EQ(rig.disk->in_flight(), 0u);
    EXPECT_EQ(rig.clock.elapsed(), milliseconds(0));
}

TEST(Stop, AWatchedWaitLooksAtTheFlagEveryHundredMilliseconds) {
    Rig rig(IoConfig{.no_buffering = true, .write_through = false, .depth = 1, .io_size = MiB});
    rig.disk->hang = [](const FakeDisk::Request&) { return FakeDisk::Hang::UntilCancelled; };
    std::atomic<bool> stop{false};
    auto data = pattern(MiB);
    // Never set: the request still gets its whole 90 s, then times out.
    auto r =
        run_transfer(*rig.disk, IoDirection::Read, 0, data, 1, MiB, 512, kRequestWaitMs, &stop);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().is(kTimedOut));
    EXPECT_EQ(rig.clock.elapsed(), milliseconds(90000));
    EXPECT_EQ(rig.disk->waits.size(), 901u);  // 900 slices of 100 ms, then the drain
    EXPECT_EQ(rig.disk->waits.front(), kStopCheckMs);
    EXPECT_EQ(rig.disk->waits.back(), kDrainWaitMs);
}

TEST(Stop, NoGentlerRetryNoReopenAndNothingWatchedOnceTheScopeEnds) {
    Rig rig(deep());
    std::atomic<bool> stop{false};
    auto data = pattern(2 * MiB);
    {
        auto watching = rig.device->stop_on(stop);
        // A write error that comes with the stop: the ladder does not begin.
        rig.disk->complete = [&](const FakeDisk::Request&) -> std::optional<SlotOutcome> {
            stop = true;
            return SlotOutcome{SlotOutcome::Failed, 0, io_error()};
        };
        auto w = rig.device->write_at(0, data);
        ASSERT_FALSE(w);
        EXPECT_TRUE(w.error().is(kStopped));
        // Nor does a changed medium get reopened.
        stop = false;
        rig.disk->complete = [&](const FakeDisk::Request&) -> std::optional<SlotOutcome> {
            stop = true;
            return SlotOutcome{SlotOutcome::Failed, 0, media_changed()};
        };
        auto m = rig.device->read_at(0, data);
        ASSERT_FALSE(m);
        EXPECT_TRUE(m.error().is(kStopped));
    }
    EXPECT_EQ(rig.log.count(LogLevel::Warn), 0u);
    EXPECT_TRUE(rig.disk->opens.empty());
    EXPECT_EQ(rig.device->config(), deep());
    EXPECT_TRUE(rig.clock.sleeps().empty());
    // The scope has ended: the same flag no longer stops anything.
    rig.disk->complete = nullptr;
    ASSERT_TRUE(rig.device->write_at(0, data));
}

TEST(Recovery, FlushFailingWithMediaChangedFourTimesReopensThreeTimes) {
    Rig rig(deep());
    rig.disk->fail_flush = []() -> std::optional<OsError> { return media_changed(); };
    auto r = rig.device->flush();
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().is(kMediaChanged));
    EXPECT_EQ(rig.clock.sleeps(),
              (std::vector<milliseconds>{milliseconds(300), milliseconds(600), milliseconds(900)}));
    EXPECT_EQ(rig.disk->opens.size(), 3u);
    EXPECT_EQ(rig.disk->opens[0], (OpenMode{true, false}));
    EXPECT_EQ(rig.log.count(LogLevel::Info), 3u);
    EXPECT_EQ(rig.log.lines()[0].second,
              "ERROR_MEDIA_CHANGED: reopening the drive and reissuing the request");
}

TEST(Recovery, WriteReissuedWholeAfterMediaChanged) {
    Rig rig(deep());
    int failures = 2;
    rig.disk->complete = [&](const FakeDisk::Request& r) -> std::optional<SlotOutcome> {
        if (r.offset == MiB && failures > 0) {
            --failures;
            return SlotOutcome{SlotOutcome::Failed, 0, media_changed()};
        }
        return std::nullopt;
    };
    auto data = pattern(3 * MiB);
    ASSERT_TRUE(rig.device->write_at(0, data));
    EXPECT_EQ(rig.disk->handle, 2);
    EXPECT_EQ(rig.disk->requests.front().offset, 0u);
    EXPECT_EQ(rig.disk->requests.back().handle, 2);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), rig.disk->storage.begin()));
    EXPECT_EQ(rig.log.count(LogLevel::Warn), 0u);
}

TEST(Recovery, ReopenFailureEndsTheCallWithItsError) {
    Rig rig(deep());
    rig.disk->fail_flush = []() -> std::optional<OsError> { return media_changed(); };
    rig.disk->fail_reopen = [](const OpenMode&) -> std::optional<OsError> { return removed(); };
    auto r = rig.device->flush();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().text, removed().text);
    EXPECT_EQ(rig.disk->handle, 0);
}

TEST(Degradation, DeviceGoneIsReturnedAtOnce) {
    Rig rig(deep());
    rig.disk->complete = [](const FakeDisk::Request&) -> std::optional<SlotOutcome> {
        return SlotOutcome{SlotOutcome::Failed, 0, removed()};
    };
    auto data = pattern(2 * MiB);
    auto r = rig.device->write_at(0, data);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().text, removed().text);
    EXPECT_EQ(rig.log.lines().size(), 0u);
    EXPECT_TRUE(rig.disk->opens.empty());
}

TEST(Degradation, ThreeGentlerTriesThenTheError) {
    Rig rig(deep());
    rig.disk->complete = [](const FakeDisk::Request&) -> std::optional<SlotOutcome> {
        return SlotOutcome{SlotOutcome::Failed, 0, io_error()};
    };
    auto data = pattern(2 * MiB);
    auto r = rig.device->write_at(4 * MiB, data);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().text, io_error().text);
    ASSERT_EQ(rig.log.count(LogLevel::Warn), 3u);
    std::string e = io_error().text;
    EXPECT_EQ(rig.log.lines()[0].second,
              "write at 4194304 failed (" + e +
                  "); retrying with IoConfig { no_buffering: true, write_through: false, depth: 1, "
                  "io_size: 1048576 } (was IoConfig { no_buffering: true, write_through: false, "
                  "depth: 4, io_size: 1048576 })");
    EXPECT_NE(rig.log.lines()[1].second.find("retrying with IoConfig { no_buffering: true, "
                                             "write_through: false, depth: 1, io_size: 65536 }"),
              std::string::npos);
    EXPECT_NE(rig.log.lines()[2].second.find("retrying with IoConfig { no_buffering: false, "
                                             "write_through: false, depth: 1, io_size: 65536 }"),
              std::string::npos);
    EXPECT_EQ(rig.disk->opens,
              (std::vector<OpenMode>{{true, false}, {true, false}, {false, false}}));
    EXPECT_EQ(rig.clock.sleeps(), std::vector<milliseconds>(3, milliseconds(500)));
    // The gentlest settings stay for later calls.
    EXPECT_EQ(
        rig.device->config(),
        (IoConfig{.no_buffering = false, .write_through = false, .depth = 1, .io_size = 65536}));
    EXPECT_FALSE(rig.device->write_at(0, data));
    EXPECT_EQ(rig.log.count(LogLevel::Warn), 3u);
}

TEST(Degradation, WriteThroughGoesWithBuffering) {
    EXPECT_EQ(
        gentler(
            IoConfig{.no_buffering = true, .write_through = true, .depth = 1, .io_size = 65536}),
        (IoConfig{.no_buffering = false, .write_through = false, .depth = 1, .io_size = 65536}));
    EXPECT_EQ(gentler(IoConfig{
                  .no_buffering = false, .write_through = true, .depth = 1, .io_size = 65536}),
              std::nullopt);
    EXPECT_EQ(gentler(IoConfig{
                  .no_buffering = false, .write_through = false, .depth = 1, .io_size = 4096}),
              std::nullopt);
}

TEST(Degradation, StopsAsSoonAsTheDeviceCopes) {
    Rig rig(deep());
    rig.disk->complete = [&](const FakeDisk::Request&) -> std::optional<SlotOutcome> {
        if (rig.disk->in_flight() > 0) return SlotOutcome{SlotOutcome::Failed, 0, io_error()};
        return std::nullopt;
    };
    auto data = pattern(4 * MiB);
    ASSERT_TRUE(rig.device->write_at(0, data));
    EXPECT_EQ(rig.log.count(LogLevel::Warn), 1u);
    EXPECT_EQ(rig.device->config().depth, 1u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), rig.disk->storage.begin()));
}

TEST(Degradation, MediaChangedAllowanceIsFreshAfterEachStep) {
    Rig rig(deep());
    int media = 0;
    rig.disk->complete = [&](const FakeDisk::Request& r) -> std::optional<SlotOutcome> {
        if (r.handle == 0) return SlotOutcome{SlotOutcome::Failed, 0, io_error()};
        if (++media <= 3) return SlotOutcome{SlotOutcome::Failed, 0, media_changed()};
        return std::nullopt;
    };
    auto data = pattern(MiB);
    ASSERT_TRUE(rig.device->write_at(0, data));
    EXPECT_EQ(rig.log.count(LogLevel::Warn), 1u);
    EXPECT_EQ(rig.log.count(LogLevel::Info), 3u);
}

TEST(Settings, HealthCheckSettingsAreRestoredButDegradationIsKept) {
    Rig rig(deep());
    {
        auto scope = rig.device->use_settings(45000, 1, MiB);
        EXPECT_EQ(rig.device->wait_ms(), 45000u);
        EXPECT_EQ(rig.device->config().depth, 1u);
        rig.disk->complete = [](const FakeDisk::Request& r) -> std::optional<SlotOutcome> {
            if (r.length > 65536) return SlotOutcome{SlotOutcome::Failed, 0, io_error()};
            return std::nullopt;
        };
        auto data = pattern(MiB);
        ASSERT_TRUE(rig.device->write_at(0, data));
        EXPECT_EQ(rig.device->config().io_size, 65536u);
        EXPECT_EQ(rig.disk->waits.front(), 45000u);
    }
    EXPECT_EQ(rig.device->wait_ms(), 90000u);
    EXPECT_EQ(
        rig.device->config(),
        (IoConfig{.no_buffering = true, .write_through = false, .depth = 4, .io_size = 65536}));
}

TEST(Control, TimedOutText) {
    auto e = control_timeout_error(0x00070024, 10000);
    EXPECT_EQ(e.text, "control code 0x00070024 timed out after 10000 ms");
    EXPECT_TRUE(e.is(kTimedOut));
    EXPECT_EQ(control_timeout_error(0x90018, 5000).text,
              "control code 0x00090018 timed out after 5000 ms");
}

TEST(IoConfigText, DebugRendering) {
    EXPECT_EQ(debug_string(health_check_config()),
              "IoConfig { no_buffering: true, write_through: false, depth: 1, io_size: 1048576 }");
}

// --- Locking -----------------------------------------------------------------

struct FakeVolume final : VolumeLock {
    FakeVolume(std::string n, int* alive) : name(std::move(n)), alive(alive) { ++*alive; }
    ~FakeVolume() override { --*alive; }
    std::string name;
    int* alive;
};

class FakeLocker final : public VolumeLocker {
  public:
    explicit FakeLocker(FakeClock& clock) : clock_(clock) {}
    std::map<std::string, OsError> open_errors;
    std::function<Result<void, OsError>(const std::string&, int attempt)> lock_answer;
    std::function<Result<void, OsError>(const std::string&)> dismount_answer;
    bool holds = false;
    std::string lock_call = "FSCTL_LOCK_VOLUME";
    std::string dismount_call = "FSCTL_DISMOUNT_VOLUME";
    std::vector<std::string> calls;
    int alive = 0;
    // The claim of the disk: an answer for each attempt (from 1), nullopt
    // to grant it; what was locked when it was taken and when given back.
    std::function<std::optional<OsError>(int attempt)> claim_answer;
    int claim_attempts = 0;
    uint32_t claimed_number = 0;
    std::vector<std::pair<std::string, int>> claim_events;  // ("taken"/"released", alive)

    struct FakeClaim final : VolumeLock {
        explicit FakeClaim(FakeLocker* l) : locker(l) {
            locker->claim_events.emplace_back("taken", locker->alive);
        }
        ~FakeClaim() override { locker->claim_events.emplace_back("released", locker->alive); }
        FakeLocker* locker;
    };

    Result<std::unique_ptr<VolumeLock>, OsError> open(const VolumeInfo& v) override {
        calls.push_back("open " + v.name);
        if (auto it = open_errors.find(v.name); it != open_errors.end())
            return unexpected(it->second);
        return std::unique_ptr<VolumeLock>(std::make_unique<FakeVolume>(v.name, &alive));
    }
    Result<void, OsError> lock(VolumeLock& v, uint32_t ms) override {
        auto& fv = static_cast<FakeVolume&>(v);
        int attempt = ++attempts_[fv.name];
        auto r = lock_answer ? lock_answer(fv.name, attempt) : Result<void, OsError>{};
        if (!r && r.error().is(kTimedOut)) clock_.advance(milliseconds(ms));
        return r;
    }
    Result<void, OsError> dismount(VolumeLock& v, uint32_t ms) override {
        auto& fv = static_cast<FakeVolume&>(v);
        calls.push_back(fmt("dismount {} {}", fv.name, ms));
        return dismount_answer ? dismount_answer(fv.name) : Result<void, OsError>{};
    }
    Result<std::unique_ptr<VolumeLock>, OsError> claim(uint32_t number) override {
        ++claim_attempts;
        claimed_number = number;
        if (claim_answer)
            if (auto refused = claim_answer(claim_attempts)) return unexpected(*refused);
        return std::unique_ptr<VolumeLock>(std::make_unique<FakeClaim>(this));
    }
    Result<std::unique_ptr<VolumeLock>, OsError> hold_disk(uint32_t number) override {
        calls.push_back(fmt("hold {}", number));
        if (!holds) return std::unique_ptr<VolumeLock>();
        return std::unique_ptr<VolumeLock>(std::make_unique<FakeVolume>("disk", &alive));
    }
    std::string_view lock_name() const override { return lock_call; }
    std::string_view dismount_name() const override { return dismount_call; }
    int attempts(const std::string& name) { return attempts_[name]; }

  private:
    FakeClock& clock_;
    std::map<std::string, int> attempts_;
};

// Hands a VolumeLocker's calls to one FakeLocker that the test keeps.
class ForwardedLocker final : public VolumeLocker {
  public:
    explicit ForwardedLocker(FakeLocker& fake) : fake_(fake) {}
    Result<std::unique_ptr<VolumeLock>, OsError> claim(uint32_t number) override {
        return fake_.claim(number);
    }
    Result<std::unique_ptr<VolumeLock>, OsError> open(const VolumeInfo& v) override {
        return fake_.open(v);
    }
    Result<void, OsError> lock(VolumeLock& v, uint32_t ms) override { return fake_.lock(v, ms); }
    Result<void, OsError> dismount(VolumeLock& v, uint32_t ms) override {
        return fake_.dismount(v, ms);
    }
    std::string_view lock_name() const override { return fake_.lock_name(); }
    std::string_view dismount_name() const override { return fake_.dismount_name(); }
    Result<std::unique_ptr<VolumeLock>, OsError> hold_disk(uint32_t number) override {
        return fake_.hold_disk(number);
    }

  private:
    FakeLocker& fake_;
};

// This machine's drive seam with the fake's locks and the test's clock.
class LockingDisks final : public DiskSystemWrapper {
  public:
    LockingDisks(FakeLocker& locker, FakeClock& clock)
        : DiskSystemWrapper(platform_disk_system(clock)), locker_(locker) {}
    std::unique_ptr<VolumeLocker> volume_locker() override {
        return std::make_unique<ForwardedLocker>(locker_);
    }

  private:
    FakeLocker& locker_;
};

std::shared_ptr<DiskSystem> locking(FakeLocker& locker, FakeClock& clock) {
    return std::make_shared<LockingDisks>(locker, clock);
}

std::vector<VolumeInfo> stick_volumes() {
    return {
        {"\\\\?\\Volume{a}\\", "", {2}, {'E', 'F'}, {}},
        {"\\\\?\\Volume{sys}\\", "", {0}, {'C'}, {}},
        {"\\\\?\\Volume{b}\\", "", {2}, {}, {}},
        {"\\\\?\\Volume{card}\\", "", {2}, {'G'}, {}},
        {"\\\\?\\Volume{span}\\", "", {1, 2}, {'H'}, {}},
    };
}

TEST(Locking, EveryVolumeOfTheDiskInOrderSkippingOnesWithoutMedium) {
    FakeClock clock;
    FakeLocker locker(clock);
    locker.holds = true;
    locker.open_errors.emplace("\\\\?\\Volume{card}\\",
                               message_error("The device is not ready. (os error 21)", kNotReady));
    std::vector<std::string> progress;
    auto locked = lock_and_dismount(
        locking(locker, clock), 2, stick_volumes(), [&](LockStep step, std::string_view label) {
            progress.push_back((step == LockStep::Locking ? "locking " : "dismounting ") +
                               std::string(label));
        });
    ASSERT_TRUE(locked) << locked.error().text;
    EXPECT_EQ(progress, (std::vector<std::string>{
                            "locking E: F:", "dismounting E: F:", "locking \\\\?\\Volume{b}\\",
                            "dismounting \\\\?\\Volume{b}\\", "locking H:", "dismounting H:"}));
    EXPECT_EQ(locked->size(), 4u);  // three volumes and the held disk
    EXPECT_EQ(locker.alive, 4);
    EXPECT_EQ(locker.calls.back(), "hold 2");
    EXPECT_EQ(locker.calls[1], "dismount \\\\?\\Volume{a}\\ 60000");
    locked = unexpected(OsError{});
    EXPECT_EQ(locker.alive, 0);  // ending the value gives every volume back
}

TEST(Locking, TheDiskIsClaimedBeforeAnyVolumeAndGivenBackAfterThem) {
    FakeClock clock;
    FakeLocker locker(clock);
    locker.holds = true;
    {
        auto locked = lock_and_dismount(locking(locker, clock), 2, stick_volumes(), nullptr);
        ASSERT_TRUE(locked) << locked.error().text;
        EXPECT_EQ(locked->size(), 5u);  // the claim is not a volume
        EXPECT_EQ(locker.claimed_number, 2u);
    }
    EXPECT_EQ(locker.claim_events,
              (std::vector<std::pair<std::string, int>>{{"taken", 0}, {"released", 0}}));
    EXPECT_EQ(locker.alive, 0);
}

TEST(Locking, ADiskClaimedByAnotherJobIsInUseAndNoVolumeIsTouched) {
    FakeClock clock;
    FakeLocker locker(clock);
    locker.claim_answer = [](int) -> std::optional<OsError> {
        return message_error("Resource temporarily unavailable (os error 11)", kInUse);
    };
    auto locked = lock_and_dismount(locking(locker, clock), 2, stick_volumes(), nullptr);
    ASSERT_FALSE(locked);
    EXPECT_EQ(locked.error().text, "another write or drive check holds disk 2");
    EXPECT_TRUE(locked.error().is(kInUse));
    EXPECT_TRUE(locker.calls.empty());
    // Asked 8 times, a quarter second apart: a disk that udev is probing
    // is taken only for a moment.
    EXPECT_EQ(locker.claim_attempts, kClaimAttempts);
    EXPECT_EQ(clock.sleeps(), std::vector<milliseconds>(kClaimAttempts - 1, milliseconds(250)));
}

TEST(Locking, AClaimRefusedForAMomentIsTakenAndOtherFailuresEndAtOnce) {
    FakeClock clock;
    FakeLocker locker(clock);
    locker.claim_answer = [](int attempt) -> std::optional<OsError> {
        if (attempt < 3) return message_error("busy", kInUse);
        return std::nullopt;
    };
    ASSERT_TRUE(lock_and_dismount(locking(locker, clock), 2, stick_volumes(), nullptr));
    EXPECT_EQ(clock.sleeps().size(), 2u);

    FakeClock other_clock;
    FakeLocker refused(other_clock);
    refused.claim_answer = [](int) -> std::optional<OsError> {
        return message_error("No such file or directory (os error 2)", kDisconnected);
    };
    auto locked = lock_and_dismount(locking(refused, other_clock), 2, stick_volumes(), nullptr);
    ASSERT_FALSE(locked);
    EXPECT_EQ(locked.error().text, "No such file or directory (os error 2)");
    EXPECT_TRUE(locked.error().is(kDisconnected));
    EXPECT_EQ(refused.claim_attempts, 1);
    EXPECT_TRUE(refused.calls.empty());
}

TEST(Locking, VolumeHeldByAnotherProgramFailsAfterTwentyAttempts) {
    FakeClock clock;
    FakeLocker locker(clock);
    locker.lock_answer = [](const std::string& name, int) -> Result<void, OsError> {
        if (name == "\\\\?\\Volume{b}\\")
            return unexpected(message_error("Access is denied. (os error 5)"));
        return {};
    };
    auto locked = lock_and_dismount(locking(locker, clock), 2, stick_volumes(), nullptr);
    ASSERT_FALSE(locked);
    EXPECT_EQ(locked.error().text,
              "FSCTL_LOCK_VOLUME failed on \\\\?\\Volume{b}\\: Access is denied. (os error 5)");
    EXPECT_TRUE(locked.error().is(kInUse));
    EXPECT_EQ(locker.attempts("\\\\?\\Volume{b}\\"), 20);
    EXPECT_EQ(clock.sleeps(), std::vector<milliseconds>(20, milliseconds(250)));
    EXPECT_EQ(locker.alive, 0);  // the first volume's lock was released again
}

TEST(Locking, LockAttemptsThatRunIntoTheirLimitTakeAbout105Seconds) {
    FakeClock clock;
    FakeLocker locker(clock);
    locker.lock_answer = [](const std::string&, int) -> Result<void, OsError> {
        return unexpected(control_timeout_error(0x90018, 5000));
    };
    std::vector<VolumeInfo> one = {{"\\\\?\\Volume{a}\\", "", {2}, {'E'}, {}}};
    auto locked = lock_and_dismount(locking(locker, clock), 2, one, nullptr);
    ASSERT_FALSE(locked);
    EXPECT_EQ(locked.error().text,
              "FSCTL_LOCK_VOLUME failed on E:: control code 0x00090018 timed out after 5000 ms");
    EXPECT_EQ(clock.elapsed(), milliseconds(105000));
}

TEST(Locking, FailureTextsNameThePlatformsOwnCalls) {
    FakeClock clock;
    FakeLocker locker(clock);
    locker.lock_call = "umount2";
    locker.dismount_call = "umount2";
    std::vector<VolumeInfo> one = {{"/dev/sdz1", "8:1", {2}, {}, {"/media/stick"}}};
    locker.lock_answer = [](const std::string&, int) -> Result<void, OsError> {
        return unexpected(message_error("Device or resource busy (os error 16)"));
    };
    auto locked = lock_and_dismount(locking(locker, clock), 2, one, nullptr);
    ASSERT_FALSE(locked);
    EXPECT_EQ(locked.error().text,
              "umount2 failed on /dev/sdz1: Device or resource busy (os error 16)");
    locker.lock_answer = nullptr;
    locker.dismount_answer = [](const std::string&) -> Result<void, OsError> {
        return unexpected(
            message_error("unmounting /dev/sdz1 timed out after 60000 ms", kTimedOut));
    };
    locked = lock_and_dismount(locking(locker, clock), 2, one, nullptr);
    ASSERT_FALSE(locked);
    EXPECT_EQ(locked.error().text,
              "umount2 on /dev/sdz1: unmounting /dev/sdz1 timed out after 60000 ms");
}

TEST(Locking, LockSucceedingOnALaterAttempt) {
    FakeClock clock;
    FakeLocker locker(clock);
    locker.lock_answer = [](const std::string&, int attempt) -> Result<void, OsError> {
        if (attempt < 3) return unexpected(message_error("busy"));
        return {};
    };
    std::vector<VolumeInfo> one = {{"\\\\?\\Volume{a}\\", "", {2}, {'E'}, {}}};
    ASSERT_TRUE(lock_and_dismount(locking(locker, clock), 2, one, nullptr));
    EXPECT_EQ(clock.sleeps().size(), 2u);
}

TEST(Locking, DismountFailures) {
    FakeClock clock;
    FakeLocker locker(clock);
    std::vector<VolumeInfo> one = {{"\\\\?\\Volume{a}\\", "", {2}, {'E'}, {}}};
    locker.dismount_answer = [](const std::string&) -> Result<void, OsError> {
        return unexpected(control_timeout_error(0x90020, 60000));
    };
    auto locked = lock_and_dismount(locking(locker, clock), 2, one, nullptr);
    EXPECT_EQ(locked.error().text,
              "FSCTL_DISMOUNT_VOLUME on E:: control code 0x00090020 timed out after 60000 ms");
    EXPECT_TRUE(locked.error().is(kInUse));
    locker.dismount_answer = [](const std::string&) -> Result<void, OsError> {
        return unexpected(message_error("Access is denied. (os error 5)", kAccessDenied));
    };
    locked = lock_and_dismount(locking(locker, clock), 2, one, nullptr);
    EXPECT_EQ(locked.error().text, "Access is denied. (os error 5)");
    EXPECT_FALSE(locked.error().is(kInUse));
}

TEST(Locking, OpenFailureOtherThanNoMediumEndsIt) {
    FakeClock clock;
    FakeLocker locker(clock);
    locker.open_errors.emplace("\\\\?\\Volume{b}\\",
                               message_error("Access is denied. (os error 5)", kAccessDenied));
    auto locked = lock_and_dismount(locking(locker, clock), 2, stick_volumes(), nullptr);
    ASSERT_FALSE(locked);
    EXPECT_EQ(locked.error().text, "Access is denied. (os error 5)");
    EXPECT_EQ(locker.alive, 0);
}

}  // namespace
}  // namespace sw
