// The failure of one HTTPS request or download, in a small closed set of kinds.
#pragma once

#include <cstdint>
#include <string>

#include "core/os_error.h"

namespace sw {

enum class HttpErrorKind {
    Network,    // "network: {}", retried by the download
    Status,     // "HTTP {}"
    TooLarge,   // "response too large"
    File,       // "file: {}"
    Cancelled,  // "cancelled"
    BadUrl,     // "bad URL"
};

struct HttpError {
    HttpErrorKind kind = HttpErrorKind::Network;
    OsError os;           // Network and File: the system's error or our own text
    uint32_t status = 0;  // Status: the HTTP status code

    static HttpError network(OsError e) { return {HttpErrorKind::Network, std::move(e), 0}; }
    static HttpError network_text(std::string text) {
        return network(message_error(std::move(text)));
    }
    static HttpError http_status(uint32_t code) { return {HttpErrorKind::Status, {}, code}; }
    static HttpError too_large() { return {HttpErrorKind::TooLarge, {}, 0}; }
    static HttpError file(OsError e) { return {HttpErrorKind::File, std::move(e), 0}; }
    static HttpError cancelled() { return {HttpErrorKind::Cancelled, {}, 0}; }
    static HttpError bad_url() { return {HttpErrorKind::BadUrl, {}, 0}; }

    std::string message() const;
};

}  // namespace sw
