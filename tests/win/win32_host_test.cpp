// What the window hands to the shell: only secure web addresses and folders
// that exist, never a program or a document the shell would run.
#include <gtest/gtest.h>

#include <optional>
#include <string>

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

// What the clipboard holds as text; none when it holds none.
std::optional<std::wstring> clipboard_text() {
    if (!OpenClipboard(nullptr)) return std::nullopt;
    std::optional<std::wstring> text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* units = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = units;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

TEST(Win32Host, CopiedTextIsOnTheClipboardWholeAndReplacesWhatWasThere) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(window);
    {
        Win32Host host(window, nullptr);
        ASSERT_TRUE(host.set_clipboard_text("old text that is longer"));
        // Details hold line breaks and text in any of the three languages.
        ASSERT_TRUE(host.set_clipboard_text("Error: sin acceso\r\n写入失败 · disk 4000000000"));
        EXPECT_EQ(clipboard_text(),
                  L"Error: sin acceso\r\n\u5199\u5165\u5931\u8d25 \u00b7 disk 4000000000");
        ASSERT_TRUE(host.set_clipboard_text(""));
        EXPECT_EQ(clipboard_text(), L"");
        // Held open elsewhere, the clipboard cannot be had: a failure, not a hang.
        ASSERT_TRUE(OpenClipboard(nullptr));
        EXPECT_FALSE(host.set_clipboard_text("x"));
        CloseClipboard();
    }
    DestroyWindow(window);
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
