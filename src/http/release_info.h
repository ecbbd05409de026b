// What the download subsystem reports: the checked release, the download's
// end and the update notice.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/result.h"
#include "http/media.h"

namespace sw {

// An accepted release descriptor: the signed manifest and the image address.
struct ReleaseInfo {
    MediaManifest manifest;
    std::string image_url;
};

// Why a download did not produce an image.
struct DownloadError {
    enum class Kind {
        Cancelled,
        Corrupted,  // size or hash differs from the signed manifest
        TooLarge,   // unsigned, and larger than any installation image
        NoSpace,    // its folder's disk had no room for it
        Failed,
    };
    Kind kind = Kind::Failed;
    std::string message;  // Failed only

    // "Cancelled", "Corrupted", "TooLarge", "NoSpace" or "Failed(<message>)", as logged.
    std::string describe() const;
};

struct DownloadedImage {
    std::filesystem::path path;
    std::optional<Sha256Digest> sha256;  // present when the download was verified
};

// Release information: the accepted descriptor, or none.
struct ReleaseInfoMessage {
    std::optional<ReleaseInfo> release;
};

// Download finished: the file (with its digest when verified), or the error.
struct DownloadFinishedMessage {
    Result<DownloadedImage, DownloadError> result;
};

// A newer release of this tool exists.
struct UpdateNoticeMessage {
    std::string version;
    std::string url;
};

}  // namespace sw
