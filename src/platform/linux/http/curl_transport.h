// The HTTPS transport of the Linux build: libcurl, HTTPS only, no redirects
// followed, the system's certificate store, timeouts like the Windows build's.
#pragma once

#include <string>
#include <vector>

#include "http/transport.h"

namespace sw {

struct CurlOptions {
#ifndef ORTIVEX_RELEASE
    // Development builds only: trust this CA file instead of the system store,
    // and "host:port:address" entries that bypass the resolver. The tests
    // and the benchmark use them to reach the local servers.
    std::string ca_file;
    std::vector<std::string> resolve;
#endif
};

class CurlTransport final : public HttpTransport {
  public:
    explicit CurlTransport(CurlOptions options = {});
    Result<std::unique_ptr<HttpResponse>, HttpError> get(const HttpsUrl& target,
                                                         std::string_view extra_headers,
                                                         const std::atomic<bool>& cancel) override;

  private:
    CurlOptions options_;
};

}  // namespace sw
