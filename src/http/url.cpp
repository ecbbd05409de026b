#include "http/url.h"

#include "core/text.h"
#include "http/download_hosts.h"

namespace sw {

namespace {

constexpr std::string_view kScheme = "https://";

bool is_label_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

bool is_valid_host(std::string_view host) {
    if (host.empty() || host.size() >= 254) return false;
    size_t start = 0;
    while (true) {
        size_t dot = host.find('.', start);
        std::string_view label = host.substr(
            start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (label.empty() || label.size() > 63) return false;
        if (label.front() == '-' || label.back() == '-') return false;
        for (char c : label) {
            if (!is_label_char(c)) return false;
        }
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

std::optional<uint16_t> parse_port(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    uint32_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > 65535) return std::nullopt;
    return static_cast<uint16_t>(value);
}

bool ends_with_subdomain_of(std::string_view host, std::string_view trusted) {
    return host.size() > trusted.size() + 1 && host.ends_with(trusted) &&
           host[host.size() - trusted.size() - 1] == '.';
}

}  // namespace

TrustedHosts configured_hosts() {
    return {kPrimaryDownloadHost, kRegionalDownloadHost};
}

std::optional<HttpsUrl> parse_https_url(std::string_view url) {
    for (char c : url) {
        if (c < 0x21 || c > 0x7E || c == '\\') return std::nullopt;
    }
    if (!url.starts_with(kScheme)) return std::nullopt;
    std::string_view rest = url.substr(kScheme.size());
    size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    HttpsUrl out;
    out.path = slash == std::string_view::npos ? "/" : std::string(rest.substr(slash));
    // A colon can only introduce the port: a user-info part ("user:pw@host")
    // or a bracketed address fails the host rules below.
    size_t colon = authority.find(':');
    std::string_view host = authority.substr(0, colon);
    if (colon != std::string_view::npos) {
        auto port = parse_port(authority.substr(colon + 1));
        if (!port) return std::nullopt;
        out.port = *port;
    }
    if (!is_valid_host(host)) return std::nullopt;
    out.host = std::string(host);
    return out;
}

bool is_trusted_host(std::string_view host, bool allow_subdomains, const TrustedHosts& hosts) {
    std::string lower = ascii_lower(host);
    for (std::string_view trusted : {hosts.primary, hosts.regional}) {
        if (lower == trusted) return true;
        if (allow_subdomains && ends_with_subdomain_of(lower, trusted)) return true;
    }
    return false;
}

bool is_trusted_image_url(std::string_view url, const TrustedHosts& hosts) {
    auto parsed = parse_https_url(url);
    return parsed && parsed->port == 443 && is_trusted_host(parsed->host, false, hosts);
}

bool is_valid_download_base(std::string_view url, const TrustedHosts& hosts) {
    if (!url.ends_with('/')) return false;
    if (url.find('?') != std::string_view::npos || url.find('#') != std::string_view::npos)
        return false;
    auto parsed = parse_https_url(url);
    return parsed && is_trusted_host(parsed->host, true, hosts);
}

Result<HttpsUrl, HttpError> request_target(std::string_view url) {
    auto parsed = parse_https_url(url);
    if (!parsed) return unexpected(HttpError::bad_url());
    return std::move(*parsed);
}

}  // namespace sw
