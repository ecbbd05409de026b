// Resumable download of a large file over HTTPS into a partial file, with
// retries of lost connections and, when the signed manifest is known, a final
// size and SHA-256 check. Blocks its worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
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
    TooLarge,       // without a manifest, the body went past kUnsignedDownloadLimit
    NoSpace,        // the file would leave less than kFreeSpaceReserve free on its disk
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

// The most a download without a signed size may write. Installation images
// run to a few gigabytes: this leaves them room to grow several times over,
// while a server whose body never ends is stopped long before it fills an
// ordinary disk.
inline constexpr uint64_t kUnsignedDownloadLimit = 16ull << 30;
// What a download leaves free on the disk it writes to, for the system and
// the user's other programs.
inline constexpr uint64_t kFreeSpaceReserve = 512ull << 20;

// What the download reaches outside itself: the network, the clock it waits
// on between attempts, its partial file and the free space of the disk that
// holds it. The Machine provides it; tests derive doubles from it.
class DownloadSystem {
  public:
    virtual ~DownloadSystem() = default;
    virtual HttpTransport& http() = 0;
    virtual Clock& clock() = 0;
    virtual Result<std::unique_ptr<PartialFile>, OsError> open_partial(
        const std::filesystem::path& path) = 0;
    // The bytes that may still be written in `folder`.
    virtual Result<uint64_t, OsError> free_space(const std::filesystem::path& folder) = 0;
};

// Downloads `url` into `partial_path`, resuming from its length. With a
// manifest, the result must match its size and sha256 (the signature block
// region hashed as zeros), and the digest is returned. The file never grows
// into the last kFreeSpaceReserve bytes of its disk, nor, without a
// manifest, past kUnsignedDownloadLimit.
DownloadOutcome download_file(std::string_view url, const std::filesystem::path& partial_path,
                              const MediaManifest* manifest, const std::atomic<bool>& cancel,
                              DownloadProgress& progress, DownloadSystem& system);

}  // namespace sw
