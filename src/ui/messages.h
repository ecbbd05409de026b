// What workers report to the window. Each worker reports through a callback
// of its own result type (declared beside the worker); the window wraps each
// report in one UiMessage, queues it and drains the queue in order on its own
// thread. Progress is not sent this way: workers publish it in shared records
// of atomic fields.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "core/result.h"
#include "disk/eject.h"
#include "disk/health.h"
#include "http/release_info.h"
#include "image/validation.h"
#include "writer/job_types.h"
#include "writer/restore_job.h"

namespace sw {

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

// The restore job's end: what the drive now holds, or its error.
struct RestoreFinished {
    RestoreResult result;
};

using UiMessage = std::variant<std::monostate, ImageInspected, ImageContentChecked,
                               ReleaseInfoMessage, DownloadFinishedMessage, UpdateNoticeMessage,
                               DriveScanFinished, DriveCheckFinished, EjectFinished,
                               WriteEjectStarted, WriteFinished, RestoreFinished>;

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // Called from any worker thread; must not block for long.
    virtual void send(UiMessage message) = 0;
};

}  // namespace sw
