// The display mesh's choice of material level and its box-against-frustum test.
#include <gtest/gtest.h>

#include <cmath>

#include "model/DisplayMesh.h"
#include "tests/support/TestScene.h"

namespace {

struct Box {
    D3DXVECTOR3 corners[8];
    D3DXPLANE planes[6];
};

Box MakeBox(D3DXVECTOR3 lo, D3DXVECTOR3 hi, const D3DXMATRIX* world = nullptr) {
    Box b;
    for (int i = 0; i < 8; ++i) {
        D3DXVECTOR3 c((i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z);
        if (world) D3DXVec3TransformCoord(&c, &c, world);
        b.corners[i] = c;
    }
    BoxPlanes(b.corners, b.planes);
    return b;
}

// A camera at the origin looking along +z with the saver's projection.
ViewFrustum Frustum() { return testing_support::OriginFrustum(); }

bool Visible(const Box& b) { return BoxMayBeVisible(Frustum(), b.corners, b.planes); }

}  // namespace

TEST(DisplayMeshLevel, FallsInStepsWithDistance) {
    const std::pair<float, int> cases[] = {{0.0f, 9},    {2499.0f, 9}, {2500.0f, 9}, {3000.0f, 7}, {3100.0f, 7},
                                           {3500.0f, 6}, {4000.0f, 3}, {4999.0f, 0}, {5000.0f, 0}, {10000.0f, 0}};
    for (const auto& [distance, level] : cases) EXPECT_EQ(DisplayMesh::LevelForDistance(distance), level) << distance;
}

TEST(DisplayMeshVisibility, BoxInFrontIsVisible) {
    EXPECT_TRUE(Visible(MakeBox(D3DXVECTOR3(-1, -1, 10), D3DXVECTOR3(1, 1, 12))));
}

TEST(DisplayMeshVisibility, BoxBehindTheNearPlaneIsNot) {
    EXPECT_FALSE(Visible(MakeBox(D3DXVECTOR3(-1, -1, -12), D3DXVECTOR3(1, 1, -10))));
    EXPECT_FALSE(Visible(MakeBox(D3DXVECTOR3(-1, -1, 0.1f), D3DXVECTOR3(1, 1, 0.5f))));
}

TEST(DisplayMeshVisibility, BoxBeyondTheFarPlaneOrBesideIsNot) {
    EXPECT_FALSE(Visible(MakeBox(D3DXVECTOR3(-1, -1, 18000), D3DXVECTOR3(1, 1, 18010))));
    EXPECT_FALSE(Visible(MakeBox(D3DXVECTOR3(5000, -1, 100), D3DXVECTOR3(5010, 1, 110))));
}

TEST(DisplayMeshVisibility, EyeInsideALargeBoxSeesIt) {
    // No corner lies in the frustum and none of the edges meet, but the
    // frustum sits inside the box.
    EXPECT_TRUE(Visible(MakeBox(D3DXVECTOR3(-20000, -20000, -20000), D3DXVECTOR3(20000, 20000, 20000))));
}

TEST(DisplayMeshVisibility, ThinDiagonalBoxThroughTheViewIsVisible) {
    // A long thin box turned 45 degrees about y, crossing the view 100 units
    // ahead: all eight corners are outside, on different sides.
    D3DXMATRIX turn, move, world;
    D3DXMatrixRotationY(&turn, D3DX_PI / 4.0f);
    D3DXMatrixTranslation(&move, 0, 0, 100);
    D3DXMatrixMultiply(&world, &turn, &move);
    const Box b = MakeBox(D3DXVECTOR3(-1000, -0.5f, -0.5f), D3DXVECTOR3(1000, 0.5f, 0.5f), &world);
    const ViewFrustum f = Frustum();
    for (const D3DXVECTOR3& c : b.corners) {
        bool inside = true;
        for (const D3DXPLANE& p : f.planeFrustum) inside = inside && D3DXPlaneDotCoord(&p, &c) >= 0.0f;
        EXPECT_FALSE(inside);
    }
    EXPECT_TRUE(Visible(b));

    // The same box moved far to the side is not.
    D3DXMatrixTranslation(&move, 30000, 0, 100);
    D3DXMatrixMultiply(&world, &turn, &move);
    EXPECT_FALSE(Visible(MakeBox(D3DXVECTOR3(-1000, -0.5f, -0.5f), D3DXVECTOR3(1000, 0.5f, 0.5f), &world)));
}
