// Vertex programs on the device: a program and the toon program drawn with
// their constants, held against the CPU interpreter at pixels inside the
// triangles; constants from declarations and def; handles and constant
// registers the device must refuse.
#include "tests/gfx/DeviceDrawFixture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "gfx/D3DXMath.h"
#include "gfx/VertexProgram.h"
#include "gfx/VertexProgramAsm.h"
#include "gfx/VertexProgramInterp.h"
#include "platform/Resources.h"

namespace device_draw {
namespace {

using Constants = std::array<VpVector, kVpConstRegisters>;
using Inputs = std::array<VpVector, kVpInputRegisters>;

const DWORD kColourDeclaration[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_REG(5, D3DVSDT_D3DCOLOR),
                                    D3DVSD_REG(7, D3DVSDT_FLOAT2), D3DVSD_END()};

const DWORD kToonDeclaration[] = {D3DVSD_STREAM(0),
                                  D3DVSD_REG(0, D3DVSDT_FLOAT3),
                                  D3DVSD_REG(3, D3DVSDT_FLOAT3),
                                  D3DVSD_REG(5, D3DVSDT_D3DCOLOR),
                                  D3DVSD_REG(7, D3DVSDT_FLOAT2),
                                  D3DVSD_REG(8, D3DVSDT_FLOAT2),
                                  D3DVSD_END()};

struct ToonVertex {
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR colour;
    float u0, v0, u1, v1;
};
static_assert(sizeof(ToonVertex) == 44);

std::vector<DWORD> Assemble(const std::string& text) {
    D3DXBuffer* code = nullptr;
    D3DXBuffer* errors = nullptr;
    const HRESULT hr = D3DXAssembleShader(text.data(), static_cast<UINT>(text.size()), 0, nullptr, &code, &errors);
    if (errors) {
        ADD_FAILURE() << static_cast<const char*>(errors->GetBufferPointer());
        errors->Release();
    }
    std::vector<DWORD> tokens;
    if (SUCCEEDED(hr) && code) {
        const auto* p = static_cast<const DWORD*>(code->GetBufferPointer());
        tokens.assign(p, p + code->GetBufferSize() / sizeof(DWORD));
        code->Release();
    }
    return tokens;
}

VertexProgram Decode(const std::vector<DWORD>& tokens) {
    VertexProgram program;
    EXPECT_EQ(DecodeVertexProgram(tokens, program), S_OK);
    return program;
}

VpVector ColourInput(D3DCOLOR c) {
    return {static_cast<float>((c >> 16) & 0xFF) / 255.0f, static_cast<float>((c >> 8) & 0xFF) / 255.0f,
            static_cast<float>(c & 0xFF) / 255.0f, static_cast<float>(c >> 24) / 255.0f};
}

Inputs DefaultInputs() {
    Inputs in;
    in.fill({0.0f, 0.0f, 0.0f, 1.0f});
    return in;
}

// The rows of a matrix's transpose, as the programs take their matrices.
void PutTransposed(Constants& c, std::size_t first, const D3DXMATRIX& m) {
    for (int r = 0; r < 4; ++r) c[first + static_cast<std::size_t>(r)] = {m.m[0][r], m.m[1][r], m.m[2][r], m.m[3][r]};
}

// What the interpreter computed for the three corners of a triangle, seen on
// the 640 x 480 target.
struct Corner {
    float sx, sy, w;  // pixel position (x right, y down) and clip w
    VertexProgramOutputs out;
};

Corner Project(const VertexProgramOutputs& out) {
    const float w = out.oPos[3];
    return {(out.oPos[0] / w + 1.0f) * 0.5f * static_cast<float>(kWidth),
            (1.0f - out.oPos[1] / w) * 0.5f * static_cast<float>(kHeight), w, out};
}

// Perspective-correct weights of the corners at pixel centre (px, py); false
// when the centre is not well inside the triangle.
bool Weights(const std::array<Corner, 3>& k, int px, int py, std::array<float, 3>& weights) {
    const float x = static_cast<float>(px) + 0.5f, y = static_cast<float>(py) + 0.5f;
    auto edge = [](float ax, float ay, float bx, float by, float cx, float cy) {
        return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
    };
    const float area = edge(k[0].sx, k[0].sy, k[1].sx, k[1].sy, k[2].sx, k[2].sy);
    std::array<float, 3> b = {edge(k[1].sx, k[1].sy, k[2].sx, k[2].sy, x, y) / area,
                              edge(k[2].sx, k[2].sy, k[0].sx, k[0].sy, x, y) / area,
                              edge(k[0].sx, k[0].sy, k[1].sx, k[1].sy, x, y) / area};
    if (*std::min_element(b.begin(), b.end()) < 0.05f) return false;
    float sum = 0.0f;
    for (int i = 0; i < 3; ++i) sum += b[static_cast<std::size_t>(i)] / k[static_cast<std::size_t>(i)].w;
    for (int i = 0; i < 3; ++i)
        weights[static_cast<std::size_t>(i)] = b[static_cast<std::size_t>(i)] / k[static_cast<std::size_t>(i)].w / sum;
    return true;
}

// Pixels at a few places inside the triangle: its centroid and points
// pulled toward each corner.
std::vector<std::array<int, 2>> SamplePixels(const std::array<Corner, 3>& k) {
    std::vector<std::array<int, 2>> points;
    const float mixes[4][3] = {{1 / 3.0f, 1 / 3.0f, 1 / 3.0f}, {0.6f, 0.2f, 0.2f}, {0.2f, 0.6f, 0.2f}, {0.2f, 0.2f, 0.6f}};
    for (const auto& m : mixes) {
        const float x = m[0] * k[0].sx + m[1] * k[1].sx + m[2] * k[2].sx;
        const float y = m[0] * k[0].sy + m[1] * k[1].sy + m[2] * k[2].sy;
        points.push_back({static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y))});
    }
    return points;
}

int Channel(float v) { return static_cast<int>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); }

class DeviceDrawProgramFixture : public DrawFixture {
protected:
    void TearDown() override {
        for (DWORD h : m_shaders) m_pDevice->DeleteVertexShader(h);
        SetResourceTableForTesting({});
        DrawFixture::TearDown();
    }

    DWORD CreateShader(const DWORD* declaration, const std::vector<DWORD>& code) {
        DWORD handle = 0;
        EXPECT_EQ(m_pDevice->CreateVertexShader(declaration, code.empty() ? nullptr : code.data(), &handle, 0), D3D_OK)
            << m_pDevice->LastProgramError();
        m_shaders.push_back(handle);
        return handle;
    }

    void SetConstants(const Constants& c) {
        ASSERT_EQ(m_pDevice->SetVertexShaderConstant(0, c.data(), kVpConstRegisters), D3D_OK);
    }

    template <class V>
    HRESULT DrawWith(DWORD shader, const std::vector<V>& vertices) {
        Direct3DVertexBuffer8* vb = Buffer(vertices);
        EXPECT_EQ(m_pDevice->SetStreamSource(0, vb, sizeof(V)), D3D_OK);
        EXPECT_EQ(m_pDevice->SetVertexShader(shader), D3D_OK);
        EXPECT_EQ(m_pDevice->BeginScene(), D3D_OK);
        const HRESULT hr = m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(vertices.size() / 3));
        EXPECT_EQ(m_pDevice->EndScene(), D3D_OK);
        return hr;
    }

    std::vector<DWORD> m_shaders;
};

using DeviceDrawProgram = DeviceDrawProgramFixture;

TEST_F(DeviceDrawProgram, DrawnProgramMatchesTheInterpreter) {
    const std::vector<DWORD> code = Assemble(
        "vs.1.1\n"
        "dp4 oPos.x, v0, c0\n"
        "dp4 oPos.y, v0, c1\n"
        "dp4 oPos.z, v0, c2\n"
        "dp4 oPos.w, v0, c3\n"
        "mul r0, v5, c4\n"
        "add oD0, r0, c5\n"
        "mov oT0, v7\n");
    ASSERT_FALSE(code.empty());
    const DWORD shader = CreateShader(kColourDeclaration, code);
    const VertexProgram program = Decode(code);

    // A perspective view of a triangle turned about y: w differs per corner.
    D3DXMATRIX world, view, proj;
    D3DXMatrixRotationY(&world, 0.4f);
    world.m[3][2] = 6.0f;
    D3DXVECTOR3 eye(0.0f, 0.5f, -1.0f), at(0.0f, 0.0f, 6.0f), up(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovLH(&proj, 1.0f, 4.0f / 3.0f, 1.0f, 50.0f);
    Constants c{};
    PutTransposed(c, 0, world * view * proj);
    c[4] = {1.5f, 0.8f, 0.5f, 1.0f};  // red goes over 1 and is clamped
    c[5] = {0.0f, 0.1f, 0.2f, 0.0f};
    SetConstants(c);

    const std::vector<ColourVertex> triangle = {{-2.0f, 2.0f, 0.0f, 0xFFC04000, 0, 0},
                                                {2.5f, 1.5f, 1.0f, 0xFF20C040, 1, 0},
                                                {0.0f, -2.0f, -1.0f, 0xFF4010E0, 0, 1}};
    std::array<Corner, 3> corners{};
    for (std::size_t i = 0; i < 3; ++i) {
        Inputs in = DefaultInputs();
        in[0] = {triangle[i].x, triangle[i].y, triangle[i].z, 1.0f};
        in[5] = ColourInput(triangle[i].colour);
        in[7] = {triangle[i].u, triangle[i].v, 0.0f, 1.0f};
        VertexProgramOutputs out;
        ExecuteVertexProgram(program, c, in, out);
        corners[i] = Project(out);
    }

    PlainColourStates();
    m_pDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    ASSERT_EQ(ClearTo(0xFF000000), D3D_OK);
    ASSERT_EQ(DrawWith(shader, triangle), D3D_OK);
    const auto pixels = Pixels();

    int checked = 0;
    for (const auto& [px, py] : SamplePixels(corners)) {
        std::array<float, 3> w{};
        if (!Weights(corners, px, py, w)) continue;
        float r = 0, g = 0, b = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            r += w[i] * corners[i].out.oD[0][0];
            g += w[i] * corners[i].out.oD[0][1];
            b += w[i] * corners[i].out.oD[0][2];
        }
        EXPECT_TRUE(NearColour(At(pixels, px, py), Rgb(Channel(r), Channel(g), Channel(b)), 3)) << px << "," << py;
        ++checked;
    }
    EXPECT_GE(checked, 3);
    // Outside the projected triangle nothing is drawn.
    const float ox = 2.0f * corners[0].sx - (corners[1].sx + corners[2].sx) / 2.0f;
    const float oy = 2.0f * corners[0].sy - (corners[1].sy + corners[2].sy) / 2.0f;
    if (ox >= 0 && oy >= 0 && ox < kWidth && oy < kHeight) {
        EXPECT_EQ(At(pixels, static_cast<int>(ox), static_cast<int>(oy)), 0xFF000000u);
    }
}

TEST_F(DeviceDrawProgram, ToonProgramAgreesWithTheInterpreterOnRampAndFog) {
    SetResourceTableForTesting({});  // the program's own resources
    D3DXBuffer* buffer = nullptr;
    ASSERT_EQ(D3DXAssembleShaderFromResourceA(nullptr, "Toon.vsh", 0, nullptr, &buffer, nullptr), S_OK);
    const auto* p = static_cast<const DWORD*>(buffer->GetBufferPointer());
    const std::vector<DWORD> code(p, p + buffer->GetBufferSize() / sizeof(DWORD));
    buffer->Release();
    const DWORD shader = CreateShader(kToonDeclaration, code);
    const VertexProgram program = Decode(code);

    // The constants as the sorting renderer sets them, with a fog end near
    // enough that the triangle runs from light fog to full fog.
    const float fogEnd = 16.0f;
    D3DXMATRIX world, view, proj;
    D3DXMatrixTranslation(&world, 0.0f, 0.0f, 2.0f);
    D3DXMatrixIdentity(&view);
    D3DXMatrixPerspectiveFovLH(&proj, 1.2f, 4.0f / 3.0f, 1.0f, 100.0f);
    Constants c{};
    PutTransposed(c, 0, world * view * proj);
    PutTransposed(c, 4, world * view);
    c[12] = {0.0f, 0.5f, 1.0f, -1.0f};
    const float l = std::sqrt(0.3f * 0.3f + 0.5f * 0.5f + 0.8f * 0.8f);
    c[13] = {0.3f / l, 0.5f / l, -0.8f / l, 0.0f};
    c[14] = {-1.0f / fogEnd, fogEnd / fogEnd, 0.0f, 0.0f};
    SetConstants(c);

    // Normals of different lengths and directions, depths 8, 12 and 16.
    const std::vector<ToonVertex> triangle = {{-3.0f, 2.0f, 6.0f, 0.0f, 0.0f, -2.0f, 0xFFFFFFFF, 0, 0, 0, 0},
                                              {3.0f, 2.0f, 10.0f, 0.5f, 0.0f, 0.0f, 0xFFFFFFFF, 0, 0, 1, 0},
                                              {0.0f, -2.0f, 14.0f, 0.0f, -3.0f, 1.0f, 0xFFFFFFFF, 0, 0, 0, 1}};
    std::array<Corner, 3> corners{};
    for (std::size_t i = 0; i < 3; ++i) {
        const ToonVertex& v = triangle[i];
        Inputs in = DefaultInputs();
        in[0] = {v.x, v.y, v.z, 1.0f};
        in[3] = {v.nx, v.ny, v.nz, 1.0f};
        in[5] = ColourInput(v.colour);
        in[7] = {v.u0, v.v0, 0.0f, 1.0f};
        in[8] = {v.u1, v.v1, 0.0f, 1.0f};
        VertexProgramOutputs out;
        ExecuteVertexProgram(program, c, in, out);
        corners[i] = Project(out);
    }
    // The corners really differ, so the comparison means something.
    EXPECT_GT(std::abs(corners[0].out.oT[0][0] - corners[2].out.oT[0][0]), 0.3f);
    EXPECT_GT(std::abs(corners[0].out.oFog - corners[2].out.oFog), 0.3f);
    m_pDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    m_pDevice->SetRenderState(D3DRS_LIGHTING, FALSE);

    // Ramp coordinate: stage 0 shows a 256-texel grey ramp read at u.
    std::vector<std::uint32_t> ramp(256);
    for (std::uint32_t i = 0; i < 256; ++i) ramp[i] = 0xFF000000u | i << 16 | i << 8 | i;
    m_pDevice->SetTexture(0, Texture(256, 1, D3DFMT_A8R8G8B8, ramp));
    m_pDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    m_pDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    m_pDevice->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    m_pDevice->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    m_pDevice->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
    m_pDevice->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
    ASSERT_EQ(ClearTo(0xFF000000), D3D_OK);
    ASSERT_EQ(DrawWith(shader, triangle), D3D_OK);
    auto pixels = Pixels();
    int checked = 0;
    for (const auto& [px, py] : SamplePixels(corners)) {
        std::array<float, 3> w{};
        if (!Weights(corners, px, py, w)) continue;
        float u = 0.0f;
        for (std::size_t i = 0; i < 3; ++i) u += w[i] * corners[i].out.oT[0][0];
        const int grey = static_cast<int>(std::lround(std::clamp(u * 256.0f - 0.5f, 0.0f, 255.0f)));
        EXPECT_TRUE(NearColour(At(pixels, px, py), Rgb(grey, grey, grey), 3)) << "u " << u;
        ++checked;
    }
    EXPECT_GE(checked, 3);

    // Fog: white vertices fogged toward black show the fog factor.
    m_pDevice->SetTexture(0, nullptr);
    m_pDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    m_pDevice->SetRenderState(D3DRS_FOGENABLE, TRUE);
    m_pDevice->SetRenderState(D3DRS_FOGCOLOR, 0xFF000000);
    ASSERT_EQ(ClearTo(0xFF0000FF), D3D_OK);
    ASSERT_EQ(DrawWith(shader, triangle), D3D_OK);
    pixels = Pixels();
    checked = 0;
    for (const auto& [px, py] : SamplePixels(corners)) {
        std::array<float, 3> w{};
        if (!Weights(corners, px, py, w)) continue;
        float fog = 0.0f;
        for (std::size_t i = 0; i < 3; ++i) fog += w[i] * corners[i].out.oFog;
        const int grey = Channel(fog);
        EXPECT_TRUE(NearColour(At(pixels, px, py), Rgb(grey, grey, grey), 3)) << "fog " << fog;
        ++checked;
    }
    EXPECT_GE(checked, 3);
}

TEST_F(DeviceDrawProgram, DeclarationAndDefConstantsReachTheProgram) {
    // c4 comes from the declaration, c5 from def, c6 from the caller.
    const std::vector<DWORD> code = Assemble(
        "vs.1.1\n"
        "def c5, 0, 0.5, 0, 0\n"
        "mov oPos, v0\n"
        "mov r0, c4\n"
        "add r0, r0, c5\n"
        "add oD0, r0, c6\n");
    ASSERT_FALSE(code.empty());
    const float quarter[4] = {0.25f, 0.0f, 0.0f, 1.0f};
    DWORD quarterBits[4];
    std::memcpy(quarterBits, quarter, sizeof quarter);
    const DWORD declaration[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_SKIP(3),
                                 D3DVSD_CONST(4, 1), quarterBits[0], quarterBits[1], quarterBits[2], quarterBits[3],
                                 D3DVSD_END()};
    const DWORD shader = CreateShader(declaration, code);

    const float caller[3][4] = {{1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0.75f, 0}};  // c4 and c5 get replaced
    ASSERT_EQ(m_pDevice->SetVertexShaderConstant(4, caller, 3), D3D_OK);
    PlainColourStates();
    ASSERT_EQ(ClearTo(0xFF000000), D3D_OK);
    std::vector<ColourVertex> triangle = {{-0.5f, 0.5f, 0.5f, 0, 0, 0}, {0.5f, 0.5f, 0.5f, 0, 0, 0},
                                          {0.0f, -0.5f, 0.5f, 0, 0, 0}};
    ASSERT_EQ(DrawWith(shader, triangle), D3D_OK);
    EXPECT_TRUE(NearColour(At(Pixels(), PixelX(0), PixelY(0.1f)), Rgb(64, 128, 191), 1));

    // Setting the program loaded the declaration's constant into c4.
    float c4[4] = {};
    ASSERT_EQ(m_pDevice->GetVertexShaderConstant(4, c4, 1), D3D_OK);
    EXPECT_EQ(c4[0], 0.25f);
    EXPECT_EQ(c4[3], 1.0f);
}

TEST_F(DeviceDrawProgram, ProgramsAreCachedAndGoWithTheirShader) {
    const std::vector<DWORD> code = Assemble("vs.1.1\nmov oPos, v0\nmov oD0, v5\n");
    const DWORD shader = CreateShader(kColourDeclaration, code);
    PlainColourStates();
    const std::vector<ColourVertex> triangle = {{-0.5f, 0.5f, 0.5f, 0xFF00FF00, 0, 0},
                                                {0.5f, 0.5f, 0.5f, 0xFF00FF00, 0, 0},
                                                {0.0f, -0.5f, 0.5f, 0xFF00FF00, 0, 0}};
    const std::size_t before = m_pDevice->ProgramCount();
    ASSERT_EQ(ClearTo(0xFF000000), D3D_OK);
    ASSERT_EQ(DrawWith(shader, triangle), D3D_OK);
    const std::size_t with = m_pDevice->ProgramCount();
    EXPECT_EQ(with, before + 1);
    for (int frame = 0; frame < 10; ++frame) {
        const float c0[4] = {static_cast<float>(frame), 0, 0, 0};
        m_pDevice->SetVertexShaderConstant(0, c0, 1);
        ASSERT_EQ(DrawWith(shader, triangle), D3D_OK);
    }
    EXPECT_EQ(m_pDevice->ProgramCount(), with);
    EXPECT_TRUE(NearColour(At(Pixels(), PixelX(0), PixelY(0.1f)), 0xFF00FF00, 0));

    // The same states with the fixed-function format are another program.
    const auto vb = Buffer(triangle, kParticleFvf);
    m_pDevice->SetStreamSource(0, vb, 24);
    m_pDevice->SetVertexShader(kParticleFvf);
    ASSERT_EQ(m_pDevice->BeginScene(), D3D_OK);
    ASSERT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    ASSERT_EQ(m_pDevice->EndScene(), D3D_OK);
    EXPECT_EQ(m_pDevice->ProgramCount(), with + 1);

    // Deleting the shader deletes the programs linked with it.
    ASSERT_EQ(m_pDevice->DeleteVertexShader(shader), D3D_OK);
    m_shaders.clear();
    EXPECT_EQ(m_pDevice->ProgramCount(), with);
}

TEST_F(DeviceDrawProgram, StaleHandlesAndBadProgramsAreRefused) {
    const std::vector<DWORD> code = Assemble("vs.1.1\nmov oPos, v0\nmov oD0, v5\n");
    DWORD shader = 0;
    ASSERT_EQ(m_pDevice->CreateVertexShader(kColourDeclaration, code.data(), &shader, 0), D3D_OK);
    EXPECT_NE(shader & 1u, 0u);  // never mistaken for a format code
    ASSERT_EQ(m_pDevice->SetVertexShader(shader), D3D_OK);
    ASSERT_EQ(m_pDevice->DeleteVertexShader(shader), D3D_OK);
    DWORD current = 1;
    ASSERT_EQ(m_pDevice->GetVertexShader(&current), D3D_OK);
    EXPECT_EQ(current, 0u);  // the deleted program is no longer set
    EXPECT_EQ(m_pDevice->SetVertexShader(shader), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DeleteVertexShader(shader), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->SetVertexShader(shader + 200), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DeleteVertexShader(kParticleFvf), D3DERR_INVALIDCALL);

    // A stale current shader draws nothing and does not crash.
    const std::vector<ColourVertex> triangle = {{-0.5f, 0.5f, 0.5f, 0, 0, 0}, {0.5f, 0.5f, 0.5f, 0, 0, 0},
                                                {0.0f, -0.5f, 0.5f, 0, 0, 0}};
    m_pDevice->SetStreamSource(0, Buffer(triangle, 0), 24);
    ASSERT_EQ(m_pDevice->BeginScene(), D3D_OK);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);

    // A declaration without a program is kept but not drawn.
    const DWORD declarationOnly = CreateShader(kColourDeclaration, {});
    ASSERT_EQ(m_pDevice->SetVertexShader(declarationOnly), D3D_OK);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
    ASSERT_EQ(m_pDevice->EndScene(), D3D_OK);
    EXPECT_EQ(m_pDevice->DrawCount(), 0u);

    // Creation refuses what it cannot read.
    DWORD handle = 0;
    EXPECT_EQ(m_pDevice->CreateVertexShader(nullptr, code.data(), &handle, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->CreateVertexShader(kColourDeclaration, code.data(), nullptr, 0), D3DERR_INVALIDCALL);
    const DWORD twoStreams[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_STREAM(1),
                                D3DVSD_REG(5, D3DVSDT_D3DCOLOR), D3DVSD_END()};
    EXPECT_EQ(m_pDevice->CreateVertexShader(twoStreams, code.data(), &handle, 0), D3DERR_INVALIDCALL);
    const DWORD garbage[] = {0xFFFE0101, 0x12345678, 0x9ABCDEF0, 0x0000FFFF};
    EXPECT_EQ(m_pDevice->CreateVertexShader(kColourDeclaration, garbage, &handle, 0), D3DERR_INVALIDCALL);
    const DWORD wrongVersion[] = {0xFFFE0200, 0x0000FFFF};
    EXPECT_EQ(m_pDevice->CreateVertexShader(kColourDeclaration, wrongVersion, &handle, 0), D3DERR_INVALIDCALL);
}

TEST_F(DeviceDrawProgram, ConstantsOutsideTheNinetySixRegistersAreRefused) {
    float block[97][4] = {};
    for (int i = 0; i < 97; ++i) block[i][0] = static_cast<float>(i);
    EXPECT_EQ(m_pDevice->SetVertexShaderConstant(0, block, 96), D3D_OK);
    EXPECT_EQ(m_pDevice->SetVertexShaderConstant(95, block, 1), D3D_OK);
    EXPECT_EQ(m_pDevice->SetVertexShaderConstant(0, block, 97), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->SetVertexShaderConstant(96, block, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->SetVertexShaderConstant(95, block, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->SetVertexShaderConstant(1, block, 0xFFFFFFFFu), D3DERR_INVALIDCALL);  // wraps
    EXPECT_EQ(m_pDevice->SetVertexShaderConstant(0xFFFFFFFFu, block, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->SetVertexShaderConstant(0, nullptr, 1), D3DERR_INVALIDCALL);

    float out[4] = {};
    EXPECT_EQ(m_pDevice->GetVertexShaderConstant(96, out, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->GetVertexShaderConstant(90, out, 7), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->GetVertexShaderConstant(95, nullptr, 1), D3DERR_INVALIDCALL);
    // A refused call wrote nothing: c95 still holds what was last accepted.
    ASSERT_EQ(m_pDevice->GetVertexShaderConstant(95, out, 1), D3D_OK);
    EXPECT_EQ(out[0], 0.0f);
    ASSERT_EQ(m_pDevice->GetVertexShaderConstant(94, out, 1), D3D_OK);
    EXPECT_EQ(out[0], 94.0f);
}

}  // namespace
}  // namespace device_draw
