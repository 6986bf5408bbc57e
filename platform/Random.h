// The pseudo-random generator of the Microsoft C runtime: the same recurrence
// and range (0..32767), so every seeded sequence and every division by
// kRandMax behaves as the program expects. glibc's rand() has another range.
#pragma once

constexpr int kRandMax = 32767;

// Restarts the sequence; the state before the first SRand is 1.
void SRand(unsigned seed);
// state = state * 214013 + 2531011 (mod 2^32); returns (state >> 16) & 0x7FFF.
int Rand();
