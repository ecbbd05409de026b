// Turns the run log on in a temporary directory for one test and reads back
// its messages (without timestamps).
#pragma once

#include <string>
#include <vector>

#include "logging/logger.h"
#include "support/temp_dir.h"

namespace sw::test {

class LogCapture {
  public:
    LogCapture() { Logger::init(dir_.path()); }
    ~LogCapture() { Logger::shut_down(); }

    // "LEVEL message" for every line so far, e.g. "WARN  download interrupted (...)".
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        auto file = Logger::current_file();
        if (!file) return out;
        std::string text = read_file(*file);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            size_t space = line.find(' ');  // after the timestamp
            if (space != std::string::npos) out.push_back(line.substr(space + 1));
            start = end + 1;
        }
        return out;
    }

    // Lines containing `needle`.
    std::vector<std::string> matching(const std::string& needle) const {
        std::vector<std::string> out;
        for (auto& l : lines()) {
            if (l.find(needle) != std::string::npos) out.push_back(l);
        }
        return out;
    }

  private:
    TempDir dir_;
};

}  // namespace sw::test
