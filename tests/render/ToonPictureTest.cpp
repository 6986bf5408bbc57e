// Pictures of the toon-shaded queue: ramp bands on round and flat surfaces,
// the mesh texture stage, the vertex fog, and whole frames held against the
// reference images in tests/render/reference (tests/support/ReferenceImage.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>

#include "tests/render/ZSortScene.h"
#include "tests/support/ReferenceImage.h"

using namespace zsort_testing;

namespace {

void ExpectMatchesReference(const std::string& name, const std::vector<std::uint32_t>& pixels) {
    testing_support::ExpectMatchesReference("render", name, pixels, kWidth, kHeight);
}

// Where a world point lands in the 640 x 480 picture of g_Camera.
struct Pixel {
    int x, y;
};
Pixel ScreenOf(D3DXVECTOR3 p) {
    const D3DXMATRIX viewProj = g_Camera.GetView() * g_Camera.GetProjection();
    D3DXVECTOR3 clip;
    D3DXVec3TransformCoord(&clip, &p, &viewProj);
    return {static_cast<int>((clip.x + 1.0f) * 0.5f * kWidth), static_cast<int>((1.0f - clip.y) * 0.5f * kHeight)};
}

// A ramp grey times a vertex colour channel.
int Shade(int grey, int channel) { return grey * channel / 255; }

class ToonPicture : public ZSortRenderScene {};

TEST_F(ToonPicture, SphereShowsTheRampBandsBrightestTowardTheLight) {
    ASSERT_TRUE(MakeSphere(g_pd3dDevice, 3.0f, 48, 24, 0xFFFFFFFF, m_sphere));
    Look(D3DXVECTOR3(0, 0, -10));
    g_vLightDir = D3DXVECTOR4(1.0f, 0.0f, 0.0f, 0.0f);  // light from +X: bands run across the picture
    Queue(m_sphere, Identity(), D3DXVECTOR3(0, 0, 0));
    const auto pixels = DrawBlended();

    // Along the horizontal through the centre the greys step through the
    // ramp's bands, brightest toward the light; the side away from it ends in
    // the dark band and the black rim.
    std::set<int> greys;
    for (int x = 0; x < kWidth; ++x) {
        const std::uint32_t p = At(pixels, x, 240);
        EXPECT_EQ(Red(p), Green(p));
        EXPECT_EQ(Green(p), Blue(p));
        greys.insert(Red(p));
    }
    for (int band : {253, 229, 202, 131, 35}) EXPECT_TRUE(greys.count(band)) << "band " << band;
    EXPECT_GT(Red(At(pixels, 400, 240)), Red(At(pixels, 240, 240)));
    EXPECT_EQ(Red(At(pixels, 460, 240)), 253);
    EXPECT_EQ(Red(At(pixels, 200, 240)), 35);
    EXPECT_EQ(Rgb(At(pixels, 5, 5)), 0u);  // background outside the sphere
}

TEST_F(ToonPicture, SphereMatchesItsReference) {
    ASSERT_TRUE(MakeSphere(g_pd3dDevice, 3.0f, 48, 24, 0xFFFFFFFF, m_sphere));
    Look(D3DXVECTOR3(0, 0, -10));
    UseBackground(0xFF000032);  // the dark blue background shows the black rim
    // Light from the upper right, a little behind the view plane: every band
    // shows, and the point facing the light straight is out of sight (see
    // PointFacingTheLightIsInTheBrightestBand).
    g_vLightDir = D3DXVECTOR4(0.66f, 0.75f, 0.05f, 0.0f);
    Queue(m_sphere, Identity(), D3DXVECTOR3(0, 0, 0));
    const auto pixels = DrawBlended();
    ExpectMatchesReference("toon_sphere", pixels);

    // Upper right toward the light, lower left away from it.
    D3DXVECTOR3 toward(0.53f, 0.6f, -0.6f), away(-0.53f, -0.6f, -0.6f);
    D3DXVec3Normalize(&toward, &toward);
    D3DXVec3Normalize(&away, &away);
    const Pixel lit = ScreenOf(toward * 3.0f), dark = ScreenOf(away * 3.0f);
    EXPECT_EQ(Rgb(At(pixels, lit.x, lit.y)), 0xFDFDFDu);
    EXPECT_EQ(Rgb(At(pixels, dark.x, dark.y)), 0x000000u);
    EXPECT_EQ(Rgb(At(pixels, 5, 5)), 0x000032u);
}

TEST_F(ToonPicture, BoxMatchesItsReferenceWithEachFaceInOneBand) {
    const D3DXVECTOR3 half(2.0f, 1.5f, 1.0f);
    ASSERT_TRUE(MakeBox(g_pd3dDevice, half, 0xFFFFC080, m_box));
    Look(D3DXVECTOR3(5, 4, -9));
    // Top, front and right faces at n . l = 0.86, -0.09 and -0.5: the 253,
    // 131 and 35 bands.
    g_vLightDir = D3DXVECTOR4(-0.5f, 0.85f, 0.09f, 0.0f);
    Queue(m_box, Identity(), D3DXVECTOR3(0, 0, 0));
    const auto pixels = DrawBlended();
    ExpectMatchesReference("toon_box", pixels);

    struct Face {
        D3DXVECTOR3 centre;
        int grey;
    };
    for (const Face& f : {Face{{0, half.y, 0}, 253}, Face{{0, 0, -half.z}, 131}, Face{{half.x, 0, 0}, 35}}) {
        const Pixel c = ScreenOf(f.centre);
        // The whole neighbourhood of the face centre is one flat colour.
        for (int dy = -6; dy <= 6; dy += 3)
            for (int dx = -6; dx <= 6; dx += 3) {
                const std::uint32_t p = At(pixels, c.x + dx, c.y + dy);
                EXPECT_NEAR(Red(p), Shade(f.grey, 0xFF), 1) << f.grey;
                EXPECT_NEAR(Green(p), Shade(f.grey, 0xC0), 1) << f.grey;
                EXPECT_NEAR(Blue(p), Shade(f.grey, 0x80), 1) << f.grey;
            }
    }
}

// Stage 1 multiplies with the range's texture; a range without one shows the
// ramp times the vertex colour.
TEST_F(ToonPicture, RangeWithoutTextureShowsRampTimesColour) {
    constexpr int kSlices = 48, kStacks = 24;
    ASSERT_TRUE(MakeSphere(g_pd3dDevice, 3.0f, kSlices, kStacks, 0xFF80FF40, m_sphere));
    Direct3DTexture8* grey = nullptr;
    ASSERT_EQ(g_pd3dDevice->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &grey), S_OK);
    D3DLOCKED_RECT r{};
    grey->LockRect(0, &r, nullptr, 0);
    *static_cast<std::uint32_t*>(r.pBits) = 0xFF808080;
    grey->UnlockRect(0);

    Look(D3DXVECTOR3(0, 0, -10));
    g_vLightDir = D3DXVECTOR4(0, 0, -1, 0);  // from the camera
    // Upper half of the stacks textured grey, lower half without a texture.
    const DWORD halfFaces = kStacks / 2 * kSlices * 2, rowVertices = kSlices + 1;
    const D3DXATTRIBUTERANGE ranges[2] = {{0, 0, halfFaces, 0, (kStacks / 2 + 1) * rowVertices},
                                          {1, halfFaces, halfFaces, kStacks / 2 * rowVertices,
                                           (kStacks / 2 + 1) * rowVertices}};
    D3DMATERIAL8 materials[2] = {m_material, m_material};
    Direct3DTexture8* textures[2] = {grey, nullptr};
    g_ZSortRender.Add(m_sphere.vb, m_sphere.ib, ranges, Identity(), D3DXVECTOR3(0, 0, 0), materials, textures, 2);
    const std::uint64_t draws = g_pd3dDevice->DrawCount();
    const auto pixels = DrawBlended();
    EXPECT_EQ(g_pd3dDevice->DrawCount(), draws + 2);

    // 40 pixels above and below the centre both lie in the 253 band.
    const std::uint32_t lower = At(pixels, 320, 280), upper = At(pixels, 320, 200);
    EXPECT_NEAR(Red(lower), Shade(253, 0x80), 2);
    EXPECT_NEAR(Green(lower), 253, 2);
    EXPECT_NEAR(Blue(lower), Shade(253, 0x40), 2);
    EXPECT_NEAR(Red(upper), Shade(Shade(253, 0x80), 0x80), 2);
    EXPECT_NEAR(Green(upper), Shade(253, 0x80), 2);
    EXPECT_NEAR(Blue(upper), Shade(Shade(253, 0x40), 0x80), 2);
    grey->Release();
}

// The sphere at growing distances, drawn by the frame's first pass (white
// silhouettes), fades toward the background and is gone past the fog end.
// Its radius grows with the distance, so it covers about 25 pixels each time.
class ToonFog : public ZSortRenderScene, public ::testing::WithParamInterface<D3DCOLOR> {};

TEST_P(ToonFog, SphereFadesIntoTheBackgroundAndIsGonePastTheFogEnd) {
    const D3DCOLOR background = GetParam();
    ASSERT_TRUE(MakeSphere(g_pd3dDevice, 1.0f, 48, 24, 0xFFFFFFFF, m_sphere));
    Look(D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 0, 1));
    UseBackground(background);
    const int backBlue = static_cast<int>(background & 0xFF);

    int lastBlue = 256;
    for (float distance : {100.0f, 9000.0f, 17000.0f, 18000.0f}) {
        const float radius = distance * 0.025f;
        D3DXMATRIX scale;
        D3DXMatrixScaling(&scale, radius, radius, radius);
        Queue(m_sphere, scale * Translation(0, 0, distance), D3DXVECTOR3(0, 0, distance));
        const auto pixels = Draw();

        // At the centre the nearest point, fogged linearly from 0 to 17500.
        const float f = std::clamp(1.0f - (distance - radius) / 17500.0f, 0.0f, 1.0f);
        const std::uint32_t c = At(pixels, 320, 240);
        EXPECT_NEAR(Red(c), 255.0f * f, 3.0f) << distance;
        EXPECT_NEAR(Blue(c), 255.0f * f + backBlue * (1.0f - f), 3.0f) << distance;
        EXPECT_LT(Blue(c), lastBlue) << distance;
        lastBlue = Blue(c);
        if (distance > 17500.0f + radius) {
            EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(),
                                    [&](std::uint32_t p) { return Rgb(p) == (background & 0xFFFFFFu); }))
                << "something is left at " << distance;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Backgrounds, ToonFog, ::testing::Values(0xFF000000u, 0xFF000032u),
                         [](const auto& info) { return info.param == 0xFF000000u ? "Black" : "DarkBlue"; });

}  // namespace
