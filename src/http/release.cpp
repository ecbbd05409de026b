#include "http/release.h"

#include <algorithm>
#include <system_error>

#include "core/version.h"
#include "core/paths.h"
#include "core/text.h"
#include "runtime/thread.h"
#include "hex/hex.h"
#include "http/client.h"
#include "http/url.h"
#include "json/json.h"
#include "logging/logger.h"
#include "core/system.h"

namespace sw {

std::optional<ReleaseInfo> fetch_release_info(std::string_view base, HttpTransport& transport,
                                              const std::atomic<bool>& cancel) {
    auto text =
        http_get_text(fmt("{}{}", base, kDescriptorName), kDescriptorMaxBytes, transport, cancel);
    if (!text) {
        if (text.error().kind != HttpErrorKind::Cancelled)
            Logger::write(LogLevel::Info,
                          fmt("release descriptor unavailable ({}); downloading without it",
                              text.error().message()));
        return std::nullopt;
    }
    auto release = check_release_descriptor(base, *text);
    if (!release) {
        Logger::write(LogLevel::Warn,
                      fmt("release descriptor refused: {}", refusal_name(release.error())));
        return std::nullopt;
    }
    return std::move(*release);
}

namespace {

DownloadFinishedMessage finished_as(DownloadError::Kind kind, std::string message = {}) {
    DownloadError error{kind, std::move(message)};
    Logger::write(LogLevel::Warn, fmt("download failed: {}", error.describe()));
    return {unexpected(std::move(error))};
}

void remove_quietly(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

}  // namespace

void run_image_download(const std::filesystem::path& folder, const std::atomic<bool>& cancel,
                        DownloadProgress& progress, const DownloadReporter& report,
                        DownloadSystem& system) {
    progress.reset();
    std::string base = download_base();
    std::optional<ReleaseInfo> release = fetch_release_info(base, system.http(), cancel);
    // Stopped while the descriptor was fetched: nothing was learned.
    if (cancel) {
        report(finished_as(DownloadError::Kind::Cancelled));
        return;
    }
    report(ReleaseInfoMessage{release});

    std::string url = fmt("{}{}", base, kDefaultImageName);
    std::string name(kDefaultImageName);
    const MediaManifest* manifest = nullptr;
    if (release) {
        url = release->image_url;
        name = versioned_image_name(release->manifest.version);
        manifest = &release->manifest;
        progress.total = manifest->size;
    }
    std::filesystem::path final_path = folder / path_from_utf8(name);
    std::filesystem::path partial_path = folder / path_from_utf8(name + ".part");
    // Without a signed manifest nothing proves that a partial file left by an
    // earlier job belongs to the image served now: the unversioned name stays
    // the same from release to release, and joining the head of one image to
    // the tail of the next would pass for a whole file. Start it over.
    if (!release) remove_quietly(partial_path);

    DownloadOutcome outcome = download_file(url, partial_path, manifest, cancel, progress, system);
    if (outcome.kind == DownloadOutcomeKind::ResumeRefused) {
        remove_quietly(partial_path);
        outcome = download_file(url, partial_path, manifest, cancel, progress, system);
    }

    switch (outcome.kind) {
        case DownloadOutcomeKind::Success:
            break;
        case DownloadOutcomeKind::Cancelled:
            report(finished_as(DownloadError::Kind::Cancelled));
            return;
        case DownloadOutcomeKind::Mismatch:
            remove_quietly(partial_path);
            report(finished_as(DownloadError::Kind::Corrupted));
            return;
        case DownloadOutcomeKind::ResumeRefused:
            report(finished_as(DownloadError::Kind::Failed, "server does not support resume"));
            return;
        // Neither file can become an image: it only takes the space.
        case DownloadOutcomeKind::TooLarge:
            remove_quietly(partial_path);
            report(finished_as(DownloadError::Kind::TooLarge));
            return;
        case DownloadOutcomeKind::NoSpace:
            remove_quietly(partial_path);
            report(finished_as(DownloadError::Kind::NoSpace));
            return;
        case DownloadOutcomeKind::Failed:
            report(finished_as(DownloadError::Kind::Failed, outcome.message));
            return;
    }

    remove_quietly(final_path);
    if (auto moved = replace_file(partial_path, final_path); !moved) {
        report(finished_as(DownloadError::Kind::Failed, fmt("rename: {}", moved.error().text)));
        return;
    }
    Logger::write(LogLevel::Info, fmt("download complete: {}", utf8_of(final_path)));
    report(DownloadFinishedMessage{DownloadedImage{final_path, outcome.digest}});
}

std::optional<UpdateNoticeMessage> run_update_check(HttpTransport& transport) {
    auto text = http_get_text(tool_release_url(), kToolReleaseMaxBytes, transport);
    if (!text) {
        Logger::write(LogLevel::Info, fmt("update check: {}", text.error().message()));
        return std::nullopt;
    }
    auto doc = parse_json(*text);
    if (!doc) return std::nullopt;
    auto version = json_member_str(*doc, "version");
    auto url = json_member_str(*doc, "url");
    if (!version || !url || !is_trusted_image_url(*url)) return std::nullopt;
    auto newer = is_newer_version(*version, kVersion);
    if (!newer || !*newer) return std::nullopt;
    Logger::write(LogLevel::Info, fmt("update available: {}", *version));
    return UpdateNoticeMessage{std::string(*version), std::string(*url)};
}

}  // namespace sw
