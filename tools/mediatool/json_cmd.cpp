#include "commands.h"

#include <cstdio>

namespace sw::mediatool {

int json_command(const std::vector<std::string>&) {
    std::fputs("not built yet\n", stderr);
    return 2;
}

}  // namespace sw::mediatool
