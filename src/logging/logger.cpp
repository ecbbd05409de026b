#include "logging/logger.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "core/system.h"

namespace sw {
namespace {

std::mutex g_mutex;
std::optional<std::filesystem::path> g_path;
std::vector<LogObserver*> g_observers;

std::string two(unsigned v) {
    std::string s = std::to_string(v);
    return s.size() < 2 ? "0" + s : s;
}

std::string four(int64_t v) {
    std::string s = std::to_string(v);
    while (s.size() < 4)
        s = "0" + s;
    return s;
}

bool named(const std::filesystem::path& p, std::string_view prefix, std::string_view suffix) {
    std::u8string name = p.filename().u8string();
    std::string text(name.begin(), name.end());
    return is_valid_utf8(text) && text.starts_with(prefix) && text.ends_with(suffix);
}

// Deletes all but the last `keep` files named PREFIX…SUFFIX in `dir`, in the
// order `older` gives.
template <class Older>
void prune_files(const std::filesystem::path& dir, std::string_view prefix, std::string_view suffix,
                 size_t keep, Older older) {
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    std::filesystem::directory_iterator it(dir, ec), end;
    if (ec) return;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        if (named(it->path(), prefix, suffix) && it->is_regular_file(ec))
            files.push_back(it->path());
    }
    if (files.size() <= keep) return;
    std::sort(files.begin(), files.end(), older);
    for (size_t i = 0; i + keep < files.size(); ++i) {
        std::filesystem::remove(files[i], ec);  // a failed deletion still counts as removed
    }
}

void prune(const std::filesystem::path& dir) {
    // The names carry the start time, so their order is their age.
    prune_files(dir, "stickwright-", ".log", kOldLogsKept, std::less<>());
}

bool append(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::app);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

std::string_view level_word(LogLevel level) {
    switch (level) {
        case LogLevel::Info:
            return "INFO";
        case LogLevel::Warn:
            return "WARN";
        case LogLevel::Error:
            return "ERROR";
    }
    return "INFO";
}

CivilTime civil_from_unix(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    int64_t days = seconds / 86400;
    int64_t rem = seconds % 86400;
    // Days to civil date on the proleptic Gregorian calendar (eras of 400 years).
    int64_t z = days + 719468;
    int64_t era = z / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    return CivilTime{y,
                     static_cast<unsigned>(m),
                     static_cast<unsigned>(d),
                     static_cast<unsigned>(rem / 3600),
                     static_cast<unsigned>(rem % 3600 / 60),
                     static_cast<unsigned>(rem % 60)};
}

int64_t unix_seconds(std::chrono::system_clock::time_point t) {
    auto s = std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
    return s < 0 ? 0 : static_cast<int64_t>(s);
}

void prune_transcripts(const std::filesystem::path& directory) {
    // Transcripts are named by process number, which says nothing of age.
    auto written = [](const std::filesystem::path& p) {
        std::error_code ec;
        auto t = std::filesystem::last_write_time(p, ec);
        return ec ? std::filesystem::file_time_type::min() : t;
    };
    prune_files(directory, "cli-", ".txt", kOldLogsKept,
                [&](const std::filesystem::path& a, const std::filesystem::path& b) {
                    auto ta = written(a), tb = written(b);
                    return ta != tb ? ta < tb : a < b;
                });
}

std::string log_file_name(const CivilTime& t) {
    return "stickwright-" + four(t.year) + two(t.month) + two(t.day) + "-" + two(t.hour) +
           two(t.minute) + two(t.second) + ".log";
}

std::string log_line(const CivilTime& t, LogLevel level, std::string_view message) {
    std::string stamp = four(t.year) + "-" + two(t.month) + "-" + two(t.day) + "T" + two(t.hour) +
                        ":" + two(t.minute) + ":" + two(t.second) + "Z";
    return stamp + " " + pad_right(level_word(level), 5) + " " + replace_all(message, "\n", " | ") +
           "\n";
}

void Logger::init(const std::filesystem::path& directory) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec || !std::filesystem::is_directory(directory, ec)) return;
    prune(directory);
    auto file =
        directory / log_file_name(civil_from_unix(unix_seconds(std::chrono::system_clock::now())));
    if (!append(file, "")) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_path = file;
}

void Logger::write(LogLevel level, std::string_view message) {
    std::string line =
        log_line(civil_from_unix(unix_seconds(std::chrono::system_clock::now())), level, message);
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_path) append(*g_path, line);
    for (LogObserver* observer : g_observers)
        observer->logged(level, message);
}

void Logger::observe(LogObserver* observer) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_observers.push_back(observer);
}

void Logger::forget(LogObserver* observer) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::erase(g_observers, observer);
}

std::optional<std::filesystem::path> Logger::current_file() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_path;
}

void Logger::shut_down() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_path.reset();
}

std::optional<std::filesystem::path> log_directory() {
    std::filesystem::path base;
    // An empty variable counts as unset: it would put the logs in the
    // current directory.
    if (auto local = platform::env_var("LOCALAPPDATA"); local && !local->empty()) {
        base = path_from_utf8(*local);
    } else if (auto home = platform::env_var("HOME"); home && !home->empty()) {
        base = path_from_utf8(*home) / ".local" / "share";
    } else {
        return std::nullopt;
    }
    return base / "Ortivex" / "Stickwright" / "logs";
}

}  // namespace sw
