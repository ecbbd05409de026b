// One plain-text log file per run in a per-user directory. Logging never
// changes what the program does: every failure here ends in silence.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sw {

enum class LogLevel { Info, Warn, Error };

// "INFO", "WARN" or "ERROR".
std::string_view level_word(LogLevel level);

// Receives every line as it is written, whether or not a file is open; a
// test installs one to see what was logged.
class LogObserver {
  public:
    virtual ~LogObserver() = default;
    virtual void logged(LogLevel level, std::string_view message) = 0;
};

class Logger {
  public:
    // Prepares the directory, prunes old run logs to the newest 19, creates
    // this run's file and turns logging on. Calling it again starts a new file.
    static void init(const std::filesystem::path& directory);
    // Appends one line; a no-op while logging is off.
    static void write(LogLevel level, std::string_view message);
    // The current file, if logging is on.
    static std::optional<std::filesystem::path> current_file();
    // Turns logging off again (tests).
    static void shut_down();
    // Hands every later line also to `observer`, until it is forgotten.
    // Observers must not log.
    static void observe(LogObserver* observer);
    static void forget(LogObserver* observer);
};

// LOCALAPPDATA/Ortivex/Stickwright/logs, or HOME/.local/share/Ortivex/Stickwright/logs.
std::optional<std::filesystem::path> log_directory();

struct CivilTime {
    int64_t year;
    unsigned month, day, hour, minute, second;
};
// Seconds since the Unix epoch (negative counts as 0) to a UTC date and time.
CivilTime civil_from_unix(int64_t seconds);
int64_t unix_seconds(std::chrono::system_clock::time_point t);

// "stickwright-20261207-122717.log"
std::string log_file_name(const CivilTime& t);
// "2026-12-07T12:27:17Z INFO  message | second line\n"
std::string log_line(const CivilTime& t, LogLevel level, std::string_view message);

inline constexpr size_t kOldLogsKept = 19;

// Deletes the oldest headless transcripts ("cli-{}.txt") so that the newest
// 19 remain, as for the run logs: with the one a run then creates, 20.
void prune_transcripts(const std::filesystem::path& directory);

}  // namespace sw
