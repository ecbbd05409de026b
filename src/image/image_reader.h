// Random access to the bytes of an image file. Every image rule reads
// through this narrow interface, so the same code runs over a real file
// (a platform adapter), a buffer in memory (tests, fuzzing) or a reader that
// injects faults.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/os_error.h"
#include "core/result.h"

namespace sw {

class ImageReader {
  public:
    virtual ~ImageReader() = default;
    // The length of the image in bytes, taken when it was opened.
    virtual uint64_t size() const = 0;
    // Fills `out` with the bytes at `offset`. Anything less than all of them
    // is an error: the system's own, with its code and traits, or for a read
    // that ended early or lies past the end, `short_read_error()`.
    virtual Result<void, OsError> read_at(uint64_t offset, std::span<uint8_t> out) const = 0;
};

// The text of a read that ended before the requested bytes were all there.
inline constexpr std::string_view kShortReadText = "unexpected end of file";

inline OsError short_read_error() {
    return message_error(std::string(kShortReadText));
}

// Whether `error` says that the image ended before the bytes asked for.
inline bool is_short_read(const OsError& error) {
    return error.code == 0 && error.text == kShortReadText;
}

// An image held in memory. The bytes must outlive the reader.
class MemoryImageReader final : public ImageReader {
  public:
    explicit MemoryImageReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    explicit MemoryImageReader(std::string_view bytes)
        : bytes_(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) {}

    uint64_t size() const override { return bytes_.size(); }
    Result<void, OsError> read_at(uint64_t offset, std::span<uint8_t> out) const override;

  private:
    std::span<const uint8_t> bytes_;
};

// Opens an image file for reading (sharing read, write and delete access),
// and takes its length. Only regular files are images: a directory, a device,
// a pipe or a socket is refused with a clear text before anything is read,
// and opening never waits for a writer to appear. Implemented by the platform.
Result<std::unique_ptr<ImageReader>, std::string> open_image_file(const std::string& utf8_path);

}  // namespace sw
