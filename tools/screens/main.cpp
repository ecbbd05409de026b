// ortivex-screens: a window screen's draw list and hit regions, or one
// language's texts, as JSON; on Windows also every screen drawn into PNGs.
#include <cstdio>
#include <string>
#include <vector>

#include "core/system.h"
#include "screens.h"

int main(int argc, char** argv) {
    std::vector<std::string> args = sw::platform::command_line_args(argc, argv);
    std::vector<std::string> rest(args.empty() ? args.end() : args.begin() + 1, args.end());
    if (!args.empty() && args[0] == "screen") return sw::screens::screen_command(rest);
    if (!args.empty() && args[0] == "a11y") return sw::screens::a11y_command(rest);
    if (!args.empty() && args[0] == "strings") return sw::screens::strings_command(rest);
#ifdef _WIN32
    if (!args.empty() && args[0] == "render") return sw::screens::render_command(rest);
#endif
    std::fputs(
        "usage: ortivex-screens COMMAND [ARGS]\n\ncommands:\n"
        "  screen NAME [--lang en|es|zh] [--theme light|dark|contrast] [--dpi 96|144]\n"
        "                            print a window screen's draw list and hit regions as JSON\n"
        "                            (screen list prints the names)\n"
        "  a11y NAME [--lang en|es|zh] [--theme light|dark|contrast]\n"
        "                            print what a screen reader is told of a screen as JSON\n"
        "  strings en|es|zh          print the window's texts in one language as a JSON array\n"
#ifdef _WIN32
        "  render OUT [--dpi 96|144] [--screens NAME,...]\n"
        "                            draw every screen in every language and theme into\n"
        "                            OUT/SCREEN-LANG-THEME-DPI.png and OUT/index.html; exit 1\n"
        "                            when a text does not fit its box or hit regions overlap\n"
#endif
        ,
        stderr);
    return 2;
}
