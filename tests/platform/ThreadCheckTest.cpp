#include "platform/ThreadCheck.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/MainLoop.h"

namespace {

void enterOnAnyThread() {
    RZ_CHECK_MAIN_THREAD();
}

TEST(ThreadCheck, AMainThreadEntryCalledFromAnotherThreadEndsTheProcess) {
    if (!platform::kThreadChecksEnabled) {
        GTEST_SKIP() << "thread checks are compiled out of release builds";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    enterOnAnyThread();  // the main thread passes
    // The line names the entry point that was called, so that the report leads to it.
    EXPECT_DEATH(std::thread(enterOnAnyThread).join(),
                 "enterOnAnyThread.*called off the main thread");
    // Work posted back to the loop is on the main thread again.
    bool ran = false;
    std::thread([&ran] {
        platform::MainLoop::main().post([&ran] {
            enterOnAnyThread();
            ran = true;
        });
    }).join();
    EXPECT_TRUE(platform::MainLoop::main().runUntil([&] { return ran; }, 5));
}

}  // namespace
