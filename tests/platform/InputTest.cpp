// The keyboard as the frame polls it: a key tapped between two polls still
// reads as down once.
#include <gtest/gtest.h>

#include <SDL.h>

#include "platform/Input.h"
#include "platform/Window.h"
#include "tests/support/Display.h"

TEST(Input, KeyTappedBetweenTwoPollsReadsAsDownOnce) {
    if (!platform::EnsureVideo()) return testing_support::MissingDisplay("no display");
    platform::ClearKeyStatesForTesting();
    EXPECT_GE(GetAsyncKeyState(VK_ESCAPE), 0);  // starts watching, nothing pressed

    // Press and release arrive before the next poll, as in a slow frame.
    SDL_Event press{};
    press.type = SDL_KEYDOWN;
    press.key.keysym.scancode = SDL_SCANCODE_ESCAPE;
    SDL_Event release = press;
    release.type = SDL_KEYUP;
    ASSERT_EQ(SDL_PushEvent(&press), 1);
    ASSERT_EQ(SDL_PushEvent(&release), 1);

    EXPECT_LT(GetAsyncKeyState(VK_ESCAPE), 0);
    EXPECT_GE(GetAsyncKeyState(VK_ESCAPE), 0);  // read once, then up again
    EXPECT_GE(GetAsyncKeyState('W'), 0);        // other keys untouched
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
}
