// Workers report to the window by sending one UiMessage each through a
// MessageSink; the window drains them in order on its own thread. Progress is
// not sent this way: workers publish it in shared records of atomic fields.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "core/result.h"
#include "disk/eject.h"
#include "disk/health.h"
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

// A drive scan's result: the drive list and the system facts gathered right
// after it.
struct DriveScanFinished {
    DriveScan scan;
};

// The drive check the window started has finished.
struct DriveCheckFinished {
    uint32_t number = 0;  // the disk that was checked
    HealthReport report;
};

// The eject the operator asked for has finished.
struct EjectFinished {
    EjectOutcome outcome;
};

// The write job is about to eject the drive (only when it was asked to eject).
struct WriteEjectStarted {};

// The write job's end: its report or its error.
struct WriteFinished {
    WriteResult result;
};

// Each subsystem adds the records it sends as alternatives here.
using UiMessage =
    std::variant<std::monostate, ImageInspected, ImageContentChecked, ReleaseInfoMessage,
                 DownloadFinishedMessage, UpdateNoticeMessage, DriveScanFinished,
                 DriveCheckFinished, EjectFinished, WriteEjectStarted, WriteFinished>;

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // Called from any worker thread; must not block for long.
    virtual void send(UiMessage message) = 0;
};

}  // namespace sw
