#include "entry.h"
#include "platform/system.h"

int main(int argc, char** argv) {
    return sw::run_program(sw::platform::command_line_args(argc, argv));
}
