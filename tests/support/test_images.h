// The ISO images mastered by scripts/make-test-images.py for this test run,
// and what xorriso reported about them (facts.json).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "image/crypto.h"
#include "image/iso9660.h"

namespace sw::test {

// The directory named by STICKWRIGHT_TEST_IMAGES; the test fails when unset.
std::filesystem::path test_images_dir();
// The image's path as UTF-8 text, for open_image_file.
std::string test_image_path(const std::string& name);
// The whole image file.
std::string load_test_image(const std::string& name);

// xorriso's list of an image's data files (path, offset, size), in its order.
std::vector<ImageFile> xorriso_files(const std::string& name);
// A number recorded for an image in facts.json (e.g. "block_offset").
std::optional<uint64_t> image_fact(const std::string& name, const std::string& key);

// The repository's development signing key (keys/dev-media-ed25519.secret).
Ed25519Seed development_seed();

// A byte of an in-memory image, for patching.
inline uint8_t& byte_at(std::string& image, uint64_t offset) {
    return reinterpret_cast<uint8_t&>(image.at(offset));
}

}  // namespace sw::test
