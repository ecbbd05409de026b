// Ejecting a finished drive, and refreshing the drive list when drives come
// and go.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "disk/device_info.h"
#include "disk/facts.h"

namespace sw {

class MessageSink;

// Success, or why the drive could not be ejected.
using EjectOutcome = Result<void, std::string>;
// Ok(()) or Err("…")
std::string debug_string(const EjectOutcome& outcome);

// Re-identifies the drive and asks the system to eject it (up to three
// attempts); when that fails, asks the system to re-read the disk's layout.
EjectOutcome eject_drive(const DeviceInfo& drive);

// eject_drive on a worker thread of its own; logs the outcome and sends it to
// the window.
void eject_on_request(const DeviceInfo& drive, MessageSink& sink);

// One drive scan: the drive list and the system facts gathered right after it.
struct DriveScan {
    std::vector<DeviceInfo> drives;
    SystemFacts facts;
};
// Lists the drives, gathers the facts (with the selected image) and sends
// the result to the window.
void refresh_drives(const std::optional<std::string>& image_path, MessageSink& sink);

}  // namespace sw
