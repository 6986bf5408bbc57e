#include "platform/Random.h"

#include <cstdint>

namespace {

// Constant-initialised, so objects built before main can seed and draw.
constinit std::uint32_t g_randState = 1;

}  // namespace

void SRand(unsigned seed) { g_randState = static_cast<std::uint32_t>(seed); }

int Rand() {
    g_randState = g_randState * 214013u + 2531011u;
    return static_cast<int>((g_randState >> 16) & 0x7FFFu);
}
