// The write pipeline and the read-back against a scriptable disk: what
// reaches the drive and in which order, the head kept as zeros until the
// end, every error text, and the stop flag.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "support/random_image.h"
#include "image/crypto.h"
#include "support/fake_clock.h"
#include "support/fake_disk.h"
#include "support/recording_log.h"
#include "writer/pipeline.h"
#include "writer/write_job.h"
#include "support/temp_dir.h"

namespace sw {
namespace {

using test::FakeClock;
using test::FakeDisk;
using Kind = PipelineError::Kind;

using test::MiB;

std::string random_image(size_t n, uint32_t seed = 7) {
    return test::random_image(n, seed);
}

// SHA-256 of the image with the capture region as zeros.
Sha256Digest digest_of(std::string image, std::optional<CaptureRegion> capture = std::nullopt) {
    if (capture) std::fill_n(image.begin() + capture->offset, capture->length, '\0');
    return sha256_in_process(
        std::span(reinterpret_cast<const uint8_t*>(image.data()), image.size()));
}

OsError io_error() {
    return message_error("The request could not be performed because of an I/O device error.", 0);
}
OsError removed() {
    return message_error("The device has been removed. (os error 1617)", kDisconnected);
}
OsError media_changed() {
    return message_error("The media in the drive may have changed.", kMediaChanged);
}

struct Rig {
    FakeClock clock;
    test::RecordingLog log;
    FakeDisk* disk = nullptr;
    std::optional<RawDevice> device;
    WriteProgress progress;
    std::atomic<bool> stop{false};
    std::vector<WritePhase> checks;
    std::function<std::optional<std::string>(WritePhase)> on_check;
    // What the drive's first bytes were when each check came.
    std::vector<std::string> heads_at_checks;

    explicit Rig(uint64_t size = 16 * MiB, uint32_t sector = 512,
                 IoConfig config = write_io_config()) {
        auto d = std::make_unique<FakeDisk>(16, clock, size);
        disk = d.get();
        device.emplace(std::move(d), 3, sector, size, config, clock);
    }

    static PipelineConfig config_for(const std::string& image, size_t chunk = MiB) {
        PipelineConfig c;
        c.image_size = image.size();
        c.chunk_size = chunk;
        c.buffer_count = 3;
        c.verify = true;
        return c;
    }

    Result<PipelineReport, PipelineError> run(const std::string& image, PipelineConfig config) {
        MemoryImageReader reader(image);
        return run(reader, config);
    }
    Result<PipelineReport, PipelineError> run(const ImageReader& reader,
                                              const PipelineConfig& config) {
        return run_pipeline(
            reader, *device, config, stop, progress,
            [this](WritePhase phase) -> std::optional<std::string> {
                checks.push_back(phase);
                heads_at_checks.push_back(stored(0, 65536));
                if (on_check) return on_check(phase);
                return std::nullopt;
            },
            clock);
    }

    std::string stored(uint64_t offset, size_t n) const {
        n = static_cast<size_t>(std::min<uint64_t>(n, disk->storage.size() - offset));
        return std::string(reinterpret_cast<const char*>(disk->storage.data()) + offset, n);
    }
    bool zeros(uint64_t offset, size_t n) const {
        std::string s = stored(offset, n);
        return std::all_of(s.begin(), s.end(), [](char c) { return c == 0; });
    }
    std::vector<FakeDisk::Request> writes() const {
        std::vector<FakeDisk::Request> out;
        for (const auto& r : disk->requests)
            if (r.direction == IoDirection::Write) out.push_back(r);
        return out;
    }
    size_t flushes() const { return std::count(disk->calls.begin(), disk->calls.end(), "flush"); }
    size_t warnings() const { return log.count(LogLevel::Warn); }
};

TEST(Pipeline, CopiesTheImageWithTheHeadLastAndProvesIt) {
    Rig rig;
    const std::string image = random_image(5 * MiB + 300);
    PipelineConfig config = Rig::config_for(image);
    // The signature block straddles the first two buffers.
    config.capture = CaptureRegion{MiB - 2048, 4096};
    config.expected_digest = digest_of(image, config.capture);

    auto report = rig.run(image, config);
    ASSERT_TRUE(report) << report.error().text();
    EXPECT_EQ(report->digest, *config.expected_digest);
    EXPECT_EQ(report->bytes_written, 5 * MiB + 512);
    EXPECT_TRUE(report->verified);
    EXPECT_EQ(rig.stored(0, image.size()), image);
    EXPECT_TRUE(rig.zeros(image.size(), 212));

    EXPECT_EQ(rig.checks, (std::vector<WritePhase>{WritePhase::Writing, WritePhase::Flushing,
                                                   WritePhase::Verifying}));
    // Until the end the drive's first 64 KiB were zeros, at every check.
    for (const auto& head : rig.heads_at_checks)
        EXPECT_EQ(head, std::string(65536, '\0'));
    // The body went out front to back, the head last: 64 KiB at 0 after a
    // flush, then flushed again and read back.
    auto writes = rig.writes();
    ASSERT_GE(writes.size(), 7u);
    EXPECT_EQ(writes.front().offset, 0u);
    EXPECT_EQ(writes.back().offset, 0u);
    EXPECT_EQ(writes.back().length, 65536u);
    for (size_t i = 1; i + 1 < writes.size(); ++i)
        EXPECT_GT(writes[i].offset, writes[i - 1].offset);
    EXPECT_EQ(rig.flushes(), 2u);
    const auto& last = rig.disk->requests.back();
    EXPECT_EQ(last.direction, IoDirection::Read);
    EXPECT_EQ(last.offset, 0u);
    EXPECT_EQ(last.length, 65536u);

    EXPECT_EQ(rig.progress.read_phase(), WritePhase::Finishing);
    EXPECT_EQ(rig.progress.total.load(), 0u);
    EXPECT_EQ(rig.warnings(), 0u);
}

TEST(Pipeline, ThousandByteImageOnA512ByteSectorDrive) {
    Rig rig;
    const std::string image = random_image(1000);
    PipelineConfig config = Rig::config_for(image);
    config.verify = false;

    auto report = rig.run(image, config);
    ASSERT_TRUE(report) << report.error().text();
    EXPECT_EQ(report->bytes_written, 1024u);
    EXPECT_FALSE(report->verified);
    EXPECT_EQ(report->verify_seconds, 0.0);
    auto writes = rig.writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].offset, 0u);
    EXPECT_EQ(writes[0].length, 1024u);  // 1,024 zeros first
    EXPECT_EQ(rig.heads_at_checks.at(1), std::string(65536, '\0'));
    EXPECT_EQ(writes[1].offset, 0u);
    EXPECT_EQ(writes[1].length, 1024u);  // then the real 1,000 bytes and 24 zeros
    EXPECT_EQ(rig.stored(0, 1000), image);
    EXPECT_TRUE(rig.zeros(1000, 24));
    // Without verification the head is still read back.
    ASSERT_EQ(rig.disk->requests.back().direction, IoDirection::Read);
    EXPECT_EQ(rig.disk->requests.back().length, 1024u);
}

TEST(Pipeline, FourKiBSectorsGetWholeSectors) {
    Rig rig(16 * MiB, 4096);
    const std::string image = random_image(10000);
    auto report = rig.run(image, Rig::config_for(image));
    ASSERT_TRUE(report) << report.error().text();
    EXPECT_EQ(report->bytes_written, 12288u);
    for (const auto& r : rig.disk->requests) {
        EXPECT_EQ(r.offset % 4096, 0u);
        EXPECT_EQ(r.length % 4096, 0u);
    }
    EXPECT_EQ(rig.stored(0, image.size()), image);
    EXPECT_TRUE(rig.zeros(10000, 2288));
}

TEST(Pipeline, AnImageLargerThanTheDriveIsRefusedBeforeAnything) {
    Rig rig(4 * MiB);
    const std::string image = random_image(4 * MiB + 1);
    auto report = rig.run(image, Rig::config_for(image));
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error().text(), "device smaller than image");
    EXPECT_TRUE(rig.disk->requests.empty());
    EXPECT_TRUE(rig.checks.empty());
    // Exactly the drive's size fits.
    const std::string fits = random_image(4 * MiB);
    EXPECT_TRUE(rig.run(fits, Rig::config_for(fits)));
}

// Every failure after writing began leaves the drive's first 64 KiB zero.
struct Failure {
    const char* name;
    std::function<void(Rig&, PipelineConfig&, std::string& image)> arrange;
    std::string text;
    size_t warnings = 0;
    bool head_zero = true;  // false where the test itself writes into the head
};

void PrintTo(const Failure& f, std::ostream* os) {
    *os << f.name;
}

class PipelineFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(PipelineFailure, LeavesTheHeadZeroWithTheRightText) {
    const Failure& f = GetParam();
    Rig rig;
    std::string image = random_image(4 * MiB + 4096);
    PipelineConfig config = Rig::config_for(image);
    config.capture = CaptureRegion{2 * MiB, 4096};
    config.expected_digest = digest_of(image, config.capture);
    f.arrange(rig, config, image);
    rig.disk->storage.assign(rig.disk->storage.size(), std::byte{0x55});  // old content

    MemoryImageReader reader(image);
    auto report = rig.run(reader, config);
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error().text(), f.text);
    if (f.head_zero) {
        EXPECT_TRUE(rig.zeros(0, 65536) || rig.writes().empty()) << "the head was written";
    }
    EXPECT_EQ(rig.warnings(), f.warnings);
}

void fail_at(Rig& rig, IoDirection direction, uint64_t at, OsError error) {
    rig.disk->complete = [=](const FakeDisk::Request& r) -> std::optional<SlotOutcome> {
        if (r.direction == direction && r.offset <= at && at < r.offset + r.length)
            return SlotOutcome{SlotOutcome::Failed, 0, error};
        return std::nullopt;
    };
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PipelineFailure,
    ::testing::Values(
        Failure{"StopDuringWriting",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    rig.disk->complete = [&rig](const FakeDisk::Request& r) {
                        if (r.offset >= MiB) rig.stop = true;
                        return std::optional<SlotOutcome>();
                    };
                },
                "cancelled"},
        Failure{"UnpluggedDuringWriting",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    fail_at(rig, IoDirection::Write, 2 * MiB, removed());
                },
                "device disconnected: The device has been removed. (os error 1617)"},
        Failure{"WriteErrorAfterTheWholeLadder",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    fail_at(rig, IoDirection::Write, 3 * MiB, io_error());
                },
                "device write failed: The request could not be performed because of an I/O "
                "device error.",
                2},  // depth is 1 already: 64 KiB requests, then buffered
        Failure{"TruncatedImage",
                [](Rig&, PipelineConfig&, std::string& image) { image.resize(3 * MiB + 5); },
                "image read failed: image shorter than expected"},
        Failure{"ImageChangedAfterValidation",
                [](Rig&, PipelineConfig&, std::string& image) { image[3 * MiB + 17] ^= 1; },
                "image bytes differ from the signed hash"},
        Failure{"SilentlyDroppedWrite",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    rig.disk->complete = [](const FakeDisk::Request& r) {
                        if (r.direction == IoDirection::Write && r.offset == 3 * MiB)
                            return std::optional<SlotOutcome>(SlotOutcome{
                                SlotOutcome::Done, static_cast<uint32_t>(r.length), {}});
                        return std::optional<SlotOutcome>();
                    };
                },
                "device content differs from the image"},
        Failure{"FlushMediaChangedBeyondThreeReopens",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    rig.disk->fail_flush = [] { return std::optional<OsError>(media_changed()); };
                },
                "device flush failed: The media in the drive may have changed."},
        Failure{"ReadBackError",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    fail_at(rig, IoDirection::Read, 2 * MiB, io_error());
                },
                "device read-back failed: The request could not be performed because of an I/O "
                "device error."},
        Failure{"UnpluggedDuringReadBack",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    fail_at(rig, IoDirection::Read, 2 * MiB, removed());
                },
                "device disconnected: The device has been removed. (os error 1617)"},
        Failure{"SwappedBeforeWriting",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    rig.on_check = [](WritePhase p) -> std::optional<std::string> {
                        if (p == WritePhase::Writing) return "disk 3 is no longer present";
                        return std::nullopt;
                    };
                },
                "refused: disk 3 is no longer present"},
        Failure{"SwappedBeforeFlushing",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    rig.on_check = [](WritePhase p) -> std::optional<std::string> {
                        if (p == WritePhase::Flushing) return "expected A, found B";
                        return std::nullopt;
                    };
                },
                "refused: expected A, found B"},
        Failure{"SwappedBeforeVerifying",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    rig.on_check = [](WritePhase p) -> std::optional<std::string> {
                        if (p == WritePhase::Verifying) return "expected A, found B";
                        return std::nullopt;
                    };
                },
                "refused: expected A, found B"},
        Failure{"StopBeforeVerifying",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    rig.on_check = [&rig](WritePhase p) -> std::optional<std::string> {
                        if (p == WritePhase::Verifying) rig.stop = true;
                        return std::nullopt;
                    };
                },
                "cancelled"},
        Failure{"SomethingElseWroteTheFirstSector",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    rig.on_check = [&rig](WritePhase p) -> std::optional<std::string> {
                        if (p == WritePhase::Verifying) rig.disk->storage[100] = std::byte{1};
                        return std::nullopt;
                    };
                },
                "device content differs from the image", 0, false}),
    [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

// A stop that comes late or while a request hangs ends the pass at once,
// without a gentler retry (no WARN line), and never writes the head.
INSTANTIATE_TEST_SUITE_P(
    Stops, PipelineFailure,
    ::testing::Values(
        // The image fits the first 4 MiB and one sector: the read at 4 MiB
        // is the last of the read-back, and the stop comes with its answer.
        Failure{"StopAfterTheLastReadBack",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    rig.disk->complete = [&rig](const FakeDisk::Request& r) {
                        if (r.direction == IoDirection::Read && r.offset >= 4 * MiB)
                            rig.stop = true;
                        return std::optional<SlotOutcome>();
                    };
                },
                "cancelled"},
        Failure{"StopWhileFlushingWithoutVerification",
                [](Rig& rig, PipelineConfig& config, std::string&) {
                    config.verify = false;
                    rig.disk->fail_flush = [&rig]() -> std::optional<OsError> {
                        rig.stop = true;
                        return std::nullopt;
                    };
                },
                "cancelled"},
        Failure{"StopWhileAWriteHangs",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    rig.disk->hang = [&rig](const FakeDisk::Request& r) {
                        if (r.direction != IoDirection::Write || r.offset != 2 * MiB)
                            return FakeDisk::Hang::No;
                        rig.stop = true;
                        return FakeDisk::Hang::UntilCancelled;
                    };
                },
                "cancelled"},
        Failure{"StopWhileAReadBackRequestHangs",
                [](Rig& rig, PipelineConfig&, std::string&) {
                    rig.disk->hang = [&rig](const FakeDisk::Request& r) {
                        if (r.direction != IoDirection::Read || r.offset != 2 * MiB)
                            return FakeDisk::Hang::No;
                        rig.stop = true;
                        return FakeDisk::Hang::UntilCancelled;
                    };
                },
                "cancelled"}),
    [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

// A drive that takes only buffered writes: the ladder ends on a buffered
// handle, behind the system's cache, and the device loses the write at
// 2 MiB although the cache holds it.
struct BufferedOnlyDrive {
    Rig rig;
    std::string image = random_image(3 * MiB + 4096);
    PipelineConfig config = Rig::config_for(image);

    BufferedOnlyDrive() {
        rig.disk->page_cache = true;
        rig.disk->fail_issue = [this](const FakeDisk::Request& r) -> std::optional<OsError> {
            if (r.direction == IoDirection::Write && rig.disk->mode.no_buffering) return io_error();
            return std::nullopt;
        };
        rig.disk->lost_on_medium = [](const FakeDisk::Request& r) {
            return r.offset <= 2 * MiB && 2 * MiB < r.offset + r.length;
        };
        config.expected_digest = digest_of(image);
    }
    // Once buffered, the drive refuses to be opened unbuffered again.
    void refuse_unbuffered_after_fallback() {
        rig.disk->fail_reopen = [this](const OpenMode& mode) -> std::optional<OsError> {
            if (mode.no_buffering && !rig.disk->mode.no_buffering)
                return message_error("Invalid argument (os error 22)");
            return std::nullopt;
        };
    }
    bool logged(LogLevel level, std::string_view part) const {
        const auto lines = rig.log.lines();
        return std::any_of(lines.begin(), lines.end(), [&](const auto& l) {
            return l.first == level && l.second.find(part) != std::string::npos;
        });
    }
};

TEST(PipelineReadBack, AfterTheFallbackToBufferedWritesItReadsTheMedium) {
    BufferedOnlyDrive drive;
    auto report = drive.rig.run(drive.image, drive.config);
    ASSERT_FALSE(report) << "a write the device lost was reported OK";
    EXPECT_EQ(report.error().kind, Kind::ContentMismatch);
    EXPECT_TRUE(drive.logged(LogLevel::Info, "reading back through an unbuffered handle"));
}

TEST(PipelineReadBack, ReadsOnlyUnbufferedAndWritesTheHeadBufferedAgain) {
    BufferedOnlyDrive drive;
    drive.rig.disk->lost_on_medium = nullptr;
    auto report = drive.rig.run(drive.image, drive.config);
    ASSERT_TRUE(report) << report.error().text();
    EXPECT_TRUE(drive.rig.stored(0, drive.image.size()) == drive.image);
    // Every read went to a handle opened unbuffered; the head, written last,
    // went through a buffered one, as the ladder left it.
    FakeDisk& disk = *drive.rig.disk;
    for (const auto& r : disk.requests)
        if (r.direction == IoDirection::Read) {
            ASSERT_GT(r.handle, 0);
            EXPECT_TRUE(disk.opens[r.handle - 1].no_buffering) << "read at " << r.offset;
        }
    const auto writes = drive.rig.writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().offset, 0u);
    EXPECT_FALSE(disk.opens[writes.back().handle - 1].no_buffering);
    EXPECT_FALSE(disk.mode.no_buffering);
}

TEST(PipelineReadBack, ADriveThatRefusesUnbufferedOpensHasItsCacheDropped) {
    BufferedOnlyDrive drive;
    drive.refuse_unbuffered_after_fallback();
    auto report = drive.rig.run(drive.image, drive.config);
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error().kind, Kind::ContentMismatch);
    EXPECT_TRUE(drive.logged(LogLevel::Warn, "dropped its cached pages before reading back"));
    EXPECT_NE(
        std::find(drive.rig.disk->calls.begin(), drive.rig.disk->calls.end(), "drop_cached_pages"),
        drive.rig.disk->calls.end());
}

TEST(PipelineReadBack, ADriveWhoseCacheCannotBeBypassedFailsTheReadBack) {
    BufferedOnlyDrive drive;
    drive.rig.disk->lost_on_medium = nullptr;
    drive.refuse_unbuffered_after_fallback();
    drive.rig.disk->fail_drop = [] { return std::optional<OsError>(message_error("no")); };
    auto report = drive.rig.run(drive.image, drive.config);
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error().kind, Kind::ReadBack);
    EXPECT_NE(report.error().detail.find("cannot be read past the system cache"),
              std::string::npos);
}

TEST(Pipeline, ANonZeroHeadStopsTheReadBackAtOnce) {
    Rig rig;
    const std::string image = random_image(6 * MiB);
    rig.on_check = [&rig](WritePhase p) -> std::optional<std::string> {
        if (p == WritePhase::Verifying) rig.disk->storage[0] = std::byte{9};
        return std::nullopt;
    };
    auto report = rig.run(image, Rig::config_for(image));
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error().kind, Kind::ContentMismatch);
    size_t reads = 0;
    for (const auto& r : rig.disk->requests)
        reads += r.direction == IoDirection::Read ? 1 : 0;
    EXPECT_EQ(reads, 1u);  // the first buffer only
}

TEST(Pipeline, ADroppedWriteInsideTheSignatureBlockIsCaughtByItsBytes) {
    // The block is hashed as zeros, so the digest alone cannot see it; its
    // captured bytes can.
    Rig rig(16 * MiB, 512,
            IoConfig{.no_buffering = true, .write_through = false, .depth = 1, .io_size = 4096});
    std::string image = random_image(3 * MiB);
    PipelineConfig config = Rig::config_for(image);
    config.capture = CaptureRegion{MiB + 8192, 4096};
    rig.disk->complete = [](const FakeDisk::Request& r) -> std::optional<SlotOutcome> {
        if (r.direction == IoDirection::Write && r.offset == MiB + 8192)
            return SlotOutcome{SlotOutcome::Done, static_cast<uint32_t>(r.length), {}};
        return std::nullopt;
    };
    auto report = rig.run(image, config);
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error().kind, Kind::ContentMismatch);
}

TEST(Pipeline, WithVerificationOffTheHeadIsStillCompared) {
    Rig rig;
    const std::string image = random_image(2 * MiB);
    PipelineConfig config = Rig::config_for(image);
    config.verify = false;
    int head_writes = 0;
    rig.disk->complete = [&](const FakeDisk::Request& r) -> std::optional<SlotOutcome> {
        // The second write at offset 0 (the real head) never reaches the medium.
        if (r.direction == IoDirection::Write && r.offset == 0 && ++head_writes == 2)
            return SlotOutcome{SlotOutcome::Done, static_cast<uint32_t>(r.length), {}};
        return std::nullopt;
    };
    auto report = rig.run(image, config);
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error().text(), "device content differs from the image");
}

TEST(Pipeline, MediaChangedThreeTimesAtTheFlushIsRecovered) {
    Rig rig;
    const std::string image = random_image(MiB);
    int left = 3;
    rig.disk->fail_flush = [&]() -> std::optional<OsError> {
        if (left-- > 0) return media_changed();
        return std::nullopt;
    };
    auto report = rig.run(image, Rig::config_for(image));
    ASSERT_TRUE(report) << report.error().text();
    EXPECT_EQ(rig.disk->opens.size(), 3u);
    EXPECT_EQ(rig.stored(0, image.size()), image);
}

TEST(Pipeline, ProgressFollowsThePhases) {
    Rig rig;
    const std::string image = random_image(3 * MiB + 1);
    std::vector<std::tuple<WritePhase, uint64_t, uint64_t>> seen;
    rig.on_check = [&](WritePhase) -> std::optional<std::string> {
        seen.emplace_back(rig.progress.read_phase(), rig.progress.done.load(),
                          rig.progress.total.load());
        return std::nullopt;
    };
    ASSERT_TRUE(rig.run(image, Rig::config_for(image)));
    const uint64_t n = image.size();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::make_tuple(WritePhase::Preparing, uint64_t{0}, uint64_t{0}));
    EXPECT_EQ(seen[1], std::make_tuple(WritePhase::Writing, n, n));
    EXPECT_EQ(seen[2], std::make_tuple(WritePhase::Flushing, uint64_t{0}, uint64_t{0}));
}

class ThrowingImage final : public ImageReader {
  public:
    uint64_t size() const override { return 4 * MiB; }
    Result<void, OsError> read_at(uint64_t offset, std::span<uint8_t>) const override {
        if (offset >= MiB) throw std::runtime_error("broken reader");
        return {};
    }
};

TEST(Pipeline, AReaderThatEndsAbnormallyIsReported) {
    Rig rig;
    ThrowingImage image;
    PipelineConfig config;
    config.image_size = 4 * MiB;
    config.chunk_size = MiB;
    auto report = rig.run(image, config);
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error().text(), "image read failed: reader panicked");
    EXPECT_TRUE(rig.zeros(0, 65536));
}

// Fails every read from `from` on with `error`.
class FailingImage final : public ImageReader {
  public:
    FailingImage(uint64_t from, OsError error) : from_(from), error_(std::move(error)) {}
    uint64_t size() const override { return 4 * MiB; }
    Result<void, OsError> read_at(uint64_t offset, std::span<uint8_t> out) const override {
        if (offset + out.size() > from_) return unexpected(error_);
        std::fill(out.begin(), out.end(), uint8_t{0});
        return {};
    }

  private:
    uint64_t from_;
    OsError error_;
};

TEST(Pipeline, ImageReadErrorsKeepTheSystemsTextAndOnlyAShortReadIsATruncatedImage) {
    PipelineConfig config;
    config.image_size = 4 * MiB;
    config.chunk_size = MiB;
    {
        Rig rig;
        FailingImage image(2 * MiB,
                           OsError{23, "Data error (cyclic redundancy check). (os error 23)", 0});
        auto report = rig.run(image, config);
        ASSERT_FALSE(report);
        EXPECT_EQ(report.error().text(),
                  "image read failed: Data error (cyclic redundancy check). (os error 23)");
        EXPECT_TRUE(rig.zeros(0, 65536));
    }
    {
        Rig rig;
        FailingImage image(2 * MiB, short_read_error());
        auto report = rig.run(image, config);
        ASSERT_FALSE(report);
        EXPECT_EQ(report.error().text(), "image read failed: image shorter than expected");
    }
}

TEST(Pipeline, ErrorTexts) {
    EXPECT_EQ(PipelineError::of(Kind::DeviceTooSmall).text(), "device smaller than image");
    EXPECT_EQ(PipelineError::of(Kind::Refused, "head not sector-aligned").text(),
              "refused: head not sector-aligned");
    EXPECT_EQ(PipelineError::of(Kind::ImageRead, "x").text(), "image read failed: x");
    // Disconnection is told by the error's trait, whatever the code.
    EXPECT_EQ(device_error(removed(), Kind::DeviceFlush).kind, Kind::DeviceDisconnected);
    EXPECT_EQ(
        device_error(message_error("no medium", kDisconnected | kNotReady), Kind::ReadBack).kind,
        Kind::DeviceDisconnected);
    EXPECT_EQ(device_error(io_error(), Kind::DeviceFlush).text(),
              "device flush failed: The request could not be performed because of an I/O "
              "device error.");
}

}  // namespace
}  // namespace sw
