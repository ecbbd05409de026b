// The download service: the signed release descriptor, the image download
// job and the tool's update check. Both jobs run on worker threads and report
// through callbacks of their own report types.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>

#include "core/result.h"
#include "http/descriptor.h"
#include "http/download.h"
#include "http/media.h"
#include "http/release_info.h"

namespace sw {

// Fetches and checks base + "OrtivexOS-Lastest.json"; logs why there is none.
std::optional<ReleaseInfo> fetch_release_info(std::string_view base, HttpTransport& transport,
                                              const std::atomic<bool>& cancel = never_cancelled());

using DownloadReport = std::variant<ReleaseInfoMessage, DownloadFinishedMessage>;
// Called on the job's thread; whatever it reaches it must own a share of.
using DownloadReporter = std::function<void(DownloadReport)>;

// The download job: descriptor, image into `folder`, rename, one
// "download finished" report (after one "release information" report).
void run_image_download(const std::filesystem::path& folder, const std::atomic<bool>& cancel,
                        DownloadProgress& progress, const DownloadReporter& report,
                        DownloadSystem& system);

// The update check: a notice when a newer release of this tool exists.
std::optional<UpdateNoticeMessage> run_update_check(HttpTransport& transport);

}  // namespace sw
