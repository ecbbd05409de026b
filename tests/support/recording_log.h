// A log sink that keeps every line with its level, for tests; safe to feed
// from worker threads.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "disk/raw_device.h"
#include "logging/logger.h"

namespace sw::test {

struct RecordingLog {
    std::mutex mutex;
    std::vector<std::pair<LogLevel, std::string>> lines;

    LogSink sink() {
        return [this](LogLevel l, std::string_view t) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.emplace_back(l, std::string(t));
        };
    }
    std::vector<std::string> at(LogLevel level) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> out;
        for (const auto& [l, t] : lines)
            if (l == level) out.push_back(t);
        return out;
    }
    size_t count(LogLevel level) { return at(level).size(); }
};

}  // namespace sw::test
