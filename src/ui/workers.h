// Every job the window starts on another thread, behind one narrow
// interface: the state machine and the window logic only ever call this, so
// tests can put a fake here and the real jobs can change how they report
// without touching the window's rules. Each job reports through the
// window's message queue.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/device_info.h"
#include "http/download.h"
#include "image/validation.h"
#include "machine/machine.h"
#include "ui/message_queue.h"
#include "writer/write_job.h"

namespace sw {

class UiWorkers {
  public:
    virtual ~UiWorkers() = default;
    // Sends DriveScanFinished.
    virtual void scan_drives(const std::optional<std::string>& image_path) = 0;
    // Sends ImageInspected and, for signed images, ImageContentChecked.
    virtual void validate(ValidationRequest request, std::shared_ptr<ValidationProgress> progress,
                          std::shared_ptr<const std::atomic<bool>> cancel) = 0;
    // Sends ReleaseInfoMessage, then DownloadFinishedMessage.
    virtual void download(std::filesystem::path folder, std::shared_ptr<DownloadProgress> progress,
                          std::shared_ptr<const std::atomic<bool>> stop) = 0;
    // The release descriptor (ReleaseInfoMessage) and the tool's own update
    // check (UpdateNoticeMessage when there is one).
    virtual void check_release_and_updates() = 0;
    // Sends DriveCheckFinished.
    virtual void check_drive(const DeviceInfo& drive) = 0;
    // Sends EjectFinished.
    virtual void eject(const DeviceInfo& drive) = 0;
    // Starts the write unless the chosen drive has left `current_drives`;
    // sends WriteEjectStarted (if asked to eject) and WriteFinished.
    virtual std::optional<WriteJob> start_write(const WriteChoice& choice,
                                                const std::vector<DeviceInfo>& current_drives) = 0;
    // Starts the restore of `drive` unless it has left `current_drives`;
    // sends RestoreFinished. Stopped as a write is, through stop_write.
    virtual std::optional<WriteJob> start_restore(
        const DeviceInfo& drive, const std::vector<DeviceInfo>& current_drives) = 0;
    // The operator's confirmed stop; the job ends as cancelled at its next check.
    virtual void stop_write(const WriteJob& write) = 0;
};

// The jobs of this program on `machine`, each on a thread of its own that
// holds the queue and the machine by shared ownership. The destructor waits
// a moment for the threads still running and then leaves them to finish on
// their own.
std::unique_ptr<UiWorkers> make_real_workers(std::shared_ptr<Machine> machine,
                                             std::shared_ptr<MessageQueue> queue);

}  // namespace sw
