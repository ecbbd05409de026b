#include "http/download.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/paths.h"
#include "hex/hex.h"
#include "support/fake_clock.h"
#include "support/fake_downloads.h"
#include "support/fake_transport.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "support/test_images.h"
#include "support/test_release.h"

namespace sw {
namespace {

using namespace std::chrono_literals;
using test::FakeAnswer;
using test::FakeStep;
using test::RecordedRequest;

constexpr const char* kUrl = "https://dl.example/downloads/OrtivexOS-Lastest.iso";

// Compares large byte strings without printing them.
::testing::AssertionResult same_bytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i])
        ++i;
    return ::testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                         << " were expected, first difference at " << i;
}

class DownloadFileTest : public ::testing::Test {
  protected:
    DownloadFileTest()
        : release(test::make_test_release(300 * 1024, "24.10", test::development_seed())),
          manifest(*parse_media_manifest(release.manifest_line)),
          partial(dir / "image.iso.part") {}

    DownloadOutcome download(const MediaManifest* m) {
        return download_file(kUrl, partial, m, cancel, progress, services);
    }
    DownloadOutcome download() { return download(&manifest); }

    // Serves the release image like a real server.
    void serve_image() {
        transport.set_handler([this](const RecordedRequest& r, size_t) {
            return FakeStep(test::serve(release.image, r));
        });
    }
    std::string partial_content() { return test::read_file(partial); }

    test::TempDir dir;
    test::TestRelease release;
    MediaManifest manifest;
    std::filesystem::path partial;
    test::FakeTransport transport;
    test::FakeClock clock;
    test::FakeDownloads services{transport, clock};
    std::atomic<bool> cancel{false};
    DownloadProgress progress;
    test::LogCapture log;
};

TEST_F(DownloadFileTest, FreshDownloadAsksForEverythingAndReturnsTheVerifiedDigest) {
    serve_image();
    DownloadOutcome out = download();
    ASSERT_EQ(out.kind, DownloadOutcomeKind::Success) << out.message;
    ASSERT_TRUE(out.digest);
    EXPECT_EQ(hex_encode(*out.digest), release.sha256);
    EXPECT_TRUE(same_bytes(partial_content(), release.image));
    auto requests = transport.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].headers, "");
    EXPECT_EQ(requests[0].path, "/downloads/OrtivexOS-Lastest.iso");
    EXPECT_EQ(progress.done, release.image.size());
    EXPECT_EQ(progress.total, release.image.size());
    EXPECT_EQ(progress.retry, 0u);
}

TEST_F(DownloadFileTest, WithoutManifestSucceedsWithoutDigest) {
    serve_image();
    DownloadOutcome out = download(nullptr);
    ASSERT_EQ(out.kind, DownloadOutcomeKind::Success);
    EXPECT_FALSE(out.digest);
    EXPECT_TRUE(same_bytes(partial_content(), release.image));
}

TEST_F(DownloadFileTest, PartialFileOf1000BytesAsksFromThereAndAppends) {
    test::write_file(partial, release.image.substr(0, 1000));
    serve_image();
    DownloadOutcome out = download();
    ASSERT_EQ(out.kind, DownloadOutcomeKind::Success) << out.message;
    EXPECT_EQ(transport.requests().at(0).headers, "Range: bytes=1000-\r\n");
    EXPECT_TRUE(same_bytes(partial_content(), release.image));
    // The bytes already there were hashed too.
    EXPECT_EQ(hex_encode(*out.digest), release.sha256);
    EXPECT_EQ(progress.total, release.image.size());
}

TEST_F(DownloadFileTest, ResumeInsideTheSignatureBlockStillGivesTheSignedDigest) {
    test::write_file(partial, release.image.substr(0, manifest.sums_offset + 100));
    serve_image();
    DownloadOutcome out = download();
    ASSERT_EQ(out.kind, DownloadOutcomeKind::Success) << out.message;
    EXPECT_EQ(hex_encode(*out.digest), release.sha256);
}

TEST_F(DownloadFileTest, WholeFileAnswerToARangeRequestTruncatesAndRefusesResume) {
    test::write_file(partial, release.image.substr(0, 1000));
    transport.set_handler([this](const RecordedRequest&, size_t) {
        return FakeStep(FakeAnswer{200, release.image.size(), release.image});
    });
    DownloadOutcome out = download();
    EXPECT_EQ(out.kind, DownloadOutcomeKind::ResumeRefused);
    EXPECT_EQ(transport.requests().size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(partial));
    EXPECT_EQ(std::filesystem::file_size(partial), 0u);
}

TEST_F(DownloadFileTest, RangeNotSatisfiableMeansTheFileIsAlreadyWhole) {
    test::write_file(partial, release.image);
    serve_image();
    DownloadOutcome out = download();
    ASSERT_EQ(out.kind, DownloadOutcomeKind::Success) << out.message;
    EXPECT_EQ(hex_encode(*out.digest), release.sha256);
    EXPECT_EQ(transport.requests().at(0).headers,
              "Range: bytes=" + std::to_string(release.image.size()) + "-\r\n");

    // Without a manifest nothing can be checked, and the file is taken as it is.
    EXPECT_EQ(download(nullptr).kind, DownloadOutcomeKind::Success);
}

TEST_F(DownloadFileTest, RangeNotSatisfiableForAnEmptyFileIsAnError) {
    transport.set_handler([](const RecordedRequest&, size_t) {
        return FakeStep(FakeAnswer{416, 0, ""});
    });
    DownloadOutcome out = download();
    EXPECT_EQ(out.kind, DownloadOutcomeKind::Failed);
    EXPECT_EQ(out.message, "HTTP 416");
}

TEST_F(DownloadFileTest, ThreeLostConnectionsThenSuccessWaits2And4And6Seconds) {
    std::vector<uint32_t> retry_seen;
    std::vector<std::chrono::milliseconds> time_seen;
    transport.set_handler([&](const RecordedRequest& r, size_t index) {
        retry_seen.push_back(progress.retry);
        time_seen.push_back(clock.elapsed());
        FakeAnswer a = test::serve(release.image, r);
        if (index < 3) a.fail_after = 50'000;  // each of the first three drops after 50,000 bytes
        return FakeStep(a);
    });
    DownloadOutcome out = download();
    ASSERT_EQ(out.kind, DownloadOutcomeKind::Success) << out.message;
    EXPECT_EQ(hex_encode(*out.digest), release.sha256);
    EXPECT_TRUE(same_bytes(partial_content(), release.image));

    EXPECT_EQ(retry_seen, (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(time_seen, (std::vector<std::chrono::milliseconds>{0s, 2s, 6s, 12s}));
    for (auto step : clock.sleeps())
        ASSERT_EQ(step, 100ms);  // waits go in short steps
    auto requests = transport.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[1].headers, "Range: bytes=50000-\r\n");
    EXPECT_EQ(requests[3].headers, "Range: bytes=150000-\r\n");
    EXPECT_EQ(
        log.matching("download interrupted"),
        (std::vector<std::string>{
            "WARN  download interrupted (network: connection reset by the test server); retry 1/4",
            "WARN  download interrupted (network: connection reset by the test server); retry 2/4",
            "WARN  download interrupted (network: connection reset by the test server); retry "
            "3/4"}));
}

TEST_F(DownloadFileTest, FifthNetworkFailureEndsWithItsMessageAndKeepsThePartialFile) {
    transport.set_handler([&](const RecordedRequest& r, size_t index) {
        if (index == 4) return FakeStep::fail(HttpError::network_text("host unreachable"));
        FakeAnswer a = test::serve(release.image, r);
        a.fail_after = 1000;
        return FakeStep(a);
    });
    DownloadOutcome out = download();
    EXPECT_EQ(out.kind, DownloadOutcomeKind::Failed);
    EXPECT_EQ(out.message, "network: host unreachable");
    EXPECT_EQ(transport.requests().size(), 5u);
    EXPECT_EQ(clock.elapsed(), 20s);
    EXPECT_EQ(log.matching("download interrupted").size(), 4u);
    EXPECT_EQ(progress.retry, 4u);
    EXPECT_TRUE(same_bytes(partial_content(), release.image.substr(0, 4000)));
}

TEST_F(DownloadFileTest, BodyShorterThanAnnouncedIsRetriedAsConnectionClosedEarly) {
    transport.set_handler([&](const RecordedRequest& r, size_t index) {
        FakeAnswer a = test::serve(release.image, r);
        if (index == 0) a.body.resize(70'000);  // the announced length stays the whole file
        return FakeStep(a);
    });
    DownloadOutcome out = download();
    ASSERT_EQ(out.kind, DownloadOutcomeKind::Success) << out.message;
    EXPECT_EQ(transport.requests().at(1).headers, "Range: bytes=70000-\r\n");
    EXPECT_EQ(log.matching("download interrupted"),
              (std::vector<std::string>{
                  "WARN  download interrupted (network: connection closed early); retry 1/4"}));
}

TEST_F(DownloadFileTest, HttpStatusErrorsAreNotRetried) {
    for (uint32_t status : {404u, 403u, 500u, 301u}) {
        test::FakeTransport t([=](const RecordedRequest&, size_t) {
            return FakeStep(FakeAnswer{status, 9, "not found"});
        });
        test::FakeDownloads s{t, clock};
        DownloadOutcome out = download_file(kUrl, partial, &manifest, cancel, progress, s);
        EXPECT_EQ(out.kind, DownloadOutcomeKind::Failed);
        EXPECT_EQ(out.message, "HTTP " + std::to_string(status));
        EXPECT_EQ(t.requests().size(), 1u);
    }
    EXPECT_TRUE(clock.sleeps().empty());
    EXPECT_TRUE(log.matching("download interrupted").empty());
}

TEST_F(DownloadFileTest, BadUrlIsNotRetried) {
    DownloadOutcome out =
        download_file("http://dl.example/x.iso", partial, nullptr, cancel, progress, services);
    EXPECT_EQ(out.kind, DownloadOutcomeKind::Failed);
    EXPECT_EQ(out.message, "bad URL");
    EXPECT_TRUE(transport.requests().empty());
}

TEST_F(DownloadFileTest, ContentDifferentFromTheManifestIsAMismatch) {
    std::string served = release.image;
    served[1000] ^= 0x01;
    transport.set_handler(
        [&](const RecordedRequest& r, size_t) { return FakeStep(test::serve(served, r)); });
    DownloadOutcome out = download();
    EXPECT_EQ(out.kind, DownloadOutcomeKind::Mismatch);
    EXPECT_FALSE(out.digest);
    auto size = std::to_string(release.image.size());
    EXPECT_EQ(log.matching("mismatch"),
              (std::vector<std::string>{"ERROR download hash/size mismatch: size=" + size +
                                        " expected=" + size}));
}

TEST_F(DownloadFileTest, DifferentSignatureBlockBytesDoNotChangeTheDigest) {
    std::string served = release.image;
    served[manifest.sums_offset + 10] ^= 0x55;
    transport.set_handler(
        [&](const RecordedRequest& r, size_t) { return FakeStep(test::serve(served, r)); });
    DownloadOutcome out = download();
    ASSERT_EQ(out.kind, DownloadOutcomeKind::Success);
    EXPECT_EQ(hex_encode(*out.digest), release.sha256);
}

TEST_F(DownloadFileTest, AnnouncedLengthOtherThanTheManifestSizeStopsBeforeTheBody) {
    bool body_read = false;
    transport.set_handler([&](const RecordedRequest&, size_t) {
        FakeAnswer a{200, release.image.size() + 10, release.image + "0123456789"};
        a.on_read = [&](uint64_t) { body_read = true; };
        return FakeStep(a);
    });
    DownloadOutcome out = download();
    EXPECT_EQ(out.kind, DownloadOutcomeKind::Mismatch);
    EXPECT_FALSE(body_read);
    EXPECT_EQ(log.matching("mismatch").size(), 1u);
}

TEST_F(DownloadFileTest, UnannouncedBodyLongerThanTheManifestStopsAtTheFirstExtraByte) {
    transport.set_handler([&](const RecordedRequest&, size_t) {
        FakeAnswer a{200, std::nullopt, release.image + std::string(5'000'000, 'x')};
        a.chunk = 1 << 20;
        return FakeStep(a);
    });
    DownloadOutcome out = download();
    EXPECT_EQ(out.kind, DownloadOutcomeKind::Mismatch);
    // At most one buffer beyond the signed size ever reaches the disk.
    EXPECT_LE(std::filesystem::file_size(partial), release.image.size() + kDownloadBufferBytes);
}

TEST_F(DownloadFileTest, UnannouncedBodyShorterThanTheManifestIsAMismatch) {
    transport.set_handler([&](const RecordedRequest&, size_t) {
        return FakeStep(FakeAnswer{200, std::nullopt, release.image.substr(0, 5000)});
    });
    EXPECT_EQ(download().kind, DownloadOutcomeKind::Mismatch);
    auto expected = std::to_string(release.image.size());
    EXPECT_EQ(log.matching("mismatch"),
              (std::vector<std::string>{"ERROR download hash/size mismatch: size=5000 expected=" +
                                        expected}));
}

TEST_F(DownloadFileTest, StoppingKeepsThePartialFileAndTheNextDownloadResumesIt) {
    transport.set_handler([&](const RecordedRequest& r, size_t index) {
        FakeAnswer a = test::serve(release.image, r);
        a.chunk = 16 * 1024;
        if (index == 0)
            a.on_read = [&](uint64_t sent) {
                if (sent >= 96 * 1024) cancel = true;
            };
        return FakeStep(a);
    });
    DownloadOutcome out = download();
    EXPECT_EQ(out.kind, DownloadOutcomeKind::Cancelled);
    EXPECT_TRUE(same_bytes(partial_content(), release.image.substr(0, 96 * 1024)));

    cancel = false;
    DownloadProgress fresh;
    out = download_file(kUrl, partial, &manifest, cancel, fresh, services);
    ASSERT_EQ(out.kind, DownloadOutcomeKind::Success) << out.message;
    EXPECT_EQ(transport.requests().at(1).headers, "Range: bytes=98304-\r\n");
    EXPECT_TRUE(same_bytes(partial_content(), release.image));
    EXPECT_EQ(hex_encode(*out.digest), release.sha256);
}

TEST_F(DownloadFileTest, StopSetBeforehandSendsNoRequest) {
    test::write_file(partial, release.image.substr(0, 5000));
    cancel = true;
    serve_image();
    EXPECT_EQ(download().kind, DownloadOutcomeKind::Cancelled);
    EXPECT_TRUE(transport.requests().empty());
    EXPECT_EQ(std::filesystem::file_size(partial), 5000u);
}

// A clock that raises the stop flag after a number of pauses.
class StoppingClock final : public Clock {
  public:
    StoppingClock(std::atomic<bool>& flag, int after) : flag_(flag), after_(after) {}
    TimePoint now() override { return TimePoint{}; }
    void sleep_for(std::chrono::milliseconds) override {
        if (++sleeps == after_) flag_ = true;
    }
    bool wait_for(std::unique_lock<std::mutex>&, std::condition_variable&,
                  std::chrono::milliseconds, const std::function<bool()>& done) override {
        return done();
    }
    int sleeps = 0;

  private:
    std::atomic<bool>& flag_;
    int after_;
};

TEST_F(DownloadFileTest, StopDuringARetryWaitEndsWithinOneStep) {
    StoppingClock stopping(cancel, 7);
    test::FakeDownloads s{transport, stopping};
    transport.set_handler([&](const RecordedRequest& r, size_t) {
        FakeAnswer a = test::serve(release.image, r);
        a.fail_after = 1000;
        return FakeStep(a);
    });
    DownloadOutcome out = download_file(kUrl, partial, &manifest, cancel, progress, s);
    EXPECT_EQ(out.kind, DownloadOutcomeKind::Cancelled);
    EXPECT_EQ(stopping.sleeps, 7);
    EXPECT_EQ(transport.requests().size(), 1u);
}

TEST_F(DownloadFileTest, PartialFileThatCannotBeOpenedIsAFileError) {
    serve_image();
    DownloadOutcome out =
        download_file(kUrl, dir / "missing" / "x.part", &manifest, cancel, progress, services);
    EXPECT_EQ(out.kind, DownloadOutcomeKind::Failed);
    EXPECT_TRUE(out.message.starts_with("file: ")) << out.message;
    EXPECT_TRUE(transport.requests().empty());
}

// A partial file whose writes fail once it holds `limit` bytes (a full disk).
class FullDiskFile final : public PartialFile {
  public:
    FullDiskFile(std::unique_ptr<PartialFile> inner, uint64_t limit)
        : inner_(std::move(inner)), limit_(limit) {}
    Result<size_t, OsError> read_at(uint64_t o, std::span<uint8_t> b) override {
        return inner_->read_at(o, b);
    }
    Result<void, OsError> write_at(uint64_t o, std::span<const uint8_t> b) override {
        if (o + b.size() > limit_)
            return unexpected(message_error("No space left on device (os error 28)"));
        return inner_->write_at(o, b);
    }
    Result<uint64_t, OsError> length() override { return inner_->length(); }
    Result<void, OsError> truncate() override { return inner_->truncate(); }

  private:
    std::unique_ptr<PartialFile> inner_;
    uint64_t limit_;
};

TEST_F(DownloadFileTest, WriteFailureIsAFileErrorAndNotRetried) {
    serve_image();
    test::FakeDownloads s{transport, clock};
    s.open_file =
        [](const std::filesystem::path& p) -> Result<std::unique_ptr<PartialFile>, OsError> {
        auto f = open_partial_file(p);
        if (!f) return unexpected(f.error());
        return std::make_unique<FullDiskFile>(std::move(*f), 100'000);
    };
    DownloadOutcome out = download_file(kUrl, partial, &manifest, cancel, progress, s);
    EXPECT_EQ(out.kind, DownloadOutcomeKind::Failed);
    EXPECT_EQ(out.message, "file: No space left on device (os error 28)");
    EXPECT_EQ(transport.requests().size(), 1u);
}

// Waits for `done` to hold; false only when a minute passes (a hang).
template <class Fn>
bool eventually(Fn done) {
    const auto ceiling = std::chrono::steady_clock::now() + 60s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > ceiling) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST_F(DownloadFileTest, CancelEndsTheWaitForASilentServerOrAStalledBodyAtOnce) {
    struct Case {
        const char* name;
        FakeStep step;
        uint64_t kept;  // bytes in the file when the server falls silent
    };
    FakeAnswer stalled = test::serve(release.image, RecordedRequest{});
    stalled.stall_after = 100'000;
    for (const Case& c : {Case{"no answer", FakeStep::never_answer(), 0},
                          Case{"stalled body", FakeStep(stalled), 100'000}}) {
        SCOPED_TRACE(c.name);
        test::TempDir d;
        test::FakeTransport t([&](const RecordedRequest&, size_t) { return c.step; });
        test::FakeDownloads s{t, clock};
        std::atomic<bool> stop{false};
        DownloadProgress p;
        DownloadOutcome out;
        std::thread job([&] { out = download_file(kUrl, d / "x.part", &manifest, stop, p, s); });
        // The window's Cancel, once the download waits on the server.
        EXPECT_TRUE(eventually([&] { return t.requests().size() == 1 && p.done == c.kept; }));
        stop = true;
        job.join();
        EXPECT_EQ(out.kind, DownloadOutcomeKind::Cancelled) << out.message;
        EXPECT_EQ(t.requests().size(), 1u) << "a cancelled request is not retried";
        EXPECT_EQ(std::filesystem::file_size(d / "x.part"), c.kept);
    }
    EXPECT_TRUE(log.matching("download interrupted").empty());
}

// A partial file that keeps only its length, for bodies too long to store.
class LengthOnlyFile final : public PartialFile {
  public:
    explicit LengthOnlyFile(uint64_t& length) : length_(length) {}
    Result<size_t, OsError> read_at(uint64_t, std::span<uint8_t>) override { return size_t{0}; }
    Result<void, OsError> write_at(uint64_t o, std::span<const uint8_t> b) override {
        length_ = std::max<uint64_t>(length_, o + b.size());
        return {};
    }
    Result<uint64_t, OsError> length() override { return length_; }
    Result<void, OsError> truncate() override {
        length_ = 0;
        return {};
    }

  private:
    uint64_t& length_;
};

TEST_F(DownloadFileTest, UnsignedBodyIsStoppedAtTheImageLimit) {
    uint64_t written = 0;
    bool body_read = false;
    test::FakeDownloads s{transport, clock};
    s.open_file =
        [&](const std::filesystem::path&) -> Result<std::unique_ptr<PartialFile>, OsError> {
        return std::make_unique<LengthOnlyFile>(written);
    };
    s.space = [](const std::filesystem::path&) -> Result<uint64_t, OsError> {
        return uint64_t{1} << 50;
    };

    // Announced: refused before the body.
    transport.set_handler([&](const RecordedRequest&, size_t) {
        FakeAnswer a{200, kUnsignedDownloadLimit + 1};
        a.endless = true;
        a.on_read = [&](uint64_t) { body_read = true; };
        return FakeStep(a);
    });
    DownloadOutcome out = download_file(kUrl, partial, nullptr, cancel, progress, s);
    EXPECT_EQ(out.kind, DownloadOutcomeKind::TooLarge);
    EXPECT_FALSE(body_read);

    // Unannounced and never ending: the file stops at the limit.
    transport.set_handler([&](const RecordedRequest&, size_t) {
        FakeAnswer a{200};
        a.endless = true;
        a.chunk = kDownloadBufferBytes;
        return FakeStep(a);
    });
    out = download_file(kUrl, partial, nullptr, cancel, progress, s);
    EXPECT_EQ(out.kind, DownloadOutcomeKind::TooLarge);
    EXPECT_LE(written, kUnsignedDownloadLimit);
    EXPECT_GT(written, kUnsignedDownloadLimit - kDownloadBufferBytes);
    EXPECT_EQ(transport.requests().size(), 2u) << "not retried";
    EXPECT_EQ(log.matching("download stopped"),
              std::vector<std::string>(2,
                                       "ERROR download stopped: more than 17179869184 bytes "
                                       "without a signed size"));
}

std::function<uint64_t()> length_of(const std::filesystem::path& file) {
    return [file] {
        return std::filesystem::exists(file) ? std::filesystem::file_size(file) : uint64_t{0};
    };
}

// A disk whose free space, apart from what the download adds to its file, is
// told by the test answer by answer (the last one repeats).
struct FreeSpaceDisk {
    std::function<uint64_t()> file_length;
    std::vector<Result<uint64_t, OsError>> answers;
    size_t asked = 0;
    uint64_t first_length = 0;  // the file's length at the first question

    std::function<Result<uint64_t, OsError>(const std::filesystem::path&)> query() {
        return [this](const std::filesystem::path&) -> Result<uint64_t, OsError> {
            uint64_t length = file_length();
            if (asked == 0) first_length = length;
            auto answer = answers.at(std::min(asked++, answers.size() - 1));
            if (!answer) return answer;
            uint64_t grown = length - std::min(length, first_length);
            return *answer - std::min(*answer, grown);
        };
    }
};

TEST_F(DownloadFileTest, KnownLengthMustLeaveTheReserveFreeBeforeAnythingIsFetched) {
    bool body_read = false;
    transport.set_handler([&](const RecordedRequest& r, size_t) {
        FakeAnswer a = test::serve(release.image, r);
        a.on_read = [&](uint64_t) { body_read = true; };
        return FakeStep(a);
    });
    const uint64_t size = release.image.size();
    FreeSpaceDisk disk{length_of(partial), {kFreeSpaceReserve + size - 1}};
    services.space = disk.query();
    EXPECT_EQ(download().kind, DownloadOutcomeKind::NoSpace);
    EXPECT_FALSE(body_read);
    EXPECT_EQ(std::filesystem::file_size(partial), 0u);
    EXPECT_EQ(
        log.matching("not enough free space"),
        (std::vector<std::string>{"ERROR not enough free space in " + utf8_of(dir.path()) + ": " +
                                  std::to_string(kFreeSpaceReserve + size - 1) + " bytes free, " +
                                  std::to_string(kFreeSpaceReserve + size) + " needed"}));

    // Only what is still missing counts, and exactly enough is enough.
    test::write_file(partial, release.image.substr(0, 1000));
    disk = FreeSpaceDisk{length_of(partial), {kFreeSpaceReserve + size - 1000}};
    DownloadOutcome out = download();
    ASSERT_EQ(out.kind, DownloadOutcomeKind::Success) << out.message;
    EXPECT_TRUE(same_bytes(partial_content(), release.image));
}

TEST_F(DownloadFileTest, EndlessUnsignedBodyStopsWhereTheReserveBegins) {
    transport.set_handler([&](const RecordedRequest&, size_t) {
        FakeAnswer a{200};
        a.endless = true;
        return FakeStep(a);
    });
    uint64_t written = 0;
    services.open_file =
        [&](const std::filesystem::path&) -> Result<std::unique_ptr<PartialFile>, OsError> {
        return std::make_unique<LengthOnlyFile>(written);
    };
    const uint64_t room = 3 * 1024 * 1024 + 5;
    FreeSpaceDisk disk{[&] { return written; }, {kFreeSpaceReserve + room}};
    services.space = disk.query();
    DownloadOutcome out = download(nullptr);
    EXPECT_EQ(out.kind, DownloadOutcomeKind::NoSpace);
    EXPECT_LE(written, room);
    EXPECT_GT(written, room - 64 * 1024);
    // Asked again before giving up, not at every piece.
    EXPECT_EQ(disk.asked, 2u);
    EXPECT_EQ(transport.requests().size(), 1u);
}

TEST_F(DownloadFileTest, SpaceFreedMeanwhileOrAnUnknownFreeSpaceLetsTheDownloadGoOn) {
    transport.set_handler([&](const RecordedRequest&, size_t) {
        return FakeStep(FakeAnswer{200, std::nullopt, release.image});  // length unannounced
    });
    FreeSpaceDisk disk{length_of(partial),
                       {kFreeSpaceReserve + 100'000, kFreeSpaceReserve + (uint64_t{1} << 40)}};
    services.space = disk.query();
    DownloadOutcome out = download(nullptr);
    ASSERT_EQ(out.kind, DownloadOutcomeKind::Success) << out.message;
    EXPECT_EQ(disk.asked, 2u);
    EXPECT_TRUE(same_bytes(partial_content(), release.image));

    std::filesystem::remove(partial);
    disk = FreeSpaceDisk{length_of(partial),
                         {unexpected(message_error("Access is denied. (os error 5)"))}};
    out = download(nullptr);
    ASSERT_EQ(out.kind, DownloadOutcomeKind::Success) << out.message;
    EXPECT_EQ(log.matching("free space of"),
              (std::vector<std::string>{"WARN  free space of " + utf8_of(dir.path()) +
                                        " unknown: Access is denied. (os error 5)"}));
}
}  // namespace
}  // namespace sw
