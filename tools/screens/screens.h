// ortivex-screens: the window's screens and texts without a window, for
// looking at them and for the tests that check them.
#pragma once

#include <string>
#include <vector>

namespace sw::screens {

int screen_command(const std::vector<std::string>& args);
int a11y_command(const std::vector<std::string>& args);
int strings_command(const std::vector<std::string>& args);
#ifdef _WIN32
int render_command(const std::vector<std::string>& args);
#endif

}  // namespace sw::screens
