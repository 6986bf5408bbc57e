// Software vertex processing: a skinning-like program (palette slot from a
// colour, relative constant reads, colours, two texture stages, specular,
// fog, depth) drawn on the CPU gives the GPU's picture; a device created for
// software processing runs programs there; draws whose indices leave their
// vertex range are refused.
#include "tests/gfx/DeviceDrawFixture.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/D3DXMath.h"
#include "gfx/VertexProgram.h"
#include "gfx/VertexProgramAsm.h"

namespace device_draw {
namespace {

// Palette slot (byte 0 of a colour), colour, texture coordinates and a
// second pair in shorts.
struct SkinVertex {
    float x, y, z;
    D3DCOLOR slot;
    D3DCOLOR colour;
    float u, v;
    std::int16_t s, t;
};
static_assert(sizeof(SkinVertex) == 32);

const DWORD kDeclaration[] = {D3DVSD_STREAM(0),
                              D3DVSD_REG(0, D3DVSDT_FLOAT3),
                              D3DVSD_REG(2, D3DVSDT_D3DCOLOR),
                              D3DVSD_REG(5, D3DVSDT_D3DCOLOR),
                              D3DVSD_REG(7, D3DVSDT_FLOAT2),
                              D3DVSD_REG(8, D3DVSDT_SHORT2),
                              D3DVSD_END()};

// c0-c3 transposed projection, c4 colour scale, c5 specular, c6 short scale,
// c7 fog (scale, offset), c8.x 765.01, c9.. palette of 3-row slots.
const char kProgram[] =
    "vs.1.1\n"
    "mul r0, v2.zyxw, c8.xxxx\n"
    "mov a0.x, r0.x\n"
    "dp4 r1.x, v0, c[a0.x + 9]\n"
    "dp4 r1.y, v0, c[a0.x + 10]\n"
    "dp4 r1.z, v0, c[a0.x + 11]\n"
    "mov r1.w, v0.w\n"
    "dp4 oPos.x, r1, c0\n"
    "dp4 oPos.y, r1, c1\n"
    "dp4 oPos.z, r1, c2\n"
    "dp4 oPos.w, r1, c3\n"
    "mul oD0, v5, c4\n"
    "mov oD1, c5\n"
    "mov oT0, v7\n"
    "mul oT1, v8, c6\n"
    "mad oFog.x, r1.z, c7.x, c7.y\n";

constexpr UINT kGrid = 8;                 // vertices per side of each grid
constexpr UINT kGridVertices = kGrid * kGrid;
constexpr UINT kLead = 5;                 // unused vertices before the grids (the base vertex)
constexpr UINT kListStart = kLead + 2 * kGridVertices;
constexpr UINT kListVertices = 6;
constexpr UINT kSceneVertices = 2 * kGridVertices + kListVertices;

class SoftwareVertexFixture : public DrawFixture {
protected:
    void TearDown() override {
        if (m_pDevice) {
            m_pDevice->SetIndices(nullptr, 0);
            if (m_shader) m_pDevice->DeleteVertexShader(m_shader);
        }
        if (m_pIndices) m_pIndices->Release();
        DrawFixture::TearDown();
    }

    // Replaces the fixture's device with one created for software vertex
    // processing.
    void RecreateForSoftware() {
        m_pDevice->Release();
        m_pDevice = nullptr;
        D3DPRESENT_PARAMETERS pp = Params();
        ASSERT_EQ(m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, m_hwnd, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                       &pp, &m_pDevice),
                  D3D_OK);
    }

    // Two tilted grids, each moved by its own palette slot, the second
    // partly behind the first, and a pair of triangles drawn without
    // indices, all in one buffer after kLead unused vertices.
    void BuildScene() {
        D3DXBuffer* code = nullptr;
        D3DXBuffer* errors = nullptr;
        ASSERT_EQ(D3DXAssembleShader(kProgram, sizeof kProgram - 1, 0, nullptr, &code, &errors), S_OK);
        if (errors) errors->Release();
        ASSERT_EQ(m_pDevice->CreateVertexShader(kDeclaration, static_cast<const DWORD*>(code->GetBufferPointer()),
                                                &m_shader, 0),
                  D3D_OK)
            << m_pDevice->LastProgramError();
        code->Release();

        std::vector<SkinVertex> vertices(kLead, SkinVertex{});
        for (DWORD slot = 0; slot < 2; ++slot)
            for (UINT j = 0; j < kGrid; ++j)
                for (UINT i = 0; i < kGrid; ++i) {
                    const float fx = static_cast<float>(i) / (kGrid - 1), fy = static_cast<float>(j) / (kGrid - 1);
                    const auto r = static_cast<D3DCOLOR>(60 + 190 * fx), g = static_cast<D3DCOLOR>(60 + 190 * fy);
                    vertices.push_back({5.0f * fx - 2.5f, 2.5f - 5.0f * fy, 3.0f * fx - 1.5f, slot,
                                        0xFF000000u | r << 16 | g << 8 | (slot ? 0xE0u : 0x30u), fx * 2.0f, fy * 2.0f,
                                        static_cast<std::int16_t>(i * 40), static_cast<std::int16_t>(j * -24)});
                }
        // Slot 2 (identity) for the list: two triangles in the corners.
        const float list[kListVertices][2] = {{-0.9f, -0.3f}, {-0.3f, -0.3f}, {-0.9f, -0.9f},
                                              {0.3f, 0.9f}, {0.9f, 0.9f}, {0.9f, 0.3f}};
        for (const auto& p : list)
            vertices.push_back({p[0] * 6.0f, p[1] * 4.5f, 8.0f + p[0], 2, 0xFFC08040, p[0], p[1],
                                static_cast<std::int16_t>(p[1] * 100.0f), 0});
        m_pStream = Buffer(vertices);

        std::vector<std::uint16_t> indices;
        for (UINT grid = 0; grid < 2; ++grid)
            for (UINT j = 0; j + 1 < kGrid; ++j)
                for (UINT i = 0; i + 1 < kGrid; ++i) {
                    const auto a = static_cast<std::uint16_t>(grid * kGridVertices + j * kGrid + i);
                    const auto b = static_cast<std::uint16_t>(a + 1), c = static_cast<std::uint16_t>(a + kGrid),
                               d = static_cast<std::uint16_t>(a + kGrid + 1);
                    indices.insert(indices.end(), {a, b, c, b, d, c});
                }
        m_nGridIndices = static_cast<UINT>(indices.size() / 2);
        const UINT bytes = static_cast<UINT>(indices.size() * 2);
        ASSERT_EQ(m_pDevice->CreateIndexBuffer(bytes, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &m_pIndices), D3D_OK);
        BYTE* data = nullptr;
        ASSERT_EQ(m_pIndices->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, indices.data(), bytes);
        ASSERT_EQ(m_pIndices->Unlock(), D3D_OK);

        std::array<VpVector, kVpConstRegisters> c{};
        D3DXMATRIX proj, bone[3], turn;
        D3DXMatrixPerspectiveFovLH(&proj, 1.0f, 4.0f / 3.0f, 1.0f, 50.0f);
        for (int r = 0; r < 4; ++r) c[static_cast<std::size_t>(r)] = {proj.m[0][r], proj.m[1][r], proj.m[2][r], proj.m[3][r]};
        c[4] = {1.2f, 0.9f, 1.0f, 1.0f};
        c[5] = {0.15f, 0.05f, 0.0f, 0.0f};
        c[6] = {1.0f / 64.0f, 1.0f / 64.0f, 1.0f, 1.0f};
        c[7] = {-1.0f / 14.0f, 1.3f, 0.0f, 0.0f};
        c[8] = {765.01f, 0.0f, 0.0f, 0.0f};
        D3DXMatrixRotationY(&turn, 0.5f);
        D3DXMatrixTranslation(&bone[0], -1.2f, 0.3f, 7.0f);
        D3DXMatrixTranslation(&bone[1], 3.5f, -1.5f, 11.0f);
        bone[0] = turn * bone[0];
        D3DXMatrixIdentity(&bone[2]);
        for (std::size_t s = 0; s < 3; ++s)
            for (std::size_t r = 0; r < 3; ++r)
                c[9 + 3 * s + r] = {bone[s].m[0][r], bone[s].m[1][r], bone[s].m[2][r], bone[s].m[3][r]};
        ASSERT_EQ(m_pDevice->SetVertexShaderConstant(0, c.data(), kVpConstRegisters), D3D_OK);

        // Stage 0: a chequer times the diffuse colour; stage 1: a gradient
        // through the second coordinates; specular added; fog toward blue.
        std::vector<std::uint32_t> chequer(64), gradient(16);
        for (UINT i = 0; i < 64; ++i) chequer[i] = ((i / 8 + i % 8) % 2) ? 0xFFFFFFFF : 0xFF808080;
        for (UINT i = 0; i < 16; ++i) gradient[i] = 0xFF000000u | (128 + i * 8) << 16 | (255 - i * 8) << 8 | 200;
        m_pDevice->SetTexture(0, Texture(8, 8, D3DFMT_A8R8G8B8, chequer));
        m_pDevice->SetTexture(1, Texture(4, 4, D3DFMT_A8R8G8B8, gradient));
        for (DWORD stage = 0; stage < 2; ++stage) {
            m_pDevice->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_MODULATE);
            m_pDevice->SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            m_pDevice->SetTextureStageState(stage, D3DTSS_COLORARG2, stage ? D3DTA_CURRENT : D3DTA_DIFFUSE);
            m_pDevice->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, stage);
            m_pDevice->SetTextureStageState(stage, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
            m_pDevice->SetTextureStageState(stage, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
        }
        m_pDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        m_pDevice->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
        m_pDevice->SetRenderState(D3DRS_FOGENABLE, TRUE);
        m_pDevice->SetRenderState(D3DRS_FOGCOLOR, 0xFF2040A0);
    }

    // Clears (depth to 0.93, so the far part of the second grid fails the
    // depth test) and draws the scene in one frame.
    std::vector<std::uint32_t> DrawScene() {
        EXPECT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF101010, 0.93f, 0), D3D_OK);
        EXPECT_EQ(m_pDevice->SetStreamSource(0, m_pStream, sizeof(SkinVertex)), D3D_OK);
        EXPECT_EQ(m_pDevice->SetIndices(m_pIndices, kLead), D3D_OK);
        EXPECT_EQ(m_pDevice->SetVertexShader(m_shader), D3D_OK);
        EXPECT_EQ(m_pDevice->BeginScene(), D3D_OK);
        const UINT triangles = m_nGridIndices / 3;
        EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, kGridVertices, 0, triangles), D3D_OK);
        EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, kGridVertices, kGridVertices, m_nGridIndices,
                                                  triangles),
                  D3D_OK);
        EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, kListStart, 2), D3D_OK);
        EXPECT_EQ(m_pDevice->EndScene(), D3D_OK);
        return Pixels();
    }

    // Pixels whose channels differ by more than `tolerance`.
    static int Differing(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b, int tolerance) {
        int count = 0;
        for (std::size_t i = 0; i < a.size(); ++i) count += NearColour(a[i], b[i], tolerance) ? 0 : 1;
        return count;
    }

    static int Covered(const std::vector<std::uint32_t>& pixels) {
        int count = 0;
        for (std::uint32_t p : pixels) count += (p & 0xFFFFFF) != 0x101010 ? 1 : 0;
        return count;
    }

    DWORD m_shader = 0;
    Direct3DVertexBuffer8* m_pStream = nullptr;
    Direct3DIndexBuffer8* m_pIndices = nullptr;
    UINT m_nGridIndices = 0;
};

using SoftwareVertex = SoftwareVertexFixture;

TEST_F(SoftwareVertex, SoftwareFrameMatchesTheHardwareFrame) {
    BuildScene();
    ASSERT_EQ(m_pDevice->SetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, FALSE), D3D_OK);
    const auto hardware = DrawScene();
    EXPECT_EQ(m_pDevice->SoftwareVertexCount(), 0u);

    ASSERT_EQ(m_pDevice->SetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, TRUE), D3D_OK);
    const auto software = DrawScene();
    // Only the vertices the draws name were processed.
    EXPECT_EQ(m_pDevice->SoftwareVertexCount(), kSceneVertices);

    // The scene is there, partly hidden by the depth it was cleared to.
    const int covered = Covered(hardware);
    EXPECT_GT(covered, static_cast<int>(kWidth * kHeight / 8));
    EXPECT_LT(covered, static_cast<int>(kWidth * kHeight * 3 / 4));
    EXPECT_NEAR(Covered(software), covered, covered / 500);
    // Rounding may move a few edge pixels; everything else agrees closely.
    EXPECT_LE(Differing(hardware, software, 3), covered / 500);

    // A second software frame reuses what the first one set up.
    const std::size_t programs = m_pDevice->ProgramCount();
    EXPECT_EQ(Differing(DrawScene(), software, 0), 0);
    EXPECT_EQ(m_pDevice->ProgramCount(), programs);
}

TEST_F(SoftwareVertex, SoftwareDeviceRunsProgramsOnTheCpuButNotFixedFunction) {
    RecreateForSoftware();
    D3DCAPS8 caps{};
    ASSERT_EQ(m_pDevice->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_EQ(caps.VertexShaderVersion, 0u);
    DWORD state = FALSE;
    ASSERT_EQ(m_pDevice->GetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, &state), D3D_OK);
    EXPECT_EQ(state, static_cast<DWORD>(TRUE));

    BuildScene();
    const auto software = DrawScene();
    EXPECT_EQ(m_pDevice->SoftwareVertexCount(), kSceneVertices);
    EXPECT_GT(Covered(software), static_cast<int>(kWidth * kHeight / 8));

    // Switched off, the same device draws the program on the GPU alike.
    m_pDevice->SetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, FALSE);
    const auto hardware = DrawScene();
    EXPECT_EQ(m_pDevice->SoftwareVertexCount(), kSceneVertices);
    EXPECT_LE(Differing(hardware, software, 3), Covered(hardware) / 500);

    // Fixed-function draws stay on the GPU with the state on.
    m_pDevice->SetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, TRUE);
    m_pDevice->SetTexture(0, nullptr);
    m_pDevice->SetTexture(1, nullptr);
    m_pDevice->SetRenderState(D3DRS_FOGENABLE, FALSE);
    m_pDevice->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    PlainColourStates();
    ASSERT_EQ(ClearTo(0xFF000000), D3D_OK);
    ASSERT_EQ(DrawTriangles({{-0.5f, 0.5f, 0.5f, 0xFF00FF00, 0, 0},
                             {0.5f, 0.5f, 0.5f, 0xFF00FF00, 0, 0},
                             {0.0f, -0.5f, 0.5f, 0xFF00FF00, 0, 0}}),
              D3D_OK);
    EXPECT_TRUE(NearColour(At(Pixels(), PixelX(0), PixelY(0.1f)), 0xFF00FF00, 0));
    EXPECT_EQ(m_pDevice->SoftwareVertexCount(), kSceneVertices);
}

TEST_F(SoftwareVertex, IndicesOutsideTheGivenRangeAreRefused) {
    BuildScene();
    m_pDevice->SetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, TRUE);
    ASSERT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF101010, 1.0f, 0), D3D_OK);
    m_pDevice->SetStreamSource(0, m_pStream, sizeof(SkinVertex));
    m_pDevice->SetIndices(m_pIndices, kLead);
    m_pDevice->SetVertexShader(m_shader);
    ASSERT_EQ(m_pDevice->BeginScene(), D3D_OK);
    const UINT triangles = m_nGridIndices / 3;
    // The first grid's indices run to 63: a range that stops short of them,
    // or starts after 0, is refused.
    EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, kGridVertices - 1, 0, triangles),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, kGridVertices, 0, triangles), D3DERR_INVALIDCALL);
    // The second grid's indices (64..127) with the first grid's range.
    EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, kGridVertices, m_nGridIndices, triangles),
              D3DERR_INVALIDCALL);
    // A range that runs past the end of the stream.
    EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, kGridVertices, kSceneVertices, m_nGridIndices,
                                              triangles),
              D3DERR_INVALIDCALL);
    // Nothing was processed or drawn.
    EXPECT_EQ(m_pDevice->SoftwareVertexCount(), 0u);
    EXPECT_EQ(m_pDevice->DrawCount(), 0u);
    // The exact range is accepted.
    EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, kGridVertices, 0, triangles), D3D_OK);
    ASSERT_EQ(m_pDevice->EndScene(), D3D_OK);
    EXPECT_EQ(m_pDevice->SoftwareVertexCount(), kGridVertices);
    EXPECT_GT(Covered(Pixels()), 1000);
}

}  // namespace
}  // namespace device_draw
