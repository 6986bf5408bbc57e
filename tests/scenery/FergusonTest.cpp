// The camera flyer's path: the path file, the closed curve through its
// control points, the re-centring on the flock, and the flyer's pulse, laps
// and height.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/ErrLog.h"
#include "app/Frame.h"
#include "platform/Resources.h"
#include "tests/support/TestResources.h"
#include "scenery/Ferguson.h"

namespace {

using Bytes = std::vector<unsigned char>;

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void PutFloat(Bytes& b, float f) {
    std::uint32_t v;
    std::memcpy(&v, &f, 4);
    Put32(b, v);
}

// A path file with the given count and points, followed by `trailing` floats.
Bytes PathFile(std::int32_t count, const std::vector<D3DXVECTOR3>& points, std::size_t trailing = 0) {
    Bytes b;
    Put32(b, static_cast<std::uint32_t>(count));
    for (const D3DXVECTOR3& p : points) {
        PutFloat(b, p.x);
        PutFloat(b, p.y);
        PutFloat(b, p.z);
    }
    for (std::size_t i = 0; i < trailing; ++i) PutFloat(b, 1.0f);
    return b;
}

const std::vector<D3DXVECTOR3> kTriangle = {{0.0f, 0.0f, 0.0f}, {100.0f, 0.0f, 0.0f}, {0.0f, 30.0f, 80.0f}};

::testing::AssertionResult Near(const D3DXVECTOR3& a, const D3DXVECTOR3& b, float tolerance) {
    const D3DXVECTOR3 d = a - b;
    if (D3DXVec3Length(&d) <= tolerance) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs (" << b.x << ", "
                                         << b.y << ", " << b.z << ")";
}

class FergusonTest : public ::testing::Test {
protected:
    void SetUp() override { g_ErrLog.ClearForTesting(); }
    void TearDown() override {
        m_path.DeleteDeviceObjects();
        SetResourceTableForTesting({});
        g_fElapsedTime = 0.0f;
    }

    // The compiled resources plus path files of our own (type MISC).
    void UseFiles(const std::vector<std::pair<std::string, Bytes>>& files) {
        std::vector<std::pair<std::string, std::string>> entries;
        for (const auto& [name, bytes] : files) entries.emplace_back(name, std::string(bytes.begin(), bytes.end()));
        m_resources.Use("MISC", std::move(entries));
    }

    HRESULT Load(const Bytes& file) {
        UseFiles({{"TEST.FPP", file}});
        return m_path.InitDeviceObjects("TEST.FPP");
    }

    D3DXVECTOR3 A(float s) {
        D3DXVECTOR3 a, b;
        m_path.Evaluate(s, &a, &b);
        return a;
    }

    Ferguson m_path;
    testing_support::ExtraResources m_resources;
};

}  // namespace

TEST_F(FergusonTest, ClockPathLoadsFromTheProgramsResources) {
    ASSERT_EQ(m_path.InitDeviceObjects("clock.fpp"), S_OK);
    EXPECT_STREQ(g_ErrLog.Text(), "\t\tFindResource...\n\t\tLoadResource...\n");
    ASSERT_EQ(m_path.GetPointCount(), 47u);

    // Control points come back at integer parameters, the next one on curve B.
    D3DXVECTOR3 a, b;
    m_path.Evaluate(0.0f, &a, &b);
    EXPECT_EQ(a, D3DXVECTOR3(1.5078f, -1.1636f, -303.0890f));
    EXPECT_EQ(b, D3DXVECTOR3(94.4722f, 0.2582f, -311.0506f));
    m_path.Evaluate(8.0f, &a, &b);
    EXPECT_EQ(a, D3DXVECTOR3(-118.2964f, 60.7475f, -111.0563f));
    EXPECT_EQ(b, D3DXVECTOR3(-117.1854f, 50.7114f, -213.5206f));
    m_path.Evaluate(46.0f, &a, &b);
    EXPECT_EQ(a, D3DXVECTOR3(-84.3195f, 50.7114f, -526.6773f));
    EXPECT_EQ(b, D3DXVECTOR3(1.5078f, -1.1636f, -303.0890f));

    // The loop closes: just before the end lies next to the first point.
    m_path.Evaluate(46.999f, &a, &b);
    EXPECT_TRUE(Near(a, m_path.GetPoint(0), 0.5f));

    // At and past the end, and for nonsense, nothing is written.
    for (float s : {47.0f, 50.0f, -1.0f, -7.5f, std::nanf("")}) {
        D3DXVECTOR3 untouched(7.0f, 7.0f, 7.0f), other(7.0f, 7.0f, 7.0f);
        EXPECT_EQ(m_path.Evaluate(s, &untouched, &other), S_OK);
        EXPECT_EQ(untouched, D3DXVECTOR3(7.0f, 7.0f, 7.0f)) << s;
        EXPECT_EQ(other, D3DXVECTOR3(7.0f, 7.0f, 7.0f)) << s;
    }

    D3DXVECTOR3 sum;
    for (int i = 0; i < 47; ++i) sum += m_path.GetPoint(i);
    EXPECT_TRUE(Near(m_path.GetCenter(), sum / 47.0f, 1e-3f));
}

TEST_F(FergusonTest, CurvePassesThroughEveryPointLeavingAlongTheNextEdge) {
    ASSERT_EQ(Load(PathFile(3, kTriangle, 6)), S_OK);
    const float h = 1.0f / 1024.0f;
    for (int k = 0; k < 3; ++k) {
        const D3DXVECTOR3& p = kTriangle[static_cast<std::size_t>(k)];
        const D3DXVECTOR3& next = kTriangle[static_cast<std::size_t>((k + 1) % 3)];
        D3DXVECTOR3 a, b;
        m_path.Evaluate(static_cast<float>(k), &a, &b);
        EXPECT_TRUE(Near(a, p, 1e-4f)) << k;
        EXPECT_TRUE(Near(b, next, 1e-4f)) << k;
        // Leaves P_k with the direction P_(k+1) - P_k.
        const D3DXVECTOR3 slope = (A(static_cast<float>(k) + h) - a) / h;
        EXPECT_TRUE(Near(slope, next - p, 0.5f)) << k;
        // Curve B is curve A one segment later.
        D3DXVECTOR3 a2, b2;
        m_path.Evaluate(static_cast<float>(k) + 0.375f, &a2, &b2);
        EXPECT_TRUE(Near(b2, A(static_cast<float>((k + 1) % 3) + 0.375f), 1e-3f)) << k;
    }
    // Arrives at P_0 with the direction P_1 - P_0 as well: no kink.
    const D3DXVECTOR3 arriving = (kTriangle[0] - A(3.0f - h)) / h;
    EXPECT_TRUE(Near(arriving, kTriangle[1] - kTriangle[0], 0.5f));
}

TEST_F(FergusonTest, FrameMoveShiftsTheWholeLoopOntoTheNewCentre) {
    ASSERT_EQ(Load(PathFile(3, kTriangle)), S_OK);  // the trailing arrays are optional
    const D3DXVECTOR3 before = A(1.6f);
    const D3DXVECTOR3 centre(1000.0f, -250.0f, 40.0f);
    const D3DXVECTOR3 delta = centre - m_path.GetCenter();
    m_path.FrameMove(centre);
    EXPECT_TRUE(Near(m_path.GetCenter(), centre, 1e-3f));
    EXPECT_TRUE(Near((m_path.GetPoint(0) + m_path.GetPoint(1) + m_path.GetPoint(2)) / 3.0f, centre, 1e-3f));
    EXPECT_TRUE(Near(A(1.6f), before + delta, 1e-3f));
    D3DXVECTOR3 a, b;
    m_path.Evaluate(2.0f, &a, &b);
    EXPECT_TRUE(Near(b, kTriangle[0] + delta, 1e-3f));

    // An empty path ignores moves.
    Ferguson empty;
    empty.FrameMove(centre);
    EXPECT_EQ(empty.GetPointCount(), 0u);
}

TEST_F(FergusonTest, BrokenFilesFailWithoutReadingPastTheirEnd) {
    struct Case {
        const char* what;
        Bytes file;
    };
    Bytes truncated = PathFile(3, kTriangle);
    truncated.pop_back();
    const Case cases[] = {
        {"empty", {}},
        {"short count", {3, 0, 0}},
        {"one point short", truncated},
        {"zero count", PathFile(0, {})},
        {"negative count", PathFile(-3, kTriangle)},
        {"count far beyond the data", PathFile(0x7FFFFFFF, kTriangle, 6)},
        {"count whose size overflows 32 bits", PathFile(0x15555556, kTriangle, 6)},
    };
    for (const Case& c : cases) {
        g_ErrLog.ClearForTesting();
        EXPECT_EQ(Load(c.file), E_FAIL) << c.what;
        EXPECT_STREQ(g_ErrLog.Text(), "\t\tFindResource...\n\t\tLoadResource...\n\t\tFailed\n") << c.what;
        EXPECT_EQ(m_path.GetPointCount(), 0u) << c.what;
        D3DXVECTOR3 untouched(7.0f, 7.0f, 7.0f);
        m_path.Evaluate(0.0f, &untouched, &untouched);
        EXPECT_EQ(untouched, D3DXVECTOR3(7.0f, 7.0f, 7.0f)) << c.what;
    }

    g_ErrLog.ClearForTesting();
    EXPECT_EQ(m_path.InitDeviceObjects("NOSUCH.FPP"), E_FAIL);
    EXPECT_STREQ(g_ErrLog.Text(), "\t\tFindResource...\n\t\tFailed\n");

    // A reload replaces the loop.
    EXPECT_EQ(Load(PathFile(3, kTriangle, 6)), S_OK);
    EXPECT_EQ(Load(PathFile(2, {kTriangle[0], kTriangle[1]})), S_OK);
    EXPECT_EQ(m_path.GetPointCount(), 2u);
}

TEST_F(FergusonTest, FlyerPulseLapAndHeight) {
    ASSERT_EQ(m_path.InitDeviceObjects("CLOCK.FPP"), S_OK);
    PathFlyer::s_fPhase = 0.0f;
    PathFlyer flyer;
    g_fElapsedTime = 0.03f;
    EXPECT_EQ(flyer.FrameMove(m_path), S_OK);
    // Phase 0.003: the sine is below 0.1, so the factor rests at its floor.
    EXPECT_FLOAT_EQ(flyer.m_fS, 0.0018f);
    D3DXVECTOR3 a, b;
    m_path.Evaluate(flyer.m_fS, &a, &b);
    EXPECT_EQ(flyer.m_vPoint, a);
    EXPECT_EQ(flyer.m_vLookAt, b);
    // Raised by the height, facing the look-ahead point.
    EXPECT_TRUE(Near(flyer.GetPosition(), a + D3DXVECTOR3(0.0f, 0.15f, 0.0f), 1e-4f));
    D3DXVECTOR3 facing = b - a;
    D3DXVec3Normalize(&facing, &facing);
    const D3DXMATRIX& world = flyer.World();
    EXPECT_TRUE(Near(D3DXVECTOR3(world.m[2][0], world.m[2][1], world.m[2][2]), facing, 1e-5f));

    // Past the end of a lap the flyer restarts at P_0.
    flyer.m_fS = 46.9995f;
    flyer.FrameMove(m_path);
    EXPECT_EQ(flyer.m_fS, 0.0f);
    EXPECT_EQ(flyer.m_vPoint, m_path.GetPoint(0));

    // At the top of the pulse the factor is 1, ten times its floor; past
    // 3 pi / 2 the phase starts again.
    PathFlyer::s_fPhase = 1.5707963f - 0.003f;
    flyer.m_fS = 10.0f;
    flyer.FrameMove(m_path);
    EXPECT_NEAR(flyer.m_fS, 10.0f + 3.0f * 0.2f * 0.03f, 1e-5f);
    PathFlyer::s_fPhase = 4.7123f;
    flyer.FrameMove(m_path);
    EXPECT_EQ(PathFlyer::s_fPhase, 0.0f);

    // The height swings between about -5 and 30, turning softly: 5 per
    // second of rate lost at 5 per second carries it 2.5 beyond each bound.
    flyer.m_fHeight = 0.0f;
    flyer.m_fHeightRate = 5.0f;
    float highest = 0.0f, lowest = 0.0f;
    for (int frame = 0; frame < 4000; ++frame) {
        flyer.FrameMove(m_path);
        highest = std::max(highest, flyer.m_fHeight);
        lowest = std::min(lowest, flyer.m_fHeight);
    }
    EXPECT_NEAR(highest, 32.5f, 0.3f);
    EXPECT_NEAR(lowest, -7.5f, 0.3f);
}
