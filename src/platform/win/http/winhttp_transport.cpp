// The product's HTTPS transport: WinHTTP, one session per request, the steps
// in the order the rules expect them.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <memory>

#include "app/version.h"
#include "core/text.h"
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

class WinHttpResponse final : public HttpResponse {
  public:
    WinHttpResponse(Handle session, Handle connection, Handle request, uint32_t status,
                    std::optional<uint64_t> length)
        : session_(std::move(session)),
          connection_(std::move(connection)),
          request_(std::move(request)),
          status_(status),
          length_(length) {}
    ~WinHttpResponse() override {
        // The request before its connection, the connection before its session.
        request_.reset();
        connection_.reset();
        session_.reset();
    }

    uint32_t status() const override { return status_; }
    std::optional<uint64_t> content_length() const override { return length_; }

    Result<size_t, HttpError> read(std::span<uint8_t> buffer) override {
        // Waiting for whatever has arrived, and reading only that, keeps a
        // stop responsive on a slow connection: a read asked for the whole
        // buffer may wait until it is full (wine's does).
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request_.get(), &available))
            return unexpected(winhttp_error());
        if (available == 0) return size_t{0};
        DWORD want = static_cast<DWORD>(std::min<size_t>(buffer.size(), available));
        DWORD got = 0;
        if (!WinHttpReadData(request_.get(), buffer.data(), want, &got))
            return unexpected(winhttp_error());
        return static_cast<size_t>(got);
    }

  private:
    Handle session_;
    Handle connection_;
    Handle request_;
    uint32_t status_;
    std::optional<uint64_t> length_;
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

class WinHttpTransport final : public HttpTransport {
  public:
    Result<std::unique_ptr<HttpResponse>, HttpError> get(const HttpsUrl& target,
                                                         std::string_view extra_headers) override {
        std::wstring agent = win::widen(fmt("Ortivex-Stickwright/{}", kVersion));
        Handle session(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session) return unexpected(winhttp_error());
        if (!WinHttpSetTimeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                                kReceiveTimeoutMs))
            return unexpected(winhttp_error());

        std::wstring host = win::widen(target.host);
        Handle connection(WinHttpConnect(session.get(), host.c_str(), target.port, 0));
        if (!connection) return unexpected(winhttp_error());
        std::wstring path = win::widen(target.path);
        Handle request(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          WINHTTP_FLAG_SECURE));
        if (!request) return unexpected(winhttp_error());
        // A redirect is an answer like any other: followed, it would take
        // the download to a host that was never checked.
        DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
        if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects,
                              sizeof no_redirects))
            return unexpected(winhttp_error());

        std::wstring headers = win::widen(extra_headers);
        if (!WinHttpSendRequest(
                request.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
            return unexpected(winhttp_error());
        if (!WinHttpReceiveResponse(request.get(), nullptr)) return unexpected(winhttp_error());

        DWORD status = 0;
        DWORD size = sizeof status;
        if (!WinHttpQueryHeaders(
                request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
            return unexpected(winhttp_error());
        std::optional<uint64_t> length = query_content_length(request.get());
        return std::unique_ptr<HttpResponse>(std::make_unique<WinHttpResponse>(
            std::move(session), std::move(connection), std::move(request), status, length));
    }
};

}  // namespace

HttpTransport& system_transport() {
    static WinHttpTransport transport;
    return transport;
}

}  // namespace sw
