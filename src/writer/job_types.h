// What a write job is asked to do and what it answers: the request, the
// report of a finished write and the job's errors with their texts.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/device_info.h"
#include "disk/eject.h"
#include "disk/facts.h"
#include "disk/raw_device.h"
#include "image/crypto.h"
#include "image/hashing.h"
#include "writer/pipeline.h"
#include "writer/progress.h"

namespace sw {

struct ImageInspection;

// The facts of a validated image that the job needs.
struct ImageFacts {
    std::string version;  // the version text ("unknown" when the image names none)
    uint64_t size = 0;
    std::optional<Sha256Digest> expected_digest;  // signed images
    std::optional<CaptureRegion> capture;         // the signature block, signed images
    std::vector<uint8_t> signature_block;         // its bytes as validated, signed images
};
ImageFacts image_facts_of(const ImageInspection& inspection);

// The settings both faces write with: unbuffered, depth 1, 1 MiB requests,
// 8 MiB chunks through 3 buffers.
IoConfig write_io_config();
inline constexpr size_t kWriteChunkSize = 8388608;
inline constexpr size_t kWriteBufferCount = 3;

struct WriteRequest {
    ImageFacts image;
    std::string image_path;
    DeviceInfo drive;  // as captured when it was chosen
    IoConfig io = write_io_config();
    size_t chunk_size = kWriteChunkSize;
    size_t buffer_count = kWriteBufferCount;
    bool verify = true;
    bool eject_when_done = false;
    // Shared with the observers.
    std::shared_ptr<WriteProgress> progress = std::make_shared<WriteProgress>();
    std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
    // Called on the job's thread right before it ejects the drive (only when
    // it was asked to eject); none headless.
    std::function<void()> eject_started;
};

struct WriteReport {
    PipelineReport pipeline;
    std::optional<EjectOutcome> eject;  // present when the job ejected the drive
};

struct JobError {
    enum class Kind {
        Pipeline,
        Protected,
        IdentityChanged,
        InUse,
        NotWritable,
        AccessDenied,
        Message
    };
    Kind kind = Kind::Message;
    PipelineError pipeline;         // Pipeline
    std::vector<Refusal> refusals;  // Protected
    std::string detail;             // the others

    static JobError of_pipeline(PipelineError error) {
        JobError e;
        e.kind = Kind::Pipeline;
        e.pipeline = std::move(error);
        return e;
    }
    static JobError protected_by(std::vector<Refusal> reasons) {
        JobError e;
        e.kind = Kind::Protected;
        e.refusals = std::move(reasons);
        return e;
    }
    static JobError of(Kind kind, std::string detail) {
        JobError e;
        e.kind = kind;
        e.detail = std::move(detail);
        return e;
    }

    // "drive protected: [SystemDrive]", the pipeline error's own text, …
    std::string text() const;
    bool is_cancelled() const {
        return kind == Kind::Pipeline && pipeline.kind == PipelineError::Kind::Cancelled;
    }
};

// "Pipeline", "Protected", … for logs and tests.
std::string_view kind_name(JobError::Kind kind);

using WriteResult = Result<WriteReport, JobError>;

}  // namespace sw
