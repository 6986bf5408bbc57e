#include "app/FrameState.h"

float g_fElapsedTime = 0.0f;
KeyState g_Keys{};
