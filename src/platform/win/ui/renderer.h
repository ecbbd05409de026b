// The window's Canvas over Direct2D and DirectWrite: one frame at a time on
// a render target, shapes through one recoloured brush, text through cached
// formats, and the program icon. The factories outlive every render target;
// a failed frame releases the target, and the next frame makes a new one.
#pragma once

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>
#include <dwrite_2.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "ui/canvas.h"
#include "ui/palette.h"

namespace sw::win {

using Microsoft::WRL::ComPtr;

// What start-up creates once: the factories, one stroke style, the system
// font collection (may be absent) and the three font families.
struct RenderFactories {
    ComPtr<ID2D1Factory> d2d;
    ComPtr<IDWriteFactory> dwrite;
    ComPtr<ID2D1StrokeStyle> stroke;
    ComPtr<IDWriteFontCollection> fonts;  // null when the system has none to give
    std::wstring families[3];             // display, text, monospace
    // Where symbols the text family lacks are found; null when the
    // system's own fallback serves.
    ComPtr<IDWriteFontFallback> fallback;
};

// The first of two family names that `fonts` holds; when it holds neither,
// Tahoma or else its first family, so that text never silently vanishes.
// Without a collection, the second name as it stands.
std::wstring pick_family(IDWriteFontCollection* fonts, const wchar_t* first, const wchar_t* second);

// None when the Direct2D or DirectWrite factory, the stroke style or one of
// the three text formats cannot be made.
std::unique_ptr<RenderFactories> create_render_factories();

class Renderer final : public Canvas {
  public:
    explicit Renderer(std::shared_ptr<RenderFactories> factories);
    ~Renderer() override;

    // Draws into `window` from now on; `premultiplied` when the system
    // backdrop shows through the clear colour.
    void attach_window(HWND window, bool premultiplied);
    // Draws into a WIC bitmap instead (the gallery); the bitmap's size in
    // pixels is the frame's size.
    bool attach_bitmap(IWICBitmap* bitmap);

    // Makes the render target if there is none, begins drawing, clears.
    // False when no target can be had; the frame is then skipped.
    bool begin_frame(uint32_t width, uint32_t height, const Rgba& clear);
    // False when drawing failed: the target and everything made from it are
    // released, to be made anew by the next begin_frame.
    bool end_frame();
    void resize(uint32_t width, uint32_t height);
    void set_dpi(uint32_t dpi);
    // Text formats are bound to a locale: a new one empties the cache.
    void set_locale(const std::wstring& locale);
    void set_palette(const Palette& palette);
    // The cached format for a size, weight step (300 + 100 × step) and
    // family; null when DirectWrite refuses.
    IDWriteTextFormat* text_format(float size, uint8_t weight, FontFamily family);

    // Canvas
    void fill_rect(const Rect& r, Paint paint) override;
    void fill_rounded(const Rect& r, float radius, Paint paint) override;
    void stroke_rounded(const Rect& r, float radius, Paint paint, float width) override;
    void line(float x0, float y0, float x1, float y1, Paint paint, float width) override;
    void fill_ellipse(float cx, float cy, float rx, float ry, Paint paint) override;
    void stroke_ellipse(float cx, float cy, float rx, float ry, Paint paint, float width) override;
    void text(std::string_view utf8, const Rect& box, const TextStyle& style, Paint paint,
              Align horizontal, Align vertical) override;
    TextExtent measure(std::string_view utf8, const TextStyle& style, float max_width) override;
    void icon(const Rect& r, float opacity) override;
    void push_clip(const Rect& r) override;
    void pop_clip() override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sw::win
