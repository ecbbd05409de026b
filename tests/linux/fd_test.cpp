// The owning descriptor of the Linux adapters.
#include "platform/linux/fd.h"

#include <fcntl.h>

#include <gtest/gtest.h>

namespace sw::platform {
namespace {

bool is_open(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

int open_null() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

TEST(UniqueFd, ClosesExactlyWhatItOwnsOnce) {
    int raw = open_null();
    ASSERT_GE(raw, 0);
    {
        UniqueFd a(raw);
        UniqueFd b(std::move(a));  // the moved-from value no longer owns it
        EXPECT_FALSE(a);
        EXPECT_EQ(b.get(), raw);
        a = UniqueFd();
        EXPECT_TRUE(is_open(raw));
    }
    EXPECT_FALSE(is_open(raw));

    // Taking another descriptor closes the old one.
    UniqueFd held(open_null());
    int old = held.get();
    held = UniqueFd(open_null());
    EXPECT_FALSE(is_open(old));
    EXPECT_TRUE(is_open(held.get()));

    // Released, it is the caller's again.
    int given = held.release();
    EXPECT_FALSE(held);
    held.reset();
    EXPECT_TRUE(is_open(given));
    ::close(given);
}

TEST(UniqueFd, CloseReportsOnceAndLeavesNothingBehind) {
    UniqueFd fd(open_null());
    int raw = fd.get();
    EXPECT_TRUE(fd.close());
    EXPECT_FALSE(fd);
    EXPECT_FALSE(is_open(raw));
    EXPECT_TRUE(fd.close());  // nothing left: no second close of a number that may be reused
    UniqueFd none(-1);
    EXPECT_FALSE(none);
    EXPECT_TRUE(none.close());
}

}  // namespace
}  // namespace sw::platform
