#include "support/test_images.h"

#include <gtest/gtest.h>

#include "core/paths.h"
#include "hex/hex.h"
#include "json/json.h"
#include "core/system.h"
#include "support/temp_dir.h"

namespace sw::test {

std::filesystem::path test_images_dir() {
    auto dir = platform::env_var("STICKWRIGHT_TEST_IMAGES");
    if (!dir || dir->empty()) {
        ADD_FAILURE() << "STICKWRIGHT_TEST_IMAGES is not set (run the tests through ctest)";
        return {};
    }
    return path_from_utf8(*dir);
}

std::string test_image_path(const std::string& name) {
    return utf8_of(test_images_dir() / name);
}

std::string load_test_image(const std::string& name) {
    auto path = test_images_dir() / name;
    std::string bytes = read_file(path);
    if (bytes.empty()) ADD_FAILURE() << "test image missing or empty: " << utf8_of(path);
    return bytes;
}

namespace {
const JsonValue* facts_of(const std::string& name) {
    static const std::optional<JsonValue> facts = []() -> std::optional<JsonValue> {
        auto parsed = parse_json(read_file(test_images_dir() / "facts.json"));
        if (!parsed) return std::nullopt;
        return std::move(*parsed);
    }();
    if (!facts) {
        ADD_FAILURE() << "facts.json missing or not JSON";
        return nullptr;
    }
    auto it = facts->object.find(name);
    if (it == facts->object.end()) {
        ADD_FAILURE() << "no facts for " << name;
        return nullptr;
    }
    return &it->second;
}
}  // namespace

std::vector<ImageFile> xorriso_files(const std::string& name) {
    std::vector<ImageFile> out;
    const JsonValue* f = facts_of(name);
    if (f == nullptr) return out;
    auto it = f->object.find("files");
    if (it == f->object.end()) return out;
    for (const JsonValue& e : it->second.array) {
        out.push_back({std::string(json_member_str(e, "path").value_or("")),
                       json_member_u64(e, "offset").value_or(0),
                       static_cast<uint32_t>(json_member_u64(e, "size").value_or(0))});
    }
    return out;
}

std::optional<uint64_t> image_fact(const std::string& name, const std::string& key) {
    const JsonValue* f = facts_of(name);
    if (f == nullptr) return std::nullopt;
    return json_member_u64(*f, key);
}

Ed25519Seed development_seed() {
    Ed25519Seed seed{};
    auto root = platform::env_var("STICKWRIGHT_SOURCE_DIR").value_or(".");
    std::string text = read_file(path_from_utf8(root) / "keys" / "dev-media-ed25519.secret");
    auto bytes = hex_decode(text.substr(0, 64));
    if (!bytes || bytes->size() != 32) {
        ADD_FAILURE() << "keys/dev-media-ed25519.secret unreadable";
        return seed;
    }
    std::copy(bytes->begin(), bytes->end(), seed.begin());
    return seed;
}

}  // namespace sw::test
