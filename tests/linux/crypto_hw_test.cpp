// The content check's speed rests on libgcrypt using the CPU's SHA
// instructions where the CPU has them.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "image/crypto.h"

namespace sw {
namespace {

TEST(CryptoLibrary, UsesTheShaInstructionsWhereTheCpuHasThem) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::stringstream text;
    text << cpuinfo.rdbuf();
    std::string description = crypto_library_description();
    EXPECT_TRUE(description.starts_with("1.")) << description;
    if (text.str().find(" sha_ni") == std::string::npos) {
        GTEST_SKIP() << "this CPU has no SHA extensions";
    }
    EXPECT_NE(description.find("intel-shaext"), std::string::npos) << description;
}

}  // namespace
}  // namespace sw
