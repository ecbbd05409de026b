// The file a download grows in. It is opened for reading and writing, created
// when missing and kept when present, and shared for reading, writing and
// deleting, so that the window or a virus scanner looking at it never makes
// the download fail.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>

#include "core/os_error.h"
#include "core/result.h"

namespace sw {

class PartialFile {
  public:
    virtual ~PartialFile() = default;
    // Reads up to buffer.size() bytes at `offset`; fewer only at the end.
    virtual Result<size_t, OsError> read_at(uint64_t offset, std::span<uint8_t> buffer) = 0;
    // Writes all of `bytes` at `offset`.
    virtual Result<void, OsError> write_at(uint64_t offset, std::span<const uint8_t> bytes) = 0;
    // The length from the file's metadata.
    virtual Result<uint64_t, OsError> length() = 0;
    virtual Result<void, OsError> truncate() = 0;
};

using PartialFileOpener =
    std::function<Result<std::unique_ptr<PartialFile>, OsError>(const std::filesystem::path&)>;

// The operating system's files.
Result<std::unique_ptr<PartialFile>, OsError> open_partial_file(const std::filesystem::path& path);

// Moves `from` to `to`, replacing a file that is there.
Result<void, OsError> replace_file(const std::filesystem::path& from,
                                   const std::filesystem::path& to);

}  // namespace sw
