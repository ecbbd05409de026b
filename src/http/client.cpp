#include "http/client.h"

#include <cstdint>
#include <vector>

#include "core/text.h"

namespace sw {

const std::atomic<bool>& never_cancelled() {
    static const std::atomic<bool> never{false};
    return never;
}

Result<std::unique_ptr<HttpResponse>, HttpError> http_get(std::string_view url,
                                                          std::string_view extra_headers,
                                                          HttpTransport& transport,
                                                          const std::atomic<bool>& cancel) {
    auto target = request_target(url);
    if (!target) return unexpected(target.error());
    return transport.get(*target, extra_headers, cancel);
}

Result<std::string, HttpError> http_get_text(std::string_view url, size_t max_bytes,
                                             HttpTransport& transport,
                                             const std::atomic<bool>& cancel) {
    auto response = http_get(url, "", transport, cancel);
    if (!response) return unexpected(response.error());
    HttpResponse& r = **response;
    if (r.status() != 200) return unexpected(HttpError::http_status(r.status()));
    if (auto length = r.content_length(); length && *length > max_bytes)
        return unexpected(HttpError::too_large());

    std::string text;
    std::vector<uint8_t> buffer(16 * 1024);
    while (true) {
        auto n = r.read(buffer);
        if (!n) return unexpected(n.error());
        if (*n == 0) break;
        // Checked before appending, so a runaway body never grows past the limit.
        if (*n > max_bytes - text.size()) return unexpected(HttpError::too_large());
        text.append(reinterpret_cast<const char*>(buffer.data()), *n);
    }
    if (!is_valid_utf8(text)) return unexpected(HttpError::network_text("response is not UTF-8"));
    return text;
}

}  // namespace sw
