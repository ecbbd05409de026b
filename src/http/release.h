// The download service: the signed release descriptor, the image download
// job and the tool's update check. Both jobs run on worker threads and report
// to the window through its message sink.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "core/result.h"
#include "http/download.h"
#include "http/media.h"
#include "http/release_info.h"
#include "ui/messages.h"

namespace sw {

inline constexpr std::string_view kDownloadBaseVariable = "ORTIVEX_SW_DOWNLOAD_BASE";
inline constexpr std::string_view kDescriptorName = "OrtivexOS-Lastest.json";
inline constexpr std::string_view kDefaultImageName = "OrtivexOS-Lastest.iso";
inline constexpr size_t kDescriptorMaxBytes = 65'536;
inline constexpr size_t kToolReleaseMaxBytes = 16'384;

enum class DescriptorRefusal { Malformed, BadSignature, UntrustedUrl };
std::string_view refusal_name(DescriptorRefusal r);

// "https://{primary host}/downloads/".
std::string default_download_base();
// The override when it is set and a valid download base, else the default.
std::string choose_download_base(const std::optional<std::string>& override_value);
// The same, with the override read from the environment.
std::string download_base();

// The accepted release descriptor.
Result<ReleaseInfo, DescriptorRefusal> check_release_descriptor(std::string_view base,
                                                                std::string_view text);

// Fetches and checks base + "OrtivexOS-Lastest.json"; logs why there is none.
std::optional<ReleaseInfo> fetch_release_info(std::string_view base,
                                              HttpTransport& transport = system_transport());

// "OrtivexOS-{version}.iso" with every character other than ASCII letters,
// digits, "+", "-", "." and "_" replaced by "_".
std::string versioned_image_name(std::string_view version);

// The download job: descriptor, image into `folder`, rename, one
// "download finished" message (after one "release information" message).
void run_image_download(const std::filesystem::path& folder, const std::atomic<bool>& cancel,
                        DownloadProgress& progress, MessageSink& sink,
                        const DownloadServices& services = system_download_services());

// The download job on a thread of its own; the caller owns the thread (join
// or detach). The window keeps `progress` and `cancel` alive with it.
std::thread start_image_download(std::filesystem::path folder, MessageSink& sink,
                                 std::shared_ptr<DownloadProgress> progress,
                                 std::shared_ptr<const std::atomic<bool>> cancel,
                                 DownloadServices services = system_download_services());

// A version text read as (major, minor, patch) and an optional pre-release.
struct VersionNumber {
    uint64_t major = 0, minor = 0, patch = 0;
    std::optional<std::string> pre_release;
};
std::optional<VersionNumber> parse_version(std::string_view text);
// Whether `remote` names a newer release than `own`; absent when either is unreadable.
std::optional<bool> is_newer_version(std::string_view remote, std::string_view own);

// "https://{primary host}/downloads/Ortivex-Stickwright.json".
std::string tool_release_url();

// The update check: sends an update notice when a newer release of this tool exists.
void run_update_check(MessageSink& sink, HttpTransport& transport = system_transport());
// The update check on a thread of its own (join or detach).
std::thread start_update_check(MessageSink& sink, HttpTransport& transport = system_transport());

}  // namespace sw
