// The narrow interface between the HTTP rules and the operating system's
// HTTPS stack: open one GET, learn its status and length, read its body.
// WinHTTP implements it on Windows, libcurl on Linux; tests script it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "core/result.h"
#include "http/http_error.h"
#include "http/url.h"

namespace sw {

// An open response; destroying it closes the request and its connection.
// Its reads watch the cancel flag its request was sent with.
class HttpResponse {
  public:
    virtual ~HttpResponse() = default;
    virtual uint32_t status() const = 0;
    // The Content-Length header, when the server sent one.
    virtual std::optional<uint64_t> content_length() const = 0;
    // Reads the next body bytes into `buffer`; 0 at the end of the body.
    // Failures are of the network kind; cancelled once the flag is set.
    virtual Result<size_t, HttpError> read(std::span<uint8_t> buffer) = 0;
};

class HttpTransport {
  public:
    virtual ~HttpTransport() = default;
    // Sends a GET for `target` with the extra header lines (each ending in
    // CR LF; empty for none) and waits for the response headers. Failures are
    // of the network kind. Whatever the request is waiting for (the name, the
    // connection, the handshake, the headers, or later the body), it ends
    // with the cancelled kind within a fraction of a second of `cancel` being
    // set; the flag must outlive the response.
    virtual Result<std::unique_ptr<HttpResponse>, HttpError> get(
        const HttpsUrl& target, std::string_view extra_headers,
        const std::atomic<bool>& cancel) = 0;
};

// A cancel flag that is never set, for requests nobody stops.
const std::atomic<bool>& never_cancelled();

// WinHTTP on Windows, libcurl on Linux; one per process, usable from any thread.
HttpTransport& system_transport();

}  // namespace sw
