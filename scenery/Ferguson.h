// The closed path the automatic camera rides: a loop of control points read
// from a path file (resource type MISC), joined by cubic Ferguson (Hermite)
// segments and kept centred on the flock, and the flyer that travels it.
//
// Path file, little-endian, no padding: a signed 32-bit count N, N control
// points (x, y, z floats) in path order, then two arrays of N floats each
// that the file carries but the path does not use.
#pragma once

#include "gfx/D3DXMath.h"
#include "model/MeshModel.h"
#include "platform/Win32Types.h"

class Ferguson {
public:
    Ferguson() = default;
    Ferguson(const Ferguson&) = delete;
    Ferguson& operator=(const Ferguson&) = delete;
    ~Ferguson() { DeleteDeviceObjects(); }

    // Reads the path file of that name. E_FAIL when it is missing, cannot be
    // loaded, or does not hold a positive count and every point it announces.
    HRESULT InitDeviceObjects(const char* resourceName);
    // Moves the whole loop so that its centre lies at newCentre.
    void FrameMove(const D3DXVECTOR3& newCentre);
    // The point at parameter s (integer part = segment, fraction = position
    // in it) of the loop (a) and of the same loop started one point later
    // (b). Writes nothing unless -1 < s < N. Returns S_OK.
    HRESULT Evaluate(float s, D3DXVECTOR3* a, D3DXVECTOR3* b);
    DWORD GetPointCount() const { return static_cast<DWORD>(m_nPointNum); }
    HRESULT DeleteDeviceObjects();

    const D3DXVECTOR3& GetCenter() const { return m_vCenter; }
    const D3DXVECTOR3& GetPoint(int i) const { return m_pvPoint[i]; }

private:
    // Coefficients of one loop: segment i is a t^3 + b t^2 + c t + d.
    struct Curve {
        D3DXVECTOR3* pa = nullptr;
        D3DXVECTOR3* pb = nullptr;
        D3DXVECTOR3* pc = nullptr;
        D3DXVECTOR3* pd = nullptr;
    };

    static void BuildCurve(const D3DXVECTOR3* points, int count, Curve& curve);
    static void EvaluateCurve(const Curve& curve, int i, float t, float t2, float t3, D3DXVECTOR3* out);
    void BuildCoefficients();
    bool Allocate(int count);

    int m_nPointNum = 0;
    Curve m_CurveA;
    Curve m_CurveB;
    D3DXVECTOR3* m_pvPoint = nullptr;
    D3DXVECTOR3* m_pvShifted = nullptr;
    D3DXVECTOR3 m_vCenter;
};

// A placed object without a model that travels the path with a pulsing
// speed and a bobbing height, facing a point one segment further on.
class PathFlyer : public ModelObject {
public:
    HRESULT FrameMove(Ferguson& path);
    using ModelObject::GetPosition;
    D3DXVECTOR3 GetPosition() {
        D3DXVECTOR3 position;
        ModelObject::GetPosition(&position);
        return position;
    }

    // The phase of the speed pulse, one for the process.
    static float s_fPhase;

    float m_fS = 0.0f;
    float m_fSpeed = 0.2f;
    float m_fHeight = 0.0f;
    float m_fHeightRate = 5.0f;
    D3DXVECTOR3 m_vPoint;
    D3DXVECTOR3 m_vLookAt;
};

extern Ferguson g_Ferguson;
extern PathFlyer g_PathFlyer;
