// Copying a validated image onto an opened, locked raw drive and proving the
// result. A reader thread streams the image through a fixed buffer pool
// while hashing it; the calling thread writes each buffer at its offset.
//
// The head (the first up to 64 KiB of the image, where the partition tables
// and boot code live) is written as zeros during the copy and for real only
// at the very end, after the body has been written, flushed and verified.
// Until then the drive's first head-length bytes read as zeros, whatever
// happens to the pass, so a drive left by a failed write never looks like a
// bootable one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/os_error.h"
#include "core/result.h"
#include "disk/raw_device.h"
#include "image/crypto.h"
#include "image/hashing.h"
#include "image/image_reader.h"
#include "writer/progress.h"

namespace sw {

inline constexpr size_t kHeadLimit = 65536;

struct PipelineConfig {
    std::optional<CaptureRegion> capture;  // the signature block, hashed as zeros
    uint64_t image_size = 0;
    size_t chunk_size = 8388608;
    size_t buffer_count = 3;
    size_t head_limit = kHeadLimit;
    // When present, the streamed image must hash to it.
    std::optional<Sha256Digest> expected_digest;
    // When present, the capture region must hold exactly these bytes: the
    // hash sees that region as zeros, so only this comparison proves that
    // the signature block written is the one that was validated.
    std::optional<std::vector<uint8_t>> expected_capture;
    bool verify = true;
};

struct PipelineReport {
    Sha256Digest digest{};  // of the image as streamed (capture region as zeros)
    double write_seconds = 0;
    double flush_seconds = 0;
    double verify_seconds = 0;   // 0 when verification is off
    uint64_t bytes_written = 0;  // the image size rounded up to whole sectors
    bool verified = false;
};

struct PipelineError {
    enum class Kind {
        ImageRead,
        DeviceWrite,
        DeviceDisconnected,
        DeviceFlush,
        HashMismatch,
        ReadBack,
        ContentMismatch,
        DeviceTooSmall,
        Cancelled,
        Refused,
    };
    Kind kind = Kind::Cancelled;
    std::string detail;  // the underlying error's text, for the kinds that carry one

    static PipelineError of(Kind kind, std::string detail = {}) {
        return PipelineError{kind, std::move(detail)};
    }
    // "device write failed: …", "cancelled", …
    std::string text() const;

    friend bool operator==(const PipelineError&, const PipelineError&) = default;
};

// "ImageRead", "DeviceWrite", … for logs and tests.
std::string_view kind_name(PipelineError::Kind kind);

// A failed device operation as the pass reports it: Cancelled when it was
// stopped, DeviceDisconnected when the device is gone or not ready
// (unplugged, no medium, handle no longer valid), otherwise `otherwise` with
// the error's text.
PipelineError device_error(const OsError& error, PipelineError::Kind otherwise);

// Asked before writing, flushing and verifying: whether the drive is still
// the chosen one. Returns the reason when it is not.
using ReidentifyCheck = std::function<std::optional<std::string>(WritePhase)>;

// Runs the whole pass on the calling thread (plus the reader thread, and the
// read-back's device reader, both joined before returning). `device` knows
// the drive's size and logical sector size. The stop flag is honoured
// between buffers, inside a request that does not complete, and right
// before the head is written: a stopped pass never writes the head.
Result<PipelineReport, PipelineError> run_pipeline(const ImageReader& image, RawDevice& device,
                                                   const PipelineConfig& config,
                                                   const std::atomic<bool>& stop,
                                                   WriteProgress& progress,
                                                   const ReidentifyCheck& reidentify, Clock& clock);

inline uint64_t round_up(uint64_t value, uint64_t unit) {
    return (value + unit - 1) / unit * unit;
}

}  // namespace sw
