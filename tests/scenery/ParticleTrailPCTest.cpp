// The particle trails: the pool and its recycling, motion and life, tints,
// the settings' fall-backs, and what a render writes, sets and shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Camera.h"
#include "app/ErrLog.h"
#include "app/Frame.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "scenery/ParticleTrailPC.h"
#include "tests/support/Display.h"
#include "tests/support/TestScene.h"

using namespace testing_support;

namespace {

constexpr float kDt = 0.03f;

Settings ParticleSettings(int size, int longLife, int texture, int randomColour) {
    Settings s;
    s.intPtlSizCur = size;
    s.intPtlLngLif = longLife;
    s.intPtlTexIdx = texture;
    s.intPtlRndCol = randomColour;
    return s;
}

// Steps until every particle is gone; the number of steps taken.
int StepsUntilEmpty(ParticleTrailPC& trail) {
    int steps = 0;
    while (trail.ActiveCount() > 0 && steps < 10000) {
        trail.FrameMove();
        ++steps;
    }
    return steps;
}

const ParticleTrailPC::Particle* Oldest(const ParticleTrailPC& trail) {
    const ParticleTrailPC::Particle* p = trail.FirstActive();
    while (p && p->pNext) p = p->pNext;
    return p;
}

}  // namespace

TEST(ParticleTrailPC, PoolStopsAtItsCapacityAndRecyclesTheDead) {
    g_fElapsedTime = kDt;
    ParticleTrailPC trail;
    trail.SetParameters(ParticleSettings(100, 0, 0, 0));
    // One particle close to its end, then the pool filled behind it.
    ASSERT_EQ(trail.Emit(0, 0, 0, 0, 0, 0), S_OK);
    for (int i = 0; i < 219; ++i) trail.FrameMove();
    ASSERT_EQ(trail.ActiveCount(), 1u);
    const ParticleTrailPC::Particle* first = trail.FirstActive();
    for (DWORD i = 1; i < ParticleTrailPC::kCapacity; ++i) ASSERT_EQ(trail.Emit(1, 2, 3, 0, 0, 0), S_OK);
    EXPECT_EQ(trail.ActiveCount(), 3000u);

    // The 3001st is ignored without a complaint.
    EXPECT_EQ(trail.Emit(1, 2, 3, 0, 0, 0), S_OK);
    EXPECT_EQ(trail.ActiveCount(), 3000u);
    EXPECT_EQ(trail.FreeCount(), 0u);

    // The old one dies in the next step; its record takes the next emission.
    trail.FrameMove();
    EXPECT_EQ(trail.ActiveCount(), 2999u);
    EXPECT_EQ(trail.FreeCount(), 1u);
    EXPECT_EQ(Oldest(trail)->fLife, trail.FirstActive()->fLife);  // the survivors are one age
    ASSERT_EQ(trail.Emit(4, 5, 6, 0, 0, 0), S_OK);
    EXPECT_EQ(trail.ActiveCount(), 3000u);
    EXPECT_EQ(trail.FreeCount(), 0u);
    EXPECT_EQ(trail.FirstActive(), first);
    EXPECT_EQ(trail.FirstActive()->fLife, -255.0f);
}

TEST(ParticleTrailPC, ParticlesStartOnATiltedCircleAndFallUnderGravity) {
    g_fElapsedTime = kDt;
    ParticleTrailPC trail;
    trail.SetParameters(ParticleSettings(100, 0, 0, 0));
    std::srand(7);
    for (int i = 0; i < 20; ++i) {
        trail.Emit(10, 20, 30, 0, 0, 0);
        const D3DXVECTOR3 d = trail.FirstActive()->vPosition - D3DXVECTOR3(10, 20, 30);
        EXPECT_NEAR(std::sqrt(d.x * d.x + d.z * d.z), 3.0f, 1e-4f);
        EXPECT_NEAR(d.y, 0.5f * (d.x + d.z), 1e-4f);
    }

    const ParticleTrailPC::Particle* p = trail.FirstActive();
    const D3DXVECTOR3 start = p->vPosition;
    constexpr int n = 33;  // about one second
    for (int i = 0; i < n; ++i) trail.FrameMove();
    const float drop = 9.8f * kDt * kDt * n * (n + 1) / 2.0f;
    EXPECT_NEAR(start.y - p->vPosition.y, drop, 1e-3f);
    EXPECT_NEAR(drop, 5.0f, 0.2f);
    EXPECT_EQ(p->vPosition.x, start.x);
    EXPECT_EQ(p->vPosition.z, start.z);
    EXPECT_NEAR(p->vVelocity.y, -9.8f * kDt * n, 1e-4f);
}

TEST(ParticleTrailPC, LivesLastAboutSixAndAHalfOrTwelveAndAHalfSeconds) {
    g_fElapsedTime = kDt;
    ParticleTrailPC shortLife, longLife;
    shortLife.SetParameters(ParticleSettings(100, 0, 0, 0));
    longLife.SetParameters(ParticleSettings(100, 1, 0, 0));
    shortLife.Emit(0, 0, 0, 0, 0, 0);
    longLife.Emit(0, 0, 0, 0, 0, 0);
    // 24 fast steps to life -96.6, then 1.8 (or 0.9) a step to 255.
    EXPECT_EQ(StepsUntilEmpty(shortLife), 220);  // 6.6 s
    EXPECT_EQ(StepsUntilEmpty(longLife), 415);   // 12.45 s
    EXPECT_EQ(shortLife.FreeCount(), 1u);
}

TEST(ParticleTrailPC, RandomTintsAreLightAndPlainParticlesWhite) {
    ParticleTrailPC tinted, plain;
    tinted.SetParameters(ParticleSettings(100, 0, 0, 1));
    plain.SetParameters(ParticleSettings(100, 0, 0, 0));
    std::srand(12345);
    DWORD lowest = 255;
    bool varied = false;
    tinted.Emit(0, 0, 0, 0, 0, 0);
    for (int i = 0; i < 2000; ++i) {
        tinted.Emit(0, 0, 0, 0, 0, 0);
        const DWORD c = tinted.FirstActive()->dwColour;
        EXPECT_EQ(c >> 24, 0u);
        for (int shift : {0, 8, 16}) lowest = std::min(lowest, (c >> shift) & 0xFF);
        varied = varied || c != tinted.FirstActive()->pNext->dwColour;
    }
    EXPECT_GE(lowest, 128u);
    EXPECT_LE(lowest, 130u);
    EXPECT_TRUE(varied);
    plain.Emit(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(plain.FirstActive()->dwColour, 0xFFFFFFu);
}

TEST(ParticleTrailPC, SettingsOutsideTheDialogsRangesFallBack) {
    ParticleTrailPC trail;
    struct Case {
        int texture, expected;
    };
    for (Case c : {Case{7, 0}, Case{-1, 0}, Case{6, 6}, Case{3, 3}, Case{0, 0}}) {
        trail.SetParameters(ParticleSettings(100, 0, c.texture, 0));
        EXPECT_EQ(trail.TextureIndex(), c.expected) << c.texture;
    }
    struct Size {
        int percent;
        float halfWidth;
    };
    for (Size s : {Size{100, 30.0f}, Size{1, 0.3f}, Size{50, 15.0f}, Size{0, 0.3f}, Size{-5, 0.3f},
                   Size{100000, 30.0f}}) {
        const Settings settings = ParticleSettings(s.percent, 0, 0, 0);
        trail.SetParameters(settings);
        EXPECT_FLOAT_EQ(trail.Size(), s.halfWidth) << s.percent;
        EXPECT_EQ(settings.intPtlSizCur, s.percent);
    }
}

namespace {

// A started saver and a particle trail of its own on the saver's device.
class ParticleScene : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_scene.Start()) return testing_support::SceneNotStarted(m_scene.DisplayMissing(), m_scene.Error());
        g_fElapsedTime = kDt;
        m_device = g_pd3dDevice;
    }
    void TearDown() override {
        m_trail.DeleteDeviceObjects();
        m_scene.Stop();
    }

    void Init(const Settings& settings) {
        m_trail.SetParameters(settings);
        g_ErrLog.ClearForTesting();
        ASSERT_EQ(m_trail.InitDeviceObjects(m_device), S_OK) << g_ErrLog.Text();
    }

    // Camera at (0, 0, -100) looking along +Z, with the start-up projection.
    static void LookAlongZ() {
        g_Camera.Reset();
        g_Fog.Apply(g_pd3dDevice, g_Camera, g_fAspect, TRUE);
        g_Camera.SetPosition(0, 0, -100);
        g_Camera.LookAt(g_pd3dDevice, D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 1, 0));
    }

    std::vector<DWORD> States() {
        std::vector<DWORD> values;
        for (D3DRENDERSTATETYPE s : kStates) {
            DWORD v = 0;
            m_device->GetRenderState(s, &v);
            values.push_back(v);
        }
        return values;
    }
    void SetStates(std::vector<DWORD> values) {
        for (std::size_t i = 0; i < values.size(); ++i) m_device->SetRenderState(kStates[i], values[i]);
    }

    static constexpr D3DRENDERSTATETYPE kStates[] = {D3DRS_FOGENABLE,        D3DRS_LIGHTING, D3DRS_ZWRITEENABLE,
                                                     D3DRS_ALPHABLENDENABLE, D3DRS_SRCBLEND, D3DRS_DESTBLEND};

    SaverScene m_scene;
    Direct3DDevice8* m_device = nullptr;
    ParticleTrailPC m_trail;
};

}  // namespace

TEST_F(ParticleScene, DeviceObjectsAreTheSevenSpritesAndOneBuffer) {
    Init(ParticleSettings(50, 0, 0, 0));
    std::string expected;
    for (int i = 0; i < 7; ++i) expected += "\t\tD3DXCreateTextureFromResource...\n";
    expected += "\t\tpd3dDevice->CreateVertexBuffer...\n";
    EXPECT_EQ(g_ErrLog.Text(), expected);

    for (int i = 0; i < ParticleTrailPC::kTextureCount; ++i) EXPECT_NE(m_trail.Texture(i), nullptr) << i;
    ASSERT_NE(m_trail.VertexBuffer(), nullptr);
    D3DVERTEXBUFFER_DESC vb{};
    m_trail.VertexBuffer()->GetDesc(&vb);
    EXPECT_EQ(vb.Size, 3000u * 96u);
    EXPECT_EQ(vb.FVF, 0x142u);
    EXPECT_EQ(vb.Usage, D3DUSAGE_WRITEONLY);
    EXPECT_EQ(vb.Pool, D3DPOOL_MANAGED);

    // The template: half-width 15 at 50 percent, apex up, the sprite's lower
    // corners and top middle.
    const ParticleTrailPC::Vertex& v0 = m_trail.TemplateVertex(0);
    const ParticleTrailPC::Vertex& v1 = m_trail.TemplateVertex(1);
    EXPECT_TRUE(v0.x == -15.0f && v0.y == -15.0f && v0.u == 0.0f && v0.v == 1.0f);
    EXPECT_TRUE(v1.x == 0.0f && v1.y == 15.0f && v1.u == 0.5f && v1.v == 0.0f && v1.colour == 0xFFFFFFFFu);

    EXPECT_EQ(m_trail.DeleteDeviceObjects(), S_OK);
    EXPECT_EQ(m_trail.Texture(0), nullptr);
    EXPECT_EQ(m_trail.VertexBuffer(), nullptr);
    EXPECT_EQ(m_trail.DeleteDeviceObjects(), S_OK);
}

TEST_F(ParticleScene, WithNothingAliveRenderTouchesNothing) {
    Init(ParticleSettings(100, 0, 2, 0));
    // A render with one particle leaves vertices in the buffer ...
    m_trail.Emit(0, 0, 0, 0, 0, 0);
    m_trail.FrameMove();
    m_device->BeginScene();
    ASSERT_EQ(m_trail.Render(m_device, g_Camera.GetBillboardMatrix()), S_OK);
    m_device->EndScene();
    StepsUntilEmpty(m_trail);
    const Direct3DVertexBuffer8* vb = m_trail.VertexBuffer();
    const std::vector<BYTE> before(vb->Data(), vb->Data() + vb->Size());

    // ... and none afterwards changes a state, the buffer or the draw count.
    SetStates({TRUE, FALSE, TRUE, TRUE, D3DBLEND_ZERO, D3DBLEND_INVSRCALPHA});
    m_device->SetTexture(0, nullptr);
    const auto states = States();
    const auto draws = m_device->DrawCount();
    m_device->BeginScene();
    EXPECT_EQ(m_trail.Render(m_device, g_Camera.GetBillboardMatrix()), S_OK);
    m_device->EndScene();
    EXPECT_EQ(States(), states);
    EXPECT_EQ(m_device->DrawCount(), draws);
    Direct3DTexture8* bound = nullptr;
    m_device->GetTexture(0, &bound);
    EXPECT_EQ(bound, nullptr);
    if (bound) bound->Release();
    EXPECT_EQ(std::memcmp(before.data(), vb->Data(), before.size()), 0);
}

TEST_F(ParticleScene, RenderWritesBillboardedSpritesSetsItsStatesAndDrawsOnce) {
    Init(ParticleSettings(100, 0, 7, 1));  // index 7 falls back to sprite 0
    ASSERT_TRUE(m_trail.DrawsQuads());
    LookAlongZ();
    std::srand(99);
    m_trail.Emit(0, 0, -1000, 0, 0, 0);  // behind the camera: left out
    m_trail.Emit(5, 6, 7, 1, 2, 3);
    for (int i = 0; i < 30; ++i) m_trail.FrameMove();
    m_trail.Emit(-5, 0, 0, 0, 0, 0);  // a newborn: smallest and nearly transparent
    m_trail.FrameMove();
    m_trail.Emit(0, 0, 0, 0, 0, 0);  // not moved yet: alpha 0, left out

    // A camera turned 90 degrees about Y: its x axis is world -Z.
    D3DXMATRIX billboard;
    D3DXMatrixRotationY(&billboard, 1.5707964f);
    SetStates({TRUE, TRUE, TRUE, FALSE, D3DBLEND_ZERO, D3DBLEND_ZERO});
    const auto draws = m_device->DrawCount();
    m_device->BeginScene();
    ASSERT_EQ(m_trail.Render(m_device, billboard), S_OK);
    m_device->EndScene();

    EXPECT_EQ(m_device->DrawCount(), draws + 1);
    EXPECT_EQ(m_trail.DrawnCount(), 2u);
    EXPECT_EQ(States(), (std::vector<DWORD>{TRUE, TRUE, TRUE, FALSE, D3DBLEND_SRCALPHA, D3DBLEND_ONE}));
    DWORD shader = 0;
    m_device->GetVertexShader(&shader);
    EXPECT_EQ(shader, 0x142u);
    Direct3DTexture8* bound = nullptr;
    m_device->GetTexture(0, &bound);
    EXPECT_EQ(bound, m_trail.Texture(0));
    if (bound) bound->Release();
    D3DMATRIX world{};
    m_device->GetTransform(D3DTS_WORLD, &world);
    EXPECT_TRUE(D3DXMatrixIsIdentity(reinterpret_cast<const D3DXMATRIX*>(&world)));

    // The quad's corners lie where the template triangle has their texture
    // coordinates: (s (2u - 1), s (1 - 2v)) in its plane.
    for (int i = 0; i < 4; ++i) {
        const ParticleTrailPC::Vertex& q = m_trail.QuadVertex(i);
        EXPECT_FLOAT_EQ(q.x, 30.0f * (2.0f * q.u - 1.0f));
        EXPECT_FLOAT_EQ(q.y, 30.0f * (1.0f - 2.0f * q.v));
        EXPECT_TRUE(q.u > 0.0f && q.u < 1.0f && q.v > 0.0f && q.v < 1.0f) << q.u << "," << q.v;
    }

    // The visible ones, newest first, four corners each.
    const auto* v = reinterpret_cast<const ParticleTrailPC::Vertex*>(m_trail.VertexBuffer()->Data());
    const ParticleTrailPC::Particle* p = m_trail.FirstActive()->pNext;
    for (int k = 0; k < 2; ++k, p = p->pNext, v += 4) {
        SCOPED_TRACE(k);
        float scale = (p->fLife + 255.0f) / 2.0f / 198.0f;
        if (scale < 0.1f) scale = 0.1f;
        const DWORD alpha = static_cast<DWORD>(255.0f - std::fabs(p->fLife));
        for (int i = 0; i < 4; ++i) {
            const ParticleTrailPC::Vertex& q = m_trail.QuadVertex(i);
            // q x rotation: local x goes to world -Z, local y stays up.
            EXPECT_NEAR(v[i].x, p->vPosition.x, 1e-4f);
            EXPECT_NEAR(v[i].y, p->vPosition.y + q.y * scale, 1e-4f);
            EXPECT_NEAR(v[i].z, p->vPosition.z - q.x * scale, 1e-4f);
            EXPECT_EQ(v[i].colour, alpha << 24 | p->dwColour);
            EXPECT_EQ(v[i].u, q.u);
            EXPECT_EQ(v[i].v, q.v);
        }
    }
    EXPECT_EQ(v[-8].colour >> 24, 6u);                // the newborn: life -255 + 6.6
    EXPECT_NEAR(double(v[-4].colour >> 24), 171, 1);  // life -96.6 + 7 x 1.8 after 31 steps
}

// Every sprite is drawn as a quad around its visible texels, and the quads
// change the frame exactly as the triangles they stand for: the frame of a
// cloud of sprites of all ages is held against the same sprites drawn as the
// template triangles.
TEST_F(ParticleScene, QuadsShowWhatTheTrianglesShow) {
    Direct3DVertexBuffer8* triangles = nullptr;
    ASSERT_EQ(m_device->CreateVertexBuffer(ParticleTrailPC::kCapacity * 3 * sizeof(ParticleTrailPC::Vertex),
                                           D3DUSAGE_WRITEONLY, ParticleTrailPC::kFVF, D3DPOOL_MANAGED, &triangles),
              S_OK);
    for (int texture = 0; texture < ParticleTrailPC::kTextureCount; ++texture) {
        SCOPED_TRACE(texture);
        Init(ParticleSettings(100, 0, texture, 1));
        EXPECT_TRUE(m_trail.DrawsQuads());
        LookAlongZ();
        for (int i = 0; i < 60; ++i) {
            m_trail.Emit(static_cast<float>(i % 10) * 9.0f - 45.0f, static_cast<float>(i / 10) * 8.0f - 20.0f,
                         static_cast<float>(i % 7) * 5.0f, 0.5f * static_cast<float>(i % 3), 7.0f, 0.0f);
            m_trail.FrameMove();
        }
        auto draw = [&](bool asTriangles) {
            m_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
            m_device->BeginScene();
            if (asTriangles) {
                // The template triangle of every live sprite, as the sprite's
                // own arithmetic places it, drawn with the same states.
                BYTE* data = nullptr;
                ASSERT_EQ(triangles->Lock(0, 0, &data, 0), S_OK);
                auto* out = reinterpret_cast<ParticleTrailPC::Vertex*>(data);
                const D3DXMATRIX b = g_Camera.GetBillboardMatrix();
                DWORD count = 0;
                for (const ParticleTrailPC::Particle* p = m_trail.FirstActive(); p; p = p->pNext, ++count) {
                    float scale = (p->fLife + 255.0f) / 2.0f / 198.0f;
                    if (scale < 0.1f) scale = 0.1f;
                    const DWORD colour = static_cast<DWORD>(static_cast<int>(255.0f - std::fabs(p->fLife))) << 24 |
                                         p->dwColour;
                    for (int i = 0; i < 3; ++i, ++out) {
                        const ParticleTrailPC::Vertex& q = m_trail.TemplateVertex(i);
                        out->x = q.x * (scale * b.m[0][0]) + q.y * (scale * b.m[1][0]) + p->vPosition.x;
                        out->y = q.x * (scale * b.m[0][1]) + q.y * (scale * b.m[1][1]) + p->vPosition.y;
                        out->z = q.x * (scale * b.m[0][2]) + q.y * (scale * b.m[1][2]) + p->vPosition.z;
                        out->colour = colour;
                        out->u = q.u;
                        out->v = q.v;
                    }
                }
                triangles->Unlock();
                SetStates({FALSE, FALSE, FALSE, TRUE, D3DBLEND_SRCALPHA, D3DBLEND_ONE});
                D3DXMATRIX identity;
                D3DXMatrixIdentity(&identity);
                m_device->SetTransform(D3DTS_WORLD, &identity);
                m_device->SetTexture(0, m_trail.Texture(texture));
                m_device->SetStreamSource(0, triangles, sizeof(ParticleTrailPC::Vertex));
                m_device->SetVertexShader(ParticleTrailPC::kFVF);
                m_device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, count);
                SetStates({TRUE, TRUE, TRUE, FALSE, D3DBLEND_SRCALPHA, D3DBLEND_ONE});
            } else {
                ASSERT_EQ(m_trail.Render(m_device, g_Camera.GetBillboardMatrix()), S_OK);
            }
            m_device->EndScene();
        };
        draw(true);
        const auto expected = m_scene.Pixels();
        draw(false);
        const auto actual = m_scene.Pixels();
        ASSERT_EQ(actual.size(), expected.size());
        // Interpolation from other corners may round a texture coordinate
        // the other way now and then: a step of 1 in a few pixels, and where
        // additive sprites overlap the steps add up (llvmpipe's 8-wide and
        // 16-wide code round differently, so the exact pixels vary by CPU).
        int lit = 0, differing = 0, largest = 0;
        for (std::size_t i = 0; i < actual.size(); ++i) {
            lit += (expected[i] & 0xFFFFFFu) != 0;
            const int d = std::max({std::abs(Red(actual[i]) - Red(expected[i])),
                                    std::abs(Green(actual[i]) - Green(expected[i])),
                                    std::abs(Blue(actual[i]) - Blue(expected[i]))});
            largest = std::max(largest, d);
            differing += d > 0;
        }
        EXPECT_GT(lit, 2000);
        EXPECT_LE(largest, 3);
        EXPECT_LE(differing, lit / 100) << "of " << lit << " lit pixels";
        m_trail.DeleteDeviceObjects();
    }
    triangles->Release();
}

TEST_F(ParticleScene, SpritesShowAsAdditiveGlowsInTheFrame) {
    Init(ParticleSettings(100, 0, 0, 0));
    LookAlongZ();
    // Two particles floating in front of the camera (their fall undone by
    // an upward start), one at the left, one at the right.
    std::srand(1);
    const float rise = 9.8f * kDt * 40 / 2.0f;
    m_trail.Emit(-40, 0, 0, 0, rise, 0);
    m_trail.Emit(40, 0, 0, 0, rise, 0);
    for (int i = 0; i < 40; ++i) m_trail.FrameMove();

    g_dwClearColor = 0xFF000000;
    m_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, g_dwClearColor, 1.0f, 0);
    m_device->BeginScene();
    ASSERT_EQ(m_trail.Render(m_device, g_Camera.GetBillboardMatrix()), S_OK);
    m_device->EndScene();
    const auto pixels = m_scene.Pixels();
    ASSERT_EQ(pixels.size(), 640u * 480u);
    if (const char* dir = std::getenv("GLIMMERWING_FRAME_DUMP"))
        SaverScene::WritePpm(std::filesystem::path(dir) / "particles.ppm", pixels, 640, 480);

    // Each glow's centre lies below its particle: the sprite sits in the
    // incircle of the triangle, 0.382 half-widths under the triangle's centre.
    const D3DXMATRIX view = g_Camera.GetView(), projection = g_Camera.GetProjection();
    for (const ParticleTrailPC::Particle* p = m_trail.FirstActive(); p; p = p->pNext) {
        const float scale = (p->fLife + 255.0f) / 2.0f / 198.0f;
        D3DXVECTOR3 centre = p->vPosition;
        centre.y -= 0.382f * 30.0f * scale;
        D3DXVECTOR3 eye, clip;
        D3DXVec3TransformCoord(&eye, &centre, &view);
        D3DXVec3TransformCoord(&clip, &eye, &projection);
        const int x = static_cast<int>((clip.x + 1.0f) * 320.0f);
        const int y = static_cast<int>((1.0f - clip.y) * 240.0f);
        ASSERT_TRUE(x > 20 && x < 620 && y > 20 && y < 460) << x << "," << y;
        const std::uint32_t c = pixels[static_cast<std::size_t>(y * 640 + x)];
        const int alpha = static_cast<int>(255.0f - std::fabs(p->fLife));
        // White sprite x vertex alpha, added to black.
        EXPECT_NEAR(Red(c), alpha, 25) << x << "," << y;
        EXPECT_EQ(Red(c), Green(c));
        EXPECT_EQ(Red(c), Blue(c));
        // Dimmer toward the glow's edge, black outside the triangle.
        const std::uint32_t edge = pixels[static_cast<std::size_t>(y * 640 + x + 12)];
        EXPECT_LT(Red(edge), Red(c) - 20);
        EXPECT_GT(Red(edge), 0);
        EXPECT_EQ(Red(pixels[static_cast<std::size_t>((y - 60) * 640 + x)]), 0);
    }
    EXPECT_EQ(pixels[240 * 640 + 320] & 0xFFFFFFu, 0u);  // between the two
}
