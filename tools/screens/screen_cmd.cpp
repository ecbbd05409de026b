// ortivex-screens screen: one of the window's screens, built from a
// scripted state and drawn on the recording canvas, as JSON.
#include <cstdio>
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

}  // namespace

int screen_command(const std::vector<std::string>& args) {
    if (args.empty()) return screen_usage();
    if (args[0] == "list") {
        for (auto name : screen_names())
            std::printf("%.*s\n", int(name.size()), name.data());
        return 0;
    }
    uint8_t lang = 0;
    Theme theme = Theme::Light;
    bool contrast = false;
    uint32_t dpi = 96;
    for (size_t i = 1; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) return screen_usage();
        const std::string& key = args[i];
        const std::string& value = args[i + 1];
        if (key == "--lang") {
            if (value == "en") {
                lang = 0;
            } else if (value == "es") {
                lang = 1;
            } else if (value == "zh") {
                lang = 2;
            } else {
                return screen_usage();
            }
        } else if (key == "--theme") {
            if (value == "light") {
                theme = Theme::Light;
            } else if (value == "dark") {
                theme = Theme::Dark;
            } else if (value == "contrast") {
                contrast = true;
            } else {
                return screen_usage();
            }
        } else if (key == "--dpi") {
            if (value == "96") {
                dpi = 96;
            } else if (value == "144") {
                dpi = 144;
            } else {
                return screen_usage();
            }
        } else {
            return screen_usage();
        }
    }
    auto screen = scripted_screen(args[0], lang, theme, contrast);
    if (!screen) {
        std::fprintf(stderr, "unknown screen: %s (screen list prints the names)\n",
                     args[0].c_str());
        return 2;
    }
    screen->state.geometry.dpi = dpi;
    RecordingCanvas canvas(dpi);
    build_frame(screen->state, canvas, screen->now);
    std::string json = frame_json(canvas.ops(), screen->state.last_frame.regions);
    std::printf("%s\n", json.c_str());
    return 0;
}

}  // namespace sw::screens
