#include "image/validation.h"

#include <algorithm>

#include "core/clock.h"
#include "core/text.h"
#include "logging/logger.h"

namespace sw {

std::optional<CaptureRegion> ImageInspection::capture_region() const {
    if (!signature) return std::nullopt;
    return CaptureRegion{signature->offset, signature->size};
}

std::optional<Sha256Digest> ImageInspection::expected_digest() const {
    if (!manifest) return std::nullopt;
    return manifest->digest();
}

std::string ImageInspection::version_text() const {
    // The version comes from the image, so it is shown escaped wherever it goes.
    return version ? visible_text(*version) : std::string("unknown");
}

std::optional<std::string> build_from_version(std::string_view version) {
    std::string_view core = version.substr(0, std::min(version.find('-'), version.find('+')));
    if (std::count(core.begin(), core.end(), '.') < 2) return std::nullopt;
    std::string_view last = core.substr(core.rfind('.') + 1);
    if (last.empty() ||
        !std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::string(last);
}

Result<ImageInspection, ValidationError> inspect_image(const ImageReader& image) {
    auto layout = read_image_layout(image);
    if (!layout) return unexpected(layout.error());
    auto block = read_signature_block(image, *layout);
    if (!block) return unexpected(block.error());
    std::optional<std::string> info_version = read_manifest_version(image, *layout);

    ImageInspection insp;
    insp.volume_id = layout->volume_id;
    insp.image_size = image.size();
    insp.boot_flags = layout->boot_flags;
    const bool bootable = layout->boot_flags.mbr_partition && layout->boot_flags.efi_partition;

    std::optional<ParsedSignatureBlock> parsed;
    if (*block) {
        auto p = parse_signature_block((*block)->bytes);
        if (!p) return unexpected(ValidationError::malformed(p.error()));
        parsed = std::move(*p);
    }
    if (parsed) {
        if (!verify_manifest_signature(media_public_key(), parsed->manifest_line,
                                       parsed->signature)) {
            return unexpected(ValidationError::of(ValidationError::Kind::BadSignature));
        }
        auto manifest = parse_media_manifest(parsed->manifest_line);
        if (!manifest) return unexpected(ValidationError::malformed(manifest.error()));
        if (manifest->sums_offset != (*block)->offset ||
            manifest->sums_len != (*block)->bytes.size()) {
            return unexpected(ValidationError::malformed("signature block location"));
        }
        if (manifest->size != insp.image_size) {
            return unexpected(ValidationError::size_mismatch(manifest->size, insp.image_size));
        }
        if (!bootable) return unexpected(ValidationError::of(ValidationError::Kind::NotBootable));
        insp.signature = SignatureLocation{(*block)->offset, (*block)->bytes.size()};
        insp.version = manifest->version;
        insp.build = manifest->build;
        insp.manifest = std::move(*manifest);
        insp.block = std::move((*block)->bytes);
    } else {
        if (!starts_with_ascii_ci(layout->volume_id, "ORTIVEX")) {
            return unexpected(ValidationError::of(ValidationError::Kind::NotOrtivex));
        }
        if (insp.image_size < layout->volume_bytes) {
            return unexpected(
                ValidationError::size_mismatch(layout->volume_bytes, insp.image_size));
        }
        if (!bootable) return unexpected(ValidationError::of(ValidationError::Kind::NotBootable));
        insp.version = std::move(info_version);
        if (insp.version) insp.build = build_from_version(*insp.version);
    }
    insp.files = std::move(layout->files);
    return insp;
}

std::string inspection_summary(const ImageInspection& inspection) {
    return fmt("{} size={} version={} uefi={} bios={}",
               inspection.is_signed() ? "signed" : "unsigned", inspection.image_size,
               inspection.version_text(), inspection.boot_flags.efi_partition,
               inspection.boot_flags.mbr_boot_code);
}

Result<ValidatedImage, ValidationFailure> validate_image(
    const ImageReader& image, const std::atomic<bool>& cancel, Clock& clock,
    const std::function<void(const ImageInspection&)>& inspected,
    const std::optional<Sha256Digest>& download_digest, const ContentProgress& progress) {
    ValidatedImage validated;
    auto started = clock.now();
    auto inspection = inspect_image(image);
    validated.inspect_seconds = elapsed_seconds(started, clock.now());
    if (!inspection) return unexpected(ValidationFailure{false, std::move(inspection.error())});
    validated.inspection = std::move(*inspection);
    const ImageInspection& facts = validated.inspection;
    if (inspected) inspected(facts);
    if (!facts.is_signed()) return validated;

    if (download_digest && download_digest == facts.expected_digest()) {
        validated.content = ContentCheck::MatchedDownload;
        return validated;
    }
    started = clock.now();
    auto content = verify_image_content(image, facts, cancel, progress);
    validated.content_seconds = elapsed_seconds(started, clock.now());
    validated.content = ContentCheck::Hashed;
    if (!content)
        return unexpected(
            ValidationFailure{true, std::move(content.error()), validated.content_seconds});
    return validated;
}

void run_validation(const ValidationRequest& request,
                    Result<std::unique_ptr<ImageReader>, std::string> image,
                    const ValidationReporter& report, ValidationProgress& progress,
                    const std::atomic<bool>& cancel, Clock& clock) {
    progress.done.store(0);
    progress.total.store(0);
    auto refuse = [&](ValidationError error) {
        Logger::write(LogLevel::Info, fmt("image {}: {}", visible_text(request.path),
                                          fmt("refused: {}", error.message())));
        report(ImageInspected{request.request_number, request.path, unexpected(std::move(error))});
    };
    if (!image) {
        refuse(ValidationError::io(image.error()));
        return;
    }
    auto inspected = [&](const ImageInspection& inspection) {
        Logger::write(LogLevel::Info, fmt("image {}: {}", visible_text(request.path),
                                          inspection_summary(inspection)));
        // The window gets its own copy; the content check still needs the facts.
        report(ImageInspected{request.request_number, request.path, inspection});
        if (inspection.is_signed() && request.download_digest != inspection.expected_digest())
            progress.total.store(inspection.image_size);  // it is hashed next
    };
    auto validated = validate_image(**image, cancel, clock, inspected, request.download_digest,
                                    [&](uint64_t done, uint64_t) { progress.done.store(done); });
    if (!validated && !validated.error().content) {
        refuse(std::move(validated.error().error));
        return;
    }
    if (validated && validated->content == ContentCheck::Unsigned) return;
    if (validated && validated->content == ContentCheck::MatchedDownload) {
        Logger::write(LogLevel::Info, "image content already verified during download");
        report(ImageContentChecked{request.request_number, request.path, {}});
        return;
    }
    Result<void, ValidationError> result;
    if (!validated) result = unexpected(validated.error().error);
    const double seconds =
        validated ? validated->content_seconds : validated.error().content_seconds;
    Logger::write(LogLevel::Info,
                  fmt("image content check: {} in {}s",
                      result ? std::string("ok") : result.error().message(), fixed(seconds, 1)));
    report(ImageContentChecked{request.request_number, request.path, std::move(result)});
}

}  // namespace sw
