// Fuzzes the download rules that read text from the network or the
// environment, against properties that must hold for every input:
// - an accepted URL starts with "https://", has a host of 1..253 bytes made
//   of valid labels and a port 1..65535, and a path starting with "/";
// - trust follows from the parse: an image URL is on port 443 on a trusted
//   host itself, a download base ends in "/" without "?" or "#" and is on a
//   trusted host or a subdomain (checked against a second implementation);
// - the version comparison is irreflexive and never says both ways newer;
// - a release descriptor, whatever its text, is refused or names an image URL
//   that parses; file names keep to the safe characters.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http/release.h"
#include "http/url.h"

namespace {

const sw::TrustedHosts kHosts{"dl.ortivex.example", "eu.dl-ortivex.example"};

[[noreturn]] void fail(const char* what, std::string_view input) {
    std::fprintf(stderr, "download_rules_fuzz: %s\ninput: %.*s\n", what,
                 static_cast<int>(input.size()), input.data());
    std::abort();
}

bool label_ok(std::string_view l) {
    if (l.empty() || l.size() > 63 || l.front() == '-' || l.back() == '-') return false;
    for (char c : l) {
        bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool trusted(std::string_view host, bool subdomains) {
    std::string h = lower(host);
    for (std::string_view t : {kHosts.primary, kHosts.regional}) {
        if (h == t) return true;
        if (subdomains && h.size() > t.size() && h.substr(h.size() - t.size()) == t &&
            h[h.size() - t.size() - 1] == '.')
            return true;
    }
    return false;
}

void check_url(std::string_view input) {
    auto u = sw::parse_https_url(input);
    if (u) {
        if (input.substr(0, 8) != "https://") fail("accepted without https://", input);
        if (u->host.empty() || u->host.size() > 253) fail("host length", input);
        size_t start = 0;
        while (true) {
            size_t dot = u->host.find('.', start);
            if (!label_ok(std::string_view(u->host).substr(start, dot - start)))
                fail("bad label accepted", input);
            if (dot == std::string::npos) break;
            start = dot + 1;
        }
        if (u->port == 0) fail("port 0", input);
        if (u->path.empty() || u->path[0] != '/') fail("path", input);
    }
    bool image = sw::is_trusted_image_url(input, kHosts);
    if (image != (u && u->port == 443 && trusted(u->host, false))) fail("image URL rule", input);
    bool base = sw::is_valid_download_base(input, kHosts);
    bool expected = u && !input.empty() && input.back() == '/' &&
                    input.find_first_of("?#") == std::string_view::npos && trusted(u->host, true);
    if (base != expected) fail("download base rule", input);
}

void check_versions(std::string_view input) {
    size_t bar = input.find('|');
    std::string_view a = input.substr(0, bar);
    std::string_view b = bar == std::string_view::npos ? "1.3.1" : input.substr(bar + 1);
    auto ab = sw::is_newer_version(a, b);
    auto ba = sw::is_newer_version(b, a);
    if (ab.has_value() != ba.has_value()) fail("readability differs by order", input);
    if (ab && *ab && *ba) fail("both newer", input);
    if (auto aa = sw::is_newer_version(a, a); aa && *aa) fail("newer than itself", input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    check_url(input);
    check_versions(input);

    auto release = sw::check_release_descriptor(sw::default_download_base(), input);
    if (release && !sw::parse_https_url(release->image_url))
        fail("image URL does not parse", input);

    std::string name = sw::versioned_image_name(input);
    if (name.substr(0, 10) != "OrtivexOS-" || name.substr(name.size() - 4) != ".iso")
        fail("file name frame", input);
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '+' || c == '-' || c == '.' || c == '_';
        if (!ok) fail("unsafe file name character", input);
    }
    return 0;
}
