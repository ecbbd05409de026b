#include "i18n/strings.h"

#include "i18n/tables.h"

namespace sw {

Language language_from_value(uint8_t value) {
    return value > 2 ? Language::Chinese : static_cast<Language>(value);
}

const StringTable& string_table(Language language) {
    switch (language_from_value(static_cast<uint8_t>(language))) {
        case Language::English:
            return i18n_tables::kEnglish;
        case Language::Spanish:
            return i18n_tables::kSpanish;
        case Language::Chinese:
            return i18n_tables::kChinese;
    }
    return i18n_tables::kEnglish;
}

std::string_view text(Language language, TextId id) {
    return text(language, static_cast<size_t>(id));
}

std::string_view text(Language language, size_t position) {
    if (position >= kTextCount) return {};
    return string_table(language)[position];
}

namespace {

struct LanguageNames {
    std::string_view settings_word;
    std::string_view locale;
    std::string_view selector;
};

constexpr LanguageNames kNames[kLanguageCount] = {
    {"en", "en-us", "EN"},
    {"es", "es-mx", "ES"},
    {"zh", "zh-cn", "中文"},
};

const LanguageNames& names_of(Language language) {
    return kNames[static_cast<size_t>(language_from_value(static_cast<uint8_t>(language)))];
}

// Primary language identifiers (the low 10 bits of a LANGID).
constexpr uint16_t kPrimaryLanguageMask = 0x3FF;
constexpr uint16_t kLangChinese = 0x04;
constexpr uint16_t kLangSpanish = 0x0A;

}  // namespace

std::string_view settings_word(Language language) {
    return names_of(language).settings_word;
}

std::optional<Language> language_from_settings_word(std::string_view word) {
    for (Language language : kLanguages) {
        if (word == names_of(language).settings_word) return language;
    }
    return std::nullopt;
}

std::string_view locale_name(Language language) {
    return names_of(language).locale;
}

std::string_view selector_label(Language language) {
    return names_of(language).selector;
}

Language language_for_ui_language(uint16_t langid) {
    switch (langid & kPrimaryLanguageMask) {
        case kLangChinese:
            return Language::Chinese;
        case kLangSpanish:
            return Language::Spanish;
        default:
            return Language::English;
    }
}

Language choose_language(uint8_t saved, uint16_t ui_langid) {
    if (saved <= 2) return static_cast<Language>(saved);
    return language_for_ui_language(ui_langid);
}

Language choose_language(std::optional<Language> saved, uint16_t ui_langid) {
    return saved ? language_from_value(static_cast<uint8_t>(*saved))
                 : language_for_ui_language(ui_langid);
}

}  // namespace sw
