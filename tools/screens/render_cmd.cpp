// ortivex-screens render: every screen in every language and theme drawn by
// the window's real Direct2D renderer into PNG files, with an index page to
// look at them side by side, and two checks on each frame: every text fits
// the box it is drawn in, and no two hit regions overlap.
#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/text.h"
#include "i18n/strings.h"
#include "ui/scripted/recording_canvas.h"
#include "platform/win/ui/renderer.h"
#include "platform/win/wide.h"
#include "gallery_checks.h"
#include "screens.h"
#include "ui/scripted/screens.h"
#include "ui/view.h"

namespace sw::screens {

namespace {

using Microsoft::WRL::ComPtr;
namespace fs = std::filesystem;

constexpr const char* kLanguages[] = {"en", "es", "zh"};
constexpr const char* kThemes[] = {"light", "dark", "contrast"};
constexpr const char* kDpis[] = {"96", "144"};
int render_usage() {
    std::fputs("usage: ortivex-screens render OUT [--dpi 96|144] [--screens NAME,NAME,...]\n",
               stderr);
    return 2;
}

bool save_png(IWICImagingFactory* wic, IWICBitmap* bitmap, const fs::path& file) {
    ComPtr<IWICStream> stream;
    if (FAILED(wic->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromFilename(file.wstring().c_str(), GENERIC_WRITE)))
        return false;
    ComPtr<IWICBitmapEncoder> encoder;
    if (FAILED(wic->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)))
        return false;
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(encoder->CreateNewFrame(&frame, nullptr)) || FAILED(frame->Initialize(nullptr)))
        return false;
    UINT w = 0, h = 0;
    bitmap->GetSize(&w, &h);
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (FAILED(frame->SetSize(w, h)) || FAILED(frame->SetPixelFormat(&format))) return false;
    return SUCCEEDED(frame->WriteSource(bitmap, nullptr)) && SUCCEEDED(frame->Commit()) &&
           SUCCEEDED(encoder->Commit());
}

std::string html_escaped(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// One page over every image in OUT, whichever runs (one per DPI) made them,
// with the problems every run found at the top.
void write_index(const fs::path& out, const std::vector<std::string_view>& names) {
    std::string problems;
    for (const char* dpi : kDpis)
        problems += read_file(out / (std::string("problems-") + dpi + ".txt"));
    std::string html =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Ortivex Stickwright "
        "screens</title>\n<style>body{font-family:sans-serif;background:#888}"
        "td{vertical-align:top;text-align:center}img{width:280px;border:1px solid #444}"
        "th{padding:4px}</style></head><body>\n<h1>Ortivex Stickwright screens</h1>\n";
    if (problems.empty()) {
        html += "<p>No problems found.</p>\n";
    } else {
        html += "<h2>Problems</h2><ul>\n";
        std::istringstream lines(problems);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty()) html += "<li>" + html_escaped(line) + "</li>\n";
        html += "</ul>\n";
    }
    std::vector<const char*> dpis;
    for (const char* dpi : kDpis)
        for (auto name : names)
            if (fs::exists(out / (std::string(name) + "-en-light-" + dpi + ".png"))) {
                dpis.push_back(dpi);
                break;
            }
    for (auto name : names) {
        html += "<h2>" + html_escaped(name) + "</h2>\n<table><tr><th></th>";
        for (const char* theme : kThemes)
            for (const char* dpi : dpis)
                html += std::string("<th>") + theme + " " + dpi + "</th>";
        html += "</tr>\n";
        for (const char* lang : kLanguages) {
            html += std::string("<tr><th>") + lang + "</th>";
            for (const char* theme : kThemes)
                for (const char* dpi : dpis) {
                    std::string file =
                        std::string(name) + "-" + lang + "-" + theme + "-" + dpi + ".png";
                    html += fs::exists(out / file)
                                ? "<td><a href=\"" + file + "\"><img src=\"" + file + "\"></a></td>"
                                : std::string("<td></td>");
                }
            html += "</tr>\n";
        }
        html += "</table>\n";
    }
    html += "</body></html>\n";
    std::ofstream(out / "index.html", std::ios::binary) << html;
}

struct ComApartment {
    bool ok = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ~ComApartment() {
        if (ok) CoUninitialize();
    }
};

}  // namespace

int render_command(const std::vector<std::string>& args) {
    if (args.empty()) return render_usage();
    fs::path out(win::widen(args[0]));
    uint32_t dpi = 96;
    std::vector<std::string_view> names = screen_names();
    for (size_t i = 1; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) return render_usage();
        if (args[i] == "--dpi") {
            if (args[i + 1] == "96") {
                dpi = 96;
            } else if (args[i + 1] == "144") {
                dpi = 144;
            } else {
                return render_usage();
            }
        } else if (args[i] == "--screens") {
            std::vector<std::string_view> all = screen_names();
            names.clear();
            std::string_view list = args[i + 1];
            while (!list.empty()) {
                size_t comma = list.find(',');
                std::string_view one = list.substr(0, comma);
                auto known = std::find(all.begin(), all.end(), one);
                if (known == all.end()) {
                    std::fprintf(stderr, "unknown screen: %.*s (screen list prints the names)\n",
                                 int(one.size()), one.data());
                    return 2;
                }
                names.push_back(*known);
                list = comma == std::string_view::npos ? "" : list.substr(comma + 1);
            }
            if (names.empty()) return render_usage();
        } else {
            return render_usage();
        }
    }

    std::error_code ec;
    fs::create_directories(out, ec);
    if (!fs::is_directory(out)) {
        std::fprintf(stderr, "cannot make the directory %s\n", args[0].c_str());
        return 2;
    }
    ComApartment com;
    ComPtr<IWICImagingFactory> wic;
    if (!com.ok || FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_PPV_ARGS(&wic)))) {
        std::fputs("the imaging component is not available\n", stderr);
        return 2;
    }
    std::shared_ptr<win::RenderFactories> factories = win::create_render_factories();
    if (!factories) {
        std::fputs("Direct2D or DirectWrite is not available\n", stderr);
        return 2;
    }
    win::Renderer renderer(factories);
    renderer.set_dpi(dpi);
    const auto px = static_cast<UINT>(std::lround(kClientWidth * static_cast<float>(dpi) / 96));
    const auto py = static_cast<UINT>(std::lround(kClientHeight * static_cast<float>(dpi) / 96));
    const std::string dpi_word = std::to_string(dpi);

    std::vector<std::string> problems;
    int failures = 0;
    for (auto name : names) {
        for (uint8_t lang = 0; lang < 3; ++lang) {
            renderer.set_locale(win::widen(locale_name(language_from_value(lang))));
            for (int theme = 0; theme < 3; ++theme) {
                auto screen = scripted_screen(name, lang, theme == 1 ? Theme::Dark : Theme::Light,
                                              theme == 2);
                if (!screen) continue;
                std::string frame_name = std::string(name) + "-" + kLanguages[lang] + "-" +
                                         kThemes[theme] + "-" + dpi_word;
                ComPtr<IWICBitmap> bitmap;
                if (FAILED(wic->CreateBitmap(px, py, GUID_WICPixelFormat32bppPBGRA,
                                             WICBitmapCacheOnLoad, &bitmap)) ||
                    !renderer.attach_bitmap(bitmap.Get())) {
                    std::fprintf(stderr, "%s: no bitmap\n", frame_name.c_str());
                    ++failures;
                    continue;
                }
                screen->state.geometry.dpi = dpi;
                renderer.set_palette(screen->state.appearance.palette);
                if (!renderer.begin_frame(px, py,
                                          screen->state.appearance.palette[Slot::Background])) {
                    std::fprintf(stderr, "%s: no render target\n", frame_name.c_str());
                    ++failures;
                    continue;
                }
                FitCheckingCanvas canvas(renderer, problems, frame_name);
                build_frame(screen->state, canvas, screen->now);
                bool drawn = renderer.end_frame();
                // The target holds the bitmap; it must let go before the pixels are read.
                renderer.attach_bitmap(nullptr);
                // The regions the view recorded are the ones that can be pressed:
                // under an open overlay only the overlay's and the header's.
                check_regions(screen->state.last_frame.regions, frame_name, problems);
                // What a screen reader is told of the screen, beside its
                // pictures: the same in every theme and at every DPI.
                if (theme == 0)
                    std::ofstream(out / (std::string(name) + "-" + kLanguages[lang] + ".a11y.json"),
                                  std::ios::binary)
                        << a11y_json(screen->state.last_frame.a11y) << "\n";
                if (!drawn || !save_png(wic.Get(), bitmap.Get(), out / (frame_name + ".png"))) {
                    std::fprintf(stderr, "%s: drawing or saving failed\n", frame_name.c_str());
                    ++failures;
                }
            }
        }
    }

    std::string listed;
    for (const std::string& p : problems) {
        std::printf("%s\n", p.c_str());
        listed += p + "\n";
    }
    std::ofstream(out / ("problems-" + dpi_word + ".txt"), std::ios::binary) << listed;
    write_index(out, screen_names());
    return problems.empty() && failures == 0 ? 0 : 1;
}

}  // namespace sw::screens
