#include "runtime/thread.h"

#include <cstdio>
#include <cstdlib>

#include "core/text.h"
#include "logging/logger.h"

namespace sw {

void fatal(std::string_view text) {
    Logger::write(LogLevel::Error, text);
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
    std::abort();
}

std::string time_limit_text(std::string_view thread_name, unsigned seconds) {
    std::string text = fmt("{} did not finish within {} s", thread_name, seconds);
    Logger::write(LogLevel::Error, text);
    return text;
}

}  // namespace sw
