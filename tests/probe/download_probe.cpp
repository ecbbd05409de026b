// Drives the download code against real servers for the end-to-end tests and
// the benchmark: one request, one download_file, or one whole download job,
// with the results printed as "key value" lines. Natively it uses libcurl
// (optionally trusting a test CA file), under wine the product's WinHTTP.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "hex/hex.h"
#include "http/client.h"
#include "http/download.h"
#include "http/release.h"
#include "image/validation.h"
#include "logging/logger.h"
#include "core/system.h"
#include "support/fake_downloads.h"
#include "support/temp_dir.h"
#include "support/test_release.h"
#ifndef _WIN32
#include "platform/linux/http/curl_transport.h"
#endif

namespace sw {
namespace {

struct Options {
    std::vector<std::string> positional;
    std::string ca_file;
    std::optional<std::string> log_dir;
    std::optional<std::string> manifest_line;
    std::optional<std::string> secret_key;
    std::optional<uint64_t> stop_after;
    std::optional<std::string> stop_file;
    std::optional<uint64_t> free_space;
    bool instant_waits = false;
};

// Retry waits that take no time, so that tests of lost connections stay short.
class InstantClock final : public Clock {
  public:
    TimePoint now() override { return std::chrono::steady_clock::now(); }
    void sleep_for(std::chrono::milliseconds) override {}
    bool wait_for(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                  std::chrono::milliseconds d, const std::function<bool()>& done) override {
        return cv.wait_for(lock, d, done);
    }
};

void out(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

HttpTransport& transport_for(const Options& o) {
#ifndef _WIN32
    static CurlTransport curl([&] {
        CurlOptions c;
        c.ca_file = o.ca_file;
        return c;
    }());
    return curl;
#else
    (void)o;
    return system_transport();
#endif
}

// Sets the stop flag once `limit` bytes are in the file, or once the file
// `stop_file` exists (the tests make it when their server has seen the
// request it waits in).
class Stopper {
  public:
    Stopper(const Options& o, DownloadProgress& progress, std::atomic<bool>& cancel) {
        if (!o.stop_after && !o.stop_file) return;
        thread_ = std::thread([limit = o.stop_after, file = o.stop_file, this, &progress, &cancel] {
            while (!finished_) {
                std::error_code ec;
                if ((limit && progress.done >= *limit) ||
                    (file && std::filesystem::exists(path_from_utf8(*file), ec))) {
                    cancel = true;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~Stopper() {
        finished_ = true;
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

// The download's services: the transport, the clock, the system's files and,
// when the test says so, a disk that had that much free space before the
// files now in the download folder were written.
std::unique_ptr<test::FakeDownloads> services_for(const Options& o, Clock& instant) {
    auto services = std::make_unique<test::FakeDownloads>(transport_for(o),
                                                          o.instant_waits ? instant : real_clock());
    if (o.free_space)
        services->space = [free = *o.free_space](
                              const std::filesystem::path& folder) -> Result<uint64_t, OsError> {
            uint64_t used = 0;
            std::error_code ec;
            for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
                if (entry.is_regular_file(ec)) used += entry.file_size(ec);
            return free - std::min(free, used);
        };
    return services;
}

const char* outcome_name(DownloadOutcomeKind k) {
    switch (k) {
        case DownloadOutcomeKind::Success:
            return "Success";
        case DownloadOutcomeKind::Cancelled:
            return "Cancelled";
        case DownloadOutcomeKind::Mismatch:
            return "Mismatch";
        case DownloadOutcomeKind::ResumeRefused:
            return "ResumeRefused";
        case DownloadOutcomeKind::TooLarge:
            return "TooLarge";
        case DownloadOutcomeKind::NoSpace:
            return "NoSpace";
        case DownloadOutcomeKind::Failed:
            break;
    }
    return "Failed";
}

int get_command(const Options& o) {
    if (o.positional.size() < 2) return 2;
    std::string header = o.positional.size() > 2 ? o.positional[2] + "\r\n" : "";
    auto r = http_get(o.positional[1], header, transport_for(o));
    if (!r) {
        out("error " + r.error().message());
        return 1;
    }
    out(fmt("status {}", (*r)->status()));
    auto length = (*r)->content_length();
    out(length ? fmt("length {}", *length) : std::string("length none"));
    std::vector<uint8_t> buffer(1 << 20);
    DownloadHasher hasher(nullptr);
    uint64_t total = 0;
    while (true) {
        auto n = (*r)->read(buffer);
        if (!n) {
            out(fmt("bytes {}", total));
            out("error " + n.error().message());
            return 1;
        }
        if (*n == 0) break;
        hasher.update(std::span<const uint8_t>(buffer.data(), *n));
        total += *n;
    }
    out(fmt("bytes {}", total));
    out("sha256 " + hex_encode(std::move(hasher).finish()));
    return 0;
}

int text_command(const Options& o) {
    if (o.positional.size() != 3) return 2;
    auto max = parse_u64_decimal(o.positional[2]);
    if (!max) return 2;
    auto r = http_get_text(o.positional[1], static_cast<size_t>(*max), transport_for(o));
    if (!r) {
        out("error " + r.error().message());
        return 1;
    }
    out(fmt("text {}", r->size()));
    return 0;
}

int file_command(const Options& o) {
    if (o.positional.size() != 3) return 2;
    std::optional<MediaManifest> manifest;
    if (o.manifest_line) {
        auto m = parse_media_manifest(*o.manifest_line);
        if (!m) {
            out("error manifest " + m.error());
            return 2;
        }
        manifest = *m;
    }
    InstantClock instant;
    auto services = services_for(o, instant);
    std::atomic<bool> cancel{false};
    DownloadProgress progress;
    DownloadOutcome outcome;
    {
        Stopper stopper(o, progress, cancel);
        outcome = download_file(o.positional[1], path_from_utf8(o.positional[2]),
                                manifest ? &*manifest : nullptr, cancel, progress, *services);
    }
    out(std::string("outcome ") + outcome_name(outcome.kind));
    if (!outcome.message.empty()) out("message " + outcome.message);
    if (outcome.digest) out("digest " + hex_encode(*outcome.digest));
    out(fmt("retry {}", progress.retry.load()));
    out(fmt("done {}", progress.done.load()));
    return 0;
}

// Prints each report of the download job and the validation worker.
struct Printer {
    void operator()(const ReleaseInfoMessage& info) const {
        if (info.release)
            out("release " + info.release->manifest.version + " " + info.release->image_url);
        else
            out("release none");
    }
    void operator()(const DownloadFinishedMessage& done) const {
        if (done.result) {
            out("finished " + utf8_of(done.result->path));
            out("digest " +
                (done.result->sha256 ? hex_encode(*done.result->sha256) : std::string("none")));
        } else {
            out("error " + done.result.error().describe());
        }
    }
    void operator()(const ImageInspected& inspected) const {
        out(inspected.result ? std::string("inspected accepted")
                             : "inspected refused " + inspected.result.error().message());
    }
    void operator()(const ImageContentChecked& content) const {
        out(content.result ? std::string("content ok")
                           : "content refused " + content.result.error().message());
    }
    template <class Report>
    void operator()(const Report& report) const {
        std::visit(*this, report);
    }
};

int job_command(const Options& o) {
    if (o.positional.size() != 2) return 2;
    InstantClock instant;
    auto services = services_for(o, instant);
    std::atomic<bool> cancel{false};
    DownloadProgress progress;
    auto start = std::chrono::steady_clock::now();
    {
        Stopper stopper(o, progress, cancel);
        run_image_download(
            path_from_utf8(o.positional[1]), cancel, progress,
            [](DownloadReport r) { Printer{}(r); }, *services);
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    out(fmt("done {}", progress.done.load()));
    out("seconds " + fixed(seconds, 3));
    return 0;
}

std::optional<Ed25519Seed> secret_key(const Options& o) {
    if (!o.secret_key) {
        std::fputs("--secret-key FILE is required\n", stderr);
        return std::nullopt;
    }
    auto seed = test::read_seed_file(path_from_utf8(*o.secret_key));
    if (!seed) std::fprintf(stderr, "cannot read the key in %s\n", o.secret_key->c_str());
    return seed;
}

// Validates an image as the window does after a download, with the
// download's digest when one is given.
int validate_command(const Options& o) {
    if (o.positional.size() < 2 || o.positional.size() > 3) return 2;
    ValidationRequest request{o.positional[1], 1, std::nullopt};
    if (o.positional.size() == 3) {
        auto bytes = hex_decode(o.positional[2]);
        if (!bytes || bytes->size() != 32) return 2;
        Sha256Digest digest{};
        std::copy(bytes->begin(), bytes->end(), digest.begin());
        request.download_digest = digest;
    }
    ValidationProgress progress;
    std::atomic<bool> cancel{false};
    run_validation(
        request, open_image_file(request.path), [](ValidationReport r) { Printer{}(r); }, progress,
        cancel, real_clock());
    return 0;
}

// Writes a signed test release (image and descriptor) into a folder.
int release_command(const Options& o) {
    if (o.positional.size() < 4 || o.positional.size() > 5) return 2;
    auto size = parse_u64_decimal(o.positional[1]);
    auto seed = secret_key(o);
    if (!size || !seed) return 2;
    test::TestRelease r = test::make_test_release(*size, o.positional[2], *seed);
    std::filesystem::path folder = path_from_utf8(o.positional[3]);
    std::optional<std::string> url;
    if (o.positional.size() == 5) url = o.positional[4];
    test::write_file(folder / "OrtivexOS-Lastest.iso", r.image);
    test::write_file(folder / "OrtivexOS-Lastest.json", r.descriptor(url));
    out("sha256 " + r.sha256);
    out("manifest " + r.manifest_line);
    return 0;
}

// The development signature of a manifest line.
int sign_command(const Options& o) {
    auto seed = secret_key(o);
    if (o.positional.size() != 2 || !seed) return 2;
    out(test::sign_manifest_hex(o.positional[1], *seed));
    return 0;
}

int run(int argc, char** argv) {
    std::vector<std::string> args = platform::command_line_args(argc, argv);
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool has_value = i + 1 < args.size();
        if (a == "--ca-file" && has_value) {
            o.ca_file = args[++i];
        } else if (a == "--log-dir" && has_value) {
            o.log_dir = args[++i];
        } else if (a == "--secret-key" && has_value) {
            o.secret_key = args[++i];
        } else if (a == "--manifest" && has_value) {
            o.manifest_line = args[++i];
        } else if (a == "--stop-after" && has_value) {
            o.stop_after = parse_u64_decimal(args[++i]);
        } else if (a == "--stop-on-file" && has_value) {
            o.stop_file = args[++i];
        } else if (a == "--free-space" && has_value) {
            o.free_space = parse_u64_decimal(args[++i]);
        } else if (a == "--instant-waits") {
            o.instant_waits = true;
        } else {
            o.positional.push_back(a);
        }
    }
    if (o.log_dir) Logger::init(path_from_utf8(*o.log_dir));
    if (o.positional.empty()) return 2;
    const std::string& command = o.positional[0];
    int code = 2;
    if (command == "get") code = get_command(o);
    if (command == "text") code = text_command(o);
    if (command == "file") code = file_command(o);
    if (command == "job") code = job_command(o);
    if (command == "release") code = release_command(o);
    if (command == "sign") code = sign_command(o);
    if (command == "validate") code = validate_command(o);
    if (code == 2)
        std::fputs("usage: download-probe get|text|file|job|release|sign|validate ...\n", stderr);
    Logger::shut_down();
    return code;
}

}  // namespace
}  // namespace sw

int main(int argc, char** argv) {
    return sw::run(argc, argv);
}
