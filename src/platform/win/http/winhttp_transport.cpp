// The product's HTTPS transport: WinHTTP, one session per request, the steps
// in the order the rules expect them, each on the request's own thread.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "core/version.h"
#include "core/text.h"
#include "http/request_thread.h"
#include "http/transport.h"
#include "platform/win/wide.h"

namespace sw {

namespace {

constexpr int kResolveTimeoutMs = 30'000;
constexpr int kConnectTimeoutMs = 30'000;
constexpr int kSendTimeoutMs = 30'000;
constexpr int kReceiveTimeoutMs = 60'000;

// WinHTTP's own errors (12001..12999) have their texts in winhttp.dll.
std::string error_message(DWORD code) {
    wchar_t* buffer = nullptr;
    HMODULE module = GetModuleHandleW(L"winhttp.dll");
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                  FORMAT_MESSAGE_IGNORE_INSERTS |
                  (module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : 0);
    DWORD n =
        FormatMessageW(flags, module, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (n != 0 && buffer != nullptr) text = std::string(trim(win::narrow(buffer, n)));
    if (buffer != nullptr) LocalFree(buffer);
    if (text.empty()) text = fmt("Unknown error {}", static_cast<unsigned long>(code));
    return text;
}

// A failed WinHTTP call: the network kind carrying GetLastError as an HRESULT
// (a Win32 code c becomes 0x80070000 | c).
HttpError winhttp_error() {
    DWORD code = GetLastError();
    int hresult = static_cast<int>(0x80070000u | (code & 0xFFFFu));
    OsError e = os_error(static_cast<int>(code));  // for the traits of the Win32 code
    e.code = hresult;
    e.text = fmt("{} (os error {})", error_message(code), hresult);
    return HttpError::network(std::move(e));
}

struct HandleCloser {
    void operator()(void* h) const { WinHttpCloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// One request's handles and the buffer its reads land in. The steps on the
// request's thread share it, so that a step the caller stopped waiting for
// still has all it uses.
struct RequestState {
    Handle session;
    Handle connection;
    Handle request;
    std::vector<uint8_t> buffer;

    ~RequestState() {
        // The request before its connection, the connection before its session.
        request.reset();
        connection.reset();
        session.reset();
    }
};

struct ResponseHead {
    uint32_t status = 0;
    std::optional<uint64_t> length;
};

std::optional<uint64_t> query_content_length(HINTERNET request) {
    ULONGLONG value = 0;
    DWORD size = sizeof value;
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER64,
                            WINHTTP_HEADER_NAME_BY_INDEX, &value, &size, WINHTTP_NO_HEADER_INDEX))
        return static_cast<uint64_t>(value);
    if (GetLastError() != ERROR_INVALID_PARAMETER) return std::nullopt;  // no such header
    // Older WinHTTP implementations (wine's among them) lack the 64-bit form:
    // read the header's text instead.
    wchar_t text[32];
    size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    auto number = parse_u64_decimal(trim(win::narrow(text, size / sizeof(wchar_t))));
    if (!number) return std::nullopt;
    return *number;
}

// Opens the request and waits for its headers.
Result<ResponseHead, HttpError> open_request(RequestState& state, const HttpsUrl& target,
                                             const std::wstring& headers) {
    std::wstring agent = win::widen(fmt("Ortivex-Stickwright/{}", kVersion));
    state.session.reset(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!state.session) return unexpected(winhttp_error());
    if (!WinHttpSetTimeouts(state.session.get(), kResolveTimeoutMs, kConnectTimeoutMs,
                            kSendTimeoutMs, kReceiveTimeoutMs))
        return unexpected(winhttp_error());

    std::wstring host = win::widen(target.host);
    state.connection.reset(WinHttpConnect(state.session.get(), host.c_str(), target.port, 0));
    if (!state.connection) return unexpected(winhttp_error());
    std::wstring path = win::widen(target.path);
    state.request.reset(WinHttpOpenRequest(state.connection.get(), L"GET", path.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           WINHTTP_FLAG_SECURE));
    if (!state.request) return unexpected(winhttp_error());
    HINTERNET request = state.request.get();
    // A redirect is an answer like any other: followed, it would take
    // the download to a host that was never checked.
    DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects,
                          sizeof no_redirects))
        return unexpected(winhttp_error());

    if (!WinHttpSendRequest(request,
                            headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                            static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        return unexpected(winhttp_error());
    if (!WinHttpReceiveResponse(request, nullptr)) return unexpected(winhttp_error());

    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return unexpected(winhttp_error());
    return ResponseHead{status, query_content_length(request)};
}

// Reads what has arrived, at most `want` bytes, into the state's buffer.
// Waiting for whatever has arrived, and reading only that, keeps the
// progress moving on a slow connection: a read asked for the whole buffer
// may wait until it is full (wine's does).
Result<size_t, HttpError> read_available(RequestState& state, size_t want) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(state.request.get(), &available))
        return unexpected(winhttp_error());
    if (available == 0) return size_t{0};
    DWORD n = static_cast<DWORD>(std::min<size_t>(want, available));
    if (state.buffer.size() < n) state.buffer.resize(n);
    DWORD got = 0;
    if (!WinHttpReadData(state.request.get(), state.buffer.data(), n, &got))
        return unexpected(winhttp_error());
    return static_cast<size_t>(got);
}

class WinHttpResponse final : public HttpResponse {
  public:
    WinHttpResponse(std::unique_ptr<RequestThread> thread, std::shared_ptr<RequestState> state,
                    ResponseHead head, const std::atomic<bool>& cancel)
        : thread_(std::move(thread)), state_(std::move(state)), head_(head), cancel_(cancel) {}

    uint32_t status() const override { return head_.status; }
    std::optional<uint64_t> content_length() const override { return head_.length; }

    Result<size_t, HttpError> read(std::span<uint8_t> buffer) override {
        const size_t want = buffer.size();
        auto got = thread_->run<size_t>(
            [state = state_, want] { return read_available(*state, want); }, cancel_);
        if (!got) return unexpected(got.error());
        std::memcpy(buffer.data(), state_->buffer.data(), *got);
        return *got;
    }

  private:
    std::unique_ptr<RequestThread> thread_;
    std::shared_ptr<RequestState> state_;
    ResponseHead head_;
    const std::atomic<bool>& cancel_;
};

// Every blocking call runs on the request's thread: a cancel then ends the
// wait at once, whatever WinHTTP is waiting for.
class WinHttpTransport final : public HttpTransport {
  public:
    Result<std::unique_ptr<HttpResponse>, HttpError> get(const HttpsUrl& target,
                                                         std::string_view extra_headers,
                                                         const std::atomic<bool>& cancel) override {
        auto thread = std::make_unique<RequestThread>();
        auto state = std::make_shared<RequestState>();
        auto head = thread->run<ResponseHead>(
            [state, target, headers = win::widen(extra_headers)] {
                return open_request(*state, target, headers);
            },
            cancel);
        if (!head) return unexpected(head.error());
        return std::unique_ptr<HttpResponse>(
            std::make_unique<WinHttpResponse>(std::move(thread), std::move(state), *head, cancel));
    }
};

}  // namespace

HttpTransport& system_transport() {
    static WinHttpTransport transport;
    return transport;
}

}  // namespace sw
