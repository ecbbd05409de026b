// Small blocking HTTPS requests made on worker threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "core/result.h"
#include "http/http_error.h"
#include "http/transport.h"

namespace sw {

// Opens a GET for an "https://" URL and waits for the response headers.
// Setting `cancel` ends the request, wherever it waits, as cancelled.
Result<std::unique_ptr<HttpResponse>, HttpError> http_get(
    std::string_view url, std::string_view extra_headers, HttpTransport& transport,
    const std::atomic<bool>& cancel = never_cancelled());

// A whole small response of status 200 as UTF-8 text of at most `max_bytes`
// bytes; larger is "response too large", other statuses are the status kind.
Result<std::string, HttpError> http_get_text(std::string_view url, size_t max_bytes,
                                             HttpTransport& transport,
                                             const std::atomic<bool>& cancel = never_cancelled());

}  // namespace sw
