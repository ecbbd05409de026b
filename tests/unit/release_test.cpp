#include "http/release.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/version.h"
#include "core/paths.h"
#include "hex/hex.h"
#include "http/url.h"
#include "support/fake_clock.h"
#include "support/fake_downloads.h"
#include "support/fake_transport.h"
#include "support/log_capture.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"
#include "support/test_images.h"
#include "support/test_release.h"

namespace sw {
namespace {

using test::FakeAnswer;
using test::FakeStep;
using test::RecordedRequest;

const std::string kPrimary(configured_hosts().primary);
const std::string kRegional(configured_hosts().regional);
const std::string kBase = "https://" + kPrimary + "/downloads/";

TEST(DownloadBaseChoice, OverrideOnlyWhenItIsAValidBase) {
    EXPECT_EQ(default_download_base(), kBase);
    EXPECT_EQ(choose_download_base(std::nullopt), kBase);
    const std::string mirror = "https://mirror." + kPrimary + ":8443/d/";
    EXPECT_EQ(choose_download_base(mirror), mirror);
    const std::string regional = "https://" + kRegional + "/other/";
    EXPECT_EQ(choose_download_base(regional), regional);
    for (const std::string& bad :
         {"https://mirror." + kPrimary + "/d",  // no final "/"
          std::string("https://example.invalid/downloads/"), "http://" + kPrimary + "/downloads/",
          "https://" + kPrimary + "/d/?x/", std::string("")}) {
        EXPECT_EQ(choose_download_base(bad), kBase) << bad;
    }
}

TEST(DownloadBaseChoice, ReadFromTheEnvironment) {
    {
        test::ScopedEnv env(std::string(kDownloadBaseVariable), "https://example.invalid/d/");
        EXPECT_EQ(download_base(), kBase);
    }
    {
        test::ScopedEnv env(std::string(kDownloadBaseVariable), "https://beta." + kPrimary + "/d/");
        EXPECT_EQ(download_base(), "https://beta." + kPrimary + "/d/");
    }
    test::ScopedEnv env(std::string(kDownloadBaseVariable), std::nullopt);
    EXPECT_EQ(download_base(), kBase);
}

class DescriptorCheck : public ::testing::Test {
  protected:
    DescriptorCheck()
        : release(test::make_test_release(64 * 1024, "24.10", test::development_seed())) {}

    static std::string descriptor(const std::string& manifest, const std::string& signature,
                                  const std::string& extra = "") {
        return "{\"media_manifest\":" + test::json_quote(manifest) +
               ",\"signature\":" + test::json_quote(signature) + extra + "}";
    }
    Result<ReleaseInfo, DescriptorRefusal> check(const std::string& text,
                                                 const std::string& base = kBase) {
        return check_release_descriptor(base, text);
    }
    test::TestRelease release;
};

TEST_F(DescriptorCheck, AcceptedWithTheDefaultImageAddress) {
    auto info = check(release.descriptor());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->image_url, kBase + "OrtivexOS-Lastest.iso");
    EXPECT_EQ(info->manifest.version, "24.10");
    EXPECT_EQ(info->manifest.size, 64u * 1024);
    EXPECT_EQ(info->manifest.sha256, release.sha256);

    // Upper-case hexadecimal digits in the signature are accepted too.
    std::string upper = release.signature_hex;
    for (auto& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(check(descriptor(release.manifest_line, upper)));
}

TEST_F(DescriptorCheck, ImageAddressOnATrustedHostOrUnderTheBase) {
    std::string on_regional = "https://" + kRegional + "/images/x.iso";
    auto info = check(release.descriptor(on_regional));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->image_url, on_regional);

    // An overriding base on a subdomain and another port may serve the image itself.
    std::string base = "https://mirror." + kPrimary + ":8443/d/";
    info = check(release.descriptor(base + "images/x.iso"), base);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->image_url, base + "images/x.iso");
}

TEST_F(DescriptorCheck, ForeignOrLooseImageAddressesAreUntrusted) {
    for (const std::string& url : {
             std::string("https://example.invalid/x.iso"),
             "https://" + kPrimary + ":8443/x.iso",             // another port, not under the base
             "https://mirror." + kPrimary + "/x.iso",           // a subdomain, not under the base
             "http://" + kPrimary + "/downloads/x.iso",         // not TLS
             kBase + "a b.iso",                                 // under the base but no valid URL
             "https://" + kPrimary + "@example.invalid/x.iso",  // user-info
         }) {
        auto info = check(release.descriptor(url));
        ASSERT_FALSE(info) << url;
        EXPECT_EQ(info.error(), DescriptorRefusal::UntrustedUrl) << url;
    }
}

TEST_F(DescriptorCheck, BaseThatIsNoLongerValidIsUntrusted) {
    auto info = check(release.descriptor(), "https://example.invalid/downloads/");
    ASSERT_FALSE(info);
    EXPECT_EQ(info.error(), DescriptorRefusal::UntrustedUrl);
}

TEST_F(DescriptorCheck, SignatureMustVerifyOverTheExactManifestText) {
    std::string changed = release.manifest_line;
    changed.replace(changed.find("24.10"), 5, "24.11");
    EXPECT_EQ(check(descriptor(changed, release.signature_hex)).error(),
              DescriptorRefusal::BadSignature);
    // Even a change that breaks the JSON is a bad signature: verification comes first.
    EXPECT_EQ(check(descriptor(release.manifest_line + " ", release.signature_hex)).error(),
              DescriptorRefusal::BadSignature);
    std::string flipped = release.signature_hex;
    flipped[10] = flipped[10] == '0' ? '1' : '0';
    EXPECT_EQ(check(descriptor(release.manifest_line, flipped)).error(),
              DescriptorRefusal::BadSignature);
}

TEST_F(DescriptorCheck, MalformedDescriptors) {
    const std::string& m = release.manifest_line;
    const std::string& s = release.signature_hex;
    for (const std::string& text : {
             std::string("not json"), std::string("[]"),
             "{\"signature\":" + test::json_quote(s) + "}",
             "{\"media_manifest\":" + test::json_quote(m) + "}",
             "{\"media_manifest\":" + test::json_quote(m) + ",\"signature\":7}",
             descriptor(m, s.substr(0, 127)),    // odd length
             descriptor(m, s.substr(0, 126)),    // 63 bytes
             descriptor(m, s + "00"),            // 65 bytes
             descriptor(m, "zz" + s.substr(2)),  // not hexadecimal
             descriptor(m, s, ",\"url\":17"),    // an address that is not text
         }) {
        auto info = check(text);
        ASSERT_FALSE(info) << text;
        EXPECT_EQ(info.error(), DescriptorRefusal::Malformed) << text;
    }
}

TEST_F(DescriptorCheck, SignedManifestThatBreaksItsRulesIsMalformed) {
    std::string wrong_product = release.manifest_line;
    wrong_product.replace(wrong_product.find("\"Ortivex\""), 9, "\"Ortivez\"");
    auto info = check(descriptor(wrong_product,
                                 test::sign_manifest_hex(wrong_product, test::development_seed())));
    ASSERT_FALSE(info);
    EXPECT_EQ(info.error(), DescriptorRefusal::Malformed);
}

TEST(ImageFileName, VersionCharactersOutsideTheSafeSetBecomeUnderscores) {
    EXPECT_EQ(versioned_image_name("24.10 beta/2"), "OrtivexOS-24.10_beta_2.iso");
    EXPECT_EQ(versioned_image_name("1.0+b_7-x.Y"), "OrtivexOS-1.0+b_7-x.Y.iso");
    EXPECT_EQ(versioned_image_name("..\\..\\x:y*"), "OrtivexOS-.._.._x_y_.iso");
    // One underscore per character, whatever its UTF-8 length.
    EXPECT_EQ(versioned_image_name("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"),
              "OrtivexOS-caf_____.iso");
}

TEST(VersionComparison, OwnReleaseAgainstRemoteOnes) {
    struct Case {
        const char* remote;
        const char* own;
        std::optional<bool> newer;
    };
    for (const Case& c : std::vector<Case>{
             {"v1.3.2", "1.3.1", true},
             {"1.3.1-rc1", "1.3.1", false},
             {"1.3.1", "1.3.1", false},
             {"1.4", "1.3.1", true},
             {"2", "1.3.1", true},
             {"1.3", "1.3.1", false},
             {"1.3.0", "1.3.1", false},
             {"0.99.99", "1.3.1", false},
             {"  vv1.3.2\t", "1.3.1", true},
             {"1.3.2+build.7", "1.3.1", true},
             {"1.3.1+build.7", "1.3.1", false},
             {"1.3.10", "1.3.9", true},  // numbers, not text
             // Pre-releases: a release is newer than its own pre-release; then byte order.
             {"1.3.1", "1.3.1-rc1", true},
             {"1.3.1-rc2", "1.3.1-rc1", true},
             {"1.3.1-rc10", "1.3.1-rc1", true},
             {"1.3.1-rc", "1.3.1-rc1", false},
             {"1.3.1-rc1", "1.3.1-rc1", false},
             {"1.3.1-RC2", "1.3.1-rc1", false},
             {"1.3.1-rc1+b-2", "1.3.1-rc1", true},  // the pre-release runs to the end
             // Unreadable texts: no answer.
             {"1.3.1.4", "1.3.1", std::nullopt},
             {"1..3", "1.3.1", std::nullopt},
             {"1.3.", "1.3.1", std::nullopt},
             {"", "1.3.1", std::nullopt},
             {"v", "1.3.1", std::nullopt},
             {"-rc1", "1.3.1", std::nullopt},
             {"1.x", "1.3.1", std::nullopt},
             {"1.+3", "1.3.1", std::nullopt},
             {"1. 3", "1.3.1", std::nullopt},
             {"V1.3.2", "1.3.1", std::nullopt},
             {"18446744073709551616", "1.3.1", std::nullopt},
             {"18446744073709551615", "1.3.1", true},
             {"1.3.2", "garbage", std::nullopt},
         }) {
        EXPECT_EQ(is_newer_version(c.remote, c.own), c.newer) << c.remote << " vs " << c.own;
    }
}

// The service as a map from path to content, served with ranges.
class FakeService {
  public:
    std::map<std::string, std::string> files;
    std::function<std::optional<FakeStep>(const RecordedRequest&, size_t)> override;

    FakeStep answer(const RecordedRequest& r, size_t index) {
        if (override) {
            if (auto step = override(r, index)) return *step;
        }
        auto it = files.find(r.host + r.path);
        if (it == files.end()) return FakeAnswer{404, 9, "not found"};
        return test::serve(it->second, r);
    }
};

class DownloadJob : public ::testing::Test {
  protected:
    DownloadJob()
        : no_override(std::string(kDownloadBaseVariable), std::nullopt),
          release(test::make_test_release(200 * 1024, "24.10 beta/2", test::development_seed())) {
        transport.set_handler(
            [this](const RecordedRequest& r, size_t i) { return service.answer(r, i); });
    }

    // Host and path of an address of the primary host.
    static std::string at(const std::string& path) { return kPrimary + "/downloads/" + path; }
    void publish_signed(const std::optional<std::string>& url = std::nullopt) {
        service.files[at("OrtivexOS-Lastest.json")] = release.descriptor(url);
        service.files[at("OrtivexOS-Lastest.iso")] = release.image;
    }
    void run() { run_image_download(dir.path(), cancel, progress, sink.reporter(), services); }
    std::vector<DownloadReport> messages() { return sink.messages(); }
    const ReleaseInfoMessage& release_message(size_t i = 0) {
        held = messages();
        return std::get<ReleaseInfoMessage>(held.at(i));
    }
    const DownloadFinishedMessage& finished_message(size_t i = 1) {
        held = messages();
        return std::get<DownloadFinishedMessage>(held.at(i));
    }
    std::filesystem::path file(const std::string& name) { return dir / name; }
    std::vector<std::string> requested() {
        std::vector<std::string> out;
        for (auto& r : transport.requests())
            out.push_back(r.host + r.path + " " + r.headers);
        return out;
    }

    test::ScopedEnv no_override;
    test::TempDir dir;
    test::TestRelease release;
    FakeService service;
    test::FakeTransport transport;
    test::FakeClock clock;
    test::FakeDownloads services{transport, clock};
    std::atomic<bool> cancel{false};
    DownloadProgress progress;
    test::Recorder<DownloadReport> sink;
    test::LogCapture log;
    std::vector<DownloadReport> held;
};

TEST_F(DownloadJob, SignedReleaseEndsUnderItsVersionedNameWithTheSignedDigest) {
    publish_signed();
    uint64_t total_when_requested = 0;
    service.override = [&](const RecordedRequest& r, size_t) -> std::optional<FakeStep> {
        if (r.path.ends_with(".iso")) total_when_requested = progress.total;
        return std::nullopt;
    };
    progress.done = 77;  // a previous job's figures are cleared
    run();

    ASSERT_EQ(messages().size(), 2u);
    const auto& info = release_message();
    ASSERT_TRUE(info.release);
    EXPECT_EQ(info.release->manifest.version, "24.10 beta/2");
    const auto& done = finished_message();
    ASSERT_TRUE(done.result) << done.result.error().describe();
    EXPECT_EQ(done.result->path, file("OrtivexOS-24.10_beta_2.iso"));
    ASSERT_TRUE(done.result->sha256);
    EXPECT_EQ(hex_encode(*done.result->sha256), release.sha256);

    EXPECT_EQ(test::read_file(file("OrtivexOS-24.10_beta_2.iso")), release.image);
    EXPECT_FALSE(std::filesystem::exists(file("OrtivexOS-24.10_beta_2.iso.part")));
    EXPECT_EQ(total_when_requested, release.image.size());
    EXPECT_EQ(log.matching("download complete"),
              (std::vector<std::string>{"INFO  download complete: " +
                                        utf8_of(file("OrtivexOS-24.10_beta_2.iso"))}));
    EXPECT_EQ(requested(), (std::vector<std::string>{at("OrtivexOS-Lastest.json") + " ",
                                                     at("OrtivexOS-Lastest.iso") + " "}));
}

TEST_F(DownloadJob, ImageFromTheAddressTheDescriptorNames) {
    publish_signed("https://" + kRegional + "/images/24.10.iso");
    service.files.erase(at("OrtivexOS-Lastest.iso"));
    service.files[kRegional + "/images/24.10.iso"] = release.image;
    run();
    const auto& done = finished_message();
    ASSERT_TRUE(done.result);
    EXPECT_TRUE(done.result->sha256);
    EXPECT_EQ(transport.requests().at(1).host, kRegional);
}

TEST_F(DownloadJob, OverridingBaseServesDescriptorAndImage) {
    const std::string base_host = "beta." + kPrimary;
    test::ScopedEnv env(std::string(kDownloadBaseVariable), "https://" + base_host + ":8443/x/");
    service.files[base_host + "/x/OrtivexOS-Lastest.json"] = release.descriptor();
    service.files[base_host + "/x/OrtivexOS-Lastest.iso"] = release.image;
    run();
    const auto& done = finished_message();
    ASSERT_TRUE(done.result);
    EXPECT_TRUE(done.result->sha256);
    for (auto& r : transport.requests()) {
        EXPECT_EQ(r.host, base_host);
        EXPECT_EQ(r.port, 8443);
    }
}

TEST_F(DownloadJob, WithoutDescriptorTheDefaultImageIsDownloadedUnverified) {
    service.files[at("OrtivexOS-Lastest.iso")] = release.image;
    run();
    EXPECT_FALSE(release_message().release);
    const auto& done = finished_message();
    ASSERT_TRUE(done.result);
    EXPECT_EQ(done.result->path, file("OrtivexOS-Lastest.iso"));
    EXPECT_FALSE(done.result->sha256);
    EXPECT_EQ(log.matching("release descriptor"),
              (std::vector<std::string>{
                  "INFO  release descriptor unavailable (HTTP 404); downloading without it"}));
}

TEST_F(DownloadJob, RefusedDescriptorsAreLoggedByReasonAndTheDownloadGoesOnUnverified) {
    std::string wrong_product = release.manifest_line;
    wrong_product.replace(wrong_product.find("\"Ortivex\""), 9, "\"Ortivez\"");
    struct Case {
        std::string descriptor;
        std::string reason;
    };
    std::string flipped = release.signature_hex;
    flipped[0] = flipped[0] == 'a' ? 'b' : 'a';
    for (const Case& c : std::vector<Case>{
             {"{\"media_manifest\":" + test::json_quote(release.manifest_line) +
                  ",\"signature\":" + test::json_quote(flipped) + "}",
              "BadSignature"},
             {"{\"media_manifest\":" + test::json_quote(wrong_product) + ",\"signature\":\"" +
                  test::sign_manifest_hex(wrong_product, test::development_seed()) + "\"}",
              "Malformed"},
             {release.descriptor("https://example.invalid/evil.iso"), "UntrustedUrl"},
         }) {
        test::TempDir folder;
        test::Recorder<DownloadReport> s;
        test::FakeTransport t(
            [&](const RecordedRequest& r, size_t i) { return service.answer(r, i); });
        service.files[at("OrtivexOS-Lastest.json")] = c.descriptor;
        service.files[at("OrtivexOS-Lastest.iso")] = release.image;
        test::FakeDownloads own{t, clock};
        run_image_download(folder.path(), cancel, progress, s.reporter(), own);

        auto msgs = s.messages();
        ASSERT_EQ(msgs.size(), 2u);
        EXPECT_FALSE(std::get<ReleaseInfoMessage>(msgs[0]).release);
        const auto& done = std::get<DownloadFinishedMessage>(msgs[1]);
        ASSERT_TRUE(done.result) << c.reason;
        EXPECT_EQ(done.result->path, folder / "OrtivexOS-Lastest.iso");
        EXPECT_FALSE(done.result->sha256);
        for (auto& r : t.requests())
            EXPECT_EQ(r.host, kPrimary) << "only the trusted host is asked";
        EXPECT_EQ(log.matching("release descriptor refused: " + c.reason).size(), 1u) << c.reason;
    }
}

TEST_F(DownloadJob, CorruptedImageIsReportedAndLeavesNoPartialFile) {
    publish_signed();
    service.files[at("OrtivexOS-Lastest.iso")][5000] ^= 0x20;
    run();
    const auto& done = finished_message();
    ASSERT_FALSE(done.result);
    EXPECT_EQ(done.result.error().kind, DownloadError::Kind::Corrupted);
    EXPECT_FALSE(std::filesystem::exists(file("OrtivexOS-24.10_beta_2.iso.part")));
    EXPECT_FALSE(std::filesystem::exists(file("OrtivexOS-24.10_beta_2.iso")));
    EXPECT_EQ(log.matching("download failed"),
              (std::vector<std::string>{"WARN  download failed: Corrupted"}));
}

TEST_F(DownloadJob, StopWhileTheDescriptorIsAwaitedEndsCancelled) {
    publish_signed();
    service.override = [&](const RecordedRequest& r, size_t) -> std::optional<FakeStep> {
        if (r.path.ends_with(".json")) return FakeStep::never_answer();
        return std::nullopt;
    };
    std::thread job([&] { run(); });
    const auto ceiling = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (transport.requests().empty() && std::chrono::steady_clock::now() < ceiling)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    cancel = true;  // the window's Cancel while the server is silent
    job.join();

    auto all = messages();
    ASSERT_EQ(all.size(), 1u) << "nothing was learned about the release";
    const auto& done = std::get<DownloadFinishedMessage>(all[0]);
    ASSERT_FALSE(done.result);
    EXPECT_EQ(done.result.error().kind, DownloadError::Kind::Cancelled);
    EXPECT_EQ(transport.requests().size(), 1u) << "no image is asked for";
    EXPECT_TRUE(log.matching("release descriptor").empty());
}

TEST_F(DownloadJob, StoppedDownloadIsResumedByTheNextJob) {
    publish_signed();
    service.override = [&](const RecordedRequest& r, size_t index) -> std::optional<FakeStep> {
        if (index != 1) return std::nullopt;
        FakeAnswer a = test::serve(release.image, r);
        a.chunk = 10'000;
        a.on_read = [&](uint64_t sent) {
            if (sent >= 50'000) cancel = true;
        };
        return a;
    };
    run();
    const auto& stopped = finished_message();
    ASSERT_FALSE(stopped.result);
    EXPECT_EQ(stopped.result.error().kind, DownloadError::Kind::Cancelled);
    EXPECT_EQ(log.matching("download failed"),
              (std::vector<std::string>{"WARN  download failed: Cancelled"}));
    auto part = file("OrtivexOS-24.10_beta_2.iso.part");
    EXPECT_EQ(std::filesystem::file_size(part), 50'000u);

    cancel = false;
    run();
    const auto& done = finished_message(3);
    ASSERT_TRUE(done.result);
    EXPECT_EQ(hex_encode(*done.result->sha256), release.sha256);
    EXPECT_EQ(test::read_file(done.result->path), release.image);
    EXPECT_EQ(transport.requests().at(3).headers, "Range: bytes=50000-\r\n");
}

TEST_F(DownloadJob, UnverifiedDownloadNeverResumesAnEarlierJobsPartialFile) {
    // The partial file of an earlier unverified download may be the head of
    // another release: the next job must not append this release's tail to it.
    std::string older(120 * 1024, 'o');
    test::write_file(file("OrtivexOS-Lastest.iso.part"), older.substr(0, 50'000));
    service.files[at("OrtivexOS-Lastest.iso")] = release.image;
    run();
    const auto& done = finished_message();
    ASSERT_TRUE(done.result);
    EXPECT_TRUE(test::read_file(done.result->path) == release.image)
        << "the file joins the earlier partial file and this download";
    for (const auto& r : transport.requests())
        EXPECT_EQ(r.headers, "") << r.host << r.path;
    EXPECT_FALSE(std::filesystem::exists(file("OrtivexOS-Lastest.iso.part")));
}

TEST_F(DownloadJob, RefusedResumeStartsOverOnce) {
    publish_signed();
    test::write_file(file("OrtivexOS-24.10_beta_2.iso.part"), release.image.substr(0, 3000));
    service.override = [&](const RecordedRequest& r, size_t) -> std::optional<FakeStep> {
        if (!r.path.ends_with(".iso")) return std::nullopt;
        return FakeAnswer{200, release.image.size(), release.image};  // ranges ignored
    };
    run();
    const auto& done = finished_message();
    ASSERT_TRUE(done.result);
    EXPECT_EQ(test::read_file(done.result->path), release.image);
    auto r = transport.requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[1].headers, "Range: bytes=3000-\r\n");
    EXPECT_EQ(r[2].headers, "");
}

TEST_F(DownloadJob, ServerThatNeverResumesFailsAfterTheSecondRefusal) {
    publish_signed();
    service.override = [&](const RecordedRequest& r, size_t) -> std::optional<FakeStep> {
        if (!r.path.ends_with(".iso")) return std::nullopt;
        FakeAnswer a{200, release.image.size(), release.image};
        a.fail_after = 1000;
        return a;
    };
    run();
    const auto& done = finished_message();
    ASSERT_FALSE(done.result);
    EXPECT_EQ(done.result.error().describe(), "Failed(server does not support resume)");
    EXPECT_EQ(log.matching("download failed"),
              (std::vector<std::string>{
                  "WARN  download failed: Failed(server does not support resume)"}));
}

TEST_F(DownloadJob, HttpErrorIsReportedWithItsMessage) {
    service.files[at("OrtivexOS-Lastest.json")] = release.descriptor();
    run();
    const auto& done = finished_message();
    ASSERT_FALSE(done.result);
    EXPECT_EQ(done.result.error().kind, DownloadError::Kind::Failed);
    EXPECT_EQ(done.result.error().message, "HTTP 404");
    EXPECT_EQ(log.matching("download failed"),
              (std::vector<std::string>{"WARN  download failed: Failed(HTTP 404)"}));
}

TEST_F(DownloadJob, FinishedFileReplacesAnOlderOneOfTheSameName) {
    publish_signed();
    test::write_file(file("OrtivexOS-24.10_beta_2.iso"), "old");
    run();
    ASSERT_TRUE(finished_message().result);
    EXPECT_EQ(test::read_file(file("OrtivexOS-24.10_beta_2.iso")), release.image);
}

TEST_F(DownloadJob, RenameFailureIsReportedAndTheFinishedPartialFileKept) {
    publish_signed();
    std::filesystem::create_directories(file("OrtivexOS-24.10_beta_2.iso") / "in-the-way");
    run();
    const auto& done = finished_message();
    ASSERT_FALSE(done.result);
    EXPECT_EQ(done.result.error().kind, DownloadError::Kind::Failed);
    EXPECT_TRUE(done.result.error().message.starts_with("rename: ")) << done.result.error().message;
    EXPECT_EQ(test::read_file(file("OrtivexOS-24.10_beta_2.iso.part")), release.image);
}

TEST_F(DownloadJob, RunsOnAThreadOfItsOwnUntilStopped) {
    publish_signed();
    auto shared_progress = std::make_shared<DownloadProgress>();
    auto stop = std::make_shared<std::atomic<bool>>(false);
    service.override = [&](const RecordedRequest& r, size_t) -> std::optional<FakeStep> {
        if (!r.path.ends_with(".iso")) return std::nullopt;
        FakeAnswer a = test::serve(release.image, r);
        a.chunk = 1000;
        a.on_read = [&](uint64_t sent) {
            if (sent == 5000) *stop = true;  // the window's stop action
        };
        return a;
    };
    std::thread job([&, report = sink.reporter()] {
        run_image_download(dir.path(), *stop, *shared_progress, report, services);
    });
    ASSERT_TRUE(sink.wait_for_count(2));
    job.join();
    const auto& done = finished_message();
    ASSERT_FALSE(done.result);
    EXPECT_EQ(done.result.error().kind, DownloadError::Kind::Cancelled);
    EXPECT_EQ(shared_progress->done, 5000u);
    EXPECT_EQ(shared_progress->total, release.image.size());
}

class UpdateCheck : public ::testing::Test {
  protected:
    UpdateCheck() {
        transport.set_handler([this](const RecordedRequest& r, size_t) -> FakeStep {
            if (r.host + r.path != kPrimary + "/downloads/Ortivex-Stickwright.json")
                return FakeAnswer{404};
            return FakeAnswer{status, body.size(), body};
        });
    }
    void publish(const std::string& version, const std::string& url) {
        body =
            "{\"version\":" + test::json_quote(version) + ",\"url\":" + test::json_quote(url) + "}";
    }
    std::vector<UpdateNoticeMessage> run() {
        if (auto notice = run_update_check(transport)) sink.reporter()(std::move(*notice));
        return sink.messages();
    }

    std::string body;
    uint32_t status = 200;
    test::FakeTransport transport;
    test::Recorder<UpdateNoticeMessage> sink;
    test::LogCapture log;
};

TEST_F(UpdateCheck, NewerReleaseIsAnnouncedWithItsAddress) {
    EXPECT_EQ(tool_release_url(), "https://" + kPrimary + "/downloads/Ortivex-Stickwright.json");
    const std::string url = "https://" + kPrimary + "/downloads/Ortivex-Stickwright-1.3.2.exe";
    publish("v1.3.2", url);
    if (auto notice = run_update_check(transport)) sink.reporter()(std::move(*notice));
    auto msgs = sink.messages();
    ASSERT_EQ(msgs.size(), 1u);
    const auto& notice = msgs[0];
    EXPECT_EQ(notice.version, "v1.3.2");
    EXPECT_EQ(notice.url, url);
    EXPECT_EQ(log.matching("update"), (std::vector<std::string>{"INFO  update available: v1.3.2"}));
}

TEST_F(UpdateCheck, SameOrOlderOrUnreadableVersionsStaySilent) {
    const std::string url = "https://" + kPrimary + "/x.exe";
    for (const char* version : {"1.3.1", kVersion, "1.3.1-rc1", "1.2.9", "one", "1.3.1.1"}) {
        publish(version, url);
        EXPECT_TRUE(run().empty()) << version;
    }
    EXPECT_TRUE(log.matching("update").empty());
}

TEST_F(UpdateCheck, AddressMustBeATrustedImageAddress) {
    for (const std::string& url :
         {std::string("https://example.invalid/x.exe"), "https://mirror." + kPrimary + "/x.exe",
          "https://" + kPrimary + ":8443/x.exe", "http://" + kPrimary + "/x.exe"}) {
        publish("9.0", url);
        EXPECT_TRUE(run().empty()) << url;
    }
    body = "{\"version\":\"9.0\"}";
    EXPECT_TRUE(run().empty());
    body = "{\"version\":9,\"url\":\"https://" + kPrimary + "/x.exe\"}";
    EXPECT_TRUE(run().empty());
    body = "not json";
    EXPECT_TRUE(run().empty());
}

TEST_F(UpdateCheck, FetchFailuresAreLoggedAndNothingSent) {
    status = 503;
    publish("9.0", "https://" + kPrimary + "/x.exe");
    EXPECT_TRUE(run().empty());
    status = 200;
    body = "{\"version\":\"9.0\",\"pad\":\"" + std::string(16'384, 'x') + "\"}";
    EXPECT_TRUE(run().empty());
    EXPECT_EQ(log.matching("update check"),
              (std::vector<std::string>{"INFO  update check: HTTP 503",
                                        "INFO  update check: response too large"}));
}

TEST_F(UpdateCheck, OverridingBaseDoesNotMoveTheToolDescription) {
    test::ScopedEnv env(std::string(kDownloadBaseVariable), "https://beta." + kPrimary + "/d/");
    publish("9.0", "https://" + kPrimary + "/x.exe");
    EXPECT_EQ(run().size(), 1u);
    EXPECT_EQ(transport.requests().at(0).host, kPrimary);
}

}  // namespace
}  // namespace sw
