// Running vertex programs: each instruction of the CPU interpreter on known
// values, the toon program, palette addressing as the skinning programs use
// it, and the GLSL translation held against the interpreter on the GPU
// through transform feedback.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "gfx/VertexProgram.h"
#include "gfx/VertexProgramAsm.h"
#include "gfx/VertexProgramGlsl.h"
#include "gfx/VertexProgramInterp.h"
#include "tests/support/Display.h"
#include "tests/support/VertexProgramCapture.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

using Constants = testing_support::VpConstants;
using Inputs = testing_support::VpInputs;

VertexProgram Build(const std::string& text) {
    D3DXBuffer* code = nullptr;
    D3DXBuffer* errors = nullptr;
    VertexProgram program;
    const HRESULT hr = D3DXAssembleShader(text.data(), static_cast<UINT>(text.size()), 0, nullptr, &code, &errors);
    if (errors) {
        ADD_FAILURE() << static_cast<const char*>(errors->GetBufferPointer());
        errors->Release();
    }
    if (FAILED(hr) || !code) return program;
    const DWORD* tokens = static_cast<const DWORD*>(code->GetBufferPointer());
    EXPECT_EQ(DecodeVertexProgram(std::span(tokens, code->GetBufferSize() / sizeof(DWORD)), program), S_OK);
    code->Release();
    return program;
}

Inputs DefaultInputs() {
    Inputs inputs;
    inputs.fill({0.0f, 0.0f, 0.0f, 1.0f});
    return inputs;
}

VertexProgramOutputs Execute(const VertexProgram& program, const Constants& constants, const Inputs& inputs) {
    VertexProgramOutputs out;
    ExecuteVertexProgram(program, constants, inputs, out);
    return out;
}

// Runs a vs.1.1 body with v0 = a, v1 = r1 = b, v2 = r2 = c and c0 = k, and
// returns oT0. (One instruction reads one input register at most.)
VpVector Eval(const std::string& body, VpVector a, VpVector b = {}, VpVector c = {}, VpVector k = {}) {
    const VertexProgram program = Build("vs.1.1\nmov r1, v1\nmov r2, v2\n" + body + "\n");
    Inputs inputs = DefaultInputs();
    inputs[0] = a;
    inputs[1] = b;
    inputs[2] = c;
    Constants constants{};
    constants[0] = k;
    return Execute(program, constants, inputs).oT[0];
}

// ---------------------------------------------------------------------------

TEST(VertexProgramInterpreter, ArithmeticSwizzlesAndMasks) {
    const VpVector a{1.0f, 2.0f, 3.0f, 4.0f};
    const VpVector b{0.5f, -1.0f, 8.0f, 2.0f};
    EXPECT_EQ(Eval("mov oT0, v0", a), a);
    EXPECT_EQ(Eval("mov oT0, -v0.wzyx", a), (VpVector{-4, -3, -2, -1}));
    EXPECT_EQ(Eval("mov oT0, v0.y", a), (VpVector{2, 2, 2, 2}));
    EXPECT_EQ(Eval("mov oT0, v0.xz", a), (VpVector{1, 3, 3, 3}));
    EXPECT_EQ(Eval("mov oT0.yw, v0", a), (VpVector{0, 2, 0, 4}));
    EXPECT_EQ(Eval("add oT0, v0, -r1", a, b), (VpVector{0.5f, 3.0f, -5.0f, 2.0f}));
    EXPECT_EQ(Eval("sub oT0, v0, r1", a, b), (VpVector{0.5f, 3.0f, -5.0f, 2.0f}));
    EXPECT_EQ(Eval("mul oT0, v0, r1", a, b), (VpVector{0.5f, -2.0f, 24.0f, 8.0f}));
    EXPECT_EQ(Eval("mad oT0, v0, r1.x, r2", a, b, {1, 1, 1, 1}), (VpVector{1.5f, 2.0f, 2.5f, 3.0f}));
    EXPECT_EQ(Eval("dp3 oT0, v0, r1", a, b), (VpVector{22.5f, 22.5f, 22.5f, 22.5f}));
    EXPECT_EQ(Eval("dp4 oT0.x, v0, r1", a, b), (VpVector{30.5f, 0, 0, 0}));
    EXPECT_EQ(Eval("min oT0, v0, r1", a, b), (VpVector{0.5f, -1.0f, 3.0f, 2.0f}));
    EXPECT_EQ(Eval("max oT0, v0, r1", a, b), (VpVector{1.0f, 2.0f, 8.0f, 4.0f}));
    // Equal components: slt 0, sge 1.
    EXPECT_EQ(Eval("slt oT0, v0, r1", {1, 2, 3, 4}, {2, 2, 2, 5}), (VpVector{1, 0, 0, 1}));
    EXPECT_EQ(Eval("sge oT0, v0, r1", {1, 2, 3, 4}, {2, 2, 2, 5}), (VpVector{0, 1, 1, 0}));
    EXPECT_EQ(Eval("dst oT0, v0, r1", a, b), (VpVector{1.0f, -2.0f, 3.0f, 2.0f}));
    // frc writes x and y only.
    EXPECT_EQ(Eval("mov r0, v1\nfrc r0, v0\nmov oT0, r0", {1.25f, -1.25f, 7.5f, 9.5f}, {5, 6, 7, 8}),
              (VpVector{0.25f, 0.75f, 7, 8}));
    EXPECT_EQ(Eval("nop\nmov oT0, c0", {}, {}, {}, {9, 8, 7, 6}), (VpVector{9, 8, 7, 6}));
}

TEST(VertexProgramInterpreter, ScalarOperationsAndSpecialValues) {
    // The component a scalar operation reads is the one the swizzle puts in w.
    EXPECT_EQ(Eval("rcp oT0, v0", {3, 5, 7, 2}), (VpVector{0.5f, 0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(Eval("rcp oT0, v0.y", {3, 4, 7, 2}), (VpVector{0.25f, 0.25f, 0.25f, 0.25f}));
    EXPECT_EQ(Eval("rcp oT0, v0.x", {1, 0, 0, 0}), (VpVector{1, 1, 1, 1}));
    EXPECT_EQ(Eval("rcp oT0, v0.x", {0, 0, 0, 0}), (VpVector{kInf, kInf, kInf, kInf}));
    EXPECT_EQ(Eval("rcp oT0, v0.x", {-0.0f, 0, 0, 0})[0], kInf);
    EXPECT_EQ(Eval("rsq oT0, v0.x", {4, 0, 0, 0})[0], 0.5f);
    EXPECT_EQ(Eval("rsq oT0, v0.x", {-4, 0, 0, 0})[0], 0.5f);  // |x|
    EXPECT_EQ(Eval("rsq oT0, v0.x", {0, 0, 0, 0})[0], kInf);
    EXPECT_EQ(Eval("rsq oT0, v0.x", {1, 0, 0, 0})[0], 1.0f);
    EXPECT_EQ(Eval("exp oT0, v0.x", {3, 0, 0, 0}), (VpVector{8, 8, 8, 8}));
    EXPECT_NEAR(Eval("exp oT0, v0.x", {0.5f, 0, 0, 0})[2], std::sqrt(2.0f), 1e-6f);
    EXPECT_EQ(Eval("log oT0, v0.x", {8, 0, 0, 0}), (VpVector{3, 3, 3, 3}));
    EXPECT_EQ(Eval("log oT0, v0.x", {-0.25f, 0, 0, 0})[1], -2.0f);
    EXPECT_EQ(Eval("log oT0, v0.x", {0, 0, 0, 0})[3], -kInf);

    // Partial precision: 8 low mantissa bits of z cleared.
    const VpVector expp = Eval("expp oT0, v0.x", {2.5f, 0, 0, 0});
    EXPECT_EQ(expp[0], 4.0f);
    EXPECT_EQ(expp[1], 0.5f);
    EXPECT_NEAR(expp[2], std::exp2(2.5f), std::exp2(2.5f) * 1e-4f);
    EXPECT_EQ(std::bit_cast<DWORD>(expp[2]) & 0xFFu, 0u);
    EXPECT_EQ(expp[3], 1.0f);
    EXPECT_EQ(Eval("expp oT0, v0.x", {-1.25f, 0, 0, 0})[1], 0.75f);
    const VpVector logp = Eval("logp oT0, v0.x", {-10.0f, 0, 0, 0});
    EXPECT_EQ(logp[0], 3.0f);
    EXPECT_EQ(logp[1], 1.25f);
    EXPECT_NEAR(logp[2], std::log2(10.0f), 1e-4f);
    EXPECT_EQ(std::bit_cast<DWORD>(logp[2]) & 0xFFu, 0u);
    EXPECT_EQ(logp[3], 1.0f);
    EXPECT_EQ(Eval("logp oT0, v0.x", {0, 0, 0, 0}), (VpVector{-kInf, 1.0f, -kInf, 1.0f}));
}

TEST(VertexProgramInterpreter, LitClampsThePower) {
    EXPECT_EQ(Eval("lit oT0, v0", {0.5f, 0.25f, 9, 2}), (VpVector{1, 0.5f, 0.0625f, 1}));
    EXPECT_EQ(Eval("lit oT0, v0", {-0.5f, 0.25f, 9, 2}), (VpVector{1, 0, 0, 1}));
    EXPECT_EQ(Eval("lit oT0, v0", {0.5f, -0.25f, 9, 2}), (VpVector{1, 0.5f, 0, 1}));
    EXPECT_FLOAT_EQ(Eval("lit oT0, v0", {1, 0.99f, 0, 500})[2], std::pow(0.99f, 127.9961f));
    EXPECT_FLOAT_EQ(Eval("lit oT0, v0", {1, 1.01f, 0, -500})[2], std::pow(1.01f, -127.9961f));
}

TEST(VertexProgramInterpreter, MatrixOperationsReadConsecutiveRegisters) {
    const std::string rows = "def c10, 1, 2, 3, 4\ndef c11, 5, 6, 7, 8\ndef c12, 9, 10, 11, 12\ndef c13, 13, 14, 15, 16\n";
    const VpVector v{1, 0, -1, 2};
    EXPECT_EQ(Eval(rows + "m4x4 oT0, v0, c10", v), (VpVector{6, 14, 22, 30}));
    EXPECT_EQ(Eval(rows + "mov oT0, v1\nm4x3 oT0, v0, c10", v, {7, 7, 7, 7}), (VpVector{6, 14, 22, 7}));
    EXPECT_EQ(Eval(rows + "m3x4 oT0, v0, c10", v), (VpVector{-2, -2, -2, -2}));
    EXPECT_EQ(Eval(rows + "mov oT0, v1\nm3x3 oT0, v0, c10", v, {7, 7, 7, 7}), (VpVector{-2, -2, -2, 7}));
    EXPECT_EQ(Eval(rows + "mov oT0, v1\nm3x2 oT0, v0, c10", v, {7, 7, 7, 7}), (VpVector{-2, -2, 7, 7}));
    // Rows from temporaries: r1..r3.
    EXPECT_EQ(Eval("mov r3, c0\nm3x3 oT0, v0, r1", {1, 2, 3, 0}, {1, 0, 0, 0}, {0, 1, 0, 0},
                   {0, 0, 1, 0}),
              (VpVector{1, 2, 3, 0}));
}

TEST(VertexProgramInterpreter, RelativeAddressingFloorsAndStaysInside) {
    Constants constants{};
    for (DWORD i = 0; i < kVpConstRegisters; ++i) constants[i] = {static_cast<float>(i), 0, 0, 1};
    const VertexProgram program = Build("vs.1.1\nmov a0.x, v0.x\nmov oT0, c[a0.x + 3]\nm4x4 oT1, v1, c[a0.x + 92]\n");
    auto read = [&](float address) {
        Inputs inputs = DefaultInputs();
        inputs[0] = {address, 0, 0, 0};
        inputs[1] = {1, 0, 0, 0};
        return Execute(program, constants, inputs);
    };
    EXPECT_EQ(read(2.7f).oT[0][0], 5.0f);    // floor, not nearest
    EXPECT_EQ(read(-0.5f).oT[0][0], 2.0f);   // floor(-0.5) = -1
    EXPECT_EQ(read(-3.0f).oT[0][0], 0.0f);   // c0
    EXPECT_EQ(read(92.0f).oT[0][0], 95.0f);  // c95
    EXPECT_EQ(read(-3.5f).oT[0], (VpVector{}));  // c-1: zero
    EXPECT_EQ(read(93.0f).oT[0], (VpVector{}));  // c96: zero
    EXPECT_EQ(read(1e30f).oT[0], (VpVector{}));
    EXPECT_EQ(read(-1e30f).oT[0], (VpVector{}));
    EXPECT_EQ(read(kNaN).oT[0], (VpVector{}));
    EXPECT_EQ(read(kInf).oT[0], (VpVector{}));
    // Matrix rows past c95 read zero one by one.
    EXPECT_EQ(read(1.0f).oT[1], (VpVector{93, 94, 95, 0}));
    EXPECT_EQ(read(0.0f).oT[1], (VpVector{92, 93, 94, 95}));

    // A constant the program defines wins over the caller's, relative reads too.
    const VertexProgram defined = Build("vs.1.1\ndef c7, 70, 71, 72, 73\nmov a0.x, v0.x\nmov oT0, c[a0.x + 3]\n"
                                        "mov oT1, c7\n");
    Inputs inputs = DefaultInputs();
    inputs[0] = {4.0f, 0, 0, 0};
    const VertexProgramOutputs out = Execute(defined, constants, inputs);
    EXPECT_EQ(out.oT[0], (VpVector{70, 71, 72, 73}));
    EXPECT_EQ(out.oT[1], (VpVector{70, 71, 72, 73}));
}

TEST(VertexProgramInterpreter, PaletteIndicesFromColourBytes) {
    // The skinning programs receive index bytes as colour components (byte /
    // 255) and scale them by 765.01 before loading a0: each index must land
    // on exactly 3 x index, the first register of its palette slot.
    const VertexProgram program = Build(
        "vs.1.1\nmul r1, v2.zyxw, c0.wwww\nmov a0.x, r1.x\nmov oT0, c[a0.x + 9]\n"
        "mov a0.x, r1.w\nm4x3 oT1, v0, c[a0.x + 9]\n");
    Constants constants{};
    constants[0] = {1.0f, 0.5f, 0.0f, 765.01f};
    for (DWORD i = 9; i < kVpConstRegisters; ++i) constants[i] = {static_cast<float>(i), 0, 0, 0};
    for (int index = 0; index < 29; ++index) {
        Inputs inputs = DefaultInputs();
        inputs[0] = {1, 0, 0, 0};
        // Bytes 0..3 arrive in z, y, x, w.
        inputs[2] = {0.0f, 0.0f, static_cast<float>(index) / 255.0f, static_cast<float>(index) / 255.0f};
        const VertexProgramOutputs out = Execute(program, constants, inputs);
        const float slot = 9.0f + 3.0f * static_cast<float>(index);
        EXPECT_EQ(out.oT[0][0], slot) << index;
        if (index == 27) {
            EXPECT_EQ(out.oT[1], (VpVector{90, 91, 92, 0}));
        }
    }
}

TEST(VertexProgramInterpreter, StartsEveryVertexFromDefaults) {
    const VertexProgram empty = Build("vs.1.1\nnop\n");
    Constants constants{};
    VertexProgramOutputs out = Execute(empty, constants, DefaultInputs());
    EXPECT_EQ(out.oPos, (VpVector{0, 0, 0, 1}));
    EXPECT_EQ(out.oD[0], (VpVector{1, 1, 1, 1}));
    EXPECT_EQ(out.oD[1], (VpVector{0, 0, 0, 0}));
    for (const VpVector& t : out.oT) EXPECT_EQ(t, (VpVector{}));
    EXPECT_EQ(out.oFog, 1.0f);
    EXPECT_EQ(out.oPts, 1.0f);

    // Temporaries and a0 start again at zero: nothing carries over.
    const VertexProgram accumulate =
        Build("vs.1.1\nadd r0, r0, c0\nmov oT0, r0\nmov oT1, c[a0.x + 1]\nmov a0.x, c0.x\n");
    constants[0] = {2, 2, 2, 2};
    constants[1] = {5, 5, 5, 5};
    EXPECT_EQ(Execute(accumulate, constants, DefaultInputs()).oT[0], (VpVector{2, 2, 2, 2}));
    out = Execute(accumulate, constants, DefaultInputs());
    EXPECT_EQ(out.oT[0], (VpVector{2, 2, 2, 2}));
    EXPECT_EQ(out.oT[1], (VpVector{5, 5, 5, 5}));

    // Colours are clamped to 0..1, fog and texture coordinates are not.
    const VertexProgram outputs = Build("vs.1.1\nmov oD0, v0\nmov oD1, -v0\nmov oT2, v0\nmov oFog.x, v0.y\n");
    Inputs inputs = DefaultInputs();
    inputs[0] = {2.0f, -1.0f, 0.25f, 1.5f};
    out = Execute(outputs, constants, inputs);
    EXPECT_EQ(out.oD[0], (VpVector{1.0f, 0.0f, 0.25f, 1.0f}));
    EXPECT_EQ(out.oD[1], (VpVector{0.0f, 1.0f, 0.0f, 0.0f}));
    EXPECT_EQ(out.oT[2], inputs[0]);
    EXPECT_EQ(out.oFog, -1.0f);
}

// ---------------------------------------------------------------------------
// The toon program: position, ramp coordinate from the normal and the light,
// texture coordinates and colour passed on, linear fog.

const char* const kToon = R"(vs.1.0
; position: v0 times the transposed world-view-projection in c0..c3
dp4 oPos.x, v0, c0
dp4 oPos.y, v0, c1
dp4 oPos.z, v0, c2
dp4 oPos.w, v0, c3
; unit normal
dp3 r0.w, v3, v3
rsq r0.w, r0.w
mul r0.xyz, v3, r0.w
; ramp coordinate u = (n . l + 1) * 0.5
dp3 r1.x, r0, c13
add r1.x, r1.x, c12.z
mul oT0.x, r1.x, c12.y
; mesh texture coordinates and colour
mov oT1, v8
mov oD0, v5
; fog from the camera-space depth
dp4 r2.x, v0, c6
mad oFog.x, r2.x, c14.x, c14.y
)";

constexpr float kFogEnd = 17500.0f;

Constants ToonConstants(const VpVector& light) {
    Constants c{};
    // World x view x projection: a scale and a shift, transposed into rows.
    c[0] = {2, 0, 0, 0};
    c[1] = {0, 3, 0, 0};
    c[2] = {0, 0, 0.5f, -1};
    c[3] = {0, 0, 1, 0};
    // World x view: identity, so the depth is z.
    c[4] = {1, 0, 0, 0};
    c[5] = {0, 1, 0, 0};
    c[6] = {0, 0, 1, 0};
    c[7] = {0, 0, 0, 1};
    c[12] = {0.0f, 0.5f, 1.0f, -1.0f};
    c[13] = light;
    c[14] = {-1.0f / kFogEnd, kFogEnd / kFogEnd, 0, 0};
    return c;
}

TEST(ToonProgram, RampCoordinateFollowsTheLight) {
    const VertexProgram toon = Build(kToon);
    ASSERT_EQ(toon.version, 0xFFFE0100u);
    const float s = std::sqrt(1.0f / 3.0f);
    const VpVector light{s, s, -s, 0};
    const Constants constants = ToonConstants(light);
    auto ramp = [&](VpVector normal) {
        Inputs inputs = DefaultInputs();
        inputs[0] = {1, 2, 10, 1};
        inputs[3] = normal;
        return Execute(toon, constants, inputs).oT[0];
    };
    EXPECT_NEAR(ramp({s, s, -s, 0})[0], 1.0f, 1e-6f);
    EXPECT_NEAR(ramp({-s, -s, s, 0})[0], 0.0f, 1e-6f);
    EXPECT_NEAR(ramp({s, -s, 0, 0})[0], 0.5f, 1e-6f);  // at right angles
    EXPECT_NEAR(ramp({1, 1, 2, 0})[0], 0.5f, 1e-6f);
    // Only u is written.
    EXPECT_EQ(ramp({s, s, -s, 0})[1], 0.0f);
    // A normal of any length shades as its unit direction.
    const VpVector unit{0.6f, 0.0f, 0.8f, 0};
    const float expected = ramp(unit)[0];
    for (float scale : {0.01f, 0.5f, 3.7f, 250.0f})
        EXPECT_NEAR(ramp({unit[0] * scale, unit[1] * scale, unit[2] * scale, 0})[0], expected, 1e-6f) << scale;
}

TEST(ToonProgram, PositionPassThroughAndFog) {
    const VertexProgram toon = Build(kToon);
    const Constants constants = ToonConstants({0, 0, 1, 0});
    Inputs inputs = DefaultInputs();
    inputs[0] = {1, 2, 0, 1};
    inputs[3] = {0, 0, 1, 0};
    inputs[5] = {0.25f, 0.5f, 0.75f, 1.0f};
    inputs[7] = {9, 9, 0, 1};
    inputs[8] = {0.125f, 0.875f, 0, 1};
    VertexProgramOutputs out = Execute(toon, constants, inputs);
    EXPECT_EQ(out.oPos, (VpVector{2, 6, -1, 0}));
    EXPECT_EQ(out.oT[1], inputs[8]);
    EXPECT_EQ(out.oD[0], inputs[5]);
    EXPECT_EQ(out.oFog, 1.0f);  // depth 0: no fog
    inputs[0] = {1, 2, kFogEnd, 1};
    EXPECT_NEAR(Execute(toon, constants, inputs).oFog, 0.0f, 1e-6f);
    inputs[0] = {1, 2, kFogEnd / 2, 1};
    EXPECT_NEAR(Execute(toon, constants, inputs).oFog, 0.5f, 1e-6f);
    inputs[0] = {1, 2, 2 * kFogEnd, 1};
    EXPECT_NEAR(Execute(toon, constants, inputs).oFog, -1.0f, 1e-6f);  // unclamped: the device clamps
}

// ---------------------------------------------------------------------------
// GLSL against the interpreter

// A program that uses every instruction, relative addressing (in and out of
// c0..c95, single registers and matrix rows) and defined constants read
// directly and relatively; each result reaches an output.
const char* const kEveryInstruction = R"(vs.1.1
def c94, 0.5, -1.5, 2.0, 0.25
def c95, 1.0, 0.5, 0.25, 80.0
nop
mov a0.x, v1.x
mov r3, v3
mov r2, v2
mov oT0, c[a0.x + 3]
m4x4 oPos, v0, c[a0.x + 10]
add r0, v0, -c1.wzyx
sub r1, r0, r3.x
mul r4, r1, c2.yyzw
m3x3 r8, r3, c28
add r4, r4, r8
m3x2 r9, r2, c32
add r4.xy, r4, r9
mad oT1, r4, c94, -r0
rcp oT2.x, v2.x
rsq oT2.y, -v2.y
exp oT2.z, v0.z
log oT2.w, v2.w
dp3 oT3.x, v0, c4
dp4 oT3.y, v0, c5
min oT3.zw, v0, r3
max oT4.xy, v0, r3
frc r5.xy, v3
mov oT4.zw, r5.xxxy
mul r5, v3, c95
lit oT5, r5
m4x3 r6, v0, c20
m3x4 r7, v0, c24
dst r10, r0, r1
add r10, r10, r6
mad oT6, r7, c95.y, r10
expp r11, v0.w
logp r6, v2.z
mov oT7.xy, r11.yz
mov oT7.zw, r6.xxxy
mov oFog, r6.z
slt oD0.xy, v0, r3
sge oD0.zw, v0, r3
mul oD1, r11.x, c94.w
)";

class GlslTranslation : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_Gpu.Create()) return testing_support::MissingDisplay("no OpenGL 3.3 context");
    }

    testing_support::VertexProgramCapture m_Gpu;
};

float Uniform(std::mt19937& random, float low, float high) {
    return std::uniform_real_distribution<float>(low, high)(random);
}

TEST_F(GlslTranslation, ToonProgramMatchesTheInterpreter) {
    const VertexProgram toon = Build(kToon);
    std::mt19937 random(5);
    Constants constants{};
    for (int i = 0; i < 8; ++i)
        for (float& f : constants[static_cast<std::size_t>(i)]) f = Uniform(random, -2, 2);
    const float s = std::sqrt(1.0f / 3.0f);
    constants[12] = {0.0f, 0.5f, 1.0f, -1.0f};
    constants[13] = {s, -s, s, 0};
    constants[14] = {-1.0f / kFogEnd, 1.0f, 0, 0};
    std::vector<Inputs> vertices(256);
    for (Inputs& in : vertices) {
        in = DefaultInputs();
        in[0] = {Uniform(random, -100, 100), Uniform(random, -100, 100), Uniform(random, 0, 20000), 1};
        in[3] = {Uniform(random, -3, 3), Uniform(random, -3, 3), Uniform(random, -3, 3), 0};
        in[5] = {Uniform(random, 0, 1), Uniform(random, 0, 1), Uniform(random, 0, 1), Uniform(random, 0, 1)};
        in[8] = {Uniform(random, -1, 2), Uniform(random, -1, 2), 0, 1};
    }
    m_Gpu.Compare(toon, constants, vertices);
}

TEST_F(GlslTranslation, EveryInstructionMatchesTheInterpreter) {
    const VertexProgram program = Build(kEveryInstruction);
    ASSERT_EQ(program.instructions.size(), 39u);
    std::mt19937 random(11);
    Constants constants{};
    for (Constants::size_type i = 0; i < 94; ++i)
        for (float& f : constants[i]) f = Uniform(random, -2, 2);
    std::vector<Inputs> vertices(512);
    for (Inputs& in : vertices) {
        in = DefaultInputs();
        for (float& f : in[0]) f = Uniform(random, -2, 2);
        // Addresses from -10 to 100: c[a0.x + 3] and the matrix rows at
        // c[a0.x + 10] fall in and out of c0..c95, and onto the defined c94, c95.
        in[1] = {Uniform(random, -10, 100), 0, 0, 1};
        for (float& f : in[2]) f = Uniform(random, 0.1f, 4);
        for (float& f : in[3]) f = Uniform(random, -2, 2);
    }
    // Exact values where the special cases live.
    vertices[0][1][0] = -7.0f;  // c[-4]
    vertices[1][1][0] = 92.5f;  // c95 defined, rows c102.. outside
    vertices[2][2] = {1.0f, 1.0f, 1.0f, 1.0f};  // rcp(1), rsq(1), log(1), logp(1)
    vertices[3][3] = {0.5f, 0.5f, 0.5f, 5.0f};  // lit with power clamped (5 x 80 = 400)
    m_Gpu.Compare(program, constants, vertices);
}

TEST_F(GlslTranslation, UnwrittenOutputsGetTheDefaults) {
    const VertexProgram program = Build("vs.1.1\nmov oT3.y, v4.x\n");
    std::vector<Inputs> vertices(4, DefaultInputs());
    vertices[1][4] = {7, 0, 0, 1};
    Constants constants{};
    m_Gpu.Compare(program, constants, vertices);
}

TEST_F(GlslTranslation, RandomProgramsAreValidGlsl) {
    // Valid instructions of every kind with random operands: each translation
    // must compile and link.
    std::mt19937 random(3);
    const auto table = VpOpcodeTable();
    const D3DSHADER_PARAM_REGISTER_TYPE sourceFiles[] = {D3DSPR_TEMP, D3DSPR_INPUT, D3DSPR_CONST};
    const D3DSHADER_PARAM_REGISTER_TYPE destFiles[] = {D3DSPR_TEMP, D3DSPR_ADDR, D3DSPR_RASTOUT, D3DSPR_ATTROUT,
                                                       D3DSPR_TEXCRDOUT};
    for (int round = 0; round < 40; ++round) {
        std::vector<DWORD> tokens{round % 4 == 0 ? 0xFFFE0100u : 0xFFFE0101u};
        int count = 0;
        while (count < 24) {
            const VpOpcodeInfo& info = table[random() % table.size()];
            VpInstruction ins;
            ins.opcode = info.opcode;
            ins.dest.type = destFiles[random() % 5];
            ins.dest.number = random() % 12;
            ins.dest.writeMask = 1 + random() % 15;
            if (info.opcode == D3DSIO_DEF) {
                ins.dest.type = D3DSPR_CONST;
                ins.dest.number = random() % 96;
                ins.dest.writeMask = 0xF;
                for (float& f : ins.value) f = Uniform(random, -10, 10);
            }
            for (auto& s : ins.src) {
                s.type = sourceFiles[random() % 3];
                s.number = random() % 96;
                s.relative = random() % 4 == 0;
                for (BYTE& k : s.swizzle) k = static_cast<BYTE>(random() % 4);
                s.negate = random() % 2 == 0;
                if (random() % 2 == 0) s.swizzle = {0, 1, 2, 3};
            }
            if (info.matrixRows) {
                ins.src[1].negate = false;
                ins.src[1].swizzle = {0, 1, 2, 3};
            }
            if (VpCheckInstruction(ins, tokens[0]) != nullptr) continue;
            tokens.push_back(info.opcode);
            if (info.hasDest) tokens.push_back(VpEncodeDest(ins.dest));
            if (info.opcode == D3DSIO_DEF)
                for (float f : ins.value) tokens.push_back(std::bit_cast<DWORD>(f));
            else
                for (int i = 0; i < info.sources; ++i) tokens.push_back(VpEncodeSource(ins.src[i]));
            ++count;
        }
        tokens.push_back(D3DVS_END());
        VertexProgram program;
        ASSERT_EQ(DecodeVertexProgram(tokens, program), S_OK);
        std::string log;
        const GLuint linked = testing_support::VertexProgramCapture::Link(program, log);
        EXPECT_NE(linked, 0u) << log;
        if (linked) glDeleteProgram(linked);
    }
}

TEST(VertexProgramGlsl, DeclaresOnlyTheInputsRead) {
    const std::string glsl = TranslateVertexProgramToGlsl(Build(kToon));
    for (const char* line : {"layout(location = 0) in vec4 v0;", "layout(location = 3) in vec4 v3;",
                             "layout(location = 5) in vec4 v5;", "layout(location = 8) in vec4 v8;"})
        EXPECT_NE(glsl.find(line), std::string::npos) << line;
    EXPECT_EQ(glsl.find("in vec4 v7;"), std::string::npos);
}

}  // namespace
