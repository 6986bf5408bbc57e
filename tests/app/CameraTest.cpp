// The camera's derived matrices and frustum, the automatic ride and the
// user's flight, the light's turn, and the transforms they hand the device.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "app/Camera.h"
#include "app/Frame.h"
#include "app/Startup.h"
#include "gfx/Device.h"
#include "platform/Clock.h"
#include "platform/Window.h"
#include "tests/support/TestDevice.h"

namespace {

constexpr float kStartSwing = 1.5707964f;
const D3DXVECTOR3 kUp(0, 1, 0);

void ExpectMatrixNear(const D3DMATRIX& a, const D3DMATRIX& b, float tol) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(a.m[i][j], b.m[i][j], tol) << "element " << i << "," << j;
}

void ExpectVectorNear(const D3DXVECTOR3& a, const D3DXVECTOR3& b, float tol) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

D3DXMATRIX Identity() {
    D3DXMATRIX m;
    return *D3DXMatrixIdentity(&m);
}

D3DXVECTOR3 Row(const D3DXMATRIX& m, int row) { return D3DXVECTOR3(m(row, 0), m(row, 1), m(row, 2)); }

// The point lies straight ahead of g_Camera.
void ExpectAhead(const D3DXVECTOR3& p) {
    const D3DXMATRIX view = g_Camera.GetView();
    D3DXVECTOR3 v;
    D3DXVec3TransformCoord(&v, &p, &view);
    const float distance = D3DXVec3Length(&v);
    EXPECT_NEAR(v.x / distance, 0.0f, 1e-4f);
    EXPECT_NEAR(v.y / distance, 0.0f, 1e-4f);
    EXPECT_GT(v.z, 0.0f);
}

// The vertical field of view a projection was built with.
float FieldOfView(const D3DXMATRIX& proj) { return 2.0f * std::atan(1.0f / proj(1, 1)); }

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_Camera.Reset();
        g_fSwing = kStartSwing;
        m_fSavedAspect = g_fAspect;
        g_fAspect = 4.0f / 3.0f;
    }

    void TearDown() override {
        g_Camera.Reset();
        g_fSwing = kStartSwing;
        g_fAspect = m_fSavedAspect;
        platform::UseRealClock();
    }

    // g_Camera at eye looking at target, with the start-up projection.
    static void Place(const D3DXVECTOR3& eye, const D3DXVECTOR3& target) {
        g_Camera.Reset();
        g_Camera.SetPosition(eye.x, eye.y, eye.z);
        g_Camera.LookAt(nullptr, target, kUp);
        g_Camera.SetPerspective(nullptr, 4.0f / 3.0f, 1.0f, 17500.0f);
    }

    float m_fSavedAspect = 0.0f;
};

}  // namespace

TEST_F(CameraTest, ViewSortVectorAndBillboardFollowTheWorldMatrix) {
    Place(D3DXVECTOR3(100, 50, -300), D3DXVECTOR3(0, 0, 0));
    ExpectAhead(D3DXVECTOR3(0, 0, 0));
    const D3DXMATRIX world = g_Camera.GetWorld();
    const D3DXMATRIX view = g_Camera.GetView();
    ExpectMatrixNear(world * view, Identity(), 1e-4f);
    ExpectVectorNear(g_Camera.GetPosition(), D3DXVECTOR3(100, 50, -300), 1e-3f);

    // The view's third row, which for a turned camera is not its third column.
    const D3DXVECTOR3 sort = g_Camera.GetSortVector();
    EXPECT_EQ(sort, Row(view, 2));
    EXPECT_GT(std::fabs(sort.x - view(0, 2)), 0.1f);

    const D3DXMATRIX billboard = g_Camera.GetBillboardMatrix();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Row(billboard, i), Row(world, i));
    EXPECT_EQ(Row(billboard, 3), D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(g_Camera.GetWorld(), world);
}

TEST_F(CameraTest, FrustumCornersOfTheStartUpProjection) {
    g_Camera.SetPerspective(nullptr, 4.0f / 3.0f, 1.0f, 17500.0f);
    g_Camera.UpdateFrustum();
    const float h = std::tan(D3DX_PI / 7.0f), w = h * 4.0f / 3.0f;
    for (int i = 0; i < 8; ++i) {
        const float z = (i & 4) ? 17500.0f : 1.0f;
        const D3DXVECTOR3 expected((i & 1) ? w * z : -w * z, (i & 2) ? h * z : -h * z, z);
        ExpectVectorNear(g_Camera.GetFrustum().vecFrustum[i], expected, 1e-3f * z);
    }
}

TEST_F(CameraTest, FrustumPlanesFaceInward) {
    // For a camera at the origin and a turned, displaced one: a point in view
    // is on the positive side of all six planes, a point beyond one boundary
    // on the negative side of that plane only.
    const D3DXVECTOR3 eyes[] = {D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(2500, 750, -1500)};
    const D3DXVECTOR3 targets[] = {D3DXVECTOR3(0, 0, 1), D3DXVECTOR3(-300, 20, 4000)};
    // In camera space: inside, then beyond near, far, left, right, top, bottom.
    const D3DXVECTOR3 local[] = {D3DXVECTOR3(0, 0, 100),    D3DXVECTOR3(0, 0, 0.5f),  D3DXVECTOR3(0, 0, 20000),
                                 D3DXVECTOR3(-1000, 0, 100), D3DXVECTOR3(1000, 0, 100), D3DXVECTOR3(0, 1000, 100),
                                 D3DXVECTOR3(0, -1000, 100)};
    for (int c = 0; c < 2; ++c) {
        Place(eyes[c], targets[c]);
        g_Camera.UpdateFrustum();
        const ViewFrustum& f = g_Camera.GetFrustum();
        for (int k = 0; k < 7; ++k) {
            D3DXVECTOR3 p;
            D3DXVec3TransformCoord(&p, &local[k], &g_Camera.GetWorld());
            for (int plane = 0; plane < 6; ++plane) {
                const float distance = D3DXPlaneDotCoord(&f.planeFrustum[plane], &p);
                if (k == plane + 1) EXPECT_LT(distance, 0.0f) << "camera " << c << " point " << k << " plane " << plane;
                else EXPECT_GT(distance, 0.0f) << "camera " << c << " point " << k << " plane " << plane;
            }
        }
    }
}

TEST_F(CameraTest, AutomaticCameraStartsOnTheFlyerWithTheNormalFieldOfView) {
    const D3DXVECTOR3 flock(300, 120, 900), flyer(-700, 400, 200);
    MoveAutomaticCamera(nullptr, flock, flyer, 0.0f);
    EXPECT_EQ(g_fBlend, 1.0f);
    ExpectVectorNear(g_Camera.GetPosition(), flyer, 1e-3f);
    ExpectAhead(flock);
    const D3DXMATRIX proj = g_Camera.GetProjection();
    EXPECT_NEAR(FieldOfView(proj), 2.0f * D3DX_PI / 7.0f, 1e-6f);
    EXPECT_NEAR(proj(0, 0), proj(1, 1) * 3.0f / 4.0f, 1e-6f);
    EXPECT_NEAR(proj(3, 2), -17500.0f / 17499.0f, 1e-6f);

    MoveAutomaticCamera(nullptr, flock, flyer, 0.03f);
    EXPECT_FLOAT_EQ(g_fSwing, kStartSwing + 0.0015f);
    EXPECT_FLOAT_EQ(g_fBlend, std::sin(g_fSwing));
}

TEST_F(CameraTest, AutomaticCameraZoomsOnAFarFlockFromTheHighPoint) {
    const D3DXVECTOR3 flyer(500, 100, -800);
    // A flock at the reference point: the far field of view equals the near one.
    g_fSwing = D3DX_PI / 6.0f;  // blend 0.5
    MoveAutomaticCamera(nullptr, D3DXVECTOR3(1, 1, 1), flyer, 0.0f);
    EXPECT_NEAR(FieldOfView(g_Camera.GetProjection()), D3DX_PI / 3.5f, 1e-5f);
    ExpectVectorNear(g_Camera.GetPosition(), D3DXVECTOR3(250.5f, 175.0f, -399.5f), 1e-3f);

    // The swing wraps only past pi, to the high point alone; its field of view
    // zooms with the flock's distance from (1, 1, 1) in units of 1200, held to 1 to 50.
    g_fSwing = D3DX_PI;
    MoveAutomaticCamera(nullptr, D3DXVECTOR3(100, 0, 100), flyer, 0.0f);
    EXPECT_EQ(g_fSwing, D3DX_PI);
    const struct {
        D3DXVECTOR3 flock;
        float fov;
    } cases[] = {{D3DXVECTOR3(2401, 1, 1), D3DX_PI / 7.0f},
                 {D3DXVECTOR3(1, 1, 601), D3DX_PI / 3.5f},
                 {D3DXVECTOR3(60001, 1, 1), D3DX_PI / 175.0f},
                 {D3DXVECTOR3(-70000, 5000, 30000), D3DX_PI / 175.0f}};
    for (const auto& c : cases) {
        g_fSwing = D3DX_PI - 1e-4f;
        MoveAutomaticCamera(nullptr, c.flock, flyer, 0.03f);
        EXPECT_EQ(g_fSwing, 0.0f);
        EXPECT_EQ(g_fBlend, 0.0f);
        ExpectVectorNear(g_Camera.GetPosition(), D3DXVECTOR3(1, 250, 1), 1e-3f);
        EXPECT_NEAR(FieldOfView(g_Camera.GetProjection()), c.fov, 1e-6f);
        ExpectAhead(c.flock);
    }
}

TEST_F(CameraTest, LookAtWithoutADirectionKeepsTheOrientation) {
    // The high point straight above a flock at (1, 1, 1): the camera arrives
    // there facing as before, with a usable view.
    const D3DXVECTOR3 flock(1, 1, 1);
    MoveAutomaticCamera(nullptr, flock, D3DXVECTOR3(400, 60, -300), 0.0f);
    const D3DXMATRIX before = g_Camera.GetWorld();
    g_fSwing = D3DX_PI;
    MoveAutomaticCamera(nullptr, flock, D3DXVECTOR3(400, 60, -300), 0.01f);
    EXPECT_EQ(g_Camera.GetPosition(), D3DXVECTOR3(1, 250, 1));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Row(g_Camera.GetWorld(), i), Row(before, i));
    ExpectMatrixNear(g_Camera.GetWorld() * g_Camera.GetView(), Identity(), 1e-4f);

    // Straight up, and at the eye itself.
    const D3DXMATRIX held = g_Camera.GetWorld();
    g_Camera.LookAt(nullptr, D3DXVECTOR3(1, 900, 1), kUp);
    g_Camera.LookAt(nullptr, D3DXVECTOR3(1, 250, 1), kUp);
    EXPECT_EQ(g_Camera.GetWorld(), held);
}

TEST_F(CameraTest, UserCameraFliesInItsOwnAxesAndFacesTheGoal) {
    const D3DXVECTOR3 goal(200, 100, 300), start(2500, 750, -1500);
    const float dt = 0.03f, step = 120.0f * dt;
    Place(start, goal);

    KeyState keys{};
    keys.bUp = keys.bDown = keys.bLeft = keys.bRight = keys.bPageUp = keys.bPageDown = 1;
    MoveUserCamera(nullptr, keys, goal, dt);
    ExpectVectorNear(g_Camera.GetPosition(), start, 1e-3f);

    // Right and forward together: a diagonal step in the camera's frame.
    D3DXMATRIX before = g_Camera.GetWorld();
    keys = KeyState{};
    keys.bRight = keys.bUp = 1;
    MoveUserCamera(nullptr, keys, goal, dt);
    ExpectVectorNear(g_Camera.GetPosition(), Row(before, 3) + (Row(before, 0) + Row(before, 2)) * step, 1e-3f);
    ExpectAhead(goal);

    before = g_Camera.GetWorld();
    keys = KeyState{};
    keys.bPageDown = 1;
    MoveUserCamera(nullptr, keys, D3DXVECTOR3(-900, 0, 0), dt);
    ExpectVectorNear(g_Camera.GetPosition(), Row(before, 3) - Row(before, 1) * step, 1e-3f);
    ExpectAhead(D3DXVECTOR3(-900, 0, 0));
}

TEST_F(CameraTest, UserCameraIsHeldWithinRangeOfTheOrigin) {
    const D3DXVECTOR3 goal(0, 0, 0);
    KeyState back{};
    back.bDown = 1;
    Place(D3DXVECTOR3(0, 0, -14998.0f), goal);
    MoveUserCamera(nullptr, back, goal, 1.5f / 120.0f);
    EXPECT_NEAR(g_Camera.GetPosition().z, -14999.5f, 2e-3f);

    // A step that would end 15000.5 from the origin is taken back; the next
    // frame starts from the kept camera.
    MoveUserCamera(nullptr, back, goal, 1.0f / 120.0f);
    EXPECT_NEAR(g_Camera.GetPosition().z, -14999.5f, 2e-3f);
    MoveUserCamera(nullptr, KeyState{}, goal, 0.03f);
    EXPECT_NEAR(g_Camera.GetPosition().z, -14999.5f, 2e-3f);
}

TEST_F(CameraTest, LightTurnsAboutTheVerticalWithTheClock) {
    platform::UseFakeClock(0);
    UpdateLight();
    EXPECT_EQ(g_vLightDir, D3DXVECTOR4(0.5f, 0.9f, 0.5f, 0.0f));

    // A quarter turn each 3000 pi / 2 ms, +X toward -Z.
    const auto quarterNs = static_cast<std::int64_t>(3000.0 * 3.14159265358979 / 2.0 * 1e6);
    for (const D3DXVECTOR4& expected : {D3DXVECTOR4(0.5f, 0.9f, -0.5f, 0), D3DXVECTOR4(-0.5f, 0.9f, -0.5f, 0)}) {
        platform::AdvanceFakeClock(quarterNs);
        UpdateLight();
        EXPECT_NEAR(g_vLightDir.x, expected.x, 1e-3f);
        EXPECT_NEAR(g_vLightDir.y, expected.y, 1e-6f);
        EXPECT_NEAR(g_vLightDir.z, expected.z, 1e-3f);
        EXPECT_EQ(g_vLightDir.w, 0.0f);
    }
}

// ---------------------------------------------------------------------------
// Device transforms

namespace {

class CameraDeviceTest : public CameraTest {
protected:
    void SetUp() override {
        CameraTest::SetUp();
        const HRESULT hr = m_device.Create(D3DCREATE_SOFTWARE_VERTEXPROCESSING);
        if (testing_support::TestDevice::NothingToDrawOn(hr)) return testing_support::MissingDisplay("no display");
        ASSERT_EQ(hr, D3D_OK);
        m_pDevice = m_device.Device();
    }

    void TearDown() override {
        m_device.Release();
        CameraTest::TearDown();
    }

    D3DXMATRIX Transform(D3DTRANSFORMSTATETYPE state) {
        D3DXMATRIX m;
        EXPECT_EQ(m_pDevice->GetTransform(state, &m), D3D_OK);
        return m;
    }

    testing_support::TestDevice m_device;
    Direct3DDevice8* m_pDevice = nullptr;
};

}  // namespace

TEST_F(CameraDeviceTest, CameraModesSetTheDeviceTransforms) {
    g_Camera.SetPerspective(m_pDevice, 16.0f / 9.0f, 1.0f, 17500.0f);
    EXPECT_EQ(Transform(D3DTS_PROJECTION), g_Camera.GetProjection());

    MoveAutomaticCamera(m_pDevice, D3DXVECTOR3(3000, 0, 0), D3DXVECTOR3(0, 100, 0), 0.03f);
    ExpectMatrixNear(Transform(D3DTS_VIEW), g_Camera.GetView(), 1e-4f);
    EXPECT_EQ(Transform(D3DTS_PROJECTION), g_Camera.GetProjection());

    // A user step out of range: this frame is drawn from the view just set,
    // the camera itself goes back to where it was.
    Place(D3DXVECTOR3(0, 0, -14999.0f), D3DXVECTOR3(0, 0, 0));
    const D3DXMATRIX kept = g_Camera.GetWorld();
    const D3DXMATRIX keptView = g_Camera.GetView();
    KeyState keys{};
    keys.bDown = keys.bLeft = 1;
    MoveUserCamera(m_pDevice, keys, D3DXVECTOR3(0, 0, 0), 1.5f / 120.0f);
    EXPECT_EQ(g_Camera.GetWorld(), kept);
    EXPECT_NE(Transform(D3DTS_VIEW), keptView);
    D3DXMATRIX drawnFrom;
    const D3DXMATRIX deviceView = Transform(D3DTS_VIEW);
    ASSERT_NE(D3DXMatrixInverse(&drawnFrom, nullptr, &deviceView), nullptr);
    const D3DXVECTOR3 eye = Row(drawnFrom, 3);
    EXPECT_GT(D3DXVec3Length(&eye), 15000.0f);

    // A look straight down leaves the view of the unturned camera.
    g_Camera.SetPosition(0, 500, 0);
    g_Camera.LookAt(m_pDevice, D3DXVECTOR3(0, 0, 0), kUp);
    const D3DXMATRIX view = Transform(D3DTS_VIEW);
    EXPECT_EQ(view, g_Camera.GetView());
    ExpectMatrixNear(g_Camera.GetWorld() * view, Identity(), 1e-4f);
}
