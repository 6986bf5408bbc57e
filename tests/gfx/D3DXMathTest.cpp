// Vector, matrix, quaternion and plane arithmetic in the row-vector,
// left-handed conventions the scene code is written in.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "gfx/D3DXMath.h"

namespace {

constexpr float kTol = 1e-5f;

void ExpectMatrixNear(const D3DXMATRIX& a, const D3DXMATRIX& b, float tol = kTol) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(a(i, j), b(i, j), tol) << "element " << i << "," << j;
}

void ExpectVectorNear(const D3DXVECTOR3& a, const D3DXVECTOR3& b, float tol = kTol) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

// q and -q are the same rotation.
void ExpectSameRotation(const D3DXQUATERNION& a, const D3DXQUATERNION& b, float tol = 1e-4f) {
    EXPECT_NEAR(std::fabs(D3DXQuaternionDot(&a, &b)), 1.0f, tol);
}

D3DXVECTOR3 Coord(const D3DXVECTOR3& v, const D3DXMATRIX& m) {
    D3DXVECTOR3 r;
    return *D3DXVec3TransformCoord(&r, &v, &m);
}

D3DXMATRIX Identity() {
    D3DXMATRIX m;
    return *D3DXMatrixIdentity(&m);
}

D3DXMATRIX QuaternionMatrix(const D3DXQUATERNION& q) {
    D3DXMATRIX m;
    return *D3DXMatrixRotationQuaternion(&m, &q);
}

D3DXQUATERNION YawPitchRoll(float yaw, float pitch, float roll) {
    D3DXQUATERNION q;
    return *D3DXQuaternionRotationYawPitchRoll(&q, yaw, pitch, roll);
}

// Scale, then rotation, then translation.
D3DXMATRIX SomeAffine() {
    D3DXMATRIX s, r, t;
    D3DXMatrixScaling(&s, 2.0f, 0.5f, 3.0f);
    D3DXMatrixRotationYawPitchRoll(&r, 0.7f, -0.4f, 1.9f);
    D3DXMatrixTranslation(&t, 10.0f, -20.0f, 30.0f);
    return s * r * t;
}

}  // namespace

TEST(D3DXMatrix, ProductsRotationsAndTransformsFollowTheRowVectorConvention) {
    D3DXMATRIX t, r;
    D3DXMatrixTranslation(&t, 1.0f, 0.0f, 0.0f);
    D3DXMatrixRotationY(&r, D3DX_PI / 2.0f);
    ExpectVectorNear(Coord({0, 0, 0}, t * r), {0, 0, -1});  // moved to +X, then turned to -Z
    ExpectVectorNear(Coord({0, 0, 0}, r * t), {1, 0, 0});

    // Left-handed turns: looking down an axis toward the origin, clockwise.
    const float quarter = D3DX_PI / 2.0f;
    ExpectVectorNear(Coord({0, 0, 1}, r), {1, 0, 0});
    ExpectVectorNear(Coord({0, 1, 0}, *D3DXMatrixRotationX(&r, quarter)), {0, 0, 1});
    ExpectVectorNear(Coord({1, 0, 0}, *D3DXMatrixRotationZ(&r, quarter)), {0, 1, 0});
    D3DXMATRIX x, y, z, ypr;
    D3DXMatrixRotationYawPitchRoll(&ypr, -1.2f, 0.3f, 2.5f);
    ExpectMatrixNear(ypr, *D3DXMatrixRotationZ(&z, 2.5f) * *D3DXMatrixRotationX(&x, 0.3f) *
                              *D3DXMatrixRotationY(&y, -1.2f));

    // Points take the translation, directions do not; coordinates divide by w.
    const D3DXVECTOR3 v(1, 2, 3);
    D3DXVECTOR3 n;
    ExpectVectorNear(*D3DXVec3TransformNormal(&n, &v, &t), v);
    D3DXMATRIX proj;
    D3DXMatrixPerspectiveFovLH(&proj, D3DX_PI / 2.0f, 1.0f, 2.0f, 100.0f);
    ExpectVectorNear(Coord({100, 100, 100}, proj), {1, 1, 1});  // far plane at depth 1
    ExpectVectorNear(Coord({-2, 0, 2}, proj), {-1, 0, 0});      // near plane at depth 0
    D3DXVECTOR4 h;
    D3DXVec3Transform(&h, &v, &proj);
    EXPECT_EQ(h.w, 3.0f);  // w = z
    EXPECT_NEAR(h.z / h.w, (300.0f - 200.0f) / 98.0f / 3.0f, kTol);
}

TEST(D3DXMatrix, InverseUndoesTheMatrixAndRefusesSingularOnes) {
    D3DXMATRIX proj;
    D3DXMatrixPerspectiveFovLH(&proj, 0.9f, 4.0f / 3.0f, 1.0f, 17500.0f);
    // Products with the far-plane projection carry float rounding of its large terms.
    for (const auto& [m, tol] : {std::pair{SomeAffine(), 1e-4f}, std::pair{SomeAffine() * proj, 1e-3f}}) {
        D3DXMATRIX inv = m;
        float det = 0.0f;
        ASSERT_EQ(D3DXMatrixInverse(&inv, &det, &inv), &inv);  // in place
        EXPECT_NEAR(det, D3DXMatrixDeterminant(&m), std::fabs(det) * 1e-5f);
        ExpectMatrixNear(inv * m, Identity(), tol);
        ExpectMatrixNear(m * inv, Identity(), tol);
    }
    const D3DXMATRIX a = SomeAffine();
    EXPECT_NEAR(D3DXMatrixDeterminant(&a), 3.0f, 1e-4f);  // the scale product

    D3DXMATRIX flat, nan = Identity(), out = a;
    D3DXMatrixScaling(&flat, 1.0f, 0.0f, 1.0f);
    nan(2, 2) = std::nanf("");
    float det = 7.0f;
    EXPECT_EQ(D3DXMatrixInverse(&out, &det, &flat), nullptr);
    EXPECT_EQ(det, 0.0f);
    EXPECT_EQ(D3DXMatrixInverse(&out, nullptr, &nan), nullptr);
    EXPECT_EQ(out, a);  // untouched

    D3DXVECTOR3 scale, translation;
    D3DXQUATERNION rotation;
    ASSERT_EQ(D3DXMatrixDecompose(&scale, &rotation, &translation, &a), D3D_OK);
    ExpectVectorNear(scale, {2.0f, 0.5f, 3.0f});
    ExpectVectorNear(translation, {10, -20, 30});
    ExpectSameRotation(rotation, YawPitchRoll(0.7f, -0.4f, 1.9f));
    EXPECT_EQ(D3DXMatrixDecompose(&scale, &rotation, &translation, &flat), D3DERR_INVALIDCALL);
}

TEST(D3DXMatrix, LookAtPutsTheTargetAheadAndUpAbove) {
    const D3DXVECTOR3 eye(10, 5, -20), at(0, 5, 0), up(0, 1, 0);
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    ExpectVectorNear(Coord(eye, view), {0, 0, 0}, 1e-4f);
    ExpectVectorNear(Coord(at, view), {0, 0, std::sqrt(500.0f)}, 1e-4f);
    EXPECT_NEAR(Coord(eye + up, view).y, 1.0f, kTol);
    const D3DXVECTOR3 origin, forward(0, 0, 1);
    ExpectMatrixNear(*D3DXMatrixLookAtLH(&view, &origin, &forward, &up), Identity());
}

TEST(D3DXVector, CrossIsLeftHandedAndZeroNormalisesToZero) {
    const D3DXVECTOR3 x(1, 0, 0), y(0, 1, 0), v(3, 4, 12), zero;
    D3DXVECTOR3 r;
    EXPECT_EQ(*D3DXVec3Cross(&r, &x, &y), D3DXVECTOR3(0, 0, 1));
    EXPECT_FLOAT_EQ(D3DXVec3Length(&v), 13.0f);
    ExpectVectorNear(*D3DXVec3Normalize(&r, &v), v / 13.0f);
    EXPECT_EQ(*D3DXVec3Normalize(&r, &zero), zero);
    const D3DXVECTOR4 zero4;
    D3DXVECTOR4 r4;
    EXPECT_EQ(*D3DXVec4Normalize(&r4, &zero4), zero4);
    ExpectVectorNear(*D3DXVec3Lerp(&r, &x, &v, 0.25f), {1.5f, 1.0f, 3.0f});
}

TEST(D3DXQuaternion, AgreesWithTheMatrixRotations) {
    const float angles[][3] = {{0.5f, 0.0f, 0.0f}, {0.0f, -0.8f, 0.0f}, {0.0f, 0.0f, 2.0f},
                               {1.1f, -0.3f, 0.7f}, {-2.9f, 1.4f, -1.0f}, {3.0f, 3.0f, 3.0f}};
    for (const auto& a : angles) {
        SCOPED_TRACE(testing::Message() << a[0] << " " << a[1] << " " << a[2]);
        D3DXMATRIX expected;
        D3DXMatrixRotationYawPitchRoll(&expected, a[0], a[1], a[2]);
        const D3DXQUATERNION q = YawPitchRoll(a[0], a[1], a[2]);
        ExpectMatrixNear(QuaternionMatrix(q), expected);
        D3DXQUATERNION back;
        ExpectSameRotation(*D3DXQuaternionRotationMatrix(&back, &expected), q);
    }
    // Half turns take each branch of the matrix-to-quaternion conversion.
    for (const D3DXVECTOR3& axis : {D3DXVECTOR3(1, 0.5f, 0.3f), D3DXVECTOR3(-0.5f, 1, 0.3f), D3DXVECTOR3(0.3f, 0.5f, -1)}) {
        D3DXQUATERNION q, back;
        D3DXQuaternionRotationAxis(&q, &axis, D3DX_PI);
        const D3DXMATRIX m = QuaternionMatrix(q);
        ExpectSameRotation(*D3DXQuaternionRotationMatrix(&back, &m), q);
    }

    // The product applies its first rotation first.
    const D3DXQUATERNION a = YawPitchRoll(0.4f, 0.0f, 1.0f), b = YawPitchRoll(-1.3f, 0.6f, 0.0f);
    D3DXQUATERNION ab, inv;
    ExpectMatrixNear(QuaternionMatrix(*D3DXQuaternionMultiply(&ab, &a, &b)), QuaternionMatrix(a) * QuaternionMatrix(b));
    ExpectSameRotation(a * *D3DXQuaternionInverse(&inv, &a), D3DXQUATERNION(0, 0, 0, 1), 1e-6f);
    const D3DXQUATERNION zero;
    EXPECT_EQ(*D3DXQuaternionInverse(&inv, &zero), zero);
    EXPECT_EQ(*D3DXQuaternionNormalize(&inv, &zero), zero);
}

TEST(D3DXQuaternion, SlerpTakesTheShorterArc) {
    const D3DXVECTOR3 axis(0, 1, 0);
    D3DXQUATERNION a, b, quarter, r;
    D3DXQuaternionRotationAxis(&a, &axis, 0.2f);
    D3DXQuaternionRotationAxis(&b, &axis, 1.8f);
    D3DXQuaternionRotationAxis(&quarter, &axis, 0.6f);
    EXPECT_EQ(*D3DXQuaternionSlerp(&r, &a, &b, 0.0f), a);
    ExpectSameRotation(*D3DXQuaternionSlerp(&r, &a, &b, 1.0f), b, 1e-6f);
    ExpectSameRotation(*D3DXQuaternionSlerp(&r, &a, &b, 0.25f), quarter, 1e-6f);
    const D3DXQUATERNION negated = -b;  // the same rotation
    ExpectSameRotation(*D3DXQuaternionSlerp(&r, &a, &negated, 0.25f), quarter, 1e-6f);
    D3DXQuaternionRotationAxis(&b, &axis, 0.2f + 1e-6f);  // no division by a vanishing sine
    EXPECT_TRUE(std::isfinite(D3DXQuaternionSlerp(&r, &a, &b, 0.5f)->w));
}

TEST(D3DXQuaternion, SquadPassesItsKeysAndJoinsSmoothly) {
    const D3DXQUATERNION keys[5] = {YawPitchRoll(0.0f, 0.0f, 0.0f), YawPitchRoll(0.8f, 0.3f, 0.0f),
                                    YawPitchRoll(1.0f, -0.6f, 0.9f), -YawPitchRoll(2.2f, -0.2f, 0.4f),
                                    YawPitchRoll(2.4f, 0.5f, -0.3f)};
    D3DXQUATERNION a1, b1, c1, a2, b2, c2, r;
    D3DXQuaternionSquadSetup(&a1, &b1, &c1, &keys[0], &keys[1], &keys[2], &keys[3]);
    D3DXQuaternionSquadSetup(&a2, &b2, &c2, &keys[1], &keys[2], &keys[3], &keys[4]);
    ExpectSameRotation(*D3DXQuaternionSquad(&r, &keys[1], &a1, &b1, &c1, 0.0f), keys[1], 1e-6f);
    ExpectSameRotation(*D3DXQuaternionSquad(&r, &keys[1], &a1, &b1, &c1, 1.0f), keys[2], 1e-6f);
    ExpectSameRotation(*D3DXQuaternionSquad(&r, &keys[2], &a2, &b2, &c2, 1.0f), keys[3], 1e-6f);

    // Across the joint the second difference of a smooth curve is O(h^2); a
    // kink in the angular velocity would leave O(h).
    const float h = 1e-2f;
    D3DXQUATERNION before, at, after;
    D3DXQuaternionSquad(&before, &keys[1], &a1, &b1, &c1, 1.0f - h);
    D3DXQuaternionSquad(&at, &c1, &a2, &b2, &c2, 0.0f);
    D3DXQuaternionSquad(&after, &c1, &a2, &b2, &c2, h);
    if (D3DXQuaternionDot(&before, &at) < 0.0f) before = -before;
    if (D3DXQuaternionDot(&after, &at) < 0.0f) after = -after;
    const D3DXQUATERNION second = (after - at) - (at - before);
    EXPECT_LT(D3DXQuaternionLength(&second), 10.0f * h * h);

    // Equal steps about one axis: squad is plain slerp.
    const D3DXVECTOR3 axis(1, 0, 0);
    D3DXQUATERNION even[4], s;
    for (int i = 0; i < 4; ++i) D3DXQuaternionRotationAxis(&even[i], &axis, 0.5f * static_cast<float>(i));
    D3DXQuaternionSquadSetup(&a1, &b1, &c1, &even[0], &even[1], &even[2], &even[3]);
    ExpectSameRotation(*D3DXQuaternionSquad(&r, &even[1], &a1, &b1, &c1, 0.3f),
                       *D3DXQuaternionSlerp(&s, &even[1], &even[2], 0.3f), 1e-6f);
}

TEST(D3DXPlane, FromPointsFacesTheSideThatSeesThemClockwise) {
    // Clockwise for a viewer on the -Z side: the normal points at the viewer.
    const D3DXVECTOR3 p1(0, 0, 5), p2(0, 1, 5), p3(1, 0, 5), viewer(0, 0, 0), behind(3, 3, 8), onLine(0, 2, 5);
    D3DXPLANE plane;
    D3DXPlaneFromPoints(&plane, &p1, &p2, &p3);
    EXPECT_NEAR(plane.c, -1.0f, kTol);
    EXPECT_NEAR(D3DXPlaneDotCoord(&plane, &viewer), 5.0f, kTol);
    EXPECT_NEAR(D3DXPlaneDotCoord(&plane, &behind), -3.0f, kTol);
    EXPECT_EQ(*D3DXPlaneFromPoints(&plane, &p1, &p2, &onLine), D3DXPLANE());  // collinear: no NaN

    const D3DXPLANE raw(0, 3, 4, 10), none;
    EXPECT_EQ(*D3DXPlaneNormalize(&plane, &raw), D3DXPLANE(0, 0.6f, 0.8f, 2.0f));
    EXPECT_EQ(*D3DXPlaneNormalize(&plane, &none), none);
}

TEST(D3DXPlane, IntersectsLinesThatAreNotParallel) {
    const D3DXPLANE ground(0, 1, 0, -2);  // y = 2
    const D3DXVECTOR3 a(1, 0, 1), b(3, 1, 1), level(7, 0, -4);
    D3DXVECTOR3 hit;
    ASSERT_EQ(D3DXPlaneIntersectLine(&hit, &ground, &a, &b), &hit);
    ExpectVectorNear(hit, {5, 2, 1});  // beyond b: the whole line counts
    hit = D3DXVECTOR3(9, 9, 9);
    EXPECT_EQ(D3DXPlaneIntersectLine(&hit, &ground, &a, &level), nullptr);
    EXPECT_EQ(D3DXPlaneIntersectLine(&hit, &ground, &a, &a), nullptr);
    EXPECT_EQ(hit, D3DXVECTOR3(9, 9, 9));
}
