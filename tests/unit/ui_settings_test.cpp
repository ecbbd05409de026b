// The settings file and the palette.
#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"
#include "ui/palette.h"
#include "ui/preferences.h"

namespace sw {
namespace {

TEST(UiPreferences, ParsingRules) {
    Preferences p = parse_preferences("theme=dark\r\nlang=zz\r\nverify=on\r\n");
    EXPECT_EQ(p.theme, Theme::Dark);
    EXPECT_EQ(p.lang, kLanguageNotSet);
    EXPECT_TRUE(p.verify);

    EXPECT_FALSE(parse_preferences("verify = off\n").verify);
    EXPECT_TRUE(parse_preferences("Verify=off\n").verify);              // keys are case-sensitive
    EXPECT_EQ(parse_preferences("theme=Dark\n").theme, Theme::System);  // so are values
    EXPECT_EQ(parse_preferences("theme=light\ntheme=\n").theme, Theme::System);
    EXPECT_FALSE(parse_preferences("verify=off\nverify=on\n").verify);
    EXPECT_EQ(parse_preferences("lang=es\nlang=xx\n").lang, 1);
    EXPECT_EQ(parse_preferences("lang=zh").lang, 2);  // no final line feed
    EXPECT_EQ(parse_preferences("noise\n=dark\ntheme==dark\n").theme, Theme::System);
    EXPECT_EQ(parse_preferences("  theme\t=  light  \n").theme, Theme::Light);
}

TEST(UiPreferences, InvalidUtf8GivesAllDefaults) {
    Preferences p = parse_preferences("theme=dark\nlang=es\nverify=off\n\xff\xfe\n");
    EXPECT_EQ(p, Preferences{});
}

TEST(UiPreferences, FileBesideTheLogDirectory) {
    test::TempDir dir;
    auto file = settings_path(dir.path() / "logs");
    ASSERT_TRUE(file);
    EXPECT_EQ(*file, dir.path() / "settings.ini");
    EXPECT_FALSE(settings_path(std::nullopt));

    EXPECT_EQ(load_preferences_from(file), Preferences{});  // no file yet
    // Language detected as Spanish, only verify changed: the language is written.
    ASSERT_TRUE(save_preferences_to(file, Theme::System, 1, false));
    EXPECT_EQ(test::read_file(*file), "theme=system\nlang=es\nverify=off\n");
    Preferences back = load_preferences_from(file);
    EXPECT_EQ(back.lang, 1);
    EXPECT_FALSE(back.verify);

    // Missing parents are created.
    auto deep = dir.path() / "a" / "b" / "settings.ini";
    ASSERT_TRUE(save_preferences_to(deep, Theme::Dark, 2, true));
    EXPECT_EQ(test::read_file(deep), "theme=dark\nlang=zh\nverify=on\n");
    EXPECT_FALSE(save_preferences_to(std::nullopt, Theme::Dark, 0, true));
}

TEST(UiPreferences, UnwritableLocationIsIgnored) {
    test::TempDir dir;
    // A file where the directory should be.
    test::write_file(dir.path() / "blocker", "x");
    EXPECT_FALSE(
        save_preferences_to(dir.path() / "blocker" / "settings.ini", Theme::Light, 0, true));
    // A directory named like the file cannot be read as one.
    std::filesystem::create_directories(dir.path() / "settings.ini");
    EXPECT_EQ(load_preferences_from(dir.path() / "settings.ini"), Preferences{});
}

TEST(UiPalette, ThemeChoice) {
    ThemeQueries q;
    EXPECT_FALSE(compute_palette(Theme::Light, q).is_dark);
    EXPECT_TRUE(compute_palette(Theme::Dark, q).is_dark);
    // System: the per-user light-theme value; a failed read means light.
    EXPECT_FALSE(compute_palette(Theme::System, q).is_dark);
    q.apps_use_light_theme = 0;
    EXPECT_TRUE(compute_palette(Theme::System, q).is_dark);
    q.apps_use_light_theme = 7;
    EXPECT_FALSE(compute_palette(Theme::System, q).is_dark);
    // A failed high-contrast query counts as off.
    q.high_contrast = std::nullopt;
    EXPECT_FALSE(compute_palette(Theme::Dark, q).high_contrast);
}

TEST(UiPalette, Values) {
    Palette light = light_palette();
    Palette dark = dark_palette();
    EXPECT_EQ(colorref_of(light[Slot::Background]), 0xF8F5F3u);  // F3F5F8 with red low
    EXPECT_EQ(colorref_of(dark[Slot::Text]), 0xF3EDE9u);
    EXPECT_EQ(colorref_of(dark[Slot::Link]), 0xF0A75Au);
    EXPECT_FLOAT_EQ(light[Slot::Scrim].a, 0.38f);
    EXPECT_FLOAT_EQ(dark[Slot::CyanVeil].a, 0.36f);
    EXPECT_FLOAT_EQ(light.opacity, 0.46f);
    EXPECT_FLOAT_EQ(dark.opacity, 0.38f);
    EXPECT_EQ(colorref_of(Rgba{2.0f, -1.0f, 0.5f, 1}), 0x8000FFu);  // saturating
}

TEST(UiPalette, HighContrastFromSystemColours) {
    ThemeQueries q;
    q.high_contrast = true;
    q.colors.window = 0x000000;
    q.colors.window_text = 0xFFFFFF;
    q.colors.highlight = 0x00FFFF;  // yellow
    q.colors.highlight_text = 0x000000;
    q.colors.gray_text = 0x808080;
    q.colors.hot_light = 0xFF8000;
    Palette p = compute_palette(Theme::Light, q);
    EXPECT_TRUE(p.high_contrast);
    EXPECT_TRUE(p.is_dark);  // black window
    EXPECT_FLOAT_EQ(p.opacity, 1.0f);
    EXPECT_EQ(colorref_of(p[Slot::Surface3]), 0u);
    EXPECT_EQ(colorref_of(p[Slot::Text2]), 0xFFFFFFu);
    EXPECT_EQ(colorref_of(p[Slot::Accent]), 0x00FFFFu);
    EXPECT_EQ(colorref_of(p[Slot::OnAccent]), 0u);
    EXPECT_EQ(colorref_of(p[Slot::Text3]), 0x808080u);
    EXPECT_EQ(colorref_of(p[Slot::Link]), 0xFF8000u);
    EXPECT_EQ(colorref_of(p[Slot::Focus]), 0x00FFFFu);
    EXPECT_FLOAT_EQ(p[Slot::Scrim].a, 0.0f);
    q.colors.window = 0xFFFFFF;
    EXPECT_FALSE(compute_palette(Theme::Dark, q).is_dark);

    // The frame keeps the system's colours in high contrast and under a backdrop.
    EXPECT_FALSE(frame_colors(p, false).caption);
    EXPECT_FALSE(frame_colors(light_palette(), true).caption);
    FrameColors f = frame_colors(dark_palette(), false);
    EXPECT_TRUE(f.dark_mode);
    EXPECT_EQ(f.caption, 0x150F0Bu);
    EXPECT_EQ(f.text, 0xF3EDE9u);
}

}  // namespace
}  // namespace sw
