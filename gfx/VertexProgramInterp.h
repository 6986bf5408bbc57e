// The CPU interpreter of decoded vertex programs: the device's software vertex
// processing path, and the reference that the GLSL translation is held to.
//
// Each instruction does what Direct3D 8 documents for it:
//   - rcp / rsq of 0 give +infinity, of 1 exactly 1; rsq takes |x|;
//   - exp and log are the full-precision forms (2^x and log2|x| in every
//     component, log of 0 = -infinity); expp and logp are the partial forms
//     (x = 2^floor(w), y = fraction, z = 2^w with the low 8 mantissa bits
//     cleared, w = 1; and x = exponent, y = mantissa in [1, 2), z = log2|w|
//     with the low 8 bits cleared, w = 1; for 0: (-inf, 1, -inf, 1));
//   - lit clamps the specular power to +-127.9961;
//   - frc writes x and y only; m4x3 / m3x3 write xyz; m3x2 writes xy;
//   - mov a0.x, r takes floor(r) (values beyond +-2^20, and NaN, land outside
//     the constant file);
//   - a relative constant read outside c0..c95 gives (0, 0, 0, 0).
// Constants defined by the program (def) replace the caller's registers.
//
// Temporaries and a0 start at 0 for every vertex. Outputs that the program
// does not write keep these values: oPos (0, 0, 0, 1); oD0 (1, 1, 1, 1), the
// opaque white that Direct3D supplies for a missing diffuse colour; oD1
// (0, 0, 0, 0), no specular; oT0..oT7 (0, 0, 0, 0); oFog 1 (no fog); oPts 1.
// The colours are clamped to 0..1 on output, as Direct3D does; the fog value
// is passed on unclamped (the device clamps it).
//
// No allocation per vertex: the registers live on the stack.
#pragma once

#include <array>
#include <span>

#include "gfx/VertexProgram.h"

struct VertexProgramOutputs {
    VpVector oPos{};
    std::array<VpVector, kVpColorOutputs> oD{};     // oD0, oD1
    std::array<VpVector, kVpTexCoordOutputs> oT{};  // oT0 .. oT7
    float oFog = 1.0f;
    float oPts = 1.0f;
};

// Runs `program` for one vertex. `inputs` are v0..v15 as the vertex
// declaration delivers them; registers the declaration does not fill should
// hold (0, 0, 0, 1), as a GPU reads a missing attribute.
void ExecuteVertexProgram(const VertexProgram& program, std::span<const VpVector, kVpConstRegisters> constants,
                          const std::array<VpVector, kVpInputRegisters>& inputs, VertexProgramOutputs& out);

// floor(x) as the address register takes it, kept within +-2^20 so that
// a0 + n can never overflow (NaN and huge values give -2^20).
int VpAddressFromFloat(float x);
