// ortivex-screens screen and a11y: one of the window's screens, built from a
// scripted state and drawn on the recording canvas, as JSON: its draw list
// and hit regions, or what a screen reader is told of it.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "screens.h"
#include "ui/scripted/recording_canvas.h"
#include "ui/scripted/screens.h"
#include "ui/view.h"

namespace sw::screens {

namespace {

int screen_usage() {
    std::fputs(
        "usage: ortivex-screens screen NAME [--lang en|es|zh] [--theme light|dark|contrast] "
        "[--dpi 96|144]\n       ortivex-screens screen list\n",
        stderr);
    return 2;
}

struct ScreenOptions {
    uint8_t lang = 0;
    Theme theme = Theme::Light;
    bool contrast = false;
    uint32_t dpi = 96;
};

// The options after the screen's name; none for one it does not know.
std::optional<ScreenOptions> parse_options(const std::vector<std::string>& args) {
    ScreenOptions o;
    for (size_t i = 1; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) return std::nullopt;
        const std::string& key = args[i];
        const std::string& value = args[i + 1];
        if (key == "--lang") {
            if (value == "en") {
                o.lang = 0;
            } else if (value == "es") {
                o.lang = 1;
            } else if (value == "zh") {
                o.lang = 2;
            } else {
                return std::nullopt;
            }
        } else if (key == "--theme") {
            if (value == "light") {
                o.theme = Theme::Light;
            } else if (value == "dark") {
                o.theme = Theme::Dark;
            } else if (value == "contrast") {
                o.contrast = true;
            } else {
                return std::nullopt;
            }
        } else if (key == "--dpi") {
            if (value == "96") {
                o.dpi = 96;
            } else if (value == "144") {
                o.dpi = 144;
            } else {
                return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
    }
    return o;
}

// The named screen drawn once on the recording canvas; none (after saying
// why) for an unknown name.
std::optional<ScriptedScreen> drawn_screen(const std::string& name, const ScreenOptions& o,
                                           RecordingCanvas& canvas) {
    auto screen = scripted_screen(name, o.lang, o.theme, o.contrast);
    if (!screen) {
        std::fprintf(stderr, "unknown screen: %s (screen list prints the names)\n", name.c_str());
        return std::nullopt;
    }
    screen->state.geometry.dpi = o.dpi;
    build_frame(screen->state, canvas, screen->now);
    return screen;
}

}  // namespace

int screen_command(const std::vector<std::string>& args) {
    if (args.empty()) return screen_usage();
    if (args[0] == "list") {
        for (auto name : screen_names())
            std::printf("%.*s\n", int(name.size()), name.data());
        return 0;
    }
    auto options = parse_options(args);
    if (!options) return screen_usage();
    RecordingCanvas canvas(options->dpi);
    auto screen = drawn_screen(args[0], *options, canvas);
    if (!screen) return 2;
    std::string json = frame_json(canvas.ops(), screen->state.last_frame.regions);
    std::printf("%s\n", json.c_str());
    return 0;
}

int a11y_command(const std::vector<std::string>& args) {
    auto options = args.empty() ? std::nullopt : parse_options(args);
    if (!options) {
        std::fputs(
            "usage: ortivex-screens a11y NAME [--lang en|es|zh] "
            "[--theme light|dark|contrast]\n",
            stderr);
        return 2;
    }
    RecordingCanvas canvas(options->dpi);
    auto screen = drawn_screen(args[0], *options, canvas);
    if (!screen) return 2;
    std::printf("%s\n", a11y_json(screen->state.last_frame.a11y).c_str());
    return 0;
}

}  // namespace sw::screens
