// Reading the written range back and hashing it with the same streaming hash
// that was computed over the image. The head is still zeros on the drive at
// this point (it is written last), so the read-back checks that those bytes
// are zero and hashes the saved head in their place: the digest can then be
// compared with the image's before the head is finally written.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/result.h"
#include "disk/raw_device.h"
#include "image/hashing.h"
#include "writer/pipeline.h"
#include "writer/progress.h"

namespace sw {

struct ReadBackPlan {
    uint64_t image_size = 0;
    std::optional<CaptureRegion> capture;
    size_t buffer_size = 8388608;  // a multiple of 64 KiB already
    size_t buffer_count = 3;       // 2..8 already
    uint32_t sector = 512;         // at least 512
    // The image's real head; its length is the head length.
    std::optional<std::span<const std::byte>> saved_head;
};

// Reads image_size bytes (in whole sectors) from offset 0 on a device-reader
// thread and hashes them on the calling thread, which also sets progress
// `done`. Returns the digest and the captured bytes, or Cancelled,
// DeviceDisconnected, ReadBack or ContentMismatch (a head that is not zero).
Result<HashResult, PipelineError> verify_read_back(RawDevice& device, const ReadBackPlan& plan,
                                                   const std::atomic<bool>& stop,
                                                   WriteProgress& progress);

}  // namespace sw
