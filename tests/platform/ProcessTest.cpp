#include "platform/Process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdint>
#include <cstdlib>

namespace {

[[noreturn]] void CrashAfterPrepare(const char* display) {
    if (display) setenv("DISPLAY", display, 1);
    platform::PrepareProcess();
    volatile std::uintptr_t address = 8;  // no page is ever mapped there
    *reinterpret_cast<volatile int*>(address) = 1;
    std::_Exit(0);
}

// A crash while the X server is gone is the lost display; any other crash
// stays a crash.
TEST(ProcessDeathTest, ACrashIsALostDisplayOnlyWhenTheServerIsGone) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(CrashAfterPrepare(":4711"), testing::ExitedWithCode(1), "connection to the X display was lost");
#ifdef __SANITIZE_ADDRESS__
    EXPECT_EXIT(CrashAfterPrepare(nullptr), testing::ExitedWithCode(1), "SEGV");
#else
    EXPECT_EXIT(CrashAfterPrepare(nullptr), testing::KilledBySignal(SIGSEGV), "");
#endif
}

}  // namespace
