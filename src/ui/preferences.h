// The three preferences kept between runs in "settings.ini" beside the log
// directory. Reading never fails (anything unreadable gives the defaults)
// and writing failures are ignored: a preference is a convenience, never a
// reason to stop.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sw {

enum class Theme : uint8_t { System = 0, Light = 1, Dark = 2 };

// 0 English, 1 Spanish, 2 Chinese, 3 not set (detect).
inline constexpr uint8_t kLanguageNotSet = 3;

struct Preferences {
    Theme theme = Theme::System;
    uint8_t lang = kLanguageNotSet;
    bool verify = true;
    friend bool operator==(const Preferences&, const Preferences&) = default;
};

// The settings file for a log directory: its parent joined with "settings.ini".
std::optional<std::filesystem::path> settings_path(
    const std::optional<std::filesystem::path>& log_dir);

// The rules of reading, on the file's bytes.
Preferences parse_preferences(std::string_view content);
// "theme=…\nlang=…\nverify=…\n"; `lang` is the language in use (0–2).
std::string preferences_text(Theme theme, uint8_t lang, bool verify);

Preferences load_preferences_from(const std::optional<std::filesystem::path>& file);
// Creates the directory and its missing parents; false when nothing was written.
bool save_preferences_to(const std::optional<std::filesystem::path>& file, Theme theme,
                         uint8_t lang, bool verify);

// The same, at the file beside this run's log directory.
Preferences load_preferences();
void save_preferences(Theme theme, uint8_t lang, bool verify);

}  // namespace sw
