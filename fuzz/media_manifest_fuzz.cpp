// The manifest rules. An accepted manifest must satisfy every rule, and
// writing it back as JSON must give the same manifest again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text.h"
#include "image/media_signature.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

std::string json_string(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto m = sw::parse_media_manifest(text);
    if (!m) {
        static const char* const kReasons[] = {"manifest is not JSON",
                                               "product",
                                               "version",
                                               "build",
                                               "architecture",
                                               "channel",
                                               "created",
                                               "size",
                                               "sha256",
                                               "sums_offset",
                                               "sums_len",
                                               "field"};
        check(std::find(std::begin(kReasons), std::end(kReasons), m.error()) != std::end(kReasons));
        return 0;
    }
    check(m->product == "Ortivex");
    check(m->sha256.size() == 64 &&
          m->sha256.find_first_not_of("0123456789abcdef") == std::string::npos);
    check(m->sums_len == 4096 && m->sums_offset % 2048 == 0);
    check(m->sums_offset < UINT64_MAX - 4095 && m->size >= m->sums_offset + 4096);
    for (const std::string* f :
         {&m->version, &m->build, &m->architecture, &m->channel, &m->created}) {
        check(!f->empty() && f->size() <= 64 && sw::is_valid_utf8(*f));
        check(std::none_of(f->begin(), f->end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
        }));
    }
    std::string again = sw::fmt(
        "{\"product\":{},\"version\":{},\"build\":{},\"architecture\":{},\"channel\":{},"
        "\"created\":{},\"size\":{},\"sha256\":{},\"sums_offset\":{},\"sums_len\":{}}",
        json_string(m->product), json_string(m->version), json_string(m->build),
        json_string(m->architecture), json_string(m->channel), json_string(m->created), m->size,
        json_string(m->sha256), m->sums_offset, m->sums_len);
    auto m2 = sw::parse_media_manifest(again);
    check(m2.has_value() && *m2 == *m);
    return 0;
}
