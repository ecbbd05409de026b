// What the window hands to the shell: only secure web addresses and folders
// that exist, never a program or a document the shell would run.
#include <gtest/gtest.h>

#include "platform/win/ui/win32_host.h"
#include "platform/win/ui/main_window.h"
#include "support/temp_dir.h"

namespace sw::win {
namespace {

TEST(Win32Host, ShellOpensOnlySecureAddressesAndFolders) {
    EXPECT_TRUE(may_shell_open("https://downloads.ortivex.com/releases/"));
    EXPECT_TRUE(may_shell_open("HTTPS://ortivex.com"));
    EXPECT_FALSE(may_shell_open("http://ortivex.com"));
    EXPECT_FALSE(may_shell_open("https://ortivex.com/a b"));    // a space starts an argument
    EXPECT_FALSE(may_shell_open("https://ortivex.com/\"x\""));  // and so may a quote
    EXPECT_FALSE(may_shell_open("file:///C:/windows/system32/calc.exe"));
    EXPECT_FALSE(may_shell_open("calc.exe"));
    EXPECT_FALSE(may_shell_open(""));

    test::TempDir dir;
    EXPECT_TRUE(may_shell_open(dir.path().string()));
    test::write_file(dir / "run.bat", "echo\r\n");
    EXPECT_FALSE(may_shell_open((dir / "run.bat").string()));  // a file, not a folder
    EXPECT_FALSE(may_shell_open((dir / "missing").string()));
    EXPECT_FALSE(may_shell_open("relative\\folder"));
}

TEST(Win32Host, ProcessAgeIsMeasuredFromItsCreation) {
    uint64_t first = ms_since_process_start();
    Sleep(30);
    uint64_t second = ms_since_process_start();
    EXPECT_GE(second, first + 20);
    EXPECT_LT(second, 10ull * 60 * 1000);  // this test process is minutes old at most
}

}  // namespace
}  // namespace sw::win
