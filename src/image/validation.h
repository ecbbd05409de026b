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
#include <thread>
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

// The worker, on a thread of its own: opens the image, inspects it, reports
// the inspection, and for a signed image checks the content (unless the
// download digest already matches) and reports that. Writes only `progress`,
// reads only `cancel`. The caller owns the thread.
std::thread start_validation(ValidationRequest request, ValidationReporter report,
                             std::shared_ptr<ValidationProgress> progress,
                             std::shared_ptr<const std::atomic<bool>> cancel);

// The worker's body, on the calling thread (tests, and the thread above).
// `clock` times the content check for the log.
void run_validation(const ValidationRequest& request, const ValidationReporter& report,
                    ValidationProgress& progress, const std::atomic<bool>& cancel, Clock& clock);

}  // namespace sw
