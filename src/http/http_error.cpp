#include "http/http_error.h"

#include "core/text.h"

namespace sw {

std::string HttpError::message() const {
    switch (kind) {
        case HttpErrorKind::Network:
            return fmt("network: {}", os.text);
        case HttpErrorKind::Status:
            return fmt("HTTP {}", status);
        case HttpErrorKind::TooLarge:
            return "response too large";
        case HttpErrorKind::File:
            return fmt("file: {}", os.text);
        case HttpErrorKind::Cancelled:
            return "cancelled";
        case HttpErrorKind::BadUrl:
            return "bad URL";
    }
    return "bad URL";
}

}  // namespace sw
