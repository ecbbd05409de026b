// The rules of the download service that need no network: the download
// base, the signed release descriptor, the names of downloaded images and
// version comparison. The media tool uses them to publish descriptors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"
#include "http/release_info.h"

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

// "OrtivexOS-{version}.iso" with every character other than ASCII letters,
// digits, "+", "-", "." and "_" replaced by "_".
std::string versioned_image_name(std::string_view version);

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

}  // namespace sw
