// What the program logged while the recorder lived, each line with its
// level: an observer of the Logger for its lifetime, fed from any thread.
// Every recorder alive sees every line.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "logging/logger.h"

namespace sw::test {

class RecordingLog final : public LogObserver {
  public:
    RecordingLog() { Logger::observe(this); }
    ~RecordingLog() override { Logger::forget(this); }
    RecordingLog(const RecordingLog&) = delete;
    RecordingLog& operator=(const RecordingLog&) = delete;

    void logged(LogLevel level, std::string_view message) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.emplace_back(level, std::string(message));
    }

    std::vector<std::pair<LogLevel, std::string>> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    // The messages alone, in order.
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (auto& [level, text] : lines())
            out.push_back(text);
        return out;
    }
    std::vector<std::string> at(LogLevel level) const {
        std::vector<std::string> out;
        for (auto& [l, t] : lines())
            if (l == level) out.push_back(t);
        return out;
    }
    size_t count(LogLevel level) const { return at(level).size(); }

  private:
    mutable std::mutex mutex_;
    std::vector<std::pair<LogLevel, std::string>> lines_;
};

}  // namespace sw::test
