// The three string tables: complete, aligned position by position, and the
// language choice at start.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/text.h"
#include "i18n/format.h"
#include "i18n/strings.h"

namespace sw {
namespace {

std::string lang_name(Language language) {
    return std::string(settings_word(language));
}

TEST(I18nTables, EveryTextIsPresentValidAndTidy) {
    for (Language language : kLanguages) {
        const StringTable& table = string_table(language);
        ASSERT_EQ(table.size(), 188u);
        for (size_t i = 0; i < table.size(); ++i) {
            SCOPED_TRACE(lang_name(language) + " " + std::to_string(i));
            std::string_view t = table[i];
            EXPECT_FALSE(t.empty());
            EXPECT_TRUE(is_valid_utf8(t));
            EXPECT_EQ(trim(t), t) << "surrounding blanks";
            // A brace that is not part of "{}" is a broken placeholder.
            std::string rest = replace_all(t, "{}", "");
            EXPECT_EQ(rest.find_first_of("{}"), std::string::npos) << t;
        }
    }
}

TEST(I18nTables, PlaceholderCountsMatchEnglishAtEveryPosition) {
    const StringTable& en = string_table(Language::English);
    for (Language language : {Language::Spanish, Language::Chinese}) {
        const StringTable& table = string_table(language);
        for (size_t i = 0; i < kTextCount; ++i) {
            EXPECT_EQ(placeholder_count(table[i]), placeholder_count(en[i]))
                << lang_name(language) << " " << i << ": " << table[i];
        }
    }
}

// Only names and language-neutral templates may stay as in English; any
// other equal text is an untranslated row.
TEST(I18nTables, TranslatedExceptNamesAndNeutralTemplates) {
    const StringTable& en = string_table(Language::English);
    auto same_as_english = [&](Language language) {
        std::set<size_t> same;
        const StringTable& table = string_table(language);
        for (size_t i = 0; i < kTextCount; ++i) {
            if (table[i] == en[i]) same.insert(i);
        }
        return same;
    };
    // Spanish writes the speed as English does ("{}/s"), and a label with
    // its value and a list of texts with the same marks.
    EXPECT_EQ(same_as_english(Language::Spanish), (std::set<size_t>{41, 49, 50, 91, 92, 163, 164}));
    EXPECT_EQ(same_as_english(Language::Chinese), (std::set<size_t>{41, 49, 50, 91}));
}

TEST(I18nTables, NamedPositionsHoldTheirTexts) {
    // A name bound to the wrong position would show the wrong text everywhere.
    struct Row {
        TextId id;
        size_t position;
        std::string_view english;
    };
    const Row rows[] = {
        {TextId::BuildNumber, 0, "Build {}"},
        {TextId::PrepareClearing, 39, "Clearing old partitions"},
        {TextId::LanguageName, 40, "English"},
        {TextId::AppName, 41, "Ortivex Stickwright"},
        {TextId::SelectIso, 47, "Select ISO"},
        {TextId::TooSmallNeeds, 64, "Too small · needs {}"},
        {TextId::ProtectedReason, 65, "Protected · {}"},
        {TextId::RefusalUndetermined, 73, "safety check unavailable"},
        {TextId::DiskNumber, 74, "Disk {}"},
        {TextId::AmountOfTotal, 91, "{} / {}"},
        {TextId::PerSecond, 92, "{}/s"},
        {TextId::Minutes, 98, "{} minutes"},
        {TextId::WrittenAndVerifiedAt, 110, "Written at {} · verified at {}"},
        {TextId::ProtectedTitle, 131, "This drive is protected."},
        {TextId::VerdictUnreadable, 143, "The image file could not be read."},
        {TextId::RetryingConnection, 149, "Connection lost. Retrying ({} of {})…"},
        {TextId::FooterLine, 156, "VOSKET · Official installation media"},
        {TextId::IsoFileFilter, 160, "Ortivex image (*.iso)"},
        {TextId::DownloadTooLarge, 161, "The file is larger than any Ortivex image."},
        {TextId::DownloadNoSpace, 162, "Not enough free space in the Downloads folder."},
        {TextId::LabelValue, 163, "{}: {}"},
        {TextId::DriveConnected, 167, "{} connected"},
        {TextId::Copied, 170, "Copied"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(static_cast<size_t>(row.id), row.position);
        EXPECT_EQ(text(Language::English, row.id), row.english);
        EXPECT_EQ(text(Language::English, row.position), row.english);
    }
}

TEST(I18nTables, GivenSpanishAndChineseRowsAreKeptExactly) {
    struct Row {
        size_t position;
        std::string_view spanish;
        std::string_view chinese;
    };
    const Row rows[] = {
        {0, "Compilación {}", "内部版本 {}"},
        {40, "Español", "中文"},
        {55, "Verificando la integridad de la imagen · {}%", "正在验证映像完整性 · {}%"},
        {76, "¿Borrar {}?", "要清除 {} 吗？"},
        {92, "{}/s", "{}/秒"},
        {93, "Faltan unos {}", "大约还剩 {}"},
        {96, "{} segundos", "{} 秒"},
        {144, "Descargando Ortivex {}", "正在下载 Ortivex {}"},
        {149, "Se perdió la conexión. Reintentando ({} de {})…",
         "连接中断。正在重试（第 {} 次，共 {} 次）…"},
        {150, "Hay una nueva versión de Stickwright: {}.", "Stickwright {} 现已推出。"},
        {152, "Sistema", "跟随系统"},
        {157, "Se está creando una unidad USB.", "正在创建 USB 驱动器。"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(text(Language::Spanish, row.position), row.spanish) << row.position;
        EXPECT_EQ(text(Language::Chinese, row.position), row.chinese) << row.position;
    }
}

TEST(I18nTables, LookupNeverFails) {
    EXPECT_EQ(text(Language::English, size_t{188}), "");
    EXPECT_EQ(text(Language::Chinese, size_t{100000}), "");
    // A language byte out of range reads the last table, never past the end.
    EXPECT_EQ(&string_table(static_cast<Language>(7)), &string_table(Language::Chinese));
    EXPECT_EQ(text(static_cast<Language>(255), TextId::LanguageName), "中文");
}

TEST(I18nLanguages, NamesOfEachLanguage) {
    EXPECT_EQ(settings_word(Language::English), "en");
    EXPECT_EQ(settings_word(Language::Spanish), "es");
    EXPECT_EQ(settings_word(Language::Chinese), "zh");
    EXPECT_EQ(locale_name(Language::English), "en-us");
    EXPECT_EQ(locale_name(Language::Spanish), "es-mx");
    EXPECT_EQ(locale_name(Language::Chinese), "zh-cn");
    EXPECT_EQ(selector_label(Language::English), "EN");
    EXPECT_EQ(selector_label(Language::Spanish), "ES");
    EXPECT_EQ(selector_label(Language::Chinese), "中文");
    for (Language language : kLanguages)
        EXPECT_EQ(language_from_settings_word(settings_word(language)), language);
    for (std::string_view word : {"", "EN", "Es", "zh ", "en-us", "fr", "e"})
        EXPECT_EQ(language_from_settings_word(word), std::nullopt) << word;
    EXPECT_EQ(language_from_value(0), Language::English);
    EXPECT_EQ(language_from_value(1), Language::Spanish);
    EXPECT_EQ(language_from_value(2), Language::Chinese);
    EXPECT_EQ(language_from_value(3), Language::Chinese);
    EXPECT_EQ(language_from_value(200), Language::Chinese);
}

TEST(I18nLanguages, SavedLanguageWinsOverDetection) {
    const uint16_t kSpanishMexico = 0x080A;
    EXPECT_EQ(choose_language(uint8_t{0}, kSpanishMexico), Language::English);
    EXPECT_EQ(choose_language(uint8_t{1}, 0x0409), Language::Spanish);
    EXPECT_EQ(choose_language(uint8_t{2}, kSpanishMexico), Language::Chinese);
    EXPECT_EQ(choose_language(std::optional<Language>(Language::English), kSpanishMexico),
              Language::English);
    // 3 is "not set"; anything larger cannot have been saved and is not set either.
    for (uint8_t unset : {uint8_t{3}, uint8_t{4}, uint8_t{255}}) {
        EXPECT_EQ(choose_language(unset, kSpanishMexico), Language::Spanish) << int(unset);
        EXPECT_EQ(choose_language(unset, 0x0409), Language::English) << int(unset);
    }
    EXPECT_EQ(choose_language(std::nullopt, 0x0804), Language::Chinese);
}

TEST(I18nLanguages, DetectionLooksAtThePrimaryLanguageOnly) {
    struct Case {
        uint16_t langid;
        Language expected;
    };
    const Case cases[] = {
        {0x0C0A, Language::Spanish},  // Spain, modern sort
        {0x040A, Language::Spanish},  // Spain, traditional sort
        {0x080A, Language::Spanish},  // Mexico
        {0x540A, Language::Spanish},  // United States
        {0x0804, Language::Chinese},  // PRC
        {0x0404, Language::Chinese},  // Taiwan (Traditional)
        {0x0C04, Language::Chinese},  // Hong Kong
        {0x7C04, Language::Chinese},  // Traditional, neutral
        {0x0409, Language::English},
        {0x0809, Language::English},
        {0x0407, Language::English},  // German
        {0x0411, Language::English},  // Japanese
        {0x0000, Language::English},
        {0xFFFF, Language::English},
        // The primary language is ten bits wide: these are neither Spanish
        // nor Chinese although their low byte is.
        {0x010A, Language::English},
        {0x0204, Language::English},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(language_for_ui_language(c.langid), c.expected) << std::hex << c.langid;
    }
}

}  // namespace
}  // namespace sw
