// Turns the run log on in a temporary directory for one test (so that the
// program has a log file to name) and records what was logged, as the file
// shows each line without its timestamp.
#pragma once

#include <string>
#include <vector>

#include "logging/logger.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"

namespace sw::test {

class LogCapture {
  public:
    LogCapture() { Logger::init(dir_.path()); }
    ~LogCapture() { Logger::shut_down(); }

    // "LEVEL message" for every line so far, e.g. "WARN  download interrupted (...)".
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        for (auto& [level, text] : recorded_.lines()) {
            std::string line = log_line(civil_from_unix(0), level, text);
            // After the timestamp, without the line feed.
            out.push_back(line.substr(line.find(' ') + 1, line.size() - line.find(' ') - 2));
        }
        return out;
    }

    // Lines containing `needle`.
    std::vector<std::string> matching(const std::string& needle) {
        std::vector<std::string> out;
        for (auto& l : lines()) {
            if (l.find(needle) != std::string::npos) out.push_back(l);
        }
        return out;
    }

  private:
    TempDir dir_;
    RecordingLog recorded_;
};

}  // namespace sw::test
