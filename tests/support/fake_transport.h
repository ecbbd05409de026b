// An HTTP transport that answers from a script, for the download rules'
// tests: each request is recorded and handed to a handler that decides the
// answer, so a test can play a server that honours ranges, ignores them,
// drops connections or fails outright.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http/transport.h"

namespace sw::test {

struct RecordedRequest {
    std::string host;
    uint16_t port = 0;
    std::string path;
    std::string headers;  // the extra header text as sent
};

struct FakeAnswer {
    FakeAnswer(uint32_t status_code, std::optional<uint64_t> length = std::nullopt,
               std::string bytes = {})
        : status(status_code), content_length(length), body(std::move(bytes)) {}

    uint32_t status = 200;
    std::optional<uint64_t> content_length;
    std::string body;
    size_t chunk = 64 * 1024;               // at most this much per read
    std::optional<size_t> fail_after;       // the read after this many bytes fails
    std::optional<size_t> stall_after;      // the read after this many bytes waits for a cancel
    bool endless = false;                   // reads never end (their bytes are left as they are)
    std::function<void(uint64_t)> on_read;  // called with the bytes delivered so far
};

// Either an answer, a failure to connect, or a server that accepts the
// connection and never answers.
struct FakeStep {
    std::optional<FakeAnswer> answer;
    HttpError error{};
    bool silent = false;

    static FakeStep fail(HttpError e) { return {std::nullopt, std::move(e)}; }
    static FakeStep never_answer() {
        FakeStep step{std::nullopt, HttpError{}};
        step.silent = true;
        return step;
    }
    FakeStep(FakeAnswer a) : answer(std::move(a)) {}  // NOLINT: implicit on purpose

  private:
    FakeStep(std::optional<FakeAnswer> a, HttpError e)
        : answer(std::move(a)), error(std::move(e)) {}
};

// What a transport that honours its cancel flag does while the server is
// silent: waits until the flag is set and ends as cancelled. A minute
// without the flag means that the code under test never set (or never
// passed) it, and ends as a network failure rather than a hung test.
inline Result<void, HttpError> wait_for_cancel(const std::atomic<bool>& cancel) {
    const auto ceiling = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!cancel.load()) {
        if (std::chrono::steady_clock::now() > ceiling)
            return unexpected(
                HttpError::network_text("the silent test server was never cancelled"));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return unexpected(HttpError::cancelled());
}

class FakeTransport final : public HttpTransport {
  public:
    using Handler = std::function<FakeStep(const RecordedRequest&, size_t index)>;

    explicit FakeTransport(Handler handler = {}) : handler_(std::move(handler)) {}
    void set_handler(Handler handler) { handler_ = std::move(handler); }

    Result<std::unique_ptr<HttpResponse>, HttpError> get(const HttpsUrl& target,
                                                         std::string_view extra_headers,
                                                         const std::atomic<bool>& cancel) override {
        RecordedRequest request{target.host, target.port, target.path, std::string(extra_headers)};
        size_t index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            index = requests_.size();
            requests_.push_back(request);
        }
        FakeStep step = handler_ ? handler_(request, index) : FakeStep(FakeAnswer{404});
        if (step.silent) return unexpected(wait_for_cancel(cancel).error());
        if (!step.answer) return unexpected(step.error);
        return std::unique_ptr<HttpResponse>(
            std::make_unique<Response>(std::move(*step.answer), cancel));
    }

    std::vector<RecordedRequest> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

  private:
    class Response final : public HttpResponse {
      public:
        Response(FakeAnswer a, const std::atomic<bool>& cancel)
            : a_(std::move(a)), cancel_(cancel) {}
        uint32_t status() const override { return a_.status; }
        std::optional<uint64_t> content_length() const override { return a_.content_length; }
        Result<size_t, HttpError> read(std::span<uint8_t> buffer) override {
            if (a_.stall_after && sent_ >= *a_.stall_after)
                return unexpected(wait_for_cancel(cancel_).error());
            if (a_.fail_after && sent_ >= *a_.fail_after)
                return unexpected(HttpError::network_text("connection reset by the test server"));
            if (a_.endless) {
                size_t n = std::min(buffer.size(), a_.chunk);
                sent_ += n;
                if (a_.on_read) a_.on_read(sent_);
                return n;
            }
            size_t limit = a_.body.size();
            if (a_.fail_after) limit = std::min(limit, *a_.fail_after);
            if (a_.stall_after) limit = std::min(limit, *a_.stall_after);
            size_t n = std::min({buffer.size(), a_.chunk, limit - sent_});
            std::memcpy(buffer.data(), a_.body.data() + sent_, n);
            sent_ += n;
            if (a_.on_read) a_.on_read(sent_);
            return n;
        }

      private:
        FakeAnswer a_;
        const std::atomic<bool>& cancel_;
        size_t sent_ = 0;
    };

    Handler handler_;
    std::mutex mutex_;
    std::vector<RecordedRequest> requests_;
};

// The start of a "Range: bytes=N-" header, if the request has one.
inline std::optional<uint64_t> range_start(const RecordedRequest& r) {
    const std::string prefix = "Range: bytes=";
    if (!r.headers.starts_with(prefix)) return std::nullopt;
    return std::stoull(r.headers.substr(prefix.size()));
}

// A server that answers every request with `content`, honouring ranges the way
// a real one does (206 with the rest, 416 past the end).
inline FakeAnswer serve(const std::string& content, const RecordedRequest& r) {
    auto from = range_start(r);
    if (!from) return FakeAnswer{200, content.size(), content};
    if (*from >= content.size()) return FakeAnswer{416, 0, ""};
    std::string rest = content.substr(*from);
    return FakeAnswer{206, rest.size(), rest};
}

}  // namespace sw::test
