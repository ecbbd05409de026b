// Whether an image file may be written, and with what facts: the fast
// inspection (ISO structure, boot layout, signature block and manifest,
// sizes) and, for signed images, the content check (hashing.h). The window's
// validation worker runs both on a thread of its own.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/clock.h"
#include "core/result.h"
#include "image/crypto.h"
#include "image/hashing.h"
#include "image/image_reader.h"
#include "image/iso9660.h"
#include "image/media_signature.h"
#include "image/verdict.h"

namespace sw {

struct SignatureLocation {
    uint64_t offset = 0;
    uint64_t size = 0;  // always 4096
    bool operator==(const SignatureLocation&) const = default;
};

// An accepted image.
struct ImageInspection {
    std::optional<SignatureLocation> signature;  // signed images only
    std::string volume_id;
    std::vector<ImageFile> files;
    std::optional<std::string> version;
    std::optional<std::string> build;
    std::optional<MediaManifest> manifest;  // present exactly when the image is signed
    std::vector<uint8_t> block;             // the 4096 raw bytes of the block (signed only)
    uint64_t image_size = 0;                // the image file's length
    BootFlags boot_flags;

    bool is_signed() const { return manifest.has_value(); }
    // The signature block as the hasher's capture region (signed images).
    std::optional<CaptureRegion> capture_region() const;
    // The manifest's sha256 as 32 bytes (signed images).
    std::optional<Sha256Digest> expected_digest() const;
    // The version text, or "unknown" when the image names none.
    std::string version_text() const;
};

// The inspection, in order; the first failure is the verdict.
Result<ImageInspection, ValidationError> inspect_image(const ImageReader& image);

// The build number a version implies: the part before the first "-" or "+"
// needs two dots and ends in a component of decimal digits, which is the build.
// 24.10.3118-rc1 gives 3118; 24.10 gives none.
std::optional<std::string> build_from_version(std::string_view version);

// "signed size=... version=... uefi=... bios=..." for the log.
std::string inspection_summary(const ImageInspection& inspection);

// The validation worker's progress, read by the window while it repaints.
struct ValidationProgress {
    std::atomic<uint64_t> done{0};
    std::atomic<uint64_t> total{0};
};

struct ValidationRequest {
    std::string path;
    uint64_t request_number = 0;
    // Present when the file was just downloaded and hashed on the way.
    std::optional<Sha256Digest> download_digest;
};

// The validation worker's first report: the inspection's verdict.
struct ImageInspected {
    uint64_t request_number = 0;
    std::string path;
    Result<ImageInspection, ValidationError> result;
};

// The validation worker's second report, for signed images only: the content check.
struct ImageContentChecked {
    uint64_t request_number = 0;
    std::string path;
    Result<void, ValidationError> result;
};

using ValidationReport = std::variant<ImageInspected, ImageContentChecked>;
// Called on the worker's thread; whatever it reaches it must own a share of,
// since the worker may outlive the one who started it.
using ValidationReporter = std::function<void(ValidationReport)>;

// How the content of an accepted image was proven.
enum class ContentCheck {
    Unsigned,         // nothing to prove it against
    MatchedDownload,  // the download hashed it on the way to the manifest's digest
    Hashed,           // read whole and hashed now
};

// What validating an image found, and how long each part took.
struct ValidatedImage {
    ImageInspection inspection;
    ContentCheck content = ContentCheck::Unsigned;
    double inspect_seconds = 0;
    double content_seconds = 0;
};

// Where validation stopped, and why.
struct ValidationFailure {
    bool content = false;  // false: the inspection refused the image; true: its content check
    ValidationError error;
    double content_seconds = 0;  // how long the content check ran before it failed
};

// The one validation flow of every face: the inspection, then for a signed
// image the content check against its manifest, unless `download_digest`
// (what the download computed on the way) already matches it. `inspected`
// hears an accepted inspection before the content check starts; the check
// reports its progress to `progress` and ends early when `cancel` is set.
Result<ValidatedImage, ValidationFailure> validate_image(
    const ImageReader& image, const std::atomic<bool>& cancel, Clock& clock,
    const std::function<void(const ImageInspection&)>& inspected = {},
    const std::optional<Sha256Digest>& download_digest = std::nullopt,
    const ContentProgress& progress = {});

// The worker's body, on the calling thread (the window's workers run it on a
// thread of their own): opens the image, inspects it, reports the
// inspection, and for a signed image checks the content (unless the
// download digest already matches) and reports that. Writes only
// `progress`, reads only `cancel`.
// `clock` times the content check for the log.
// `image` is the request's file as the machine opened it.
void run_validation(const ValidationRequest& request,
                    Result<std::unique_ptr<ImageReader>, std::string> image,
                    const ValidationReporter& report, ValidationProgress& progress,
                    const std::atomic<bool>& cancel, Clock& clock);

}  // namespace sw
