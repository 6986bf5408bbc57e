// Translation of a decoded vertex program into a GLSL 3.30 core vertex shader
// that computes what the CPU interpreter (VertexProgramInterp.h) computes, the
// same defaults for unwritten outputs included.
//
// The shader's interface, which the device binds:
//   layout(location = N) in vec4 vN;   one per input register the program reads
//                                      (a missing attribute reads (0, 0, 0, 1))
//   uniform vec4 c[96];                the constant registers
//   uniform bool uClipControl;         true when the device uses glClipControl
//                                      with a 0..1 depth range
//   out vec4 vsD0, vsD1;               oD0, oD1, clamped to 0..1
//   out vec4 vsT0 .. vsT7;             oT0 .. oT7
//   out float vsFog;                   oFog (unclamped)
//   gl_Position                        oPos; Direct3D's clip depth 0..w is
//                                      remapped to OpenGL's -w..w
//                                      (z' = 2z - w) unless uClipControl is set
//   gl_PointSize                       oPts, only when the program writes it
//
// Every output is declared and written whatever the program writes. The
// address register is an int; c[a0.x + n] outside c0..c95 reads (0, 0, 0, 0).
#pragma once

#include <string>

#include "gfx/VertexProgram.h"

std::string TranslateVertexProgramToGlsl(const VertexProgram& program);
