// The Linux build has no window: without a mode flag it explains its modes.
#include <cstdio>

#include "entry.h"

namespace sw {

int run_window_face(std::shared_ptr<Machine>) {
    std::fputs(
        "usage: ortivex-stickwright MODE [OPTIONS]\n"
        "\n"
        "modes:\n"
        "  --list-drives             list every drive with its verdict\n"
        "  --verify-image PATH       validate an image file\n"
        "  --health                  health check of the test drive\n"
        "  --write PATH              write an image to the test drive\n"
        "  --benchmark               compare write methods on the test drive\n"
        "  --restore                 give the test drive one partition with an empty\n"
        "                            FAT32 or exFAT file system\n"
        "\n"
        "options:\n"
        "  --enable-destructive-usb-tests   required for --write, --restore and\n"
        "                                   --benchmark\n"
        "  --no-verify               with --write: skip read-back verification\n"
        "  --bench-mib N             benchmark size in MiB (default 1024)\n"
        "\n"
        "ORTIVEX_TEST_USB_SERIAL names the one drive that --health, --write,\n"
        "--restore and --benchmark may touch.\n",
        stderr);
    return 2;
}

}  // namespace sw
