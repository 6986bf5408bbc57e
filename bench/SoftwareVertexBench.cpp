// Cost of software vertex processing. Run on a display (./setup.sh bench uses
// a virtual one).
//
// BM_SkinnedDraws/1: one frame of 50 indexed draws of a 1000-vertex mesh with
// the two-bone skinning program (SKINMESH2.VSH), the vertices processed on the
// CPU; BM_SkinnedDraws/0: the same frame with the program on the GPU, for
// comparison. Each frame ends with a read of the back buffer, so the GPU's
// part is counted too.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/Startup.h"
#include "gfx/D3DXMath.h"
#include "gfx/VertexFormat.h"
#include "gfx/VertexProgram.h"
#include "gfx/VertexProgramAsm.h"
#include "tests/support/TestScene.h"

namespace {

// The blended vertex of the skinned models: 52 bytes.
struct BlendVertex {
    float x, y, z;
    float weight;
    D3DCOLOR indices;
    float nx, ny, nz;
    D3DCOLOR colour;
    float u0, v0, u1, v1;
};
static_assert(sizeof(BlendVertex) == 52);

const DWORD kDeclaration[] = {D3DVSD_STREAM(0),
                              D3DVSD_REG(0, D3DVSDT_FLOAT3),
                              D3DVSD_REG(1, D3DVSDT_FLOAT1),
                              D3DVSD_REG(2, D3DVSDT_D3DCOLOR),
                              D3DVSD_REG(3, D3DVSDT_FLOAT3),
                              D3DVSD_REG(5, D3DVSDT_D3DCOLOR),
                              D3DVSD_REG(7, D3DVSDT_FLOAT2),
                              D3DVSD_REG(8, D3DVSDT_FLOAT2),
                              D3DVSD_END()};

constexpr UINT kSide = 25;  // 25 x 40 = 1000 vertices
constexpr UINT kRows = 40;
constexpr int kDrawsPerFrame = 50;

void BM_SkinnedDraws(benchmark::State& state) {
    testing_support::SaverScene scene;
    if (!scene.Start()) {
        state.SkipWithError(scene.Error().c_str());
        return;
    }
    Direct3DDevice8* device = g_pd3dDevice;
    D3DXBuffer* code = nullptr;
    DWORD shader = 0;
    if (FAILED(D3DXAssembleShaderFromResourceA(nullptr, "SKINMESH2.VSH", 0, nullptr, &code, nullptr)) ||
        FAILED(device->CreateVertexShader(kDeclaration, static_cast<const DWORD*>(code->GetBufferPointer()), &shader,
                                          0))) {
        if (code) code->Release();
        state.SkipWithError("skinning program");
        return;
    }
    code->Release();

    // A bent sheet whose vertices blend between palette slots 0..27.
    std::vector<BlendVertex> vertices;
    for (UINT j = 0; j < kRows; ++j)
        for (UINT i = 0; i < kSide; ++i) {
            const float fx = static_cast<float>(i) / (kSide - 1), fy = static_cast<float>(j) / (kRows - 1);
            const DWORD a = (i + j) % 28, b = (i * 3 + j) % 28;
            vertices.push_back({fx * 4.0f - 2.0f, fy * 4.0f - 2.0f, std::sin(fx * 3.0f), fx, a | b << 8, 0.0f, 0.0f,
                                -1.0f, 0xFFC0A080, fx, fy, fx, fy});
        }
    std::vector<std::uint16_t> indices;
    for (UINT j = 0; j + 1 < kRows; ++j)
        for (UINT i = 0; i + 1 < kSide; ++i) {
            const auto v = static_cast<std::uint16_t>(j * kSide + i);
            indices.insert(indices.end(), {v, static_cast<std::uint16_t>(v + 1), static_cast<std::uint16_t>(v + kSide),
                                           static_cast<std::uint16_t>(v + 1), static_cast<std::uint16_t>(v + kSide + 1),
                                           static_cast<std::uint16_t>(v + kSide)});
        }
    Direct3DVertexBuffer8* vb = nullptr;
    Direct3DIndexBuffer8* ib = nullptr;
    const UINT vbBytes = static_cast<UINT>(vertices.size() * sizeof(BlendVertex));
    const UINT ibBytes = static_cast<UINT>(indices.size() * 2);
    BYTE* data = nullptr;
    if (FAILED(device->CreateVertexBuffer(vbBytes, 0, 0, D3DPOOL_SYSTEMMEM, &vb)) ||
        FAILED(device->CreateIndexBuffer(ibBytes, 0, D3DFMT_INDEX16, D3DPOOL_SYSTEMMEM, &ib))) {
        if (vb) vb->Release();
        state.SkipWithError("buffers");
        return;
    }
    vb->Lock(0, 0, &data, 0);
    std::memcpy(data, vertices.data(), vbBytes);
    vb->Unlock();
    ib->Lock(0, 0, &data, 0);
    std::memcpy(data, indices.data(), ibBytes);
    ib->Unlock();

    std::array<std::array<float, 4>, 96> c{};
    D3DXMATRIX proj;
    D3DXMatrixPerspectiveFovLH(&proj, 1.0f, 4.0f / 3.0f, 1.0f, 100.0f);
    c[0] = {1.0f, 0.5f, 0.0f, 765.01f};
    c[1] = {0.0f, 0.0f, -1.0f, 0.0f};
    for (int r = 0; r < 4; ++r) c[static_cast<std::size_t>(2 + r)] = {proj.m[0][r], proj.m[1][r], proj.m[2][r], proj.m[3][r]};
    c[7] = {-1.0f / 50.0f, 1.0f, 0.0f, 0.0f};
    for (std::size_t s = 0; s < 28; ++s) {
        // Slot s: a small turn about z and the sheet 8 units ahead.
        const float a = 0.01f * static_cast<float>(s);
        c[9 + 3 * s] = {std::cos(a), -std::sin(a), 0.0f, 0.0f};
        c[10 + 3 * s] = {std::sin(a), std::cos(a), 0.0f, 0.0f};
        c[11 + 3 * s] = {0.0f, 0.0f, 1.0f, 8.0f};
    }
    device->SetVertexShaderConstant(0, c.data(), 96);
    device->SetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, state.range(0) ? TRUE : FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetStreamSource(0, vb, sizeof(BlendVertex));
    device->SetIndices(ib, 0);
    device->SetVertexShader(shader);
    const UINT triangles = static_cast<UINT>(indices.size() / 3);
    std::vector<std::uint32_t> pixels;
    for (auto _ : state) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        for (int d = 0; d < kDrawsPerFrame; ++d)
            if (FAILED(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, kSide * kRows, 0, triangles)))
                state.SkipWithError("draw");
        device->EndScene();
        device->ReadBackBuffer(pixels);
    }
    state.SetItemsProcessed(state.iterations() * kDrawsPerFrame * kSide * kRows);
    state.SetLabel(state.range(0) ? "software" : "hardware");

    device->SetStreamSource(0, nullptr, 0);
    device->SetIndices(nullptr, 0);
    device->DeleteVertexShader(shader);
    vb->Release();
    ib->Release();
}
BENCHMARK(BM_SkinnedDraws)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
