#include "platform/linux/http/curl_transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "core/version.h"
#include "core/text.h"

namespace sw {

namespace {

constexpr long kConnectTimeoutMs = 60'000;  // name resolution and connection, 30 s each on Windows
constexpr long kStallSeconds = 60;          // no byte for this long ends the request
constexpr long kReceiveBufferBytes = 512 * 1024;
// The longest wait for the network between two looks at the cancel flag.
constexpr int kCancelPollMs = 50;

void global_init() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HttpError curl_error(CURLcode code, const char* detail) {
    const char* text = (detail != nullptr && detail[0] != '\0') ? detail : curl_easy_strerror(code);
    return HttpError::network(OsError{static_cast<int>(code),
                                      fmt("{} (curl error {})", text, static_cast<int>(code)),
                                      code == CURLE_OPERATION_TIMEDOUT ? kTimedOut : 0u});
}

// One request on its own multi handle, so that the body can be pulled piece
// by piece: the write callback fills the reader's buffer and pauses the
// transfer when the buffer is full. Every wait for the network is short and
// followed by a look at the cancel flag.
class CurlResponse final : public HttpResponse {
  public:
    explicit CurlResponse(const std::atomic<bool>& cancel) : cancel_(cancel) {}
    ~CurlResponse() override {
        if (multi_ != nullptr && easy_ != nullptr) curl_multi_remove_handle(multi_, easy_);
        if (easy_ != nullptr) curl_easy_cleanup(easy_);
        if (multi_ != nullptr) curl_multi_cleanup(multi_);
        if (headers_ != nullptr) curl_slist_free_all(headers_);
        if (resolve_ != nullptr) curl_slist_free_all(resolve_);
    }

    Result<void, HttpError> start(const HttpsUrl& target, std::string_view extra_headers,
                                  const CurlOptions& options) {
        easy_ = curl_easy_init();
        multi_ = curl_multi_init();
        if (easy_ == nullptr || multi_ == nullptr)
            return unexpected(HttpError::network_text("libcurl could not start a request"));
        std::string url = fmt("https://{}:{}{}", target.host, target.port, target.path);
        std::string agent = fmt("Ortivex-Stickwright/{}", kVersion);
        for (size_t start = 0; start < extra_headers.size();) {
            size_t end = extra_headers.find("\r\n", start);
            if (end == std::string_view::npos) end = extra_headers.size();
            if (end > start)
                headers_ = curl_slist_append(
                    headers_, std::string(extra_headers.substr(start, end - start)).c_str());
            start = end + 2;
        }
        curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(easy_, CURLOPT_USERAGENT, agent.c_str());
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        // Cleaning up a cancelled request must not wait for a name lookup.
        curl_easy_setopt(easy_, CURLOPT_QUICK_EXIT, 1L);
        curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
        curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
        curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
        curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, error_);
        if (headers_ != nullptr) curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
#ifndef ORTIVEX_RELEASE
        if (!options.ca_file.empty())
            curl_easy_setopt(easy_, CURLOPT_CAINFO, options.ca_file.c_str());
        for (const std::string& entry : options.resolve)
            resolve_ = curl_slist_append(resolve_, entry.c_str());
        if (resolve_ != nullptr) curl_easy_setopt(easy_, CURLOPT_RESOLVE, resolve_);
#else
        (void)options;
#endif
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlResponse::on_header);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlResponse::on_body);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        if (curl_multi_add_handle(multi_, easy_) != CURLM_OK)
            return unexpected(HttpError::network_text("libcurl could not start a request"));

        while (!headers_done_ && !finished_) {
            if (auto r = perform(); !r) return r;
            if (headers_done_ || finished_) break;
            if (cancel_.load()) return unexpected(HttpError::cancelled());
            curl_multi_poll(multi_, nullptr, 0, kCancelPollMs, nullptr);
        }
        if (!headers_done_) {
            if (result_ != CURLE_OK) return unexpected(curl_error(result_, error_));
            return unexpected(HttpError::network_text("no response headers"));
        }
        long code = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
        status_ = static_cast<uint32_t>(code);
        curl_off_t length = -1;
        curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (length >= 0) length_ = static_cast<uint64_t>(length);
        return {};
    }

    uint32_t status() const override {
        return status_;
    }
    std::optional<uint64_t> content_length() const override {
        return length_;
    }

    Result<size_t, HttpError> read(std::span<uint8_t> buffer) override {
        if (buffer.empty()) return size_t{0};
        target_ = buffer.data();
        capacity_ = buffer.size();
        filled_ = 0;
        if (spill_pos_ < spill_.size()) {
            size_t n = std::min(capacity_, spill_.size() - spill_pos_);
            std::memcpy(target_, spill_.data() + spill_pos_, n);
            spill_pos_ += n;
            filled_ = n;
        }
        if (paused_ && filled_ < capacity_) {
            paused_ = false;
            // May hand over the held-back piece at once, through on_body.
            curl_easy_pause(easy_, CURLPAUSE_CONT);
        }
        Result<void, HttpError> failure;
        while (!finished_ && !paused_ && filled_ < capacity_) {
            size_t before = filled_;
            failure = perform();
            if (!failure) break;
            if (filled_ > before) continue;  // keep going while data flows
            if (filled_ > 0) break;          // hand over what there is rather than wait
            if (cancel_.load()) {
                failure = unexpected(HttpError::cancelled());
                break;
            }
            curl_multi_poll(multi_, nullptr, 0, kCancelPollMs, nullptr);
        }
        target_ = nullptr;
        if (filled_ > 0) return filled_;
        if (!failure) return unexpected(failure.error());
        if (finished_ && result_ != CURLE_OK) return unexpected(curl_error(result_, error_));
        return size_t{0};
    }

  private:
    Result<void, HttpError> perform() {
        int running = 0;
        CURLMcode mc = curl_multi_perform(multi_, &running);
        if (mc != CURLM_OK)
            return unexpected(HttpError::network_text(
                fmt("{} (curl multi error {})", curl_multi_strerror(mc), static_cast<int>(mc))));
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                finished_ = true;
                result_ = msg->data.result;
            }
        }
        return {};
    }

    static size_t on_header(char* data, size_t size, size_t count, void* self_ptr) {
        auto* self = static_cast<CurlResponse*>(self_ptr);
        size_t n = size * count;
        std::string_view line(data, n);
        if (line == "\r\n" || line == "\n") {
            long code = 0;
            curl_easy_getinfo(self->easy_, CURLINFO_RESPONSE_CODE, &code);
            if (code >= 200) self->headers_done_ = true;  // 1xx blocks are followed by the real one
        }
        return n;
    }

    static size_t on_body(char* data, size_t size, size_t count, void* self_ptr) {
        auto* self = static_cast<CurlResponse*>(self_ptr);
        size_t n = size * count;
        if (self->target_ == nullptr || self->filled_ == self->capacity_) {
            self->paused_ = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        size_t room = self->capacity_ - self->filled_;
        if (n <= room) {
            std::memcpy(self->target_ + self->filled_, data, n);
            self->filled_ += n;
            return n;
        }
        if (self->filled_ > 0) {
            self->paused_ = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        // A piece larger than the whole buffer: the rest waits in the spill.
        std::memcpy(self->target_, data, room);
        self->filled_ = room;
        self->spill_.assign(data + room, n - room);
        self->spill_pos_ = 0;
        return n;
    }

    const std::atomic<bool>& cancel_;
    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    curl_slist* headers_ = nullptr;
    curl_slist* resolve_ = nullptr;
    char error_[CURL_ERROR_SIZE] = {};
    bool headers_done_ = false;
    bool finished_ = false;
    bool paused_ = false;
    CURLcode result_ = CURLE_OK;
    uint32_t status_ = 0;
    std::optional<uint64_t> length_;
    uint8_t* target_ = nullptr;
    size_t capacity_ = 0;
    size_t filled_ = 0;
    std::string spill_;
    size_t spill_pos_ = 0;
};

}  // namespace

CurlTransport::CurlTransport(CurlOptions options) : options_(std::move(options)) {
    global_init();
}

Result<std::unique_ptr<HttpResponse>, HttpError> CurlTransport::get(
    const HttpsUrl& target, std::string_view extra_headers, const std::atomic<bool>& cancel) {
    auto response = std::make_unique<CurlResponse>(cancel);
    if (auto r = response->start(target, extra_headers, options_); !r) return unexpected(r.error());
    return std::unique_ptr<HttpResponse>(std::move(response));
}

HttpTransport& system_transport() {
    static CurlTransport transport;
    return transport;
}

}  // namespace sw
