// The environment as the product reads it: UTF-16 from the system, UTF-8 to
// the rules, whatever the ANSI code page can hold.
#include <windows.h>

#include <gtest/gtest.h>

#include "core/system.h"

namespace sw {
namespace {

constexpr const wchar_t* kName = L"STICKWRIGHT_ENV_TEST";

class Environment : public ::testing::Test {
  protected:
    void TearDown() override { SetEnvironmentVariableW(kName, nullptr); }
};

TEST_F(Environment, TextOutsideTheAnsiCodePageArrivesAsUtf8) {
    // A user profile folder named in Polish and Chinese: no single-byte code
    // page holds both, so an ANSI read would turn them into question marks.
    ASSERT_TRUE(SetEnvironmentVariableW(kName, L"C:\\Users\\\u0141ucja \u674e\u534e"));
    EXPECT_EQ(platform::env_var("STICKWRIGHT_ENV_TEST"),
              std::optional<std::string>("C:\\Users\\\xC5\x81ucja \xE6\x9D\x8E\xE5\x8D\x8E"));
}

TEST_F(Environment, UnsetEmptyAndBrokenValuesAreToldApart) {
    EXPECT_EQ(platform::env_var("STICKWRIGHT_ENV_TEST"), std::nullopt);
    ASSERT_TRUE(SetEnvironmentVariableW(kName, L""));
    EXPECT_EQ(platform::env_var("STICKWRIGHT_ENV_TEST"), std::optional<std::string>(""));
    // A lone surrogate is no text at all.
    const wchar_t broken[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    ASSERT_TRUE(SetEnvironmentVariableW(kName, broken));
    EXPECT_EQ(platform::env_var("STICKWRIGHT_ENV_TEST"), std::nullopt);
}

}  // namespace
}  // namespace sw
