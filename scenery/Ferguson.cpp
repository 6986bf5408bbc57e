#include "scenery/Ferguson.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "app/ErrLog.h"
#include "app/FrameState.h"
#include "platform/Resources.h"

Ferguson g_Ferguson;
PathFlyer g_PathFlyer;
float PathFlyer::s_fPhase = 0.0f;

namespace {

constexpr std::size_t kCountBytes = 4;
constexpr std::size_t kPointBytes = 12;

}  // namespace

bool Ferguson::Allocate(int count) {
    const auto n = static_cast<std::size_t>(count);
    D3DXVECTOR3** arrays[] = {&m_CurveA.pa, &m_CurveA.pb, &m_CurveA.pc, &m_CurveA.pd, &m_CurveB.pa,
                              &m_CurveB.pb, &m_CurveB.pc, &m_CurveB.pd, &m_pvPoint,   &m_pvShifted};
    for (D3DXVECTOR3** array : arrays) {
        *array = new (std::nothrow) D3DXVECTOR3[n];  // every element (0, 0, 0)
        if (!*array) return false;
    }
    m_nPointNum = count;
    return true;
}

HRESULT Ferguson::InitDeviceObjects(const char* resourceName) {
    DeleteDeviceObjects();  // a second load replaces the first

    g_ErrLog.Add("\t\tFindResource...\n");
    HRSRC found = FindResourceA(nullptr, resourceName, "MISC");
    if (!found) {
        g_ErrLog.Add("\t\tFailed\n");
        return E_FAIL;
    }
    g_ErrLog.Add("\t\tLoadResource...\n");
    HGLOBAL loaded = LoadResource(nullptr, found);
    const auto* data = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    const std::size_t size = SizeofResource(nullptr, found);
    // The count must be positive and every point it announces must be there;
    // anything else is a broken file, not a path.
    std::int32_t count = 0;
    if (data && size >= kCountBytes) std::memcpy(&count, data, kCountBytes);
    if (!data || count <= 0 || (size - kCountBytes) / kPointBytes < static_cast<std::size_t>(count)) {
        g_ErrLog.Add("\t\tFailed\n");
        return E_FAIL;
    }
    if (!Allocate(count)) {
        DeleteDeviceObjects();
        g_ErrLog.Add("\t\tFailed\n");
        return E_FAIL;
    }

    D3DXVECTOR3 sum;
    for (int i = 0; i < count; ++i) {
        float xyz[3];
        std::memcpy(xyz, data + kCountBytes + static_cast<std::size_t>(i) * kPointBytes, sizeof xyz);
        m_pvPoint[i] = D3DXVECTOR3(xyz[0], xyz[1], xyz[2]);
        sum += m_pvPoint[i];
    }
    m_vCenter = sum * (1.0f / static_cast<float>(count));
    BuildCoefficients();
    return S_OK;
}

void Ferguson::BuildCurve(const D3DXVECTOR3* points, int count, Curve& curve) {
    for (int i = 0; i < count; ++i) {
        const D3DXVECTOR3& p0 = points[i];
        const D3DXVECTOR3& p1 = points[(i + 1) % count];
        const D3DXVECTOR3& p2 = points[(i + 2) % count];
        // Forward differences as the tangents at both ends of the segment.
        const D3DXVECTOR3 t0 = p1 - p0;
        const D3DXVECTOR3 t1 = p2 - p1;
        curve.pa[i] = 2.0f * p0 - 2.0f * p1 + t0 + t1;
        curve.pb[i] = -3.0f * p0 + 3.0f * p1 - 2.0f * t0 - t1;
        curve.pc[i] = t0;
        curve.pd[i] = p0;
    }
}

void Ferguson::BuildCoefficients() {
    for (int i = 0; i < m_nPointNum; ++i) m_pvShifted[i] = m_pvPoint[(i + 1) % m_nPointNum];
    BuildCurve(m_pvPoint, m_nPointNum, m_CurveA);
    BuildCurve(m_pvShifted, m_nPointNum, m_CurveB);
}

void Ferguson::EvaluateCurve(const Curve& curve, int i, float t, float t2, float t3, D3DXVECTOR3* out) {
    auto component = [&](float a, float b, float c, float d) {
        return static_cast<float>(static_cast<double>(t3) * a + static_cast<double>(t2) * b +
                                  static_cast<double>(t) * c + d);
    };
    const D3DXVECTOR3 &a = curve.pa[i], &b = curve.pb[i], &c = curve.pc[i], &d = curve.pd[i];
    *out = D3DXVECTOR3(component(a.x, b.x, c.x, d.x), component(a.y, b.y, c.y, d.y),
                       component(a.z, b.z, c.z, d.z));
}

HRESULT Ferguson::Evaluate(float s, D3DXVECTOR3* a, D3DXVECTOR3* b) {
    // Nothing is written at or past the loop's end, for NaN, or where the
    // segment index would be negative.
    if (!(s > -1.0f && s < static_cast<float>(m_nPointNum))) return S_OK;
    int i = static_cast<int>(s);  // toward zero
    if (i >= m_nPointNum) i = m_nPointNum - 1;  // a float just below N may round up
    const float t = s - static_cast<float>(i);
    const float t2 = t * t;
    const float t3 = t2 * t;
    if (a) EvaluateCurve(m_CurveA, i, t, t2, t3, a);
    if (b) EvaluateCurve(m_CurveB, i, t, t2, t3, b);
    return S_OK;
}

void Ferguson::FrameMove(const D3DXVECTOR3& newCentre) {
    if (m_nPointNum <= 0) return;
    const D3DXVECTOR3 delta = newCentre - m_vCenter;
    m_vCenter += delta;
    for (int i = 0; i < m_nPointNum; ++i) m_pvPoint[i] += delta;
    BuildCoefficients();
}

HRESULT Ferguson::DeleteDeviceObjects() {
    D3DXVECTOR3** arrays[] = {&m_CurveA.pa, &m_CurveA.pb, &m_CurveA.pc, &m_CurveA.pd, &m_CurveB.pa,
                              &m_CurveB.pb, &m_CurveB.pc, &m_CurveB.pd, &m_pvPoint,   &m_pvShifted};
    for (D3DXVECTOR3** array : arrays) {
        delete[] *array;
        *array = nullptr;
    }
    m_nPointNum = 0;
    return S_OK;
}

// ---------------------------------------------------------------------------

HRESULT PathFlyer::FrameMove(Ferguson& path) {
    const float dt = g_fElapsedTime;

    // The speed pulse: a rise and fall over half a sine, then a rest at the
    // floor while the sine stays below 0.1.
    s_fPhase += 0.1f * dt;
    if (s_fPhase > 4.712389f) s_fPhase = 0.0f;
    const float pulse = std::sin(s_fPhase);
    const float factor = pulse >= 0.1f ? pulse : 0.1f;

    // A lap ends by starting again at the first point.
    m_fS += factor * 3.0f * m_fSpeed * dt;
    if (m_fS >= static_cast<float>(path.GetPointCount())) m_fS = 0.0f;
    path.Evaluate(m_fS, &m_vPoint, &m_vLookAt);

    // The height swings between about -5 and 30 with soft turns.
    m_fHeight += m_fHeightRate * dt;
    if (m_fHeight > 30.0f) m_fHeightRate -= 5.0f * dt;
    if (m_fHeight < -5.0f) m_fHeightRate += 5.0f * dt;

    SetPosition(m_vPoint.x, m_vPoint.y, m_vPoint.z);
    Face(m_vLookAt);
    Translate(0.0f, m_fHeight, 0.0f, TRUE);
    return S_OK;
}
