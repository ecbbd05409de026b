// The Direct2D renderer drawing into WIC bitmaps, read back pixel by pixel.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/win/ui/renderer.h"
#include "platform/win/wide.h"

namespace sw::win {
namespace {

struct Pixel {
    uint8_t b, g, r, a;
};

class RendererDrawing : public ::testing::Test {
  protected:
    void SetUp() override {
        com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        // Wine makes its Direct2D targets through OpenGL, which needs an X
        // display; Windows itself always has one.
        bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
        const char* display = std::getenv("DISPLAY");
        no_display_ = wine && (!display || !*display);
        factories_ = create_render_factories();
        ASSERT_TRUE(factories_);
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr,
                                               CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&wic_))));
        palette_.colors[static_cast<size_t>(Slot::Background)] = {1, 1, 1, 1};
        palette_.colors[static_cast<size_t>(Slot::Accent)] = {1, 0, 0, 1};
        palette_.colors[static_cast<size_t>(Slot::Text)] = {0, 0, 0, 1};
    }
    void TearDown() override {
        wic_.Reset();
        factories_.reset();
        if (com_) CoUninitialize();
    }

    ComPtr<IWICBitmap> bitmap(UINT w, UINT h) {
        ComPtr<IWICBitmap> b;
        EXPECT_TRUE(SUCCEEDED(
            wic_->CreateBitmap(w, h, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad, &b)));
        return b;
    }

    static std::vector<Pixel> pixels(IWICBitmap* b) {
        UINT w = 0, h = 0;
        b->GetSize(&w, &h);
        WICRect all{0, 0, static_cast<INT>(w), static_cast<INT>(h)};
        ComPtr<IWICBitmapLock> lock;
        std::vector<Pixel> out;
        if (FAILED(b->Lock(&all, WICBitmapLockRead, &lock))) return out;
        UINT stride = 0, size = 0;
        BYTE* data = nullptr;
        lock->GetStride(&stride);
        lock->GetDataPointer(&size, &data);
        for (UINT y = 0; y < h; ++y)
            for (UINT x = 0; x < w; ++x) {
                const BYTE* p = data + y * stride + x * 4;
                out.push_back({p[0], p[1], p[2], p[3]});
            }
        return out;
    }

    // Draws `draw` on a white w × h bitmap at `dpi` and returns its pixels.
    template <typename Draw>
    std::vector<Pixel> frame(UINT w, UINT h, uint32_t dpi, Draw draw,
                             const std::wstring& locale = L"en-us") {
        ComPtr<IWICBitmap> b = bitmap(w, h);
        win::Renderer r(factories_);
        EXPECT_TRUE(r.attach_bitmap(b.Get()));
        r.set_dpi(dpi);
        r.set_locale(locale);
        r.set_palette(palette_);
        EXPECT_TRUE(r.begin_frame(w, h, palette_[Slot::Background]));
        draw(r);
        EXPECT_TRUE(r.end_frame());
        r.attach_bitmap(nullptr);
        return pixels(b.Get());
    }

    // Pixels in [x0, x1) × [y0, y1) that are not white.
    static int ink(const std::vector<Pixel>& px, UINT w, UINT x0, UINT y0, UINT x1, UINT y1) {
        int n = 0;
        for (UINT y = y0; y < y1; ++y)
            for (UINT x = x0; x < x1; ++x) {
                const Pixel& p = px[y * w + x];
                if (p.r < 200 || p.g < 200 || p.b < 200) ++n;
            }
        return n;
    }

    bool com_ = false;
    bool no_display_ = false;
    std::shared_ptr<RenderFactories> factories_;
    ComPtr<IWICImagingFactory> wic_;
    Palette palette_;
};

TEST_F(RendererDrawing, ShapesTakeThePaletteColourTheOpacityAndTheDpi) {
    if (no_display_) GTEST_SKIP() << "wine draws only with an X display";
    auto px = frame(40, 40, 96, [](win::Renderer& r) {
        r.fill_rect(Rect{5, 5, 10, 10}, {Slot::Accent, 1});
        r.fill_rect(Rect{20, 5, 10, 10}, {Slot::Accent, 0.5f});
    });
    ASSERT_EQ(px.size(), 1600u);
    Pixel solid = px[10 * 40 + 10];
    EXPECT_EQ(solid.r, 255);
    EXPECT_EQ(solid.g, 0);
    EXPECT_EQ(solid.b, 0);
    Pixel cleared = px[30 * 40 + 30];
    EXPECT_EQ(cleared.r, 255);
    EXPECT_EQ(cleared.g, 255);
    EXPECT_EQ(cleared.b, 255);
    Pixel half = px[10 * 40 + 25];  // half red over white
    EXPECT_EQ(half.r, 255);
    EXPECT_NEAR(half.g, 128, 2);
    EXPECT_NEAR(half.b, 128, 2);

    // At 144 DPI the same 10 DIP are 15 pixels.
    px = frame(40, 40, 144, [](win::Renderer& r) {
        r.fill_rect(Rect{0, 0, 10, 10}, {Slot::Accent, 1});
    });
    EXPECT_EQ(px[14 * 40 + 14].g, 0);
    EXPECT_EQ(px[16 * 40 + 16].g, 255);
}

TEST_F(RendererDrawing, ClipsCutDrawingOffAndAnUnbalancedClipStillEndsTheFrame) {
    if (no_display_) GTEST_SKIP() << "wine draws only with an X display";
    auto px = frame(40, 40, 96, [](win::Renderer& r) {
        r.push_clip(Rect{0, 0, 20, 40});
        r.fill_rect(Rect{0, 0, 40, 40}, {Slot::Accent, 1});
        r.pop_clip();
        r.pop_clip();  // one too many is ignored
        r.push_clip(Rect{0, 0, 40, 20});
        r.fill_ellipse(30, 30, 5, 5, {Slot::Accent, 1});  // wholly outside the clip
    });
    EXPECT_EQ(px[20 * 40 + 10].g, 0);
    EXPECT_EQ(px[20 * 40 + 30].g, 255);
    EXPECT_EQ(px[30 * 40 + 30].g, 255);
}

TEST_F(RendererDrawing, TextIsDrawnInItsBoxWithTheAlignment) {
    if (no_display_) GTEST_SKIP() << "wine draws only with an X display";
    const std::string english = "Create bootable USB";
    const TextStyle style{14, 1, FontFamily::Text};
    auto left = frame(300, 40, 96, [&](win::Renderer& r) {
        r.text(english, Rect{0, 0, 300, 40}, style, {Slot::Text, 1}, Align::Start, Align::Start);
    });
    EXPECT_GT(ink(left, 300, 0, 0, 150, 20), 50);
    EXPECT_EQ(ink(left, 300, 150, 0, 300, 40), 0);
    EXPECT_EQ(ink(left, 300, 0, 21, 300, 40), 0);

    auto right = frame(300, 40, 96, [&](win::Renderer& r) {
        r.text(english, Rect{0, 0, 300, 40}, style, {Slot::Text, 1}, Align::End, Align::End);
    });
    EXPECT_EQ(ink(right, 300, 0, 0, 150, 40), 0);
    EXPECT_EQ(ink(right, 300, 0, 0, 300, 19), 0);
    EXPECT_GT(ink(right, 300, 150, 20, 300, 40), 50);

    auto centred = frame(300, 40, 96, [&](win::Renderer& r) {
        r.text("USB", Rect{0, 0, 300, 40}, style, {Slot::Text, 1}, Align::Center, Align::Center);
    });
    EXPECT_EQ(ink(centred, 300, 0, 0, 120, 40), 0);
    EXPECT_EQ(ink(centred, 300, 180, 0, 300, 40), 0);
    EXPECT_GT(ink(centred, 300, 120, 10, 180, 30), 20);
}

TEST_F(RendererDrawing, ChineseTextShowsItsOwnGlyphs) {
    if (no_display_) GTEST_SKIP() << "wine draws only with an X display";
    const TextStyle style{20, 1, FontFamily::Text};
    auto draw = [&](const std::string& s) {
        return frame(
            200, 40, 96,
            [&](win::Renderer& r) {
                r.text(s, Rect{0, 0, 200, 40}, style, {Slot::Text, 1}, Align::Start, Align::Start);
            },
            L"zh-cn");
    };
    auto a = draw("创建可启动");
    auto b = draw("验证写入后");
    EXPECT_GT(ink(a, 200, 0, 0, 200, 40), 100);
    EXPECT_GT(ink(b, 200, 0, 0, 200, 40), 100);
    // Missing glyphs would all be the same box.
    int differing = 0;
    for (size_t i = 0; i < a.size(); ++i)
        differing += a[i].g != b[i].g;
    EXPECT_GT(differing, 100);
}

TEST_F(RendererDrawing, TheCheckMarkIsNotTheMissingGlyphBox) {
    if (no_display_) GTEST_SKIP() << "wine draws only with an X display";
    const TextStyle style{20, 4, FontFamily::Text};
    auto draw = [&](const std::string& s) {
        return frame(40, 40, 96, [&](win::Renderer& r) {
            r.text(s, Rect{0, 0, 40, 40}, style, {Slot::Text, 1}, Align::Center, Align::Center);
        });
    };
    auto check = draw("✓");
    auto missing = draw("\xEE\x80\x80");  // a private-use character no font has
    EXPECT_GT(ink(check, 40, 0, 0, 40, 40), 10);
    int differing = 0;
    for (size_t i = 0; i < check.size(); ++i)
        differing += check[i].g != missing[i].g;
    EXPECT_GT(differing, 10);
}

TEST_F(RendererDrawing, MeasureGrowsWithTheTextAndWrapsAtTheWidth) {
    win::Renderer r(factories_);
    const TextStyle style{14, 1, FontFamily::Text};
    TextExtent shorter = r.measure("Create", style, 1000);
    TextExtent longer = r.measure("Create bootable USB", style, 1000);
    EXPECT_GT(shorter.w, 20);
    EXPECT_GT(longer.w, shorter.w * 2);
    EXPECT_FLOAT_EQ(longer.h, shorter.h);
    // One line is as tall for every script, whichever font draws it.
    EXPECT_NEAR(shorter.h, 14 * 1.33f, 0.5f);
    EXPECT_FLOAT_EQ(r.measure("创建可启动", style, 1000).h, shorter.h);

    float first_line = r.measure("Create bootable", style, 1000).w + 1;
    TextExtent wrapped = r.measure("Create bootable USB", style, first_line);
    EXPECT_LE(wrapped.w, first_line);
    EXPECT_NEAR(wrapped.h, 2 * shorter.h, 0.5f);
    TextExtent chinese = r.measure("此驱动器上的所有现有数据都将被永久清除。", style, 100);
    EXPECT_LE(chinese.w, 100);
    EXPECT_GE(chinese.h, 2 * shorter.h - 0.5f);
    EXPECT_EQ(r.measure("", style, 100).w, 0);
}

TEST_F(RendererDrawing, FormatsAreCachedPerSizeWeightFamilyAndLocale) {
    win::Renderer r(factories_);
    ComPtr<IDWriteTextFormat> english = r.text_format(14, 1, FontFamily::Text);
    ASSERT_TRUE(english);
    EXPECT_EQ(r.text_format(14, 1, FontFamily::Text), english.Get());
    EXPECT_NE(r.text_format(14.5f, 1, FontFamily::Text), english.Get());
    EXPECT_NE(r.text_format(14, 1, FontFamily::Mono), english.Get());

    IDWriteTextFormat* bold = r.text_format(16, 4, FontFamily::Display);
    ASSERT_TRUE(bold);
    EXPECT_EQ(bold->GetFontWeight(), DWRITE_FONT_WEIGHT_BOLD);
    EXPECT_EQ(bold->GetFontStyle(), DWRITE_FONT_STYLE_NORMAL);
    EXPECT_EQ(bold->GetFontStretch(), DWRITE_FONT_STRETCH_NORMAL);
    EXPECT_FLOAT_EQ(bold->GetFontSize(), 16);
    wchar_t name[100] = {};
    bold->GetFontFamilyName(name, 100);
    EXPECT_EQ(std::wstring(name), factories_->families[0]);

    // The same locale again keeps the cache; a new one empties it.
    r.set_locale(L"en-us");
    EXPECT_EQ(r.text_format(14, 1, FontFamily::Text), english.Get());
    r.set_locale(L"zh-cn");
    IDWriteTextFormat* chinese = r.text_format(14, 1, FontFamily::Text);
    ASSERT_TRUE(chinese);
    EXPECT_NE(chinese, english.Get());
    wchar_t locale[20] = {};
    chinese->GetLocaleName(locale, 20);
    EXPECT_EQ(std::wstring(locale), L"zh-cn");
}

TEST_F(RendererDrawing, FamiliesFallBackToOneTheSystemHas) {
    IDWriteFontCollection* fonts = factories_->fonts.Get();
    ASSERT_TRUE(fonts);
    auto installed = [&](const std::wstring& name) {
        UINT32 index = 0;
        BOOL exists = FALSE;
        return SUCCEEDED(fonts->FindFamilyName(name.c_str(), &index, &exists)) && exists;
    };
    std::wstring picked = pick_family(fonts, L"No Such Family One", L"No Such Family Two");
    EXPECT_TRUE(installed(picked)) << narrow(picked);
    EXPECT_EQ(pick_family(fonts, L"No Such Family One", picked.c_str()), picked);
    EXPECT_EQ(pick_family(fonts, picked.c_str(), L"No Such Family Two"), picked);
    EXPECT_EQ(pick_family(nullptr, L"Segoe UI Variable Text", L"Segoe UI"), L"Segoe UI");
    for (const std::wstring& family : factories_->families)
        EXPECT_TRUE(installed(family));
}

TEST_F(RendererDrawing, AWindowWithNoClientAreaStillGetsAFrame) {
    if (no_display_) GTEST_SKIP() << "wine draws only with an X display";
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(window);
    {
        win::Renderer r(factories_);
        r.attach_window(window, false);
        r.set_palette(palette_);
        ASSERT_TRUE(r.begin_frame(0, 0, palette_[Slot::Background]));
        r.fill_rect(Rect{0, 0, 10, 10}, {Slot::Accent, 1});
        r.text("x", Rect{0, 0, 10, 10}, TextStyle{}, {Slot::Text, 1}, Align::Start, Align::Start);
        EXPECT_TRUE(r.end_frame());
        r.resize(0, 0);
        r.set_dpi(144);
        EXPECT_TRUE(r.begin_frame(1, 1, palette_[Slot::Background]));
        EXPECT_TRUE(r.end_frame());
        // Nothing is drawn outside a frame.
        r.fill_rect(Rect{0, 0, 10, 10}, {Slot::Accent, 1});
        EXPECT_FALSE(r.end_frame());
    }
    DestroyWindow(window);
}

}  // namespace
}  // namespace sw::win
