// Process entry: the choice between the window and the headless face.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace sw {

class Machine;

enum class Face { Window, Headless };

// The five mode flags select the headless face wherever they stand; the
// comparison is exact and case-sensitive.
Face choose_face(const std::vector<std::string>& args);

// The window face of this platform (the Linux build has none and prints usage).
int run_window_face(std::shared_ptr<Machine> machine);

}  // namespace sw
