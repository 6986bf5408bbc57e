// The depth-sorted renderer: its queue, its sort, what one Render hands the
// device, and how the frame's two passes use it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "gfx/VertexFormat.h"
#include "tests/render/ZSortScene.h"

using namespace zsort_testing;

namespace {

// ---------------------------------------------------------------------------
// Queue and sort, without a device: the entries are only stored and moved.

// Entry i of a test queue carries the attribute table &m_tags[i], so it can be
// told apart after a sort.
class ZSortRenderQueue : public ::testing::Test {
protected:
    HRESULT AddTagged(DWORD i, D3DXVECTOR3 centre) {
        D3DXMATRIX world = Translation(static_cast<float>(i), 2.0f, 3.0f);
        return m_pQueue->Add(FakeVB(i), FakeIB(i), &m_tags[i], world, centre, &m_materials[i % 4], m_textures, 1 + i % 3);
    }
    DWORD TagOf(const ZSortRenderEntry& e) const { return static_cast<DWORD>(e.pAttribTable - m_tags.data()); }

    static float Key(const ZSortRenderEntry& e, D3DXVECTOR3 v) {
        return v.x * e.vCenter.x + v.y * e.vCenter.y + v.z * e.vCenter.z;
    }

    // Every tag 0..n-1 appears exactly once among the first n entries, and
    // each entry still carries its own fields.
    void ExpectPermutationOfTags(DWORD n) const {
        std::vector<int> seen(n, 0);
        for (DWORD i = 0; i < n; ++i) {
            const ZSortRenderEntry& e = m_pQueue->Entry(i);
            const DWORD tag = TagOf(e);
            ASSERT_LT(tag, n) << "entry " << i;
            ++seen[tag];
            EXPECT_EQ(e.pVB, FakeVB(tag));
            EXPECT_EQ(e.pIB, FakeIB(tag));
            EXPECT_EQ(e.matWorld(3, 0), static_cast<float>(tag));
        }
        for (DWORD t = 0; t < n; ++t) EXPECT_EQ(seen[t], 1) << "tag " << t;
    }

    void ExpectReset(DWORD from, DWORD to) const {
        const D3DXMATRIX identity = Identity();
        for (DWORD i = from; i < to; ++i) {
            const ZSortRenderEntry& e = m_pQueue->Entry(i);
            ASSERT_TRUE(e.pVB == nullptr && e.pIB == nullptr && e.pAttribTable == nullptr && e.pMaterials == nullptr &&
                        e.ppTextures == nullptr && e.dwAttribNum == 0)
                << "entry " << i;
            ASSERT_TRUE(e.matWorld == identity) << "entry " << i;
            ASSERT_TRUE(e.vCenter == D3DXVECTOR3(0, 0, 0)) << "entry " << i;
        }
    }

    // Distinct, never dereferenced buffer addresses, one per tag.
    Direct3DVertexBuffer8* FakeVB(DWORD i) const {
        return reinterpret_cast<Direct3DVertexBuffer8*>(const_cast<char*>(&m_addresses[i]));
    }
    Direct3DIndexBuffer8* FakeIB(DWORD i) const {
        return reinterpret_cast<Direct3DIndexBuffer8*>(const_cast<char*>(&m_addresses[i + 1100]));
    }

    std::unique_ptr<ZSortRender> m_pQueue = std::make_unique<ZSortRender>();
    std::array<D3DXATTRIBUTERANGE, 1100> m_tags{};
    std::array<char, 2200> m_addresses{};
    D3DMATERIAL8 m_materials[4]{};
    Direct3DTexture8* m_textures[3]{};
};

TEST_F(ZSortRenderQueue, ThousandEntriesAPassTheSurplusDroppedUntilClear) {
    EXPECT_EQ(m_pQueue->Count(), 0u);
    ExpectReset(0, ZSortRender::kMaxEntries);

    for (DWORD i = 0; i < 1000; ++i) ASSERT_EQ(AddTagged(i, D3DXVECTOR3(0, 0, static_cast<float>(i))), S_OK);
    EXPECT_EQ(m_pQueue->Count(), 1000u);
    // The 1001st and later Adds succeed but store nothing.
    EXPECT_EQ(AddTagged(1000, D3DXVECTOR3(5, 5, 5)), S_OK);
    EXPECT_EQ(AddTagged(1001, D3DXVECTOR3(5, 5, 5)), S_OK);
    EXPECT_EQ(m_pQueue->Count(), 1000u);
    EXPECT_EQ(TagOf(m_pQueue->Entry(999)), 999u);
    ExpectPermutationOfTags(1000);

    // Add keeps the references and copies matrix, centre and range count.
    const ZSortRenderEntry& e = m_pQueue->Entry(7);
    EXPECT_EQ(e.pMaterials, &m_materials[3]);
    EXPECT_EQ(e.ppTextures, m_textures);
    EXPECT_EQ(e.dwAttribNum, 2u);
    EXPECT_EQ(e.matWorld(3, 1), 2.0f);
    EXPECT_TRUE(e.vCenter == D3DXVECTOR3(0, 0, 7));

    EXPECT_EQ(m_pQueue->Clear(), S_OK);
    EXPECT_EQ(m_pQueue->Count(), 0u);
    for (DWORD i = 0; i < 1000; ++i) AddTagged(i + 100, D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(m_pQueue->Count(), 1000u);
    AddTagged(0, D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(m_pQueue->Count(), 1000u);
    EXPECT_EQ(TagOf(m_pQueue->Entry(0)), 100u);
    EXPECT_EQ(TagOf(m_pQueue->Entry(999)), 1099u);
}

TEST_F(ZSortRenderQueue, ClearResetsEveryEntry) {
    for (DWORD i = 0; i < 1000; ++i) AddTagged(i, D3DXVECTOR3(1.0f, -2.0f, static_cast<float>(i)));
    m_pQueue->Sort(0.0f, 0.0f, -1.0f);
    m_pQueue->Clear();
    EXPECT_EQ(m_pQueue->Count(), 0u);
    ExpectReset(0, ZSortRender::kMaxEntries);

    // A short pass after a full one: the tail stays reset as well.
    for (DWORD i = 0; i < 3; ++i) AddTagged(i, D3DXVECTOR3(1, 1, 1));
    m_pQueue->Clear();
    ExpectReset(0, ZSortRender::kMaxEntries);
}

TEST_F(ZSortRenderQueue, SortOrdersTheQueuedEntriesByAscendingKey) {
    // Keys along an oblique vector, queued in a shuffled order.
    const D3DXVECTOR3 v(0.3f, -0.5f, 0.8f);
    std::vector<DWORD> order(1000);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (DWORD i = 0; i < 1000; ++i) {
        const auto k = static_cast<float>(order[i]);
        AddTagged(i, D3DXVECTOR3(k * 3.0f, k * -1.0f, k * 0.25f - 40.0f));
    }
    EXPECT_EQ(m_pQueue->Sort(v.x, v.y, v.z), S_OK);
    for (DWORD i = 1; i < 1000; ++i)
        ASSERT_LT(Key(m_pQueue->Entry(i - 1), v), Key(m_pQueue->Entry(i), v)) << "entries " << i - 1 << ", " << i;
    ExpectPermutationOfTags(1000);

    // Reversing the vector reverses the order.
    m_pQueue->Sort(-v.x, -v.y, -v.z);
    for (DWORD i = 1; i < 1000; ++i) ASSERT_GT(Key(m_pQueue->Entry(i - 1), v), Key(m_pQueue->Entry(i), v));
}

TEST_F(ZSortRenderQueue, SortTouchesOnlyTheQueuedEntries) {
    // Three entries, the first with the largest key: the reset entries behind
    // them (key 0) must not be pulled in front.
    AddTagged(0, D3DXVECTOR3(0, 0, 30));
    AddTagged(1, D3DXVECTOR3(0, 0, 10));
    AddTagged(2, D3DXVECTOR3(0, 0, 20));
    m_pQueue->Sort(0, 0, 1);
    EXPECT_EQ(TagOf(m_pQueue->Entry(0)), 1u);
    EXPECT_EQ(TagOf(m_pQueue->Entry(1)), 2u);
    EXPECT_EQ(TagOf(m_pQueue->Entry(2)), 0u);
    ExpectReset(3, ZSortRender::kMaxEntries);

    // One entry and an empty queue: nothing moves.
    m_pQueue->Clear();
    AddTagged(5, D3DXVECTOR3(0, 0, 1));
    m_pQueue->Sort(0, 0, 1);
    EXPECT_EQ(TagOf(m_pQueue->Entry(0)), 5u);
    m_pQueue->Clear();
    EXPECT_EQ(m_pQueue->Sort(1, 0, 0), S_OK);
    ExpectReset(0, ZSortRender::kMaxEntries);
}

TEST_F(ZSortRenderQueue, EqualAndUnorderedKeysLoseNoEntry) {
    // Many entries on three keys: every entry survives, the keys ascend.
    for (DWORD i = 0; i < 1000; ++i) AddTagged(i, D3DXVECTOR3(0, static_cast<float>((i * 7) % 3), 0));
    m_pQueue->Sort(0, 1, 0);
    ExpectPermutationOfTags(1000);
    for (DWORD i = 1; i < 1000; ++i) ASSERT_LE(m_pQueue->Entry(i - 1).vCenter.y, m_pQueue->Entry(i).vCenter.y);

    // A centre that is not a number (a mesh gone wrong) leaves the order of
    // its neighbours open but must not lose or duplicate entries.
    m_pQueue->Clear();
    std::mt19937 random(3);
    for (DWORD i = 0; i < 1000; ++i)
        AddTagged(i, D3DXVECTOR3(0, 0, i % 9 == 0 ? std::nanf("") : static_cast<float>(random() % 500)));
    m_pQueue->Sort(0, 0, 1);
    ExpectPermutationOfTags(1000);
}

// The frame sorts along the camera's sort vector, the view matrix's third
// row. For a camera looking along +X that row is (-1, 0, 0): entries farther
// along the view come first, the reverse of an order along the view direction.
TEST_F(ZSortRenderQueue, FrameSortFollowsTheViewMatrixThirdRow) {
    g_Camera.Reset();
    g_Camera.SetPosition(0, 0, 0);
    g_Camera.LookAt(nullptr, D3DXVECTOR3(100, 0, 0), D3DXVECTOR3(0, 1, 0));
    const D3DXVECTOR3 sort = g_Camera.GetSortVector();
    EXPECT_NEAR(sort.x, -1.0f, 1e-6f);
    EXPECT_NEAR(sort.y, 0.0f, 1e-6f);
    EXPECT_NEAR(sort.z, 0.0f, 1e-6f);

    AddTagged(0, D3DXVECTOR3(20, 0, 0));
    AddTagged(1, D3DXVECTOR3(10, 0, 5));
    AddTagged(2, D3DXVECTOR3(30, 0, -5));
    m_pQueue->Sort(sort.x, sort.y, sort.z);
    EXPECT_EQ(TagOf(m_pQueue->Entry(0)), 2u);  // x = 30
    EXPECT_EQ(TagOf(m_pQueue->Entry(1)), 0u);  // x = 20
    EXPECT_EQ(TagOf(m_pQueue->Entry(2)), 1u);  // x = 10

    // Turned half-way to +Z, the row is (-s, 0, s): (10, 0, 0) and (0, 0, 10),
    // equally far along the view, are told apart by it.
    m_pQueue->Clear();
    g_Camera.Reset();
    g_Camera.LookAt(nullptr, D3DXVECTOR3(100, 0, 100), D3DXVECTOR3(0, 1, 0));
    const D3DXVECTOR3 turned = g_Camera.GetSortVector();
    EXPECT_NEAR(turned.x, -std::sqrt(0.5f), 1e-6f);
    EXPECT_NEAR(turned.z, std::sqrt(0.5f), 1e-6f);
    AddTagged(0, D3DXVECTOR3(0, 0, 10));
    AddTagged(1, D3DXVECTOR3(10, 0, 0));
    m_pQueue->Sort(turned.x, turned.y, turned.z);
    EXPECT_EQ(TagOf(m_pQueue->Entry(0)), 1u);
    EXPECT_EQ(TagOf(m_pQueue->Entry(1)), 0u);
    g_Camera.Reset();
}

// ---------------------------------------------------------------------------
// Render on a device.

// What a draw may change on the device, read back through its Get calls.
struct DeviceSnapshot {
    std::vector<DWORD> renderStates;
    std::vector<DWORD> stageStates;
    DWORD shader = 0;
    std::array<Direct3DTexture8*, kMaxTextureStages> textures{};
    std::array<float, 96 * 4> constants{};
    std::uint64_t draws = 0;

    static DeviceSnapshot Take(Direct3DDevice8* d) {
        DeviceSnapshot s;
        for (DWORD i = 0; i < kRenderStateCount; ++i) {
            DWORD v = 0;
            d->GetRenderState(static_cast<D3DRENDERSTATETYPE>(i), &v);
            s.renderStates.push_back(v);
        }
        for (DWORD stage = 0; stage < kMaxTextureStages; ++stage)
            for (DWORD t = 0; t < kTextureStageStateCount; ++t) {
                DWORD v = 0;
                d->GetTextureStageState(stage, static_cast<D3DTEXTURESTAGESTATETYPE>(t), &v);
                s.stageStates.push_back(v);
            }
        d->GetVertexShader(&s.shader);
        for (DWORD stage = 0; stage < kMaxTextureStages; ++stage) {
            d->GetTexture(stage, &s.textures[stage]);
            if (s.textures[stage]) s.textures[stage]->Release();  // only the identity is kept
        }
        d->GetVertexShaderConstant(0, s.constants.data(), 96);
        s.draws = d->DrawCount();
        return s;
    }
};

void ExpectSameStates(const DeviceSnapshot& before, const DeviceSnapshot& after) {
    for (std::size_t i = 0; i < before.renderStates.size(); ++i)
        EXPECT_EQ(before.renderStates[i], after.renderStates[i]) << "render state " << i;
    for (std::size_t i = 0; i < before.stageStates.size(); ++i)
        EXPECT_EQ(before.stageStates[i], after.stageStates[i])
            << "stage " << i / kTextureStageStateCount << " state " << i % kTextureStageStateCount;
}

class ZSortRenderDevice : public ZSortRenderScene {
protected:
    // A 1 x 1 texture of one colour.
    static Direct3DTexture8* SolidTexture(D3DCOLOR colour) {
        Direct3DTexture8* t = nullptr;
        if (FAILED(g_pd3dDevice->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t))) return nullptr;
        D3DLOCKED_RECT r{};
        t->LockRect(0, &r, nullptr, 0);
        *static_cast<std::uint32_t*>(r.pBits) = colour;
        t->UnlockRect(0);
        return t;
    }

    void RenderQueue() {
        g_pd3dDevice->BeginScene();
        g_ZSortRender.Render(g_pd3dDevice, g_Camera.GetView(), g_Camera.GetProjection(), g_vLightDir, 17500.0f);
        g_pd3dDevice->EndScene();
    }
};

TEST_F(ZSortRenderDevice, EmptyQueueDrawsNothingAndLeavesTheDeviceAsItWas) {
    Direct3DDevice8* d = g_pd3dDevice;
    Look(D3DXVECTOR3(0, 0, -10));
    // Unusual state, so that a Render that sets anything shows.
    Direct3DTexture8* red = SolidTexture(0xFFFF0000);
    ASSERT_NE(red, nullptr);
    d->SetTexture(0, red);
    d->SetTexture(1, red);
    d->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    const float marker[4] = {9, 8, 7, 6};
    for (DWORD reg : {0u, 4u, 12u, 13u, 14u}) d->SetVertexShaderConstant(reg, marker, 1);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);

    const DeviceSnapshot before = DeviceSnapshot::Take(d);
    ASSERT_EQ(g_ZSortRender.Count(), 0u);
    RenderQueue();
    const DeviceSnapshot after = DeviceSnapshot::Take(d);

    ExpectSameStates(before, after);
    EXPECT_EQ(after.shader, before.shader);
    EXPECT_EQ(after.textures, before.textures);
    EXPECT_EQ(after.constants, before.constants);
    EXPECT_EQ(after.draws, before.draws);
    d->SetTexture(0, nullptr);
    d->SetTexture(1, nullptr);
    red->Release();
}

TEST_F(ZSortRenderDevice, RenderKeepsEveryStateAndUnbindsItsTextures) {
    Direct3DDevice8* d = g_pd3dDevice;
    ASSERT_TRUE(MakeSphere(d, 3.0f, 24, 12, 0xFFFFFFFF, m_sphere));
    Look(D3DXVECTOR3(0, 0, -10));
    Direct3DTexture8* grey = SolidTexture(0xFF808080);
    ASSERT_NE(grey, nullptr);
    d->SetTexture(2, grey);  // a later stage is not the renderer's
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    Queue(m_sphere, Identity(), D3DXVECTOR3(0, 0, 0));
    Queue(m_sphere, Translation(4, 0, 0), D3DXVECTOR3(4, 0, 0));

    const DeviceSnapshot before = DeviceSnapshot::Take(d);
    RenderQueue();
    const DeviceSnapshot after = DeviceSnapshot::Take(d);

    ExpectSameStates(before, after);
    EXPECT_EQ(after.draws, before.draws + 2);
    EXPECT_EQ(after.shader, g_ZSortRender.Shader());  // left set
    EXPECT_NE(g_ZSortRender.Shader(), ZSortRender::kNoShader);
    EXPECT_EQ(after.textures[0], nullptr);
    EXPECT_EQ(after.textures[1], nullptr);
    EXPECT_EQ(after.textures[2], grey);
    EXPECT_EQ(g_ZSortRender.Count(), 2u);  // Render does not empty the queue
    d->SetTexture(2, nullptr);
    grey->Release();
}

// The constants of the last drawn entry: its transforms, the light in its own
// space and the fog.
TEST_F(ZSortRenderDevice, ConstantsCarryTheEntrysTransformsLightAndFog) {
    Direct3DDevice8* d = g_pd3dDevice;
    ASSERT_TRUE(MakeSphere(d, 1.0f, 8, 4, 0xFFFFFFFF, m_sphere));
    Look(D3DXVECTOR3(0, 0, -10), D3DXVECTOR3(0, 0, 0));

    // Scaled unevenly, turned about two axes and moved.
    D3DXMATRIX scale, turnY, turnX;
    D3DXMatrixScaling(&scale, 2.0f, 1.0f, 0.5f);
    D3DXMatrixRotationY(&turnY, 0.7f);
    D3DXMatrixRotationX(&turnX, -0.4f);
    const D3DXMATRIX world = scale * turnY * turnX * Translation(1, 2, 3);
    g_vLightDir = D3DXVECTOR4(0.5f, 0.9f, 0.5f, 0.0f);
    Queue(m_sphere, world, D3DXVECTOR3(1, 2, 3));
    RenderQueue();

    float c[15][4];
    ASSERT_EQ(d->GetVertexShaderConstant(0, c, 15), S_OK);

    // c13: a unit vector that the world matrix takes back onto the light.
    const D3DXVECTOR4 light(c[13][0], c[13][1], c[13][2], c[13][3]);
    EXPECT_NEAR(D3DXVec4Length(&light), 1.0f, 1e-5f);
    EXPECT_EQ(light.w, 0.0f);
    D3DXVECTOR4 back;
    D3DXVec4Transform(&back, &light, &world);
    const float backLength = std::sqrt(back.x * back.x + back.y * back.y + back.z * back.z);
    const float lightLength = std::sqrt(0.25f + 0.81f + 0.25f);
    EXPECT_NEAR(back.x / backLength, 0.5f / lightLength, 1e-5f);
    EXPECT_NEAR(back.y / backLength, 0.9f / lightLength, 1e-5f);
    EXPECT_NEAR(back.z / backLength, 0.5f / lightLength, 1e-5f);
    // Not merely the world-space light.
    EXPECT_GT(std::fabs(light.y - 0.9f / lightLength), 0.05f);

    // c12 and c14: the ramp constants and the fog from 0 to 17500.
    EXPECT_EQ(c[12][0], 0.0f);
    EXPECT_EQ(c[12][1], 0.5f);
    EXPECT_EQ(c[12][2], 1.0f);
    EXPECT_EQ(c[12][3], -1.0f);
    EXPECT_FLOAT_EQ(c[14][0], -1.0f / 17500.0f);
    EXPECT_FLOAT_EQ(c[14][1], 1.0f);
    EXPECT_EQ(c[14][2], 0.0f);
    EXPECT_EQ(c[14][3], 0.0f);

    // c6: a model point's depth in front of the camera (the eye is at z = -10
    // looking along +Z). c0..c3: its clip position, w being that depth.
    const D3DXVECTOR3 model(0.5f, -1.0f, 2.0f);
    D3DXVECTOR3 placed;
    D3DXVec3TransformCoord(&placed, &model, &world);
    auto row = [&](int r) { return c[r][0] * model.x + c[r][1] * model.y + c[r][2] * model.z + c[r][3]; };
    EXPECT_NEAR(row(6), placed.z + 10.0f, 1e-4f);
    const float cot = 1.0f / std::tan(D3DX_PI / 7.0f);
    EXPECT_NEAR(row(3), placed.z + 10.0f, 1e-4f);
    EXPECT_NEAR(row(0) / row(3), placed.x * cot / g_fAspect / (placed.z + 10.0f), 1e-5f);
    EXPECT_NEAR(row(1) / row(3), placed.y * cot / (placed.z + 10.0f), 1e-5f);
}

TEST_F(ZSortRenderDevice, EntriesWithEqualKeysAreBothDrawn) {
    ASSERT_TRUE(MakeSphere(g_pd3dDevice, 2.0f, 24, 12, 0xFFFFFFFF, m_sphere));
    Look(D3DXVECTOR3(0, 0, -20));
    g_vLightDir = D3DXVECTOR4(0, 0, -1, 0);
    // Side by side across the view: the sort vector (0, 0, 1) gives both key 0.
    Queue(m_sphere, Translation(-5, 0, 0), D3DXVECTOR3(-5, 0, 0));
    Queue(m_sphere, Translation(5, 0, 0), D3DXVECTOR3(5, 0, 0));
    const std::uint64_t draws = g_pd3dDevice->DrawCount();
    const auto pixels = DrawBlended();
    EXPECT_EQ(g_pd3dDevice->DrawCount(), draws + 2);
    // Both spheres show, lit from the camera's side.
    const float across = 5.0f / 20.0f / std::tan(D3DX_PI / 7.0f) / g_fAspect * 320.0f;
    const int left = 320 - static_cast<int>(across), right = 320 + static_cast<int>(across);
    EXPECT_GE(Red(At(pixels, left, 240)), 120);
    EXPECT_GE(Red(At(pixels, right, 240)), 120);
    EXPECT_EQ(Rgb(At(pixels, 320, 240)), 0u);
}

// ---------------------------------------------------------------------------
// The frame's Render().

TEST_F(ZSortRenderDevice, FramePassOneDrawsQueuedEntriesAsFlatVertexColour) {
    Direct3DDevice8* d = g_pd3dDevice;
    ASSERT_TRUE(MakeSphere(d, 3.0f, 48, 24, 0xFF40C080, m_sphere));
    Look(D3DXVECTOR3(0, 0, -10));
    g_vLightDir = D3DXVECTOR4(1.0f, 0.0f, 0.0f, 0.0f);
    Queue(m_sphere, Identity(), D3DXVECTOR3(0, 0, 0));
    const std::uint64_t draws = d->DrawCount();
    const auto pixels = Draw();

    // Drawn once (by pass 1, not again by pass 2), and the queue is empty.
    EXPECT_EQ(d->DrawCount(), draws + 1);
    EXPECT_EQ(g_ZSortRender.Count(), 0u);
    // The stages select the diffuse colour: no ramp bands, only the vertex
    // colour; the fog at about 7 of 17500 units dims it by at most one step.
    int inside = 0;
    for (int x = 0; x < kWidth; ++x) {
        const std::uint32_t p = At(pixels, x, 240);
        if (Rgb(p) == 0) continue;
        ++inside;
        EXPECT_NEAR(Red(p), 0x40, 1) << x;
        EXPECT_NEAR(Green(p), 0xC0, 1) << x;
        EXPECT_NEAR(Blue(p), 0x80, 1) << x;
    }
    EXPECT_GT(inside, 150);

    // The textured stages and blending are left as the blended pass set them
    // and ended them.
    DWORD v = 0;
    d->GetTextureStageState(0, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTOP_MODULATE));
    d->GetTextureStageState(1, D3DTSS_COLORARG2, &v);
    EXPECT_EQ(v, D3DTA_CURRENT);
    d->GetRenderState(D3DRS_ALPHABLENDENABLE, &v);
    EXPECT_EQ(v, static_cast<DWORD>(FALSE));
}

TEST_F(ZSortRenderDevice, FrameWithAnEmptyQueueShowsOnlyTheBackground) {
    Look(D3DXVECTOR3(0, 0, -10));
    UseBackground(0xFF000032);
    const std::uint64_t draws = g_pd3dDevice->DrawCount();
    const auto pixels = Draw();
    EXPECT_EQ(g_pd3dDevice->DrawCount(), draws);
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](std::uint32_t p) { return Rgb(p) == 0x000032u; }));
}

}  // namespace
