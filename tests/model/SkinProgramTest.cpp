// The four skinning vertex programs, assembled from their resources and run
// on vertices in the skinned meshes' 52-byte layout: blending by weight,
// palette addressing through the colour-declared index bytes, the toon ramp
// coordinate and fog, and the GLSL translation against the interpreter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gfx/D3D8Types.h"
#include "gfx/VertexFormat.h"
#include "gfx/VertexProgram.h"
#include "gfx/VertexProgramAsm.h"
#include "gfx/VertexProgramInterp.h"
#include "tests/support/Display.h"
#include "tests/support/VertexProgramCapture.h"

namespace {

using testing_support::FetchVertex;
using testing_support::VpConstants;

// The declaration every skinning program is created with.
constexpr DWORD kSkinDeclaration[] = {
    D3DVSD_STREAM(0),
    D3DVSD_REG(0, D3DVSDT_FLOAT3),    // position
    D3DVSD_REG(1, D3DVSDT_FLOAT1),    // first blend weight
    D3DVSD_REG(2, D3DVSDT_D3DCOLOR),  // palette index bytes
    D3DVSD_REG(3, D3DVSDT_FLOAT3),    // normal
    D3DVSD_REG(5, D3DVSDT_D3DCOLOR),  // colour
    D3DVSD_REG(7, D3DVSDT_FLOAT2),    // texture set 0
    D3DVSD_REG(8, D3DVSDT_FLOAT2),    // texture set 1
    D3DVSD_END(),
};

struct SkinVertex {
    float x, y, z;
    float weight;
    BYTE index[4];
    float nx, ny, nz;
    D3DCOLOR colour;
    float u0, v0, u1, v1;
};
static_assert(sizeof(SkinVertex) == 52);

constexpr float kFogEnd = 17500.0f;

VertexLayout SkinLayout() {
    VertexLayout layout;
    std::vector<DeclarationConstant> constants;
    std::size_t tokens = 0;
    EXPECT_TRUE(LayoutFromDeclaration(kSkinDeclaration, layout, constants, tokens));
    EXPECT_EQ(layout.stride, sizeof(SkinVertex));
    return layout;
}

// Program k, assembled from "skinmeshk.vsh" as the skinned mesh does it.
VertexProgram LoadProgram(int influences) {
    const std::string name = "skinmesh" + std::to_string(influences) + ".vsh";
    D3DXBuffer* code = nullptr;
    D3DXBuffer* errors = nullptr;
    const HRESULT hr = D3DXAssembleShaderFromResourceA(nullptr, name.c_str(), 0, nullptr, &code, &errors);
    VertexProgram program;
    if (errors) {
        ADD_FAILURE() << name << ": " << static_cast<const char*>(errors->GetBufferPointer());
        errors->Release();
    }
    EXPECT_EQ(hr, S_OK) << name;
    if (FAILED(hr) || !code) return program;
    const DWORD* tokens = static_cast<const DWORD*>(code->GetBufferPointer());
    EXPECT_EQ(DecodeVertexProgram(std::span(tokens, code->GetBufferSize() / sizeof(DWORD)), program), S_OK);
    code->Release();
    return program;
}

// A bone's placement as the palette holds it: three rows, each giving one
// camera-space coordinate as a dot product with (x, y, z, 1).
using Bone = std::array<VpVector, 3>;

VpVector Place(const Bone& bone, const VpVector& p, float w) {
    VpVector out{0, 0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        const VpVector& r = bone[static_cast<std::size_t>(i)];
        out[static_cast<std::size_t>(i)] = r[0] * p[0] + r[1] * p[1] + r[2] * p[2] + r[3] * w;
    }
    return out;
}

VpVector Mix(float a, const VpVector& p, float b, const VpVector& q) {
    return {a * p[0] + b * q[0], a * p[1] + b * q[1], a * p[2] + b * q[2], 0};
}

// (n / |n| . light + 1) / 2
float Ramp(const VpVector& n, const VpVector& light) {
    const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    return ((n[0] * light[0] + n[1] * light[1] + n[2] * light[2]) / length + 1.0f) * 0.5f;
}

void SetSlot(VpConstants& c, int slot, const Bone& bone) {
    for (int i = 0; i < 3; ++i) c[static_cast<std::size_t>(9 + 3 * slot + i)] = bone[static_cast<std::size_t>(i)];
}

// c0, the light, a projection of (2x, 3y, z / 2 - 1, z) and the fog.
VpConstants BaseConstants(const VpVector& light) {
    VpConstants c{};
    c[0] = {1.0f, 0.5f, 0.0f, 765.01f};
    c[1] = light;
    c[2] = {2, 0, 0, 0};
    c[3] = {0, 3, 0, 0};
    c[4] = {0, 0, 0.5f, -1};
    c[5] = {0, 0, 1, 0};
    c[7] = {-1.0f / kFogEnd, 1.0f, 0, 0};
    return c;
}

VertexProgramOutputs Skin(const VertexProgram& program, const VpConstants& constants, const SkinVertex& vertex) {
    static const VertexLayout layout = SkinLayout();
    VertexProgramOutputs out;
    ExecuteVertexProgram(program, constants, FetchVertex(layout, reinterpret_cast<const BYTE*>(&vertex)), out);
    return out;
}

void ExpectNear(const VpVector& actual, const VpVector& expected, int components, const char* what) {
    for (int i = 0; i < components; ++i) {
        const auto k = static_cast<std::size_t>(i);
        EXPECT_NEAR(actual[k], expected[k], 1e-4f * std::max(1.0f, std::fabs(expected[k]))) << what << "[" << i << "]";
    }
}

// ---------------------------------------------------------------------------

TEST(SkinPrograms, AssembleFromTheirResources) {
    for (int k = 1; k <= 4; ++k) {
        SCOPED_TRACE(k);
        const VertexProgram program = LoadProgram(k);
        EXPECT_EQ(program.version, 0xFFFE0101u);
        EXPECT_TRUE(program.usesAddressRegister);
        // Position, index bytes, normal, colour, texture set 0; the weight
        // from two bones on; texture set 1 never.
        const DWORD inputs = 0x1u | 0x4u | 0x8u | 0x20u | 0x80u | (k >= 2 ? 0x2u : 0u);
        EXPECT_EQ(program.inputsRead, inputs);
        const DWORD outputs = (1u << kVpOutPosition) | (1u << kVpOutFog) | (1u << kVpOutDiffuse) |
                              (1u << kVpOutTexCoord0) | (1u << (kVpOutTexCoord0 + 1));
        EXPECT_EQ(program.outputsWritten, outputs);
    }
}

// Bone A in slot 0 (c9..c11), bone B in slot 27 (c90..c92), and a bone in
// slot 5 that must never show: it sits under the influences whose weights
// the one-weight declaration leaves at 0.
const Bone kBoneA = {{{0, -1, 0, 10}, {1, 0, 0, 0}, {0, 0, 1, 5}}};  // quarter turn about z, moved
const Bone kBoneB = {{{2, 0, 0, 0}, {0, 2, 0, -4}, {0, 0, 2, 20}}};  // doubled, moved
const Bone kBoneC = {{{7, 3, -5, 900}, {-2, 8, 1, -700}, {4, 4, 4, 4000}}};

TEST(SkinPrograms, BlendTheirBonesByWeight) {
    const VpVector light{1, 0, 0, 0};
    VpConstants constants = BaseConstants(light);
    SetSlot(constants, 0, kBoneA);
    SetSlot(constants, 27, kBoneB);
    SetSlot(constants, 5, kBoneC);

    const VpVector p{1.5f, -2.0f, 3.0f, 1};
    const VpVector n{1, 0, 0, 0};
    SkinVertex vertex{p[0], p[1], p[2], 0.25f, {}, n[0], n[1], n[2], D3DCOLOR_ARGB(0x80, 0x40, 0xC0, 0xFF),
                      0.125f, 0.75f, 9, 9};
    const VpVector placedA = Place(kBoneA, p, 1), placedB = Place(kBoneB, p, 1);
    const VpVector normalA = Place(kBoneA, n, 0), normalB = Place(kBoneB, n, 0);

    for (int k = 1; k <= 4; ++k) {
        SCOPED_TRACE(k);
        const VertexProgram program = LoadProgram(k);
        // Influence 1 takes bone A (byte 0), the last one bone B (byte 27),
        // any between them bone C; program 1 has bone B alone.
        std::memset(vertex.index, 5, sizeof vertex.index);
        vertex.index[0] = k == 1 ? 27 : 0;
        vertex.index[k - 1] = 27;
        const VertexProgramOutputs out = Skin(program, constants, vertex);

        const VpVector q = k == 1 ? placedB : Mix(0.25f, placedA, 0.75f, placedB);
        const VpVector m = k == 1 ? normalB : Mix(0.25f, normalA, 0.75f, normalB);
        ExpectNear(out.oPos, {2 * q[0], 3 * q[1], 0.5f * q[2] - 1, q[2]}, 4, "oPos");
        EXPECT_NEAR(out.oT[0][0], Ramp(m, light), 1e-5f);
        // Fog from the depth the last bone alone gives.
        EXPECT_NEAR(out.oFog, 1.0f - placedB[2] / kFogEnd, 1e-6f);
        // Passed through: colour (as the device reads a D3DCOLOR) and texture set 0.
        ExpectNear(out.oD[0], {0x40 / 255.0f, 0xC0 / 255.0f, 0xFF / 255.0f, 0x80 / 255.0f}, 4, "oD0");
        EXPECT_EQ(out.oT[1], (VpVector{0.125f, 0.75f, 0, 1}));
    }

    // The weight belongs to the first index byte: swapping the bytes swaps
    // the shares.
    const VertexProgram two = LoadProgram(2);
    vertex.index[0] = 27;
    vertex.index[1] = 0;
    const VertexProgramOutputs out = Skin(two, constants, vertex);
    const VpVector q = Mix(0.75f, placedA, 0.25f, placedB);
    ExpectNear(out.oPos, {2 * q[0], 3 * q[1], 0.5f * q[2] - 1, q[2]}, 4, "oPos swapped");
    EXPECT_NEAR(out.oT[0][0], Ramp(Mix(0.75f, normalA, 0.25f, normalB), light), 1e-5f);
    EXPECT_NEAR(out.oFog, 1.0f - placedA[2] / kFogEnd, 1e-6f);
}

TEST(SkinPrograms, ToonCoordinateAndFog) {
    // One bone (identity) in slot 3 for every influence: the normal and the
    // depth are the vertex's own.
    const float s = std::sqrt(1.0f / 3.0f);
    const VpVector light{s, -s, s, 0};
    VpConstants constants = BaseConstants(light);
    SetSlot(constants, 3, Bone{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}});
    for (int k = 1; k <= 4; ++k) {
        SCOPED_TRACE(k);
        const VertexProgram program = LoadProgram(k);
        auto run = [&](VpVector n, float depth) {
            const SkinVertex v{1, 2, depth, 0.6f, {3, 3, 3, 3}, n[0], n[1], n[2], 0, 0, 0, 0, 0};
            return Skin(program, constants, v);
        };
        EXPECT_NEAR(run({2 * s, -2 * s, 2 * s, 0}, 0).oT[0][0], 1.0f, 1e-6f);  // along the light
        EXPECT_NEAR(run({1, 1, 0, 0}, 0).oT[0][0], 0.5f, 1e-6f);               // at right angles
        EXPECT_NEAR(run({-s, s, -s, 0}, 0).oT[0][0], 0.0f, 1e-6f);              // against it
        EXPECT_EQ(run({1, 1, 0, 0}, 0).oT[0][1], 0.0f);                         // only u is written
        EXPECT_EQ(run({1, 0, 0, 0}, 0).oFog, 1.0f);
        EXPECT_NEAR(run({1, 0, 0, 0}, kFogEnd).oFog, 0.0f, 1e-6f);
        EXPECT_NEAR(run({1, 0, 0, 0}, kFogEnd / 4).oFog, 0.75f, 1e-6f);
    }
}

// ---------------------------------------------------------------------------
// The GLSL translations on the GPU, fed the same 52-byte vertices through the
// device's attribute formats.

class SkinProgramGlsl : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_Gpu.Create()) return testing_support::MissingDisplay("no OpenGL 3.3 context");
    }
    testing_support::VertexProgramCapture m_Gpu;
};

TEST_F(SkinProgramGlsl, MatchesTheInterpreter) {
    std::mt19937 random(17);
    auto uniform = [&](float low, float high) { return std::uniform_real_distribution<float>(low, high)(random); };
    const float s = std::sqrt(0.5f);
    VpConstants constants = BaseConstants({s, 0, -s, 0});
    for (int i = 2; i <= 5; ++i)
        for (float& f : constants[static_cast<std::size_t>(i)]) f = uniform(-2, 2);
    for (int slot = 0; slot < 28; ++slot) {
        Bone bone;
        for (VpVector& row : bone) row = {uniform(-2, 2), uniform(-2, 2), uniform(-2, 2), uniform(-50, 50)};
        bone[2][3] = uniform(0, 20000);
        SetSlot(constants, slot, bone);
    }

    std::vector<SkinVertex> vertices(300);
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        SkinVertex& v = vertices[i];
        v = {uniform(-100, 100), uniform(-100, 100), uniform(-100, 100), uniform(0, 1), {}, uniform(-1, 1),
             uniform(-1, 1), uniform(-1, 1), static_cast<D3DCOLOR>(random()), uniform(-1, 2), uniform(-1, 2), 0, 0};
        for (BYTE& b : v.index) b = static_cast<BYTE>(random() % 28);
    }
    // Every index byte value in every position, the ends included.
    for (int i = 0; i < 28; ++i)
        for (int j = 0; j < 4; ++j) vertices[static_cast<std::size_t>(i)].index[j] = static_cast<BYTE>((i + 7 * j) % 28);
    vertices[28].weight = 0.0f;
    vertices[29].weight = 1.0f;

    const VertexLayout layout = SkinLayout();
    const std::span bytes(reinterpret_cast<const BYTE*>(vertices.data()), vertices.size() * sizeof(SkinVertex));
    for (int k = 1; k <= 4; ++k) {
        SCOPED_TRACE(k);
        m_Gpu.Compare(LoadProgram(k), constants, bytes, layout);
    }
}

}  // namespace
