#include "platform/win/ui/renderer.h"

#include <dwrite_2.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "platform/win/wide.h"

namespace sw::win {

namespace {

// One line is 1.33 ems with the baseline 1.08 ems below its top: the metrics
// of Segoe UI, which the view's line heights are made for.
constexpr float kLineHeight = 1.33f;
constexpr float kBaseline = 1.08f;

bool has_family(IDWriteFontCollection* fonts, const wchar_t* name) {
    UINT32 index = 0;
    BOOL exists = FALSE;
    return fonts && SUCCEEDED(fonts->FindFamilyName(name, &index, &exists)) && exists;
}

// The name of a collection's family, in English where it has one.
std::wstring family_name(IDWriteFontFamily* family) {
    ComPtr<IDWriteLocalizedStrings> names;
    if (FAILED(family->GetFamilyNames(&names)) || names->GetCount() == 0) return {};
    UINT32 index = 0;
    BOOL exists = FALSE;
    if (FAILED(names->FindLocaleName(L"en-us", &index, &exists)) || !exists) index = 0;
    UINT32 length = 0;
    if (FAILED(names->GetStringLength(index, &length))) return {};
    std::wstring out(length + 1, L'\0');
    if (FAILED(names->GetString(index, out.data(), length + 1))) return {};
    out.resize(length);
    return out;
}

bool family_has(IDWriteFontCollection* fonts, UINT32 index, UINT32 character) {
    ComPtr<IDWriteFontFamily> family;
    ComPtr<IDWriteFont> font;
    BOOL exists = FALSE;
    return SUCCEEDED(fonts->GetFontFamily(index, &family)) &&
           SUCCEEDED(family->GetFirstMatchingFont(DWRITE_FONT_WEIGHT_NORMAL,
                                                  DWRITE_FONT_STRETCH_NORMAL,
                                                  DWRITE_FONT_STYLE_NORMAL, &font)) &&
           SUCCEEDED(font->HasCharacter(character, &exists)) && exists;
}

// The first of `preferred` that the collection has, or else the first family
// that holds `character`; empty when none does.
std::wstring family_for(IDWriteFontCollection* fonts,
                        std::initializer_list<const wchar_t*> preferred, UINT32 character) {
    for (const wchar_t* name : preferred)
        if (has_family(fonts, name)) return name;
    UINT32 count = fonts->GetFontFamilyCount();
    for (UINT32 i = 0; i < count; ++i) {
        if (!family_has(fonts, i, character)) continue;
        ComPtr<IDWriteFontFamily> family;
        if (SUCCEEDED(fonts->GetFontFamily(i, &family))) return family_name(family.Get());
    }
    return {};
}

// The view draws a few symbols (the check mark of finished steps) that the
// text family may lack. Windows falls back to Segoe UI Symbol by itself;
// a system without it (wine) shows a box unless the text formats are told
// where the symbols are. Null when the text family has them, or when no
// font does.
ComPtr<IDWriteFontFallback> symbol_fallback(IDWriteFactory* dwrite, IDWriteFontCollection* fonts,
                                            const std::wstring& text_family) {
    constexpr UINT32 kCheckMark = 0x2713;
    UINT32 index = 0;
    BOOL exists = FALSE;
    if (!fonts || FAILED(fonts->FindFamilyName(text_family.c_str(), &index, &exists)) || !exists ||
        family_has(fonts, index, kCheckMark))
        return nullptr;
    ComPtr<IDWriteFactory2> factory;
    ComPtr<IDWriteFontFallbackBuilder> builder;
    if (FAILED(dwrite->QueryInterface(IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateFontFallbackBuilder(&builder)))
        return nullptr;
    std::wstring symbols = family_for(fonts, {L"Segoe UI Symbol"}, kCheckMark);
    if (symbols.empty()) return nullptr;
    const DWRITE_UNICODE_RANGE symbol_ranges[] = {{0x2190, 0x2BFF}};  // arrows to dingbats
    const wchar_t* symbol_names[] = {symbols.c_str()};
    if (FAILED(builder->AddMapping(symbol_ranges, 1, symbol_names, 1, fonts, nullptr, nullptr, 1)))
        return nullptr;
    // Everything else as the system would; where the system's mappings
    // cannot be copied, at least Chinese.
    ComPtr<IDWriteFontFallback> system;
    if (FAILED(factory->GetSystemFontFallback(&system)) ||
        FAILED(builder->AddMappings(system.Get()))) {
        std::wstring chinese =
            family_for(fonts, {L"Microsoft YaHei", L"Noto Sans CJK SC", L"SimSun"}, 0x4E2D);
        if (chinese.empty()) return nullptr;
        const DWRITE_UNICODE_RANGE cjk_ranges[] = {{0x2E80, 0x9FFF}, {0xAC00, 0xD7AF},
                                                   {0xF900, 0xFAFF}, {0xFE30, 0xFE4F},
                                                   {0xFF00, 0xFFEF}, {0x20000, 0x2FA1F}};
        const wchar_t* cjk_names[] = {chinese.c_str()};
        if (FAILED(builder->AddMapping(cjk_ranges, static_cast<UINT32>(std::size(cjk_ranges)),
                                       cjk_names, 1, fonts, nullptr, nullptr, 1)))
            return nullptr;
    }
    ComPtr<IDWriteFontFallback> out;
    if (FAILED(builder->CreateFontFallback(&out))) return nullptr;
    return out;
}

D2D1_RECT_F rect_of(const Rect& r) {
    return D2D1::RectF(r.x, r.y, r.x + std::max(0.0f, r.w), r.y + std::max(0.0f, r.h));
}

DWRITE_TEXT_ALIGNMENT horizontal_of(Align a) {
    switch (a) {
        case Align::Start:
            return DWRITE_TEXT_ALIGNMENT_LEADING;
        case Align::Center:
            return DWRITE_TEXT_ALIGNMENT_CENTER;
        case Align::End:
            return DWRITE_TEXT_ALIGNMENT_TRAILING;
    }
    return DWRITE_TEXT_ALIGNMENT_LEADING;
}

DWRITE_PARAGRAPH_ALIGNMENT vertical_of(Align a) {
    switch (a) {
        case Align::Start:
            return DWRITE_PARAGRAPH_ALIGNMENT_NEAR;
        case Align::Center:
            return DWRITE_PARAGRAPH_ALIGNMENT_CENTER;
        case Align::End:
            return DWRITE_PARAGRAPH_ALIGNMENT_FAR;
    }
    return DWRITE_PARAGRAPH_ALIGNMENT_NEAR;
}

// Destroys an icon handle when it goes out of scope.
struct IconHandle {
    HICON handle = nullptr;
    ~IconHandle() {
        if (handle) DestroyIcon(handle);
    }
};

}  // namespace

std::wstring pick_family(IDWriteFontCollection* fonts, const wchar_t* first,
                         const wchar_t* second) {
    if (!fonts) return second;
    if (has_family(fonts, first)) return first;
    if (has_family(fonts, second)) return second;
    // Neither is installed: a family the system has, so that text still shows.
    if (has_family(fonts, L"Tahoma")) return L"Tahoma";
    UINT32 count = fonts->GetFontFamilyCount();
    for (UINT32 i = 0; i < count; ++i) {
        ComPtr<IDWriteFontFamily> family;
        if (FAILED(fonts->GetFontFamily(i, &family))) continue;
        std::wstring name = family_name(family.Get());
        if (!name.empty()) return name;
    }
    return second;
}

std::unique_ptr<RenderFactories> create_render_factories() {
    auto f = std::make_unique<RenderFactories>();
    if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, f->d2d.GetAddressOf())))
        return nullptr;
    if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                   reinterpret_cast<IUnknown**>(f->dwrite.GetAddressOf()))))
        return nullptr;
    D2D1_STROKE_STYLE_PROPERTIES stroke = D2D1::StrokeStyleProperties(
        D2D1_CAP_STYLE_ROUND, D2D1_CAP_STYLE_ROUND, D2D1_CAP_STYLE_ROUND, D2D1_LINE_JOIN_ROUND);
    if (FAILED(f->d2d->CreateStrokeStyle(stroke, nullptr, 0, &f->stroke))) return nullptr;
    if (FAILED(f->dwrite->GetSystemFontCollection(&f->fonts, FALSE))) f->fonts.Reset();
    f->families[0] = pick_family(f->fonts.Get(), L"Segoe UI Variable Display", L"Segoe UI");
    f->families[1] = pick_family(f->fonts.Get(), L"Segoe UI Variable Text", L"Segoe UI");
    f->families[2] = pick_family(f->fonts.Get(), L"Cascadia Mono", L"Consolas");
    f->fallback = symbol_fallback(f->dwrite.Get(), f->fonts.Get(), f->families[1]);
    for (const std::wstring& family : f->families) {
        ComPtr<IDWriteTextFormat> format;
        if (FAILED(f->dwrite->CreateTextFormat(family.c_str(), nullptr, DWRITE_FONT_WEIGHT_NORMAL,
                                               DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                               14, L"en-us", &format)))
            return nullptr;
    }
    return f;
}

struct Renderer::Impl {
    std::shared_ptr<RenderFactories> factories;
    HWND window = nullptr;
    bool premultiplied = false;
    ComPtr<IWICBitmap> bitmap;  // the offscreen target's pixels, when drawing offscreen
    uint32_t dpi = 96;
    std::wstring locale = L"en-us";
    Palette palette = light_palette();

    ComPtr<ID2D1RenderTarget> target;
    ComPtr<ID2D1HwndRenderTarget> hwnd_target;  // the same target, when it is a window's
    ComPtr<ID2D1SolidColorBrush> brush;
    ComPtr<ID2D1Bitmap> icon;
    int clip_depth = 0;
    bool drawing = false;

    std::map<std::tuple<uint32_t, uint8_t, uint8_t>, ComPtr<IDWriteTextFormat>> formats;

    void release_target() {
        icon.Reset();
        brush.Reset();
        hwnd_target.Reset();
        target.Reset();
        clip_depth = 0;
        drawing = false;
    }

    bool ensure_target(uint32_t width, uint32_t height) {
        if (target) {
            if (hwnd_target) {
                D2D1_SIZE_U size = hwnd_target->GetPixelSize();
                D2D1_SIZE_U wanted{std::max(width, 1u), std::max(height, 1u)};
                if (size.width != wanted.width || size.height != wanted.height)
                    hwnd_target->Resize(wanted);
            }
            return true;
        }
        float d = static_cast<float>(dpi);
        if (window) {
            D2D1_RENDER_TARGET_PROPERTIES props = D2D1::RenderTargetProperties(
                D2D1_RENDER_TARGET_TYPE_DEFAULT,
                D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, premultiplied
                                                                  ? D2D1_ALPHA_MODE_PREMULTIPLIED
                                                                  : D2D1_ALPHA_MODE_IGNORE),
                d, d);
            D2D1_HWND_RENDER_TARGET_PROPERTIES hwnd_props = D2D1::HwndRenderTargetProperties(
                window, D2D1::SizeU(std::max(width, 1u), std::max(height, 1u)),
                D2D1_PRESENT_OPTIONS_NONE);
            if (FAILED(factories->d2d->CreateHwndRenderTarget(props, hwnd_props, &hwnd_target)))
                return false;
            target = hwnd_target;
        } else if (bitmap) {
            D2D1_RENDER_TARGET_PROPERTIES props = D2D1::RenderTargetProperties(
                D2D1_RENDER_TARGET_TYPE_DEFAULT,
                D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), d, d);
            if (FAILED(factories->d2d->CreateWicBitmapRenderTarget(bitmap.Get(), props, &target)))
                return false;
        } else {
            return false;
        }
        if (FAILED(target->CreateSolidColorBrush(D2D1::ColorF(0, 0, 0, 1), &brush))) {
            release_target();
            return false;
        }
        // ClearType needs an opaque surface beneath the text.
        if (premultiplied || bitmap)
            target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
        make_icon();
        return true;
    }

    // The program's own icon at the size it is drawn; without it the
    // frame simply shows no icon.
    void make_icon() {
        int px = static_cast<int>(std::lround(28.0 * dpi / 96.0));
        IconHandle handle{static_cast<HICON>(LoadImageW(
            GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, px, px, LR_DEFAULTCOLOR))};
        if (!handle.handle) return;
        ComPtr<IWICImagingFactory> wic;
        if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(&wic))))
            return;
        ComPtr<IWICBitmap> from_icon;
        if (FAILED(wic->CreateBitmapFromHICON(handle.handle, &from_icon))) return;
        ComPtr<IWICBitmapSource> converted;
        if (FAILED(
                WICConvertBitmapSource(GUID_WICPixelFormat32bppPBGRA, from_icon.Get(), &converted)))
            return;
        ComPtr<ID2D1Bitmap> made;
        if (FAILED(target->CreateBitmapFromWicBitmap(converted.Get(), nullptr, &made))) return;
        icon = made;
    }

    bool paint(Paint p) {
        if (!drawing) return false;
        const Rgba& c = palette[p.slot];
        brush->SetColor(D2D1::ColorF(c.r, c.g, c.b, c.a * p.opacity));
        return true;
    }

    ComPtr<IDWriteTextLayout> layout(std::string_view utf8, float width, float height,
                                     IDWriteTextFormat* format) {
        if (!format) return nullptr;
        std::wstring wide = widen(utf8);
        ComPtr<IDWriteTextLayout> out;
        if (FAILED(factories->dwrite->CreateTextLayout(
                wide.data(), static_cast<UINT32>(wide.size()), format, std::max(0.0f, width),
                std::max(0.0f, height), &out)))
            return nullptr;
        return out;
    }
};

Renderer::Renderer(std::shared_ptr<RenderFactories> factories) : impl_(std::make_unique<Impl>()) {
    impl_->factories = std::move(factories);
}

Renderer::~Renderer() = default;

void Renderer::attach_window(HWND window, bool premultiplied) {
    impl_->release_target();
    impl_->bitmap.Reset();
    impl_->window = window;
    impl_->premultiplied = premultiplied;
}

bool Renderer::attach_bitmap(IWICBitmap* bitmap) {
    impl_->release_target();
    impl_->window = nullptr;
    impl_->premultiplied = false;
    impl_->bitmap = bitmap;
    return bitmap != nullptr;
}

bool Renderer::begin_frame(uint32_t width, uint32_t height, const Rgba& clear) {
    Impl& m = *impl_;
    if (m.drawing) end_frame();
    if (!m.ensure_target(width, height)) return false;
    m.target->BeginDraw();
    m.drawing = true;
    m.clip_depth = 0;
    m.target->SetTransform(D2D1::Matrix3x2F::Identity());
    m.target->Clear(D2D1::ColorF(clear.r, clear.g, clear.b, clear.a));
    return true;
}

bool Renderer::end_frame() {
    Impl& m = *impl_;
    if (!m.target || !m.drawing) return false;
    // An unbalanced clip would fail the whole frame.
    for (; m.clip_depth > 0; --m.clip_depth)
        m.target->PopAxisAlignedClip();
    m.drawing = false;
    if (FAILED(m.target->EndDraw())) {
        m.release_target();
        return false;
    }
    return true;
}

void Renderer::resize(uint32_t width, uint32_t height) {
    if (impl_->hwnd_target)
        impl_->hwnd_target->Resize(D2D1::SizeU(std::max(width, 1u), std::max(height, 1u)));
}

void Renderer::set_dpi(uint32_t dpi) {
    if (dpi == 0) dpi = 96;
    impl_->dpi = dpi;
    if (impl_->target) impl_->target->SetDpi(static_cast<float>(dpi), static_cast<float>(dpi));
}

void Renderer::set_locale(const std::wstring& locale) {
    if (locale == impl_->locale) return;
    impl_->locale = locale;
    impl_->formats.clear();
}

void Renderer::set_palette(const Palette& palette) {
    impl_->palette = palette;
}

IDWriteTextFormat* Renderer::text_format(float size, uint8_t weight, FontFamily family) {
    Impl& m = *impl_;
    auto index = static_cast<uint8_t>(family);
    if (index > 2) index = 1;
    auto key = std::make_tuple(std::bit_cast<uint32_t>(size), weight, index);
    auto found = m.formats.find(key);
    if (found != m.formats.end()) return found->second.Get();
    ComPtr<IDWriteTextFormat> format;
    auto dw_weight = static_cast<DWRITE_FONT_WEIGHT>(std::min(300 + 100 * int(weight), 950));
    if (FAILED(m.factories->dwrite->CreateTextFormat(
            m.factories->families[index].c_str(), nullptr, dw_weight, DWRITE_FONT_STYLE_NORMAL,
            DWRITE_FONT_STRETCH_NORMAL, size, m.locale.c_str(), &format)))
        return nullptr;
    format->SetWordWrapping(DWRITE_WORD_WRAPPING_WRAP);
    // Lines as tall as the view lays them out, whichever font a character
    // falls back to: a fallback font with a taller line (the CJK ones) would
    // otherwise overflow boxes sized for one line of the family.
    format->SetLineSpacing(DWRITE_LINE_SPACING_METHOD_UNIFORM, size * kLineHeight,
                           size * kBaseline);
    if (m.factories->fallback) {
        ComPtr<IDWriteTextFormat1> format1;
        if (SUCCEEDED(format.As(&format1))) format1->SetFontFallback(m.factories->fallback.Get());
    }
    IDWriteTextFormat* raw = format.Get();
    m.formats.emplace(key, std::move(format));
    return raw;
}

void Renderer::fill_rect(const Rect& r, Paint paint) {
    if (impl_->paint(paint)) impl_->target->FillRectangle(rect_of(r), impl_->brush.Get());
}

void Renderer::fill_rounded(const Rect& r, float radius, Paint paint) {
    if (impl_->paint(paint))
        impl_->target->FillRoundedRectangle(D2D1::RoundedRect(rect_of(r), radius, radius),
                                            impl_->brush.Get());
}

void Renderer::stroke_rounded(const Rect& r, float radius, Paint paint, float width) {
    if (impl_->paint(paint))
        impl_->target->DrawRoundedRectangle(D2D1::RoundedRect(rect_of(r), radius, radius),
                                            impl_->brush.Get(), width,
                                            impl_->factories->stroke.Get());
}

void Renderer::line(float x0, float y0, float x1, float y1, Paint paint, float width) {
    if (impl_->paint(paint))
        impl_->target->DrawLine(D2D1::Point2F(x0, y0), D2D1::Point2F(x1, y1), impl_->brush.Get(),
                                width, impl_->factories->stroke.Get());
}

void Renderer::fill_ellipse(float cx, float cy, float rx, float ry, Paint paint) {
    if (impl_->paint(paint))
        impl_->target->FillEllipse(D2D1::Ellipse(D2D1::Point2F(cx, cy), rx, ry),
                                   impl_->brush.Get());
}

void Renderer::stroke_ellipse(float cx, float cy, float rx, float ry, Paint paint, float width) {
    if (impl_->paint(paint))
        impl_->target->DrawEllipse(D2D1::Ellipse(D2D1::Point2F(cx, cy), rx, ry), impl_->brush.Get(),
                                   width, impl_->factories->stroke.Get());
}

void Renderer::text(std::string_view utf8, const Rect& box, const TextStyle& style, Paint paint,
                    Align horizontal, Align vertical) {
    if (!impl_->drawing || utf8.empty()) return;
    IDWriteTextFormat* format = text_format(style.size, style.weight, style.family);
    ComPtr<IDWriteTextLayout> layout = impl_->layout(utf8, box.w, box.h, format);
    if (!layout) return;
    layout->SetTextAlignment(horizontal_of(horizontal));
    layout->SetParagraphAlignment(vertical_of(vertical));
    if (!impl_->paint(paint)) return;
    impl_->target->DrawTextLayout(D2D1::Point2F(box.x, box.y), layout.Get(), impl_->brush.Get(),
                                  D2D1_DRAW_TEXT_OPTIONS_NONE);
}

TextExtent Renderer::measure(std::string_view utf8, const TextStyle& style, float max_width) {
    IDWriteTextFormat* format = text_format(style.size, style.weight, style.family);
    ComPtr<IDWriteTextLayout> layout = impl_->layout(utf8, max_width, 100000, format);
    if (!layout) return {};
    DWRITE_TEXT_METRICS metrics{};
    if (FAILED(layout->GetMetrics(&metrics))) return {};
    // The width without the blanks a wrapped line ends in: the view compares
    // it with the width the text was wrapped at.
    return TextExtent{metrics.width, metrics.height};
}

void Renderer::icon(const Rect& r, float opacity) {
    if (!impl_->drawing || !impl_->icon) return;
    impl_->target->DrawBitmap(impl_->icon.Get(), rect_of(r), opacity,
                              D2D1_BITMAP_INTERPOLATION_MODE_LINEAR);
}

void Renderer::push_clip(const Rect& r) {
    if (!impl_->drawing) return;
    impl_->target->PushAxisAlignedClip(rect_of(r), D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
    ++impl_->clip_depth;
}

void Renderer::pop_clip() {
    if (!impl_->drawing || impl_->clip_depth == 0) return;
    impl_->target->PopAxisAlignedClip();
    --impl_->clip_depth;
}

}  // namespace sw::win
