#include "ui/preferences.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "core/text.h"
#include "logging/logger.h"

namespace sw {

std::optional<std::filesystem::path> settings_path(
    const std::optional<std::filesystem::path>& log_dir) {
    if (!log_dir || log_dir->empty()) return std::nullopt;
    return log_dir->parent_path() / "settings.ini";
}

Preferences parse_preferences(std::string_view content) {
    Preferences p;
    if (!is_valid_utf8(content)) return p;
    size_t start = 0;
    while (start <= content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string_view::npos) end = content.size();
        std::string_view line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t eq = line.find('=');
        if (eq != std::string_view::npos) {
            std::string_view key = trim(line.substr(0, eq));
            std::string_view value = trim(line.substr(eq + 1));
            if (key == "theme") {
                p.theme = value == "light"  ? Theme::Light
                          : value == "dark" ? Theme::Dark
                                            : Theme::System;
            } else if (key == "lang") {
                if (value == "en") p.lang = 0;
                if (value == "es") p.lang = 1;
                if (value == "zh") p.lang = 2;
            } else if (key == "verify") {
                if (value == "off") p.verify = false;
            }
        }
        if (end == content.size()) break;
        start = end + 1;
    }
    return p;
}

std::string preferences_text(Theme theme, uint8_t lang, bool verify) {
    std::string_view theme_word = theme == Theme::Light  ? "light"
                                  : theme == Theme::Dark ? "dark"
                                                         : "system";
    std::string_view lang_word = lang == 1 ? "es" : lang == 2 ? "zh" : "en";
    return fmt("theme={}\nlang={}\nverify={}\n", theme_word, lang_word, verify ? "on" : "off");
}

Preferences load_preferences_from(const std::optional<std::filesystem::path>& file) {
    if (!file) return {};
    std::ifstream in(*file, std::ios::binary);
    if (!in) return {};
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return {};
    return parse_preferences(content.str());
}

bool save_preferences_to(const std::optional<std::filesystem::path>& file, Theme theme,
                         uint8_t lang, bool verify) {
    if (!file) return false;
    std::error_code ec;
    std::filesystem::create_directories(file->parent_path(), ec);
    if (ec) return false;
    std::ofstream out(*file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << preferences_text(theme, lang, verify);
    out.flush();
    return static_cast<bool>(out);
}

Preferences load_preferences() {
    return load_preferences_from(settings_path(log_directory()));
}

void save_preferences(Theme theme, uint8_t lang, bool verify) {
    save_preferences_to(settings_path(log_directory()), theme, lang, verify);
}

}  // namespace sw
