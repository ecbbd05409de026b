// The write's keep-awake guard against the system's execution state.
#include <windows.h>

#include <gtest/gtest.h>

#include "core/process.h"

namespace sw {
namespace {

// Sets the state it reads back, so that asking changes nothing.
EXECUTION_STATE current_state() {
    EXECUTION_STATE state = SetThreadExecutionState(ES_CONTINUOUS);
    SetThreadExecutionState(state);
    return state;
}

TEST(KeepAwake, TheSystemIsRequiredExactlyWhileTheGuardLives) {
    SetThreadExecutionState(ES_CONTINUOUS);
    {
        platform::KeepAwake awake;
        EXPECT_EQ(current_state(),
                  static_cast<EXECUTION_STATE>(ES_CONTINUOUS | ES_SYSTEM_REQUIRED));
    }
    EXPECT_EQ(current_state(), static_cast<EXECUTION_STATE>(ES_CONTINUOUS));
}

}  // namespace
}  // namespace sw
