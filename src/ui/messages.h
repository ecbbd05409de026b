// Workers report to the window by sending one UiMessage each through a
// MessageSink; the window drains them in order on its own thread. Progress is
// not sent this way: workers publish it in shared records of atomic fields.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "core/result.h"
#include "image/validation.h"
#include "http/release_info.h"
#include "writer/job_types.h"

namespace sw {

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

// The write job is about to eject the drive (only when it was asked to eject).
struct WriteEjectStarted {};

// The write job's end: its report or its error.
struct WriteFinished {
    WriteResult result;
};

// Each subsystem adds the records it sends as alternatives here.
using UiMessage = std::variant<std::monostate, ImageInspected, ImageContentChecked,
                               ReleaseInfoMessage, DownloadFinishedMessage, UpdateNoticeMessage,
                               WriteEjectStarted, WriteFinished>;

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // Called from any worker thread; must not block for long.
    virtual void send(UiMessage message) = 0;
};

}  // namespace sw
