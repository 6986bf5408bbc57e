// Fixed-function drawing read back from the back buffer: where a triangle
// lands, vertex colours, texture stages, blending, depth, culling, vertex fog
// and the depth range; the program cache; calls the device must refuse; and
// resources that survive a reset.
#include "tests/gfx/DeviceDrawFixture.h"

#include <algorithm>
#include <string>
#include <vector>

namespace device_draw {
namespace {

constexpr D3DCOLOR kBackground = 0xFF102030;

D3DMATRIX Identity() {
    D3DMATRIX m{};
    m.m[0][0] = m.m[1][1] = m.m[2][2] = m.m[3][3] = 1.0f;
    return m;
}

// A clockwise-on-screen triangle (Direct3D's front face with the default
// culling) centred on clip-space (cx, cy), `r` across.
std::vector<ColourVertex> Triangle(float cx, float cy, float r, float z, D3DCOLOR colour) {
    return {{cx - r, cy + r, z, colour, 0, 0}, {cx + r, cy + r, z, colour, 1, 0}, {cx, cy - r, z, colour, 0.5f, 1}};
}

// The same corners in the other order: counter-clockwise on screen.
std::vector<ColourVertex> Reversed(std::vector<ColourVertex> t) {
    std::swap(t[1], t[2]);
    return t;
}

// Two clockwise triangles covering the whole target, u running left to right
// and v top to bottom.
std::vector<ColourVertex> FullScreen(D3DCOLOR colour, float z = 0.5f) {
    const ColourVertex tl{-1, 1, z, colour, 0, 0}, tr{1, 1, z, colour, 1, 0};
    const ColourVertex bl{-1, -1, z, colour, 0, 1}, br{1, -1, z, colour, 1, 1};
    return {tl, tr, bl, bl, tr, br};
}

std::vector<ColourVertex> Join(std::initializer_list<std::vector<ColourVertex>> parts) {
    std::vector<ColourVertex> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// ---------------------------------------------------------------------------

using DeviceDrawFixed = DrawFixture;

TEST_F(DeviceDrawFixed, ClipSpaceMapsToTheScreenWithYUp) {
    PlainColourStates();
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    // Red near the top of clip space, green at its left edge.
    ASSERT_EQ(DrawTriangles(Join({Triangle(0.0f, 0.7f, 0.2f, 0.5f, 0xFFFF0000),
                                  Triangle(-0.7f, 0.0f, 0.2f, 0.5f, 0xFF00FF00)})),
              D3D_OK);
    const auto pixels = Pixels();
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.0f), PixelY(0.75f)), 0xFFFF0000, 0));
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.0f), PixelY(-0.75f)), kBackground, 0));  // not mirrored
    EXPECT_TRUE(NearColour(At(pixels, PixelX(-0.7f), PixelY(0.05f)), 0xFF00FF00, 0));
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.7f), PixelY(0.05f)), kBackground, 0));

    // The top edge at y = 0.9 lies on row 24 of 480.
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.0f), 22), kBackground, 0));
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.0f), 26), 0xFFFF0000, 0));
    // The left edge of the green one crosses row 204 near column 40 of 640.
    EXPECT_TRUE(NearColour(At(pixels, 36, PixelY(0.15f)), kBackground, 0));
    EXPECT_TRUE(NearColour(At(pixels, 46, PixelY(0.15f)), 0xFF00FF00, 0));
    EXPECT_EQ(m_pDevice->DrawCount(), 1u);
}

TEST_F(DeviceDrawFixed, WorldViewAndProjectionApplyAsRowVectors) {
    PlainColourStates();
    // world moves right, view moves up, projection halves: a triangle at the
    // origin lands at clip (0.25, 0.25) only if v x World x View x Proj.
    D3DMATRIX world = Identity(), view = Identity(), proj = Identity();
    world.m[3][0] = 0.5f;
    view.m[3][1] = 0.5f;
    proj.m[0][0] = proj.m[1][1] = 0.5f;
    ASSERT_EQ(m_pDevice->SetTransform(D3DTS_WORLD, &world), D3D_OK);
    ASSERT_EQ(m_pDevice->SetTransform(D3DTS_VIEW, &view), D3D_OK);
    ASSERT_EQ(m_pDevice->SetTransform(D3DTS_PROJECTION, &proj), D3D_OK);
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(Triangle(0.0f, 0.0f, 0.2f, 0.5f, 0xFFFFFFFF)), D3D_OK);
    const auto pixels = Pixels();
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.25f), PixelY(0.27f)), 0xFFFFFFFF, 0));
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.0f), PixelY(0.02f)), kBackground, 0));
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.5f), PixelY(0.52f)), kBackground, 0));
}

TEST_F(DeviceDrawFixed, VertexColoursAreInterpolatedIntoThePixels) {
    PlainColourStates();
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    // A triangle whose corners are red, green and blue.
    std::vector<ColourVertex> t = {{-0.8f, 0.8f, 0.5f, 0xFFFF0000, 0, 0},
                                   {0.8f, 0.8f, 0.5f, 0xFF00FF00, 0, 0},
                                   {-0.8f, -0.8f, 0.5f, 0xFF0000FF, 0, 0}};
    ASSERT_EQ(DrawTriangles(t), D3D_OK);
    const auto pixels = Pixels();
    EXPECT_TRUE(NearColour(At(pixels, PixelX(-0.78f), PixelY(0.78f)), 0xFFFF0000, 8));
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.75f), PixelY(0.78f)), 0xFF00FF00, 12));
    EXPECT_TRUE(NearColour(At(pixels, PixelX(-0.78f), PixelY(-0.75f)), 0xFF0000FF, 12));
    // Halfway along the top edge: half red, half green.
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.0f), PixelY(0.79f)), Rgb(128, 128, 0), 6));
    // The alpha of the colour reaches the target with blending off.
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(Triangle(0, 0, 0.5f, 0.5f, 0x40123456)), D3D_OK);
    EXPECT_EQ(At(Pixels(), PixelX(0), PixelY(0.1f)), 0x40123456u);
}

TEST_F(DeviceDrawFixed, ModulateTextureWithDiffuseAndVZeroIsTheTopRow) {
    // Stage 0 as the particles use it: texture x diffuse, the default.
    m_pDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
    m_pDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    m_pDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    m_pDevice->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    m_pDevice->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    m_pDevice->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    // 2 x 2 texels: red, green on the top row; blue, white below.
    const std::vector<std::uint32_t> texels = {0x80FF0000, 0x8000FF00, 0x800000FF, 0x80FFFFFF};
    const D3DCOLOR diffuse = Rgb(255, 128, 255);
    for (D3DFORMAT format : {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, D3DFMT_X8R8G8B8}) {
        SCOPED_TRACE(format);
        Direct3DTexture8* tex = Texture(2, 2, format, texels);
        ASSERT_NE(tex, nullptr);
        ASSERT_EQ(m_pDevice->SetTexture(0, tex), D3D_OK);
        ASSERT_EQ(ClearTo(kBackground), D3D_OK);
        ASSERT_EQ(DrawTriangles(FullScreen(diffuse)), D3D_OK);
        const auto pixels = Pixels();
        const std::uint32_t tl = At(pixels, 160, 120), tr = At(pixels, 480, 120);
        const std::uint32_t bl = At(pixels, 160, 360), br = At(pixels, 480, 360);
        EXPECT_TRUE(NearColour(tl, Rgb(255, 0, 0), 1));
        EXPECT_TRUE(NearColour(tr, Rgb(0, 128, 0), 1));
        EXPECT_TRUE(NearColour(bl, Rgb(0, 0, 255), 1));
        EXPECT_TRUE(NearColour(br, Rgb(255, 128, 255), 1));
        // Alpha comes from the texture; a format without alpha reads opaque.
        const int alpha = format == D3DFMT_X8R8G8B8 ? 0xFF : format == D3DFMT_A4R4G4B4 ? 0x88 : 0x80;
        EXPECT_EQ(Alpha(tl), alpha);
        EXPECT_EQ(Alpha(br), alpha);
    }
    ASSERT_EQ(m_pDevice->SetTexture(0, nullptr), D3D_OK);
}

TEST_F(DeviceDrawFixed, StageWithoutItsTextureHandsTheDiffuseColourOn) {
    m_pDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
    // The default stage 0 reads a texture that is not there.
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(FullScreen(0xC0336699)), D3D_OK);
    EXPECT_EQ(At(Pixels(), 320, 240), 0xC0336699u);

    // A later stage with a texture does not run after a stage that stopped.
    Direct3DTexture8* red = Texture(1, 1, D3DFMT_A8R8G8B8, {0xFFFF0000});
    m_pDevice->SetTexture(1, red);
    m_pDevice->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    m_pDevice->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    m_pDevice->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(FullScreen(0xFF336699)), D3D_OK);
    EXPECT_TRUE(NearColour(At(Pixels(), 320, 240), 0xFF336699, 0));

    // The toon passes: stage 0 with its ramp, stage 1 with no mesh texture
    // passes stage 0's result on.
    Direct3DTexture8* grey = Texture(1, 1, D3DFMT_X8R8G8B8, {0xFF808080});
    m_pDevice->SetTexture(0, grey);
    m_pDevice->SetTexture(1, nullptr);
    m_pDevice->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(FullScreen(Rgb(200, 100, 50))), D3D_OK);
    EXPECT_TRUE(NearColour(At(Pixels(), 320, 240), Rgb(100, 50, 25), 1));

    // ... and with the mesh texture present it multiplies in.
    m_pDevice->SetTexture(1, red);
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(FullScreen(Rgb(200, 100, 50))), D3D_OK);
    EXPECT_TRUE(NearColour(At(Pixels(), 320, 240), Rgb(100, 0, 0), 1));
    m_pDevice->SetTexture(0, nullptr);
    m_pDevice->SetTexture(1, nullptr);
}

TEST_F(DeviceDrawFixed, AdditiveAndTranslucentBlending) {
    PlainColourStates();
    const D3DCOLOR half = Rgb(200, 100, 50, 128);
    const float a = 128.0f / 255.0f;
    auto expect = [&](float src, float dst, float srcFactor, float dstFactor) {
        return static_cast<int>(std::lround(std::min(255.0f, src * srcFactor + dst * dstFactor)));
    };
    m_pDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    m_pDevice->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);

    // The particles' blend: source alpha, one.
    m_pDevice->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    m_pDevice->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    ASSERT_EQ(ClearTo(Rgb(40, 80, 120)), D3D_OK);
    ASSERT_EQ(DrawTriangles(Join({Triangle(-0.5f, 0, 0.3f, 0.5f, half), Triangle(0.5f, 0, 0.3f, 0.5f, 0xFFFFFFFF),
                                  Triangle(0.5f, 0, 0.3f, 0.5f, 0xFFFFFFFF)})),
              D3D_OK);
    auto pixels = Pixels();
    EXPECT_TRUE(NearColour(At(pixels, PixelX(-0.5f), PixelY(0.1f)),
                           Rgb(expect(200, 40, a, 1), expect(100, 80, a, 1), expect(50, 120, a, 1))));
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.5f), PixelY(0.1f)), 0xFFFFFFFF, 0));  // saturates
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.0f), PixelY(0.1f)), Rgb(40, 80, 120), 0));

    // Two overlapping additive particles add up in either order.
    ASSERT_EQ(ClearTo(0xFF000000), D3D_OK);
    const D3DCOLOR dim = Rgb(60, 30, 10, 255);
    ASSERT_EQ(DrawTriangles(Join({Triangle(0, 0, 0.3f, 0.9f, dim), Triangle(0, 0, 0.3f, 0.1f, dim)})), D3D_OK);
    EXPECT_TRUE(NearColour(At(Pixels(), PixelX(0), PixelY(0.1f)), Rgb(120, 60, 20), 1));

    // Ordinary translucency: source alpha, inverse source alpha.
    m_pDevice->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    ASSERT_EQ(ClearTo(Rgb(40, 80, 120)), D3D_OK);
    ASSERT_EQ(DrawTriangles(Triangle(0, 0, 0.3f, 0.5f, half)), D3D_OK);
    pixels = Pixels();
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0), PixelY(0.1f)),
                           Rgb(expect(200, 40, a, 1 - a), expect(100, 80, a, 1 - a), expect(50, 120, a, 1 - a))));

    // A texture without alpha is opaque under that blend.
    m_pDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    m_pDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    m_pDevice->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    m_pDevice->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    m_pDevice->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    m_pDevice->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    m_pDevice->SetTexture(0, Texture(1, 1, D3DFMT_X8R8G8B8, {0x00FFFFFF}));
    ASSERT_EQ(ClearTo(Rgb(40, 80, 120)), D3D_OK);
    ASSERT_EQ(DrawTriangles(Triangle(0, 0, 0.3f, 0.5f, Rgb(200, 100, 50))), D3D_OK);
    EXPECT_TRUE(NearColour(At(Pixels(), PixelX(0), PixelY(0.1f)), Rgb(200, 100, 50), 1));
    m_pDevice->SetTexture(0, nullptr);
}

TEST_F(DeviceDrawFixed, ParticleDrawAddsTheSpriteScaledByBothAlphas) {
    // The particle pass: format 0x142, lighting, fog and depth writes off,
    // additive blending, stage 0 texture x diffuse for colour and alpha,
    // stage 1 texture x current with no texture bound.
    m_pDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
    m_pDevice->SetRenderState(D3DRS_FOGENABLE, FALSE);
    m_pDevice->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    m_pDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    m_pDevice->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    m_pDevice->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    for (DWORD stage : {0u, 1u}) {
        m_pDevice->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_MODULATE);
        m_pDevice->SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        m_pDevice->SetTextureStageState(stage, D3DTSS_COLORARG2, stage == 0 ? D3DTA_DIFFUSE : D3DTA_CURRENT);
        m_pDevice->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        m_pDevice->SetTextureStageState(stage, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        m_pDevice->SetTextureStageState(stage, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        m_pDevice->SetTextureStageState(stage, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
        m_pDevice->SetTextureStageState(stage, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    }
    // A uniform 16-bit sprite: alpha 8, red F, green 8, blue 4.
    m_pDevice->SetTexture(0, Texture(2, 2, D3DFMT_A4R4G4B4, std::vector<std::uint32_t>(4, 0x88FF8844)));
    // The template triangle (apex up, the sprite's lower corners and top
    // middle), in clip space, with the vertex alpha of a particle mid-life.
    const D3DCOLOR colour = 0x80FFFFFF;
    const std::vector<ColourVertex> particle = {
        {-0.5f, -0.5f, 0.5f, colour, 0.0f, 1.0f}, {0.0f, 0.5f, 0.5f, colour, 0.5f, 0.0f},
        {0.5f, -0.5f, 0.5f, colour, 1.0f, 1.0f}};
    ASSERT_EQ(ClearTo(Rgb(20, 20, 20)), D3D_OK);
    ASSERT_EQ(DrawTriangles(particle), D3D_OK);
    const float a = (136.0f / 255.0f) * (128.0f / 255.0f);
    auto channel = [&](float texel) { return static_cast<int>(std::lround(20.0f + texel * a)); };
    const D3DCOLOR expected = Rgb(channel(255), channel(136), channel(68));
    const auto pixels = Pixels();
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.0f), PixelY(0.3f)), expected));
    EXPECT_TRUE(NearColour(At(pixels, PixelX(-0.3f), PixelY(-0.4f)), expected));
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.0f), PixelY(0.7f)), Rgb(20, 20, 20), 0));
    m_pDevice->SetTexture(0, nullptr);
}

TEST_F(DeviceDrawFixed, NearerSurfacesHideFartherOnesInEitherOrder) {
    PlainColourStates();
    const auto nearGreen = Triangle(0, 0, 0.4f, 0.2f, 0xFF00FF00);
    const auto farRed = Triangle(0, 0, 0.4f, 0.8f, 0xFFFF0000);
    const int x = PixelX(0), y = PixelY(0.1f);

    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(Join({farRed, nearGreen})), D3D_OK);
    EXPECT_TRUE(NearColour(At(Pixels(), x, y), 0xFF00FF00, 0));

    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(Join({nearGreen, farRed})), D3D_OK);
    EXPECT_TRUE(NearColour(At(Pixels(), x, y), 0xFF00FF00, 0));

    // Without depth writes the nearer one leaves no mark in the depth buffer.
    m_pDevice->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(Join({nearGreen, farRed})), D3D_OK);
    EXPECT_TRUE(NearColour(At(Pixels(), x, y), 0xFFFF0000, 0));

    // With the depth test off the later one always shows.
    m_pDevice->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    m_pDevice->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(Join({nearGreen, farRed})), D3D_OK);
    EXPECT_TRUE(NearColour(At(Pixels(), x, y), 0xFFFF0000, 0));
}

TEST_F(DeviceDrawFixed, CullingFollowsTheWindingSeenOnScreen) {
    PlainColourStates();
    const auto clockwise = Triangle(-0.5f, 0, 0.3f, 0.5f, 0xFF00FF00);
    const auto counterClockwise = Reversed(Triangle(0.5f, 0, 0.3f, 0.5f, 0xFFFF0000));
    const int y = PixelY(0.1f);
    struct Case {
        DWORD mode;
        bool clockwiseShown, counterShown;
    };
    for (const Case& c : {Case{D3DCULL_CCW, true, false}, Case{D3DCULL_CW, false, true},
                          Case{D3DCULL_NONE, true, true}}) {
        SCOPED_TRACE(c.mode);
        m_pDevice->SetRenderState(D3DRS_CULLMODE, c.mode);
        ASSERT_EQ(ClearTo(kBackground), D3D_OK);
        ASSERT_EQ(DrawTriangles(Join({clockwise, counterClockwise})), D3D_OK);
        const auto pixels = Pixels();
        EXPECT_EQ(At(pixels, PixelX(-0.5f), y) == 0xFF00FF00u, c.clockwiseShown);
        EXPECT_EQ(At(pixels, PixelX(0.5f), y) == 0xFFFF0000u, c.counterShown);
    }

    // Winding is judged after the transforms: a mirroring projection turns a
    // clockwise triangle counter-clockwise on screen.
    D3DMATRIX mirror = Identity();
    mirror.m[0][0] = -1.0f;
    m_pDevice->SetTransform(D3DTS_PROJECTION, &mirror);
    m_pDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(Join({clockwise, counterClockwise})), D3D_OK);
    const auto pixels = Pixels();
    EXPECT_TRUE(NearColour(At(pixels, PixelX(-0.5f), y), 0xFFFF0000, 0));  // the mirrored red one
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.5f), y), kBackground, 0));
}

TEST_F(DeviceDrawFixed, LinearVertexFogFollowsTheCameraDepth) {
    PlainColourStates();
    // Projection keeps x and y and brings depths 0..150 inside 0..1.
    D3DMATRIX proj = Identity();
    proj.m[2][2] = 1.0f / 200.0f;
    proj.m[3][2] = 0.1f;
    m_pDevice->SetTransform(D3DTS_PROJECTION, &proj);
    m_pDevice->SetRenderState(D3DRS_FOGENABLE, TRUE);
    m_pDevice->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    m_pDevice->SetRenderState(D3DRS_FOGSTART, FloatToDword(0.0f));
    m_pDevice->SetRenderState(D3DRS_FOGEND, FloatToDword(100.0f));
    m_pDevice->SetRenderState(D3DRS_FOGCOLOR, 0xFF0000FF);

    const float depths[] = {0.0f, 50.0f, 100.0f, 150.0f};
    const float factors[] = {1.0f, 0.5f, 0.0f, 0.0f};
    std::vector<ColourVertex> all;
    for (int i = 0; i < 4; ++i) {
        const auto t = Triangle(-0.75f + 0.5f * static_cast<float>(i), 0, 0.2f, depths[i], 0xFFFF0000);
        all.insert(all.end(), t.begin(), t.end());
    }
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(all), D3D_OK);
    auto pixels = Pixels();
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(depths[i]);
        const int red = static_cast<int>(std::lround(255.0f * factors[i]));
        EXPECT_TRUE(NearColour(At(pixels, PixelX(-0.75f + 0.5f * static_cast<float>(i)), PixelY(0.1f)),
                               Rgb(red, 0, 255 - red)));
    }

    // The depth is the camera's, after the view transform, not the world's.
    D3DMATRIX view = Identity();
    view.m[3][2] = 50.0f;
    m_pDevice->SetTransform(D3DTS_VIEW, &view);
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(Triangle(0, 0, 0.3f, 0.0f, 0xFFFF0000)), D3D_OK);
    EXPECT_TRUE(NearColour(At(Pixels(), PixelX(0), PixelY(0.1f)), Rgb(128, 0, 127)));

    // Fog off: the colour is untouched, whatever the fog mode.
    m_pDevice->SetRenderState(D3DRS_FOGENABLE, FALSE);
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    ASSERT_EQ(DrawTriangles(Triangle(0, 0, 0.3f, 100.0f, 0xFFFF0000)), D3D_OK);
    EXPECT_TRUE(NearColour(At(Pixels(), PixelX(0), PixelY(0.1f)), 0xFFFF0000, 0));
}

TEST_F(DeviceDrawFixed, ClipDepthRunsFromZeroToOne) {
    PlainColourStates();
    m_pDevice->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);  // only clipping may remove them
    struct Case {
        float z;
        bool drawn;
    };
    for (const Case& c : {Case{0.001f, true}, Case{0.999f, true}, Case{-0.001f, false}, Case{-0.5f, false},
                          Case{1.001f, false}}) {
        SCOPED_TRACE(c.z);
        ASSERT_EQ(ClearTo(kBackground), D3D_OK);
        ASSERT_EQ(DrawTriangles(Triangle(0, 0, 0.4f, c.z, 0xFFFFFFFF)), D3D_OK);
        EXPECT_EQ(At(Pixels(), PixelX(0), PixelY(0.1f)) == 0xFFFFFFFFu, c.drawn);
    }

    // The depth buffer holds the same 0..1 depth: cleared to 0.32, it keeps
    // a triangle at 0.30 and hides one at 0.35.
    m_pDevice->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    ASSERT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 0.32f, 0), D3D_OK);
    ASSERT_EQ(DrawTriangles(Join({Triangle(-0.5f, 0, 0.3f, 0.30f, 0xFF00FF00),
                                  Triangle(0.5f, 0, 0.3f, 0.35f, 0xFFFF0000)})),
              D3D_OK);
    const auto pixels = Pixels();
    EXPECT_TRUE(NearColour(At(pixels, PixelX(-0.5f), PixelY(0.1f)), 0xFF00FF00, 0));
    EXPECT_TRUE(NearColour(At(pixels, PixelX(0.5f), PixelY(0.1f)), kBackground, 0));
}

TEST_F(DeviceDrawFixed, ViewportPlacesClipSpaceFromItsTopLeftCorner) {
    PlainColourStates();
    ASSERT_EQ(ClearTo(kBackground), D3D_OK);
    const D3DVIEWPORT8 viewport{100, 50, 200, 100, 0.0f, 1.0f};
    ASSERT_EQ(m_pDevice->SetViewport(&viewport), D3D_OK);
    // A small triangle in the top-left corner of clip space, over a
    // full-target one drawn farther away.
    ASSERT_EQ(DrawTriangles(Join({FullScreen(0xFFFFFFFF, 0.9f), Triangle(-0.9f, 0.9f, 0.1f, 0.5f, 0xFFFF0000)})),
              D3D_OK);
    const auto pixels = Pixels();
    EXPECT_TRUE(NearColour(At(pixels, 110, 52), 0xFFFF0000, 0));  // near the viewport's top-left
    EXPECT_TRUE(NearColour(At(pixels, 110, 145), 0xFFFFFFFF, 0));
    EXPECT_TRUE(NearColour(At(pixels, 299, 149), 0xFFFFFFFF, 0));
    EXPECT_TRUE(NearColour(At(pixels, 99, 52), kBackground, 0));   // outside it
    EXPECT_TRUE(NearColour(At(pixels, 110, 49), kBackground, 0));
    EXPECT_TRUE(NearColour(At(pixels, 300, 100), kBackground, 0));
    EXPECT_TRUE(NearColour(At(pixels, 110, 430), kBackground, 0));  // not counted from the bottom
}

TEST_F(DeviceDrawFixed, IndexedDrawsHonourStartIndexAndBaseVertex) {
    PlainColourStates();
    // Vertices: a red triangle on the left, then a green one on the right.
    Direct3DVertexBuffer8* vb = Buffer(Join({Triangle(-0.5f, 0, 0.3f, 0.5f, 0xFFFF0000),
                                            Triangle(0.5f, 0, 0.3f, 0.5f, 0xFF00FF00)}),
                                       kParticleFvf);
    ASSERT_EQ(m_pDevice->SetStreamSource(0, vb, sizeof(ColourVertex)), D3D_OK);
    ASSERT_EQ(m_pDevice->SetVertexShader(kParticleFvf), D3D_OK);
    const int y = PixelY(0.1f), left = PixelX(-0.5f), right = PixelX(0.5f);

    for (D3DFORMAT format : {D3DFMT_INDEX16, D3DFMT_INDEX32}) {
        SCOPED_TRACE(format);
        const UINT size = format == D3DFMT_INDEX16 ? 2 : 4;
        Direct3DIndexBuffer8* ib = nullptr;
        ASSERT_EQ(m_pDevice->CreateIndexBuffer(6 * size, 0, format, D3DPOOL_MANAGED, &ib), D3D_OK);
        BYTE* data = nullptr;
        ASSERT_EQ(ib->Lock(0, 0, &data, 0), D3D_OK);
        for (std::uint32_t i = 0; i < 6; ++i) {
            const std::uint32_t index = i % 3;  // both triangles index 0, 1, 2
            std::memcpy(data + i * size, &index, size);
        }
        ASSERT_EQ(ib->Unlock(), D3D_OK);

        // Base vertex 3: indices 0..2 name the green triangle.
        ASSERT_EQ(m_pDevice->SetIndices(ib, 3), D3D_OK);
        ASSERT_EQ(ClearTo(kBackground), D3D_OK);
        ASSERT_EQ(m_pDevice->BeginScene(), D3D_OK);
        EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 3, 1), D3D_OK);
        ASSERT_EQ(m_pDevice->EndScene(), D3D_OK);
        auto pixels = Pixels();
        EXPECT_TRUE(NearColour(At(pixels, left, y), kBackground, 0));
        EXPECT_TRUE(NearColour(At(pixels, right, y), 0xFF00FF00, 0));

        // Base vertex 0, both triangles from the second three indices on.
        ASSERT_EQ(ib->Lock(3 * size, 3 * size, &data, 0), D3D_OK);
        for (std::uint32_t i = 0; i < 3; ++i) {
            const std::uint32_t index = 3 + i;
            std::memcpy(data + i * size, &index, size);
        }
        ASSERT_EQ(ib->Unlock(), D3D_OK);
        ASSERT_EQ(m_pDevice->SetIndices(ib, 0), D3D_OK);
        ASSERT_EQ(ClearTo(kBackground), D3D_OK);
        ASSERT_EQ(m_pDevice->BeginScene(), D3D_OK);
        EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 6, 0, 2), D3D_OK);
        ASSERT_EQ(m_pDevice->EndScene(), D3D_OK);
        pixels = Pixels();
        EXPECT_TRUE(NearColour(At(pixels, left, y), 0xFFFF0000, 0));
        EXPECT_TRUE(NearColour(At(pixels, right, y), 0xFF00FF00, 0));
        m_pDevice->SetIndices(nullptr, 0);
        ib->Release();
    }
}

TEST_F(DeviceDrawFixed, PartialLocksReachTheNextDraw) {
    PlainColourStates();
    Direct3DVertexBuffer8* vb = Buffer(Join({Triangle(-0.5f, 0, 0.3f, 0.5f, 0xFFFFFFFF),
                                            Triangle(0.5f, 0, 0.3f, 0.5f, 0xFFFFFFFF)}),
                                       kParticleFvf);
    auto draw = [&] {
        m_pDevice->SetStreamSource(0, vb, sizeof(ColourVertex));
        m_pDevice->SetVertexShader(kParticleFvf);
        EXPECT_EQ(ClearTo(kBackground), D3D_OK);
        EXPECT_EQ(m_pDevice->BeginScene(), D3D_OK);
        EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
        EXPECT_EQ(m_pDevice->EndScene(), D3D_OK);
        return Pixels();
    };
    auto recolour = [&](UINT first, D3DCOLOR colour) {
        BYTE* data = nullptr;
        ASSERT_EQ(vb->Lock(first * 24, 3 * 24, &data, 0), D3D_OK);
        for (int i = 0; i < 3; ++i) reinterpret_cast<ColourVertex*>(data)[i].colour = colour;
        ASSERT_EQ(vb->Unlock(), D3D_OK);
    };
    const int y = PixelY(0.1f), left = PixelX(-0.5f), right = PixelX(0.5f);
    auto pixels = draw();
    EXPECT_TRUE(NearColour(At(pixels, left, y), 0xFFFFFFFF, 0));

    // Two separate ranges changed between draws both arrive.
    recolour(0, 0xFFFF0000);
    recolour(3, 0xFF00FF00);
    pixels = draw();
    EXPECT_TRUE(NearColour(At(pixels, left, y), 0xFFFF0000, 0));
    EXPECT_TRUE(NearColour(At(pixels, right, y), 0xFF00FF00, 0));

    // Only the second one changes; the first keeps what it had.
    recolour(3, 0xFF0000FF);
    pixels = draw();
    EXPECT_TRUE(NearColour(At(pixels, left, y), 0xFFFF0000, 0));
    EXPECT_TRUE(NearColour(At(pixels, right, y), 0xFF0000FF, 0));

    // A read-only lock sees the data as written.
    BYTE* data = nullptr;
    ASSERT_EQ(vb->Lock(3 * 24, 24, &data, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(reinterpret_cast<const ColourVertex*>(data)->colour, 0xFF0000FFu);
    EXPECT_FLOAT_EQ(reinterpret_cast<const ColourVertex*>(data)->x, 0.2f);
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    m_pDevice->SetStreamSource(0, nullptr, 0);
}

// ---------------------------------------------------------------------------

using DeviceDrawCache = DrawFixture;

TEST_F(DeviceDrawCache, SameStatesReuseTheirProgramNewOnesAddOne) {
    PlainColourStates();
    const auto triangle = Triangle(0, 0, 0.4f, 0.5f, 0xFFFFFFFF);
    ASSERT_EQ(DrawTriangles(triangle), D3D_OK);
    const std::size_t programs = m_pDevice->ProgramCount();
    EXPECT_GE(programs, 1u);
    for (int frame = 0; frame < 10; ++frame) {
        ASSERT_EQ(ClearTo(kBackground), D3D_OK);
        // State set again to the same values, and a transform changed: no new program.
        PlainColourStates();
        D3DMATRIX world = Identity();
        world.m[3][0] = 0.01f * static_cast<float>(frame);
        m_pDevice->SetTransform(D3DTS_WORLD, &world);
        ASSERT_EQ(DrawTriangles(triangle), D3D_OK);
        ASSERT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    }
    EXPECT_EQ(m_pDevice->ProgramCount(), programs);

    // Fog on is a new combination; switching back finds the old program.
    m_pDevice->SetRenderState(D3DRS_FOGENABLE, TRUE);
    ASSERT_EQ(DrawTriangles(triangle), D3D_OK);
    EXPECT_EQ(m_pDevice->ProgramCount(), programs + 1);
    ASSERT_EQ(DrawTriangles(triangle), D3D_OK);
    m_pDevice->SetRenderState(D3DRS_FOGENABLE, FALSE);
    ASSERT_EQ(DrawTriangles(triangle), D3D_OK);
    EXPECT_EQ(m_pDevice->ProgramCount(), programs + 1);

    // A uniform value (the fog colour) is not a new combination.
    m_pDevice->SetRenderState(D3DRS_FOGCOLOR, 0xFF00FF00);
    ASSERT_EQ(DrawTriangles(triangle), D3D_OK);
    EXPECT_EQ(m_pDevice->ProgramCount(), programs + 1);
    EXPECT_EQ(m_pDevice->DrawCount(), 15u);
    EXPECT_TRUE(m_pDevice->LastProgramError().empty()) << m_pDevice->LastProgramError();
}

TEST_F(DeviceDrawCache, StatesWhoseKeysShareAHashKeepTheirOwnPrograms) {
    // Every key hashes alike: only comparing whole keys tells the states apart.
    m_pDevice->CollideProgramKeysForTesting();
    PlainColourStates();
    const auto triangle = Triangle(0, 0, 0.4f, 0.5f, 0xFFFF0000);
    auto drawn = [&] {
        EXPECT_EQ(ClearTo(kBackground), D3D_OK);
        EXPECT_EQ(DrawTriangles(triangle), D3D_OK);
        return At(Pixels(), PixelX(0.0f), PixelY(0.0f));
    };
    EXPECT_TRUE(NearColour(drawn(), 0xFFFF0000, 0));

    // Another fragment program: the texture factor instead of the vertex colour.
    m_pDevice->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF00FF00);
    m_pDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    EXPECT_TRUE(NearColour(drawn(), 0xFF00FF00, 0));

    // Another vertex program: lit, the material's emissive colour replaces the vertex colour.
    m_pDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    D3DMATERIAL8 material{};
    material.Emissive = D3DCOLORVALUE{0.0f, 0.0f, 1.0f, 1.0f};
    material.Diffuse.a = 1.0f;
    m_pDevice->SetMaterial(&material);
    m_pDevice->SetRenderState(D3DRS_LIGHTING, TRUE);
    EXPECT_TRUE(NearColour(drawn(), 0xFF0000FF, 0));

    // Back to the first state: its own program again, no fourth one.
    m_pDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
    EXPECT_TRUE(NearColour(drawn(), 0xFFFF0000, 0));
    EXPECT_EQ(m_pDevice->ProgramCount(), 3u);
}

// A device whose driver reports through its debug output, as
// GLIMMERWING_GL_DEBUG=1 asks.
class DeviceDrawDebug : public DrawFixture {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("GLIMMERWING_GL_DEBUG")) m_savedDebug = v;
        ::setenv("GLIMMERWING_GL_DEBUG", "1", 1);
        DrawFixture::SetUp();
    }
    void TearDown() override {
        DrawFixture::TearDown();
        if (m_savedDebug) ::setenv("GLIMMERWING_GL_DEBUG", m_savedDebug->c_str(), 1);
        else ::unsetenv("GLIMMERWING_GL_DEBUG");
    }
    std::optional<std::string> m_savedDebug;
};

TEST_F(DeviceDrawDebug, ARefusedProgramIsReportedOnceAndEveryDrawNeedingItFails) {
    PlainColourStates();
    const auto triangle = Triangle(0, 0, 0.4f, 0.5f, 0xFFFF0000);
    std::vector<std::string> logged;
    m_pDevice->SetProgramLog([&](const std::string& line) { logged.push_back(line); });
    struct FilterScope {
        FilterScope() {
            // Fragment programs come out broken.
            SetGlslFilterForTesting([](std::string& source) {
                if (source.find("oColor") != std::string::npos) source += "broken beyond repair\n";
            });
        }
        ~FilterScope() { SetGlslFilterForTesting({}); }
    };
    std::string reported;
    {
        FilterScope broken;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(DrawTriangles(triangle), D3DERR_DRIVERINTERNALERROR);
        EXPECT_EQ(DrawTriangles(triangle), D3DERR_DRIVERINTERNALERROR);  // not compiled a second time
        reported = ::testing::internal::GetCapturedStderr();
    }
    const std::string heading = "OpenGL refused a fragment shader";
    ASSERT_NE(reported.find(heading), std::string::npos) << reported;
    EXPECT_EQ(reported.find(heading, reported.find(heading) + 1), std::string::npos) << reported;
    EXPECT_NE(reported.find("broken beyond repair"), std::string::npos);  // with its source
    EXPECT_NE(reported.find("GL debug (shader compiler, error"), std::string::npos);  // and the driver's own word
    ASSERT_GE(logged.size(), 2u);
    EXPECT_EQ(logged[0], heading + ":");
    EXPECT_NE(reported.find(logged[1]), std::string::npos);  // the driver's words, in both places
    EXPECT_EQ(m_pDevice->DrawCount(), 0u);

    // Another state builds its program as ever.
    m_pDevice->SetRenderState(D3DRS_FOGENABLE, TRUE);
    EXPECT_EQ(DrawTriangles(triangle), D3D_OK);
}

// ---------------------------------------------------------------------------

using DeviceDrawInvalid = DrawFixture;

TEST_F(DeviceDrawInvalid, DrawsThatCannotBeDoneAreRefused) {
    PlainColourStates();
    const auto triangle = Triangle(0, 0, 0.4f, 0.5f, 0xFFFFFFFF);
    Direct3DVertexBuffer8* vb = Buffer(triangle, kParticleFvf);  // three vertices
    ASSERT_EQ(m_pDevice->SetVertexShader(kParticleFvf), D3D_OK);

    // Outside a scene.
    ASSERT_EQ(m_pDevice->SetStreamSource(0, vb, 24), D3D_OK);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);

    ASSERT_EQ(m_pDevice->BeginScene(), D3D_OK);
    // No stream, or a stream without a stride.
    ASSERT_EQ(m_pDevice->SetStreamSource(0, nullptr, 0), D3D_OK);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
    ASSERT_EQ(m_pDevice->SetStreamSource(0, vb, 0), D3D_OK);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
    ASSERT_EQ(m_pDevice->SetStreamSource(0, vb, 24), D3D_OK);

    // Primitives running past the three vertices.
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 1, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_LINELIST, 2, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0xFFFFFFFF, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 0x80000000u), D3DERR_INVALIDCALL);

    // Primitive types Direct3D does not have.
    EXPECT_EQ(m_pDevice->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(0), 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(7), 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(static_cast<D3DPRIMITIVETYPE>(99), 0, 3, 0, 1), D3DERR_INVALIDCALL);

    // Indexed drawing without indices, and past the end of the indices.
    EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 0, 1), D3DERR_INVALIDCALL);
    Direct3DIndexBuffer8* ib = nullptr;
    ASSERT_EQ(m_pDevice->CreateIndexBuffer(6, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib), D3D_OK);
    BYTE* data = nullptr;
    ASSERT_EQ(ib->Lock(0, 0, &data, 0), D3D_OK);
    const WORD indices[] = {0, 1, 2};
    std::memcpy(data, indices, sizeof indices);
    ASSERT_EQ(ib->Unlock(), D3D_OK);
    ASSERT_EQ(m_pDevice->SetIndices(ib, 0), D3D_OK);
    EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 1, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 4, 1), D3DERR_INVALIDCALL);

    // A pre-transformed format is not a shader the device takes.
    EXPECT_EQ(m_pDevice->SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE), D3DERR_INVALIDCALL);
    DWORD current = 0;
    ASSERT_EQ(m_pDevice->GetVertexShader(&current), D3D_OK);
    EXPECT_EQ(current, kParticleFvf);

    // Nothing reached OpenGL; the valid draws still work.
    EXPECT_EQ(m_pDevice->DrawCount(), 0u);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 0), D3D_OK);  // nothing to draw
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 0, 1), D3D_OK);
    EXPECT_EQ(m_pDevice->DrawCount(), 2u);
    ASSERT_EQ(m_pDevice->EndScene(), D3D_OK);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
    m_pDevice->SetIndices(nullptr, 0);
    ib->Release();
}

TEST_F(DeviceDrawInvalid, PrimitiveCountsThatWrapAroundAreRefused) {
    PlainColourStates();
    Direct3DVertexBuffer8* vb = Buffer(Triangle(0, 0, 0.4f, 0.5f, 0xFFFFFFFF), kParticleFvf);
    ASSERT_EQ(m_pDevice->SetVertexShader(kParticleFvf), D3D_OK);
    ASSERT_EQ(m_pDevice->SetStreamSource(0, vb, 24), D3D_OK);
    ASSERT_EQ(m_pDevice->BeginScene(), D3D_OK);
    // 0xFFFFFFFF + 2 and 3 x 0x55555556 are 1 and 2 in 32 bits.
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 0xFFFFFFFFu), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 0xFFFFFFFFu), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 0x55555556u), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_LINELIST, 0, 0x80000001u), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->DrawCount(), 0u);
    ASSERT_EQ(m_pDevice->EndScene(), D3D_OK);
}

TEST_F(DeviceDrawInvalid, DrawsThatWouldReadPastTheVerticesAreRefused) {
    PlainColourStates();
    const auto two = Join({Triangle(0, 0, 0.4f, 0.5f, 0xFFFFFFFF), Triangle(0, 0, 0.2f, 0.5f, 0xFFFFFFFF)});
    Direct3DVertexBuffer8* vb = Buffer(two, kParticleFvf);  // six vertices, 144 bytes
    ASSERT_EQ(m_pDevice->SetVertexShader(kParticleFvf), D3D_OK);
    ASSERT_EQ(m_pDevice->BeginScene(), D3D_OK);
    // Stride 4: 36 "vertices" by the stride, but the last one's 24 bytes
    // start at byte 140 of 144.
    ASSERT_EQ(m_pDevice->SetStreamSource(0, vb, 4), D3D_OK);
    EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 12), D3DERR_INVALIDCALL);

    ASSERT_EQ(m_pDevice->SetStreamSource(0, vb, 24), D3D_OK);
    Direct3DIndexBuffer8* ib = nullptr;
    ASSERT_EQ(m_pDevice->CreateIndexBuffer(6, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib), D3D_OK);
    BYTE* data = nullptr;
    ASSERT_EQ(ib->Lock(0, 0, &data, 0), D3D_OK);
    const WORD indices[] = {0, 1, 60000};
    std::memcpy(data, indices, sizeof indices);
    ASSERT_EQ(ib->Unlock(), D3D_OK);
    ASSERT_EQ(m_pDevice->SetIndices(ib, 0), D3D_OK);
    EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 0, 1), D3DERR_INVALIDCALL);
    // In range by the values, out of range by the base vertex.
    ASSERT_EQ(m_pDevice->SetIndices(ib, 100), D3D_OK);
    EXPECT_EQ(m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 0, 1), D3DERR_INVALIDCALL);
    ASSERT_EQ(m_pDevice->EndScene(), D3D_OK);
    m_pDevice->SetIndices(nullptr, 0);
    ib->Release();
}

TEST_F(DeviceDrawInvalid, OnlyStreamZeroTakesABuffer) {
    Direct3DVertexBuffer8* vb = Buffer(Triangle(0, 0, 0.4f, 0.5f, 0xFFFFFFFF), kParticleFvf);
    EXPECT_EQ(m_pDevice->SetStreamSource(1, vb, 24), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->SetStreamSource(15, vb, 24), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->SetStreamSource(1, nullptr, 0), D3D_OK);  // unbinding is harmless
    EXPECT_EQ(m_pDevice->SetStreamSource(16, nullptr, 0), D3DERR_INVALIDCALL);
    // The refused calls kept no reference: the buffer goes with its last one.
    vb->AddRef();
    EXPECT_EQ(vb->Release(), 1u);
}

TEST_F(DeviceDrawInvalid, LocksStayInsideTheirResource) {
    std::vector<ColourVertex> three = Triangle(0, 0, 0.4f, 0.5f, 0xFFFFFFFF);
    Direct3DVertexBuffer8* vb = Buffer(three, kParticleFvf);  // 72 bytes
    BYTE* data = reinterpret_cast<BYTE*>(0x1);
    EXPECT_EQ(vb->Lock(73, 0, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(vb->Lock(70, 8, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(0, 73, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(0xFFFFFFF0u, 0x20, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(8, 0xFFFFFFFCu, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(0, 0, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);  // nothing locked
    ASSERT_EQ(vb->Lock(48, 24, &data, 0), D3D_OK);  // the last vertex exactly
    EXPECT_EQ(vb->Unlock(), D3D_OK);

    Direct3DIndexBuffer8* ib = nullptr;
    ASSERT_EQ(m_pDevice->CreateIndexBuffer(6, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib), D3D_OK);
    EXPECT_EQ(ib->Lock(4, 4, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(ib->Lock(7, 0, &data, 0), D3DERR_INVALIDCALL);
    ib->Release();

    Direct3DTexture8* tex = nullptr;
    ASSERT_EQ(m_pDevice->CreateTexture(8, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex), D3D_OK);
    m_textures.push_back(tex);
    EXPECT_EQ(tex->GetLevelCount(), 4u);  // 8x4, 4x2, 2x1, 1x1
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(tex->LockRect(4, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    for (const RECT& bad : {RECT{0, 0, 9, 4}, RECT{0, 0, 8, 5}, RECT{-1, 0, 4, 4}, RECT{4, 0, 4, 4},
                            RECT{0, 3, 8, 2}}) {
        EXPECT_EQ(tex->LockRect(0, &locked, &bad, 0), D3DERR_INVALIDCALL)
            << bad.left << "," << bad.top << "," << bad.right << "," << bad.bottom;
    }
    const RECT corner{6, 2, 8, 4};
    ASSERT_EQ(tex->LockRect(0, &locked, &corner, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 32);
    EXPECT_EQ(tex->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);  // already locked
    EXPECT_EQ(tex->UnlockRect(0), D3D_OK);
    EXPECT_EQ(tex->UnlockRect(0), D3DERR_INVALIDCALL);
    EXPECT_EQ(tex->UnlockRect(9), D3DERR_INVALIDCALL);

    // Resources the device cannot make.
    Direct3DVertexBuffer8* none = nullptr;
    EXPECT_EQ(m_pDevice->CreateVertexBuffer(0, 0, kParticleFvf, D3DPOOL_MANAGED, &none), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->CreateVertexBuffer(72, 0, D3DFVF_XYZ | 0x900, D3DPOOL_MANAGED, &none), D3DERR_INVALIDCALL);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(m_pDevice->CreateIndexBuffer(6, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &ib), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->CreateTexture(0, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->CreateTexture(4, 4, 1, 0, D3DFMT_R8G8B8, D3DPOOL_MANAGED, &tex), D3DERR_INVALIDCALL);
    EXPECT_EQ(tex, nullptr);
}

TEST_F(DeviceDrawInvalid, ResetKeepsBuffersAndTexturesUsable) {
    Direct3DVertexBuffer8* vb = Buffer(FullScreen(0xFFFFFFFF), kParticleFvf);
    Direct3DTexture8* tex = Texture(1, 1, D3DFMT_X8R8G8B8, {0xFF00FF00});
    auto draw = [&] {
        m_pDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
        m_pDevice->SetTexture(0, tex);
        m_pDevice->SetStreamSource(0, vb, sizeof(ColourVertex));
        m_pDevice->SetVertexShader(kParticleFvf);
        EXPECT_EQ(ClearTo(kBackground), D3D_OK);
        EXPECT_EQ(m_pDevice->BeginScene(), D3D_OK);
        EXPECT_EQ(m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
        EXPECT_EQ(m_pDevice->EndScene(), D3D_OK);
        EXPECT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    };
    draw();
    EXPECT_TRUE(NearColour(At(Pixels(), 320, 240), 0xFF00FF00, 0));

    m_pDevice->SimulateDeviceLoss(true);
    EXPECT_EQ(m_pDevice->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    D3DPRESENT_PARAMETERS pp = Params();
    ASSERT_EQ(m_pDevice->Reset(&pp), D3D_OK);
    // The reset dropped the bindings.
    DWORD shader = 1;
    m_pDevice->GetVertexShader(&shader);
    EXPECT_EQ(shader, 0u);
    Direct3DTexture8* bound = reinterpret_cast<Direct3DTexture8*>(0x1);
    ASSERT_EQ(m_pDevice->GetTexture(0, &bound), D3D_OK);
    EXPECT_EQ(bound, nullptr);

    draw();
    EXPECT_TRUE(NearColour(At(Pixels(), 320, 240), 0xFF00FF00, 0));

    // Their contents can still be changed, and the change is drawn.
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(tex->LockRect(0, &locked, nullptr, 0), D3D_OK);
    *static_cast<std::uint32_t*>(locked.pBits) = 0xFFFF00FF;
    ASSERT_EQ(tex->UnlockRect(0), D3D_OK);
    BYTE* data = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &data, 0), D3D_OK);
    auto* vertices = reinterpret_cast<ColourVertex*>(data);
    for (int i = 0; i < 6; ++i) vertices[i].colour = 0xFF808080;
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    draw();
    EXPECT_TRUE(NearColour(At(Pixels(), 320, 240), Rgb(128, 0, 128), 1));
    m_pDevice->SetTexture(0, nullptr);
    m_pDevice->SetStreamSource(0, nullptr, 0);
}

}  // namespace
}  // namespace device_draw
