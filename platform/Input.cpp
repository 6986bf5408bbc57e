#include "platform/Input.h"

#include <SDL.h>

#include <array>
#include <optional>

namespace {

// Test overrides: a key listed here reads as given instead of the keyboard.
struct Overrides {
    std::array<signed char, 256> keys;  // -1 = not overridden, 0 = up, 1 = down
    std::optional<POINT> cursor;
    Overrides() { keys.fill(-1); }
};

Overrides& TheOverrides() {
    static Overrides overrides;
    return overrides;
}

int g_nCursorCount = 0;

// Keys pressed since they were last read. A key tapped between two reads (a
// slow frame) still reads as down once, so a short press of Escape is never
// lost.
std::array<bool, SDL_NUM_SCANCODES> g_bPressedSinceRead{};

int RecordKeyPress(void*, SDL_Event* event) {
    if (event->type == SDL_KEYDOWN && event->key.keysym.scancode < SDL_NUM_SCANCODES)
        g_bPressedSinceRead[static_cast<std::size_t>(event->key.keysym.scancode)] = true;
    return 1;
}

void WatchKeyPresses() {
    static bool watching = false;
    if (watching) return;
    SDL_AddEventWatch(&RecordKeyPress, nullptr);
    watching = true;
}

SDL_Scancode ScancodeOf(int vk) {
    if (vk >= 'A' && vk <= 'Z') return static_cast<SDL_Scancode>(SDL_SCANCODE_A + (vk - 'A'));
    if (vk >= '1' && vk <= '9') return static_cast<SDL_Scancode>(SDL_SCANCODE_1 + (vk - '1'));
    switch (vk) {
        case '0': return SDL_SCANCODE_0;
        case VK_ESCAPE: return SDL_SCANCODE_ESCAPE;
        case VK_PRIOR: return SDL_SCANCODE_PAGEUP;
        case VK_NEXT: return SDL_SCANCODE_PAGEDOWN;
        case VK_LEFT: return SDL_SCANCODE_LEFT;
        case VK_UP: return SDL_SCANCODE_UP;
        case VK_RIGHT: return SDL_SCANCODE_RIGHT;
        case VK_DOWN: return SDL_SCANCODE_DOWN;
        default: return SDL_SCANCODE_UNKNOWN;
    }
}

}  // namespace

namespace platform {

void SetKeyStateForTesting(int virtualKey, bool down) {
    if (virtualKey >= 0 && virtualKey < 256) TheOverrides().keys[static_cast<std::size_t>(virtualKey)] = down ? 1 : 0;
}

void ClearKeyStatesForTesting() { TheOverrides().keys.fill(-1); }

void SetCursorPosForTesting(const POINT* point) {
    if (point) TheOverrides().cursor = *point;
    else TheOverrides().cursor.reset();
}

}  // namespace platform

SHORT GetAsyncKeyState(int virtualKey) {
    constexpr SHORT kDown = static_cast<SHORT>(0x8000);
    if (virtualKey < 0 || virtualKey >= 256) return 0;
    const signed char forced = TheOverrides().keys[static_cast<std::size_t>(virtualKey)];
    if (forced >= 0) return forced ? kDown : 0;
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return 0;
    WatchKeyPresses();
    SDL_PumpEvents();
    const SDL_Scancode code = ScancodeOf(virtualKey);
    if (code == SDL_SCANCODE_UNKNOWN) return 0;
    const Uint8* state = SDL_GetKeyboardState(nullptr);
    const bool pressed = g_bPressedSinceRead[static_cast<std::size_t>(code)];
    g_bPressedSinceRead[static_cast<std::size_t>(code)] = false;
    return (state && state[code]) || pressed ? kDown : 0;
}

int ShowCursor(BOOL show) {
    g_nCursorCount += show ? 1 : -1;
    if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_ShowCursor(g_nCursorCount >= 0 ? SDL_ENABLE : SDL_DISABLE);
    return g_nCursorCount;
}

BOOL GetCursorPos(POINT* point) {
    if (!point) return FALSE;
    if (TheOverrides().cursor) {
        *point = *TheOverrides().cursor;
        return TRUE;
    }
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return FALSE;
    int x = 0, y = 0;
    SDL_GetGlobalMouseState(&x, &y);
    *point = POINT{x, y};
    return TRUE;
}

BOOL WINNLSEnableIME(HWND, BOOL enable) {
    static BOOL enabled = TRUE;
    const BOOL previous = enabled;
    enabled = enable;
    if (SDL_WasInit(SDL_INIT_VIDEO)) {
        if (enable) SDL_StartTextInput();
        else SDL_StopTextInput();
    }
    return previous;
}
