// Which addresses the client may fetch from: HTTPS URLs on the vendor's two
// download hosts (and, for an overriding download base, their subdomains).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"
#include "http/http_error.h"

namespace sw {

struct HttpsUrl {
    std::string host;  // as written in the URL
    uint16_t port = 443;
    std::string path;  // from the first "/" after the authority; "/" when there is none
};

// The two trusted host names, lower case.
struct TrustedHosts {
    std::string_view primary;
    std::string_view regional;
};

// The hosts this build was configured with.
TrustedHosts configured_hosts();

// Printable ASCII without space and backslash, "https://", an authority of a
// host of dot-separated labels (letters, digits, inner "-"; 1..63 each, fewer
// than 254 bytes in all) and an optional port 1..65535; no user-info.
std::optional<HttpsUrl> parse_https_url(std::string_view url);

// The host, ASCII letters compared without case, is one of the trusted hosts
// or, when subdomains are allowed, ends with "." and one of them.
bool is_trusted_host(std::string_view host, bool allow_subdomains,
                     const TrustedHosts& hosts = configured_hosts());

// An image address: parses, port 443, a trusted host itself (no subdomain).
bool is_trusted_image_url(std::string_view url, const TrustedHosts& hosts = configured_hosts());

// A download base: ends with "/", has no "?" or "#", parses, and its host is
// trusted or a subdomain of a trusted host (any port).
bool is_valid_download_base(std::string_view url, const TrustedHosts& hosts = configured_hosts());

// Host, port and path of a URL to request; "bad URL" unless it parses.
Result<HttpsUrl, HttpError> request_target(std::string_view url);

}  // namespace sw
