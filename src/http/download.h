// Resumable download of a large file over HTTPS into a partial file, with
// retries of lost connections and, when the signed manifest is known, a final
// size and SHA-256 check. Blocks its worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "http/http_error.h"
#include "http/media.h"
#include "http/partial_file.h"
#include "http/transport.h"

namespace sw {

// Shared with the window, which reads it when it repaints; only the
// downloader writes it.
struct DownloadProgress {
    std::atomic<uint64_t> done{0};   // bytes in the file
    std::atomic<uint64_t> total{0};  // expected length; 0 until known
    std::atomic<uint32_t> retry{0};  // retry in progress; 0 for the first attempt

    void reset() {
        done = 0;
        total = 0;
        retry = 0;
    }
};

enum class DownloadOutcomeKind {
    Success,        // digest present when a manifest was given
    Cancelled,      // the cancel flag was seen; the partial file is kept
    Mismatch,       // size or hash differs from the manifest
    ResumeRefused,  // the server ignored the range request; the partial file is now empty
    Failed,         // message: the HttpError's text
};

struct DownloadOutcome {
    DownloadOutcomeKind kind = DownloadOutcomeKind::Failed;
    std::optional<Sha256Digest> digest;
    std::string message;
};

inline constexpr uint32_t kDownloadRetries = 4;
// Pieces read from the connection, or from the partial file when resuming, are
// at most this long; a few such buffers are in use at once (the hasher works
// on one while the next is received).
inline constexpr size_t kDownloadBufferBytes = 1024 * 1024;

// What the download runs on; tests replace each part.
struct DownloadServices {
    HttpTransport& transport;
    Clock& clock;
    PartialFileOpener open_file;
};

DownloadServices system_download_services();

// Downloads `url` into `partial_path`, resuming from its length. With a
// manifest, the result must match its size and sha256 (the signature block
// region hashed as zeros), and the digest is returned.
DownloadOutcome download_file(std::string_view url, const std::filesystem::path& partial_path,
                              const MediaManifest* manifest, const std::atomic<bool>& cancel,
                              DownloadProgress& progress,
                              const DownloadServices& services = system_download_services());

}  // namespace sw
