#include "image/image_reader.h"

#include <cstring>

namespace sw {

Result<void, OsError> MemoryImageReader::read_at(uint64_t offset, std::span<uint8_t> out) const {
    if (offset > bytes_.size() || out.size() > bytes_.size() - offset) {
        return unexpected(short_read_error());
    }
    if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
    return {};
}

}  // namespace sw
