// Skinned, animated models: loading the hierarchy, the animation clock and
// its key tracks, the bone binding, the palette constants and the drawing of
// the supplied birds and whale.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/ErrLog.h"
#include "app/Frame.h"
#include "gfx/D3DXMath.h"
#include "model/SkinnedMesh.h"
#include "platform/Resources.h"
#include "tests/support/TestResources.h"
#include "tests/gfx/DeviceDrawFixture.h"
#include "tests/support/TestScene.h"

namespace {

using device_draw::DrawFixture;

std::string Num(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(v));
    return text;
}

std::string MatrixText(const D3DXMATRIX& m) {
    std::string s;
    for (int i = 0; i < 16; ++i) s += Num(m.m[i / 4][i % 4]) + (i < 15 ? "," : ";;");
    return s;
}

D3DXMATRIX Translation(float x, float y, float z) {
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, x, y, z);
    return m;
}

D3DXMATRIX Identity() { return Translation(0, 0, 0); }

// A frame with an optional transform; `inner` holds its children.
std::string Frame(const std::string& name, const D3DXMATRIX& m, const std::string& inner = {}) {
    return "Frame " + name + " {\n FrameTransformMatrix { " + MatrixText(m) + " }\n" + inner + "}\n";
}

// One skinned mesh of `bones` separate quads along x, quad i weighted wholly to
// bone "B<i>", the quads of odd bones with material 1 when `twoMaterials`.
std::string QuadStrip(int bones, bool twoMaterials = false) {
    std::string v, f, w, mats;
    const int n = bones;
    v += std::to_string(4 * n) + ";\n";
    f += std::to_string(2 * n) + ";\n";
    for (int i = 0; i < n; ++i) {
        const float x = static_cast<float>(i);
        v += Num(x) + ";0;0;," + Num(x + 1) + ";0;0;," + Num(x) + ";1;0;," + Num(x + 1) + ";1;0;" +
             (i + 1 < n ? ",\n" : ";\n");
        const int b = 4 * i;
        f += "3;" + std::to_string(b) + "," + std::to_string(b + 2) + "," + std::to_string(b + 1) + ";,3;" +
             std::to_string(b + 1) + "," + std::to_string(b + 2) + "," + std::to_string(b + 3) + ";" +
             (i + 1 < n ? ",\n" : ";\n");
        const D3DXMATRIX offset = Translation(-x, 0, 0);
        w += " SkinWeights {\n  \"B" + std::to_string(i) + "\";\n  4;\n  " + std::to_string(b) + "," +
             std::to_string(b + 1) + "," + std::to_string(b + 2) + "," + std::to_string(b + 3) +
             ";\n  1.0,1.0,1.0,1.0;\n  " + MatrixText(offset) + "\n }\n";
    }
    if (twoMaterials) {
        mats = " MeshMaterialList {\n  2;\n  " + std::to_string(2 * n) + ";\n  ";
        for (int i = 0; i < 2 * n; ++i) mats += std::to_string((i / 2) % 2) + (i + 1 < 2 * n ? "," : ";\n");
        mats += "  Material { 1.0;1.0;1.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }\n";
        mats += "  Material { 0.5;0.5;0.5;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }\n }\n";
    }
    return "Mesh Strip {\n" + v + f + mats + " XSkinMeshHeader { 1; 3; " + std::to_string(n) + "; }\n" + w + "}\n";
}

// Bone frames B0 .. B<n-1> at their quads' places, under "Root".
std::string StripModel(int bones, bool twoMaterials = false, const std::string& animation = {}) {
    std::string children;
    for (int i = 0; i < bones; ++i)
        children += Frame("B" + std::to_string(i), Translation(static_cast<float>(i), 0, 0));
    return "xof 0302txt 0064\n" + Frame("Root", Identity(), children + QuadStrip(bones, twoMaterials)) + animation;
}

// An AnimationKey block: `type` 0 rotation (w, x, y, z), 2 position, 4 matrix.
std::string Keys(int type, const std::vector<std::pair<DWORD, std::vector<float>>>& keys) {
    std::string s = "  AnimationKey {\n   " + std::to_string(type) + ";\n   " + std::to_string(keys.size()) + ";\n";
    for (std::size_t i = 0; i < keys.size(); ++i) {
        s += "   " + std::to_string(keys[i].first) + ";" + std::to_string(keys[i].second.size()) + ";";
        for (std::size_t j = 0; j < keys[i].second.size(); ++j)
            s += Num(keys[i].second[j]) + (j + 1 < keys[i].second.size() ? "," : ";;");
        s += i + 1 < keys.size() ? ",\n" : ";\n";
    }
    return s + "  }\n";
}

std::string Animation(const std::string& target, const std::string& keys) {
    return " Animation {\n  { " + target + " }\n" + keys + " }\n";
}

std::string AnimationSet(const std::string& animations) { return "AnimationSet Motion {\n" + animations + "}\n"; }

std::vector<float> MatrixValues(const D3DXMATRIX& m) { return std::vector<float>(&m.m[0][0], &m.m[0][0] + 16); }

bool Near(const D3DXMATRIX& a, const D3DXMATRIX& b, float tolerance = 1e-4f) {
    for (int i = 0; i < 16; ++i)
        if (std::fabs(a.m[i / 4][i % 4] - b.m[i / 4][i % 4]) > tolerance) return false;
    return true;
}

class SkinnedMeshTest : public DrawFixture {
protected:
    void TearDown() override {
        for (auto& mesh : m_meshes) {
            mesh->InvalidateDeviceObjects();
            mesh->DeleteDeviceObjects();
        }
        m_meshes.clear();
        SetResourceTableForTesting({});
        g_fElapsedTime = 0.0f;
        DrawFixture::TearDown();
    }

    // The compiled resources plus test models of type MODEL.
    void UseModels(std::vector<std::pair<std::string, std::string>> models) {
        m_resources.Use("MODEL", std::move(models));
    }

    D3DCAPS8 Caps() {
        D3DCAPS8 caps{};
        m_pDevice->GetDeviceCaps(&caps);
        return caps;
    }

    // Loads `text` as TEST.X into a new object (kept until the test ends).
    SkinnedMesh& Load(const std::string& text, D3DCAPS8* caps = nullptr) {
        UseModels({{"TEST.X", text}});
        g_ErrLog.ClearForTesting();
        m_meshes.push_back(std::make_unique<SkinnedMesh>());
        EXPECT_EQ(m_meshes.back()->InitDeviceObjects(m_pDevice, caps ? *caps : Caps(), "TEST.X"), S_OK);
        return *m_meshes.back();
    }

    // Advances the clock of `mesh` by `ticks` in one step.
    static void Advance(SkinnedMesh& mesh, float ticks, DWORD clip = 1, DWORD count = 1) {
        g_fElapsedTime = ticks / 4800.0f;
        mesh.FrameMove(clip, count, 0);
    }

    static SkinFrame* FrameNamed(const SkinnedMesh& mesh, const char* name) {
        return SkinnedMesh::FindFrameByName(mesh.CurrentModel(), name);
    }

    static std::vector<SkinMeshPart*> Parts(SkinFrame* frame) {
        std::vector<SkinMeshPart*> parts;
        for (; frame; frame = frame->pSibling) {
            for (SkinMeshPart* p = frame->pParts; p; p = p->pNext) parts.push_back(p);
            const auto below = Parts(frame->pFirstChild);
            parts.insert(parts.end(), below.begin(), below.end());
        }
        return parts;
    }

    testing_support::ExtraResources m_resources;
    std::vector<std::unique_ptr<SkinnedMesh>> m_meshes;
};

// A 98,400-tick animation on B0 (a position track).
std::string LongAnimation() {
    return AnimationSet(Animation("B0", Keys(2, {{0, {0, 0, 0}}, {98400, {0, 0, 0}}})));
}

}  // namespace

// ---------------------------------------------------------------------------
// The clock

TEST_F(SkinnedMeshTest, ClipArithmeticAndWrap) {
    SkinnedMesh& mesh = Load(StripModel(2, false, LongAnimation()));
    ASSERT_NE(mesh.CurrentModel(), nullptr);
    EXPECT_FLOAT_EQ(mesh.TotalTicks(), 98400.0f);

    // No clip, or no clips at all: nothing advances.
    Advance(mesh, 144.0f, 0, 1);
    Advance(mesh, 144.0f, 1, 0);
    EXPECT_EQ(mesh.CurrentModel()->fCurTime, 0.0f);

    // The whole animation at 0.03 s a frame: 683 frames reach 98,352 ticks,
    // the 684th passes the end (20.52 s) and restarts at exactly 0.
    g_fElapsedTime = 0.03f;
    int frames = 0;
    float before = 0.0f;
    do {
        before = mesh.CurrentModel()->fCurTime;
        mesh.FrameMove(1, 1, 0);
        ++frames;
    } while (mesh.CurrentModel()->fCurTime != 0.0f && frames < 2000);
    EXPECT_EQ(frames, 684);
    EXPECT_FLOAT_EQ(before, 98352.0f);
    EXPECT_EQ(mesh.CurrentModel()->fCurTime, 0.0f);
}

TEST_F(SkinnedMeshTest, SecondOfFourClipsStartsAtItsBeginning) {
    SkinnedMesh& mesh = Load(StripModel(2, false, LongAnimation()));
    g_fElapsedTime = 0.03f;
    mesh.FrameMove(2, 4, 0);
    EXPECT_FLOAT_EQ(mesh.ClipStart(), 24600.0f);
    EXPECT_FLOAT_EQ(mesh.ClipEnd(), 49200.0f);
    EXPECT_FLOAT_EQ(mesh.CurrentModel()->fCurTime, 24600.0f);
}

TEST_F(SkinnedMeshTest, TracksLoopOnTheirOwnAndHoldSingleKeys) {
    const std::string animation = AnimationSet(
        Animation("B0", Keys(2, {{0, {0, 0, 0}}, {4920, {10, 0, 0}}, {9840, {0, 0, 0}}})) +
        Animation("B1", Keys(2, {{0, {1, 2, 3}}})) +
        Animation("B2", Keys(2, {{0, {0, 0, 0}}, {98400, {0, 0, 0}}})));
    SkinnedMesh& mesh = Load(StripModel(3, false, animation));
    ASSERT_NE(mesh.CurrentModel(), nullptr);

    Advance(mesh, 2460.0f);
    const D3DXMATRIX first = FrameNamed(mesh, "B0")->matRot;
    EXPECT_NEAR(first.m[3][0], 5.0f, 1e-3f);
    Advance(mesh, 9840.0f);  // one period of B0's track later
    EXPECT_TRUE(Near(FrameNamed(mesh, "B0")->matRot, first));
    EXPECT_NEAR(mesh.CurrentModel()->fCurTime, 12300.0f, 1e-2f);

    // The single key at 0 holds at every time.
    const D3DXMATRIX held = FrameNamed(mesh, "B1")->matRot;
    EXPECT_TRUE(Near(held, Translation(1, 2, 3)));
}

TEST_F(SkinnedMeshTest, MatrixTrackShowsTheEarlierKeyUpToHalfway) {
    const D3DXMATRIX a = Translation(1, 0, 0), b = Translation(0, 5, 0);
    const std::string animation =
        AnimationSet(Animation("B0", Keys(4, {{0, MatrixValues(a)}, {4800, MatrixValues(b)}, {9600, MatrixValues(a)}})));
    SkinnedMesh& mesh = Load(StripModel(1, false, animation));
    Advance(mesh, 2400.0f);  // exactly halfway between the first two keys
    EXPECT_TRUE(Near(FrameNamed(mesh, "B0")->matRot, a));
    Advance(mesh, 48.0f);
    EXPECT_TRUE(Near(FrameNamed(mesh, "B0")->matRot, b));
}

TEST_F(SkinnedMeshTest, RotationTracksUseWrappedNeighboursAndKeepTheFileTranslation) {
    // B0 sits at x = 0 in the file, B1 at x = 1; B1 has only a rotation track.
    D3DXQUATERNION q0, q1;
    const D3DXVECTOR3 axis(0, 1, 0);
    D3DXQuaternionRotationAxis(&q0, &axis, 0.3f);
    D3DXQuaternionRotationAxis(&q1, &axis, 1.4f);
    const std::string animation = AnimationSet(
        Animation("B1", Keys(0, {{0, {q0.w, q0.x, q0.y, q0.z}}, {4800, {q1.w, q1.x, q1.y, q1.z}}})));
    SkinnedMesh& mesh = Load(StripModel(2, false, animation));
    Advance(mesh, 1200.0f);

    // Two keys: key 1 is the neighbour before key 0 and key 0 the one after key 1.
    D3DXQUATERNION a, b, c, q;
    D3DXQuaternionSquadSetup(&a, &b, &c, &q1, &q0, &q1, &q0);
    D3DXQuaternionSquad(&q, &q0, &a, &b, &c, 0.25f);
    q.w = -q.w;
    D3DXMATRIX expected;
    D3DXMatrixRotationQuaternion(&expected, &q);
    expected.m[3][0] = 1.0f;
    EXPECT_TRUE(Near(FrameNamed(mesh, "B1")->matRot, expected, 1e-4f));
}

// ---------------------------------------------------------------------------
// Loading

TEST_F(SkinnedMeshTest, HierarchyOrderTransformsAndBoneBinding) {
    SkinnedMesh& mesh = Load(StripModel(3));
    ASSERT_NE(mesh.CurrentModel(), nullptr);
    SkinFrame* root = mesh.CurrentModel()->pRoot;
    ASSERT_NE(root->pFirstChild, nullptr);
    SkinFrame* file = root->pFirstChild;
    EXPECT_STREQ(file->szName, "Root");
    // The first child read stays first; later ones follow in reverse order.
    SkinFrame* c = file->pFirstChild;
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c->szName, "B0");
    ASSERT_NE(c->pSibling, nullptr);
    EXPECT_STREQ(c->pSibling->szName, "B2");
    ASSERT_NE(c->pSibling->pSibling, nullptr);
    EXPECT_STREQ(c->pSibling->pSibling->szName, "B1");
    EXPECT_TRUE(Near(FrameNamed(mesh, "B2")->matRotOrig, Translation(2, 0, 0)));

    const auto parts = Parts(root);
    ASSERT_EQ(parts.size(), 1u);
    SkinMeshPart* part = parts[0];
    ASSERT_NE(part->pSkinInfo, nullptr);
    ASSERT_EQ(part->pSkinInfo->GetNumBones(), 3u);
    for (DWORD i = 0; i < 3; ++i) {
        const std::string name = "B" + std::to_string(i);
        EXPECT_EQ(part->ppBoneMatrices[i], &FrameNamed(mesh, name.c_str())->matCombined);
    }
    EXPECT_EQ(part->dwMethod, 0u);
    EXPECT_EQ(part->dwPaletteSize, 3u);
    EXPECT_EQ(part->dwMaxInfluences, 1u);
    ASSERT_NE(part->pMesh, nullptr);
    // One bone a vertex: program 1, but the vertex keeps the 52-byte layout
    // the programs' declaration reads.
    EXPECT_EQ(part->pMesh->GetFVF(), D3DFVF_XYZB2 | D3DFVF_LASTBETA_UBYTE4 | 0x250u);
    EXPECT_EQ(part->pMesh->GetNumBytesPerVertex(), 52u);
    EXPECT_EQ(part->bSoftware, 0);
}

TEST_F(SkinnedMeshTest, FortyBonesAreSplitIntoPalettesOfTwentyEight) {
    SkinnedMesh& mesh = Load(StripModel(40));
    ASSERT_NE(mesh.CurrentModel(), nullptr);
    const auto parts = Parts(mesh.CurrentModel()->pRoot);
    ASSERT_EQ(parts.size(), 1u);
    const SkinMeshPart* part = parts[0];
    EXPECT_EQ(part->dwPaletteSize, 28u);
    ASSERT_GE(part->cGroups, 2u);
    const auto* groups = static_cast<const D3DXBONECOMBINATION*>(part->pBoneCombinations->GetBufferPointer());
    DWORD faces = 0;
    for (DWORD g = 0; g < part->cGroups; ++g) faces += groups[g].FaceCount;
    EXPECT_EQ(faces, 80u);
}

TEST_F(SkinnedMeshTest, FaultyAnimationsEndTheirSetButNotTheLoad) {
    const std::string faulty = AnimationSet(
        Animation("B0", Keys(2, {{0, {0, 0, 0}}, {100, {1, 0, 0}}})) +
        // An unknown key type ends the set: the animation of B1 after it is not read.
        Animation("B0", Keys(3, {{0, {0, 0, 0}}})) +
        Animation("B1", Keys(2, {{0, {0, 0, 0}}, {200, {1, 0, 0}}})));
    SkinnedMesh& mesh = Load(StripModel(2, false, faulty));
    ASSERT_NE(mesh.CurrentModel(), nullptr);
    int animations = 0;
    for (SkinFrame* a = mesh.CurrentModel()->pAnimHead; a; a = a->pAnimNext) ++animations;
    EXPECT_EQ(animations, 2);  // the faulty one was created before its key block failed
    EXPECT_FLOAT_EQ(mesh.TotalTicks(), 100.0f);

    // A second block of the same type ends its animation after the first.
    const std::string twice = AnimationSet(Animation("B0", Keys(2, {{0, {0, 0, 0}}}) + Keys(2, {{5, {0, 0, 0}}})));
    SkinnedMesh& again = Load(StripModel(1, false, twice));
    ASSERT_NE(again.CurrentModel(), nullptr);
    ASSERT_NE(again.CurrentModel()->pAnimHead, nullptr);
    EXPECT_EQ(again.CurrentModel()->pAnimHead->cPositionKeys, 1u);
    EXPECT_EQ(std::string(g_ErrLog.Text()).find("Failed"), std::string::npos) << g_ErrLog.Text();
}

TEST_F(SkinnedMeshTest, FailedLoadsKeepTheEarlierModelAndAreLogged) {
    SkinnedMesh& mesh = Load(StripModel(2));
    SkinModel* first = mesh.CurrentModel();
    ASSERT_NE(first, nullptr);

    // A bone that no frame carries refuses the model.
    UseModels({{"TEST.X", StripModel(2)}, {"BAD.X", "xof 0302txt 0064\n" + QuadStrip(2)}});
    g_ErrLog.ClearForTesting();
    EXPECT_EQ(mesh.InitDeviceObjects(m_pDevice, Caps(), "BAD.X"), S_OK);
    EXPECT_EQ(mesh.CurrentModel(), first);
    EXPECT_NE(std::string(g_ErrLog.Text()).find("SkinnedMesh Loading Failed...-2147024809\n"), std::string::npos)
        << g_ErrLog.Text();

    // A missing resource and a name too short.
    g_ErrLog.ClearForTesting();
    EXPECT_EQ(mesh.InitDeviceObjects(m_pDevice, Caps(), "MISSING.X"), S_OK);
    EXPECT_NE(std::string(g_ErrLog.Text()).find("\t\tCreateEnumObject...\n\t\tFailed\nSkinnedMesh Loading Failed...-"),
              std::string::npos)
        << g_ErrLog.Text();
    g_ErrLog.ClearForTesting();
    EXPECT_EQ(mesh.InitDeviceObjects(m_pDevice, Caps(), "X"), S_OK);
    EXPECT_STREQ(g_ErrLog.Text(), "SkinnedMesh Loading Failed...-2147467259\n\t\tD3DXCreateTextureFromResource...\n");
    EXPECT_EQ(mesh.CurrentModel(), first);

    // A good second load replaces the first model.
    EXPECT_EQ(mesh.InitDeviceObjects(m_pDevice, Caps(), "TEST.X"), S_OK);
    EXPECT_NE(mesh.CurrentModel(), nullptr);
    EXPECT_EQ(mesh.Models(), mesh.CurrentModel());
    EXPECT_EQ(mesh.Models()->pNext, nullptr);
}

// ---------------------------------------------------------------------------
// Drawing: constants and state

namespace {

SkinRenderParams RenderParams(const D3DXMATRIX& world) {
    SkinRenderParams p{};
    p.world = world;
    const D3DXVECTOR3 eye(2, 1, -8), at(2, 0.5f, 0), up(0, 1, 0);
    D3DXMatrixLookAtLH(&p.view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovLH(&p.projection, 0.785398f, 4.0f / 3.0f, 1.0f, 17500.0f);
    p.light = D3DXVECTOR4(0, 0, 1, 0);
    p.fogEnd = 17500.0f;
    return p;
}

std::array<float, 4> Constant(Direct3DDevice8* device, DWORD reg) {
    std::array<float, 4> c{};
    device->GetVertexShaderConstant(reg, c.data(), 1);
    return c;
}

}  // namespace

TEST_F(SkinnedMeshTest, RenderLoadsProgramConstantsAndLeavesEmptyPaletteSlots) {
    // Two materials, each drawn with its own two bones: a palette of four
    // whose last two slots stay empty in both groups.
    SkinnedMesh& mesh = Load(StripModel(4, true));
    ASSERT_NE(mesh.CurrentModel(), nullptr);
    ASSERT_EQ(mesh.RestoreDeviceObjects(), S_OK);
    const std::vector<float> sentinel(4 * 84, 7.0f);
    m_pDevice->SetVertexShaderConstant(9, sentinel.data(), 84);

    const SkinRenderParams params = RenderParams(Translation(0.5f, 0, 0));
    ASSERT_EQ(ClearTo(0), D3D_OK);
    ASSERT_EQ(m_pDevice->BeginScene(), D3D_OK);
    const auto draws = m_pDevice->DrawCount();
    EXPECT_EQ(mesh.Render(params), S_OK);
    EXPECT_EQ(m_pDevice->EndScene(), D3D_OK);

    const auto parts = Parts(mesh.CurrentModel()->pRoot);
    ASSERT_EQ(parts.size(), 1u);
    const SkinMeshPart* part = parts[0];
    EXPECT_EQ(part->dwPaletteSize, 4u);
    ASSERT_EQ(part->cGroups, 2u);
    EXPECT_EQ(m_pDevice->DrawCount() - draws, 2u);

    EXPECT_EQ(Constant(m_pDevice, 0), (std::array<float, 4>{1.0f, 0.5f, 0.0f, 765.01f}));
    EXPECT_EQ(Constant(m_pDevice, 7), (std::array<float, 4>{-1.0f / 17500.0f, 1.0f, 0.0f, 0.0f}));
    const auto light = Constant(m_pDevice, 1);
    EXPECT_NEAR(light[2], 1.0f, 1e-6f);
    D3DXMATRIX projection;
    D3DXMatrixTranspose(&projection, &params.projection);
    for (DWORD r = 0; r < 4; ++r)
        EXPECT_EQ(Constant(m_pDevice, 2 + r), (std::array<float, 4>{projection.m[r][0], projection.m[r][1],
                                                                     projection.m[r][2], projection.m[r][3]}));
    for (DWORD reg = 15; reg < 21; ++reg) EXPECT_EQ(Constant(m_pDevice, reg)[0], 7.0f) << "c" << reg;

    // Slot 0 of the last group: its bone's offset x combined x view, transposed.
    const auto* groups = static_cast<const D3DXBONECOMBINATION*>(part->pBoneCombinations->GetBufferPointer());
    const DWORD bone = groups[1].BoneId[0];
    ASSERT_LT(bone, 4u);
    D3DXMATRIX expected;
    D3DXMatrixMultiply(&expected, &part->pBoneOffsetMatrices[bone], part->ppBoneMatrices[bone]);
    D3DXMatrixMultiply(&expected, &expected, &params.view);
    D3DXMatrixTranspose(&expected, &expected);
    for (DWORD r = 0; r < 3; ++r)
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(Constant(m_pDevice, 9 + r)[i], expected.m[r][i], 1e-5f);
}

TEST_F(SkinnedMeshTest, ProgramsComeAndGoWithRestoreAndInvalidate) {
    SkinnedMesh& mesh = Load(StripModel(2));
    ASSERT_NE(mesh.CurrentModel(), nullptr);
    const SkinRenderParams params = RenderParams(Identity());

    // Before the programs exist the first skinned part fails to draw.
    ASSERT_EQ(m_pDevice->BeginScene(), D3D_OK);
    EXPECT_EQ(mesh.Render(params), D3DERR_INVALIDCALL);
    ASSERT_EQ(mesh.RestoreDeviceObjects(), S_OK);
    for (DWORD i = 1; i <= 4; ++i) EXPECT_NE(mesh.Shader(i), SkinnedMesh::kNoShader);
    EXPECT_EQ(mesh.Render(params), S_OK);

    // Invalidation drops the blended meshes and the programs; after a restore
    // the next Render rebuilds each skinned part once.
    SkinMeshPart* part = Parts(mesh.CurrentModel()->pRoot)[0];
    EXPECT_EQ(mesh.InvalidateDeviceObjects(), S_OK);
    EXPECT_EQ(part->pMesh, nullptr);
    EXPECT_EQ(part->dwMethod, 1u);
    for (DWORD i = 1; i <= 4; ++i) EXPECT_EQ(mesh.Shader(i), SkinnedMesh::kNoShader);
    ASSERT_EQ(mesh.RestoreDeviceObjects(), S_OK);
    EXPECT_EQ(mesh.Render(params), S_OK);
    D3DXMesh* rebuilt = part->pMesh;
    EXPECT_NE(rebuilt, nullptr);
    EXPECT_EQ(part->dwMethod, 0u);
    EXPECT_EQ(mesh.Render(params), S_OK);
    EXPECT_EQ(part->pMesh, rebuilt);
    EXPECT_EQ(m_pDevice->EndScene(), D3D_OK);

    // An object without a model draws nothing and succeeds.
    SkinnedMesh empty;
    EXPECT_EQ(empty.Render(params), S_OK);
}

TEST_F(SkinnedMeshTest, WithoutVertexProgramsPartsAreConvertedForSoftwareProcessing) {
    D3DCAPS8 caps = Caps();
    caps.VertexShaderVersion = 0;
    SkinnedMesh& mesh = Load(StripModel(2), &caps);
    ASSERT_NE(mesh.CurrentModel(), nullptr);
    SkinMeshPart* part = Parts(mesh.CurrentModel()->pRoot)[0];
    EXPECT_EQ(part->bSoftware, 1);
    EXPECT_EQ(part->pMesh->GetOptions() & D3DXMESH_SYSTEMMEM, D3DXMESH_SYSTEMMEM);
    ASSERT_EQ(mesh.RestoreDeviceObjects(), S_OK);
    ASSERT_EQ(m_pDevice->BeginScene(), D3D_OK);
    EXPECT_EQ(mesh.Render(RenderParams(Identity())), S_OK);
    EXPECT_EQ(m_pDevice->EndScene(), D3D_OK);
    DWORD software = 1;
    m_pDevice->GetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, &software);
    EXPECT_EQ(software, 0u);  // switched back off after the part
}
