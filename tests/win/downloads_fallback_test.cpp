// The Downloads folder the window falls back to when the system names none:
// the one in the user's profile, whose path may hold any character, not only
// those of the ANSI code page.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "core/paths.h"
#include "core/text.h"
#include "support/ui_harness.h"

namespace sw {
namespace {

// Sets an environment variable for the test's lifetime, as UTF-16.
class ScopedProfile {
  public:
    explicit ScopedProfile(const std::wstring& value) {
        wchar_t old[32768];
        DWORD n = GetEnvironmentVariableW(L"USERPROFILE", old, 32768);
        if (n > 0 && n < 32768) old_ = std::wstring(old, n);
        SetEnvironmentVariableW(L"USERPROFILE", value.c_str());
    }
    ~ScopedProfile() { SetEnvironmentVariableW(L"USERPROFILE", old_ ? old_->c_str() : nullptr); }
    ScopedProfile(const ScopedProfile&) = delete;
    ScopedProfile& operator=(const ScopedProfile&) = delete;

  private:
    std::optional<std::wstring> old_;
};

TEST(DownloadsFallback, AProfileOutsideTheAnsiCodePageKeepsItsName) {
    // "Пользователь" and "用户": neither fits a Western code page, and
    // the ANSI environment would hand them over as question marks.
    for (const char* name : {"C:\\Users\\Пользователь", "C:\\Users\\用户 Ортивекс"}) {
        SCOPED_TRACE(name);
        std::wstring wide;
        for (char16_t unit : utf8_to_utf16(name))
            wide.push_back(static_cast<wchar_t>(unit));
        ScopedProfile profile(wide);
        test::UiHarness h;
        h.host.downloads = std::nullopt;  // the system names none
        ASSERT_TRUE(h.click(UiAction::DownloadLatest));
        ASSERT_EQ(h.workers.downloads.size(), 1u);
        EXPECT_EQ(h.workers.downloads[0], path_from_utf8(name) / "Downloads");
        EXPECT_EQ(utf8_of(h.workers.downloads[0]), std::string(name) + "\\Downloads");
    }
}

TEST(DownloadsFallback, NoProfileAndNoSystemFolderStartsNothing) {
    ScopedProfile profile(L"");
    test::UiHarness h;
    h.host.downloads = std::nullopt;
    h.click(UiAction::DownloadLatest);
    EXPECT_TRUE(h.workers.downloads.empty());
    EXPECT_EQ(h.s().phase, AppPhase::Idle);
}

}  // namespace
}  // namespace sw
