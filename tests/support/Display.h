// Tests that need a display (a window, an OpenGL 3.3 device) and find none.
//
// CTest sets GLIMMERWING_TEST=1 for every test it runs, so under the README's
// test command and in CI a missing display fails the test: a broken X set-up
// must not let the drawing half of the suite pass without running. A
// developer who runs a test program by hand without a display sees the test
// skipped instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace testing_support {

inline bool DisplayRequired() {
    const char* v = std::getenv("GLIMMERWING_TEST");
    return v && std::strcmp(v, "1") == 0;
}

// Ends the test (or its SetUp) that found no display; use it as
// `return MissingDisplay(why);`.
inline void MissingDisplay(const std::string& why) {
    if (DisplayRequired()) GTEST_FAIL() << why << " (GLIMMERWING_TEST is set: this run needs a display)";
    GTEST_SKIP() << why;
}

// Ends the test whose saver scene did not start: through MissingDisplay when
// there was nothing to draw on, as a failure when start-up itself failed.
inline void SceneNotStarted(bool displayMissing, const std::string& error) {
    if (displayMissing) return MissingDisplay(error);
    GTEST_FAIL() << error;
}

}  // namespace testing_support
