// Placing a model: the world matrix operations and the calls that need a model.
#include <gtest/gtest.h>

#include "model/MeshModel.h"
#include "render/ZSortRender.h"
#include "tests/support/TestScene.h"

namespace {

D3DXVECTOR3 Position(ModelObject& object) {
    D3DXVECTOR3 p;
    object.GetPosition(&p);
    return p;
}

void ExpectRow(const D3DXMATRIX& m, int row, float x, float y, float z, float w) {
    EXPECT_NEAR(m.m[row][0], x, 1e-5f) << "row " << row;
    EXPECT_NEAR(m.m[row][1], y, 1e-5f) << "row " << row;
    EXPECT_NEAR(m.m[row][2], z, 1e-5f) << "row " << row;
    EXPECT_NEAR(m.m[row][3], w, 1e-5f) << "row " << row;
}

}  // namespace

TEST(ModelObject, TranslateAlongWorldOrOwnAxes) {
    ModelObject world, own;
    world.SetPosition(1, 2, 3);
    own.SetPosition(1, 2, 3);
    EXPECT_EQ(world.RotateZ(D3DX_PI / 2, FALSE), S_OK);
    EXPECT_EQ(own.RotateZ(D3DX_PI / 2, FALSE), S_OK);
    // Turning about its own axis leaves the object where it was.
    D3DXVECTOR3 p = Position(world);
    EXPECT_NEAR(p.x, 1.0f, 1e-5f);
    EXPECT_NEAR(p.y, 2.0f, 1e-5f);

    EXPECT_EQ(world.Translate(0, 10, 0, TRUE), S_OK);
    p = Position(world);
    EXPECT_NEAR(p.x, 1.0f, 1e-4f);
    EXPECT_NEAR(p.y, 12.0f, 1e-4f);
    EXPECT_NEAR(p.z, 3.0f, 1e-4f);

    EXPECT_EQ(own.Translate(0, 10, 0, FALSE), S_OK);
    p = Position(own);
    EXPECT_NEAR(p.x, -9.0f, 1e-4f);
    EXPECT_NEAR(p.y, 2.0f, 1e-4f);
    EXPECT_NEAR(p.z, 3.0f, 1e-4f);
}

TEST(ModelObject, RotateAboutWorldOriginMovesTheObject) {
    ModelObject object;
    object.SetPosition(10, 0, 0);
    object.RotateZ(D3DX_PI / 2, TRUE);
    const D3DXVECTOR3 p = Position(object);
    EXPECT_NEAR(p.x, 0.0f, 1e-4f);
    EXPECT_NEAR(p.y, 10.0f, 1e-4f);
}

TEST(ModelObject, ScaleKeepsThePlace) {
    ModelObject object;
    object.SetPosition(4, 5, 6);
    object.RotateZ(D3DX_PI / 2, FALSE);
    EXPECT_EQ(object.Scale(3.0f), S_OK);
    const D3DXMATRIX& m = object.World();
    ExpectRow(m, 0, 0, 3, 0, 0);
    ExpectRow(m, 1, -3, 0, 0, 0);
    ExpectRow(m, 2, 0, 0, 3, 0);
    ExpectRow(m, 3, 4, 5, 6, 1);
}

TEST(ModelObject, FaceTurnsTowardsTheTargetWithoutMoving) {
    ModelObject object;
    object.SetPosition(1, 2, 3);
    object.Scale(5.0f);  // Face replaces the axes, scale included
    EXPECT_EQ(object.Face(D3DXVECTOR3(11, 2, 3)), S_OK);
    const D3DXMATRIX& m = object.World();
    ExpectRow(m, 0, 0, 0, -1, 0);
    ExpectRow(m, 1, 0, 1, 0, 0);
    ExpectRow(m, 2, 1, 0, 0, 0);
    ExpectRow(m, 3, 1, 2, 3, 1);

    // The fourth column of the first three rows is kept as it was.
    float odd[16] = {1, 0, 0, 7, 0, 1, 0, 8, 0, 0, 1, 9, 0, 0, 0, 2};
    object.SetMatrix(odd);
    object.Face(D3DXVECTOR3(0, 0, 10));
    ExpectRow(object.World(), 0, 1, 0, 0, 7);
    ExpectRow(object.World(), 1, 0, 1, 0, 8);
    ExpectRow(object.World(), 2, 0, 0, 1, 9);
    ExpectRow(object.World(), 3, 0, 0, 0, 1);
}

TEST(ModelObject, SetMatrixTakesRowsInOrder) {
    ModelObject object;
    float m[16];
    for (int i = 0; i < 16; ++i) m[i] = static_cast<float>(i + 1);
    object.SetMatrix(m);
    ExpectRow(object.World(), 0, 1, 2, 3, 4);
    ExpectRow(object.World(), 3, 13, 14, 15, 16);
    const D3DXVECTOR3 p = Position(object);
    EXPECT_EQ(p.x, 13.0f);
    EXPECT_EQ(p.y, 14.0f);
    EXPECT_EQ(p.z, 15.0f);
    object.GetPosition(nullptr);  // no out vector: only the cache
}

TEST(ModelObject, SetPositionWritesOnlyTheTranslation) {
    ModelObject object;
    object.RotateZ(D3DX_PI / 2, FALSE);
    object.SetPosition(7, 8, 9);
    ExpectRow(object.World(), 0, 0, 1, 0, 0);
    ExpectRow(object.World(), 3, 7, 8, 9, 1);
}

TEST(ModelObject, RenderAndIsVisibleNeedAModel) {
    ModelObject object;
    const ViewFrustum frustum = testing_support::OriginFrustum();
    D3DXMATRIX eye;
    D3DXMatrixIdentity(&eye);
    ZSortRender renderer;
    EXPECT_EQ(object.Render(nullptr, eye, frustum, renderer), E_FAIL);
    EXPECT_EQ(object.IsVisible(frustum), E_FAIL);
    EXPECT_EQ(renderer.Count(), 0u);
}
