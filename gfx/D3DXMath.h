// The extension library's vector, matrix, plane and quaternion types and
// functions, in its conventions: row vectors multiplied on the left
// (v' = v x M, so A x B applies A first), left-handed coordinates, translation
// in the fourth row. Every function returns its output pointer, as the library
// does, so calls can be nested; outputs may alias inputs.
#pragma once

#include <cmath>

#include "gfx/D3D8Types.h"

constexpr float D3DX_PI = 3.141592654f;

// ---------------------------------------------------------------------------
// Vectors

struct D3DXVECTOR2 {
    float x = 0.0f, y = 0.0f;

    D3DXVECTOR2() = default;
    D3DXVECTOR2(float x_, float y_) : x(x_), y(y_) {}

    D3DXVECTOR2& operator+=(const D3DXVECTOR2& o) { x += o.x; y += o.y; return *this; }
    D3DXVECTOR2& operator-=(const D3DXVECTOR2& o) { x -= o.x; y -= o.y; return *this; }
    D3DXVECTOR2& operator*=(float s) { x *= s; y *= s; return *this; }
    D3DXVECTOR2& operator/=(float s) { x /= s; y /= s; return *this; }
    D3DXVECTOR2 operator-() const { return {-x, -y}; }
    D3DXVECTOR2 operator+(const D3DXVECTOR2& o) const { return {x + o.x, y + o.y}; }
    D3DXVECTOR2 operator-(const D3DXVECTOR2& o) const { return {x - o.x, y - o.y}; }
    D3DXVECTOR2 operator*(float s) const { return {x * s, y * s}; }
    D3DXVECTOR2 operator/(float s) const { return {x / s, y / s}; }
    friend D3DXVECTOR2 operator*(float s, const D3DXVECTOR2& v) { return v * s; }
    bool operator==(const D3DXVECTOR2& o) const { return x == o.x && y == o.y; }
};

struct D3DXVECTOR3 : D3DVECTOR {
    D3DXVECTOR3() : D3DVECTOR{0.0f, 0.0f, 0.0f} {}
    D3DXVECTOR3(float x_, float y_, float z_) : D3DVECTOR{x_, y_, z_} {}
    D3DXVECTOR3(const D3DVECTOR& v) : D3DVECTOR(v) {}  // NOLINT: the library converts implicitly

    D3DXVECTOR3& operator+=(const D3DXVECTOR3& o) { x += o.x; y += o.y; z += o.z; return *this; }
    D3DXVECTOR3& operator-=(const D3DXVECTOR3& o) { x -= o.x; y -= o.y; z -= o.z; return *this; }
    D3DXVECTOR3& operator*=(float s) { x *= s; y *= s; z *= s; return *this; }
    D3DXVECTOR3& operator/=(float s) { x /= s; y /= s; z /= s; return *this; }
    D3DXVECTOR3 operator-() const { return {-x, -y, -z}; }
    D3DXVECTOR3 operator+(const D3DXVECTOR3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    D3DXVECTOR3 operator-(const D3DXVECTOR3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    D3DXVECTOR3 operator*(float s) const { return {x * s, y * s, z * s}; }
    D3DXVECTOR3 operator/(float s) const { return {x / s, y / s, z / s}; }
    friend D3DXVECTOR3 operator*(float s, const D3DXVECTOR3& v) { return v * s; }
    bool operator==(const D3DXVECTOR3& o) const { return x == o.x && y == o.y && z == o.z; }
};

struct D3DXVECTOR4 {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;

    D3DXVECTOR4() = default;
    D3DXVECTOR4(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}
    D3DXVECTOR4(const D3DVECTOR& v, float w_) : x(v.x), y(v.y), z(v.z), w(w_) {}

    D3DXVECTOR4& operator+=(const D3DXVECTOR4& o) { x += o.x; y += o.y; z += o.z; w += o.w; return *this; }
    D3DXVECTOR4& operator-=(const D3DXVECTOR4& o) { x -= o.x; y -= o.y; z -= o.z; w -= o.w; return *this; }
    D3DXVECTOR4& operator*=(float s) { x *= s; y *= s; z *= s; w *= s; return *this; }
    D3DXVECTOR4& operator/=(float s) { x /= s; y /= s; z /= s; w /= s; return *this; }
    D3DXVECTOR4 operator-() const { return {-x, -y, -z, -w}; }
    D3DXVECTOR4 operator+(const D3DXVECTOR4& o) const { return {x + o.x, y + o.y, z + o.z, w + o.w}; }
    D3DXVECTOR4 operator-(const D3DXVECTOR4& o) const { return {x - o.x, y - o.y, z - o.z, w - o.w}; }
    D3DXVECTOR4 operator*(float s) const { return {x * s, y * s, z * s, w * s}; }
    D3DXVECTOR4 operator/(float s) const { return {x / s, y / s, z / s, w / s}; }
    friend D3DXVECTOR4 operator*(float s, const D3DXVECTOR4& v) { return v * s; }
    bool operator==(const D3DXVECTOR4& o) const { return x == o.x && y == o.y && z == o.z && w == o.w; }
};

// ---------------------------------------------------------------------------
// Matrix

struct D3DXMATRIX : D3DMATRIX {
    D3DXMATRIX() : D3DMATRIX{} {}
    D3DXMATRIX(const D3DMATRIX& o) : D3DMATRIX(o) {}  // NOLINT: the library converts implicitly
    D3DXMATRIX(float m11, float m12, float m13, float m14, float m21, float m22, float m23, float m24,
               float m31, float m32, float m33, float m34, float m41, float m42, float m43, float m44)
        : D3DMATRIX{{{m11, m12, m13, m14}, {m21, m22, m23, m24}, {m31, m32, m33, m34}, {m41, m42, m43, m44}}} {}

    float& operator()(int row, int col) { return m[row][col]; }
    float operator()(int row, int col) const { return m[row][col]; }

    // this x o: applies this first, then o.
    D3DXMATRIX operator*(const D3DXMATRIX& o) const;
    D3DXMATRIX& operator*=(const D3DXMATRIX& o);
    bool operator==(const D3DXMATRIX& o) const;
};

// ---------------------------------------------------------------------------
// Quaternion (x, y, z vector part, w scalar part)

struct D3DXQUATERNION {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;

    D3DXQUATERNION() = default;
    D3DXQUATERNION(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}

    D3DXQUATERNION operator-() const { return {-x, -y, -z, -w}; }
    D3DXQUATERNION operator+(const D3DXQUATERNION& o) const { return {x + o.x, y + o.y, z + o.z, w + o.w}; }
    D3DXQUATERNION operator-(const D3DXQUATERNION& o) const { return {x - o.x, y - o.y, z - o.z, w - o.w}; }
    D3DXQUATERNION operator*(float s) const { return {x * s, y * s, z * s, w * s}; }
    friend D3DXQUATERNION operator*(float s, const D3DXQUATERNION& q) { return q * s; }
    // The library's product: this rotation first, then o (D3DXQuaternionMultiply).
    D3DXQUATERNION operator*(const D3DXQUATERNION& o) const;
    bool operator==(const D3DXQUATERNION& o) const { return x == o.x && y == o.y && z == o.z && w == o.w; }
};

// ---------------------------------------------------------------------------
// Plane a x + b y + c z + d = 0

struct D3DXPLANE {
    float a = 0.0f, b = 0.0f, c = 0.0f, d = 0.0f;

    D3DXPLANE() = default;
    D3DXPLANE(float a_, float b_, float c_, float d_) : a(a_), b(b_), c(c_), d(d_) {}
    bool operator==(const D3DXPLANE& o) const { return a == o.a && b == o.b && c == o.c && d == o.d; }
};

// ---------------------------------------------------------------------------
// Vector functions

inline float D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }
inline float D3DXVec3LengthSq(const D3DXVECTOR3* v) { return D3DXVec3Dot(v, v); }
inline float D3DXVec3Length(const D3DXVECTOR3* v) { return std::sqrt(D3DXVec3LengthSq(v)); }
D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Add(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Subtract(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Scale(D3DXVECTOR3* out, const D3DXVECTOR3* v, float s);
D3DXVECTOR3* D3DXVec3Minimize(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Maximize(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
// A zero vector stays zero.
D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v);
// a + s (b - a).
D3DXVECTOR3* D3DXVec3Lerp(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b, float s);
// (x, y, z, 1) x M, divided by the resulting w (left undivided where w is 0).
D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// (x, y, z, 0) x M: a direction, unaffected by translation.
D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// (x, y, z, 1) x M, the full four components.
D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);

inline float D3DXVec4Dot(const D3DXVECTOR4* a, const D3DXVECTOR4* b) {
    return a->x * b->x + a->y * b->y + a->z * b->z + a->w * b->w;
}
inline float D3DXVec4Length(const D3DXVECTOR4* v) { return std::sqrt(D3DXVec4Dot(v, v)); }
D3DXVECTOR4* D3DXVec4Transform(D3DXVECTOR4* out, const D3DXVECTOR4* v, const D3DXMATRIX* m);
// A zero vector stays zero.
D3DXVECTOR4* D3DXVec4Normalize(D3DXVECTOR4* out, const D3DXVECTOR4* v);

// ---------------------------------------------------------------------------
// Matrix functions

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out);
bool D3DXMatrixIsIdentity(const D3DXMATRIX* m);
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b);
D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m);
float D3DXMatrixDeterminant(const D3DXMATRIX* m);
// Null for a singular matrix, which leaves *out unchanged; the determinant is
// written to *determinant (when given) in either case.
D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz);
// Rotations seen looking from the positive axis toward the origin turn
// clockwise (left-handed): RotationY(pi/2) maps +X to -Z.
D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle);
// RotationZ(roll) x RotationX(pitch) x RotationY(yaw).
D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, float yaw, float pitch, float roll);
D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* out, const D3DXQUATERNION* q);
// Vertical field of view fovY: x scale cot(fovY/2)/aspect, y scale cot(fovY/2),
// z scale far/(far - near), z offset -near far/(far - near), w = z.
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zNear, float zFar);
// zaxis = normal(at - eye), xaxis = normal(cross(up, zaxis)), yaxis =
// cross(zaxis, xaxis); the axes are the columns, row 4 is -dot(axis, eye).
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at, const D3DXVECTOR3* up);
// m = scaling x rotation x translation. D3DERR_INVALIDCALL when a scale is 0;
// a mirroring matrix gives a negative x scale.
HRESULT D3DXMatrixDecompose(D3DXVECTOR3* scale, D3DXQUATERNION* rotation, D3DXVECTOR3* translation,
                            const D3DXMATRIX* m);

// ---------------------------------------------------------------------------
// Quaternion functions

D3DXQUATERNION* D3DXQuaternionIdentity(D3DXQUATERNION* out);
inline float D3DXQuaternionDot(const D3DXQUATERNION* a, const D3DXQUATERNION* b) {
    return a->x * b->x + a->y * b->y + a->z * b->z + a->w * b->w;
}
inline float D3DXQuaternionLength(const D3DXQUATERNION* q) { return std::sqrt(D3DXQuaternionDot(q, q)); }
D3DXQUATERNION* D3DXQuaternionRotationAxis(D3DXQUATERNION* out, const D3DXVECTOR3* axis, float angle);
// Roll about Z first, then pitch about X, then yaw about Y.
D3DXQUATERNION* D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* out, float yaw, float pitch, float roll);
// The rotation part of m (rows expected orthonormal); a unit quaternion.
D3DXQUATERNION* D3DXQuaternionRotationMatrix(D3DXQUATERNION* out, const D3DXMATRIX* m);
// A zero quaternion stays zero.
D3DXQUATERNION* D3DXQuaternionNormalize(D3DXQUATERNION* out, const D3DXQUATERNION* q);
// The rotation q1 followed by the rotation q2.
D3DXQUATERNION* D3DXQuaternionMultiply(D3DXQUATERNION* out, const D3DXQUATERNION* q1, const D3DXQUATERNION* q2);
// Conjugate divided by the squared length; a zero quaternion stays zero.
D3DXQUATERNION* D3DXQuaternionInverse(D3DXQUATERNION* out, const D3DXQUATERNION* q);
// For a unit quaternion (v sin t, cos t): (v t, 0).
D3DXQUATERNION* D3DXQuaternionLn(D3DXQUATERNION* out, const D3DXQUATERNION* q);
// For (v t, any w) with |v| = 1: (v sin t, cos t).
D3DXQUATERNION* D3DXQuaternionExp(D3DXQUATERNION* out, const D3DXQUATERNION* q);
// Spherical interpolation along the shorter arc.
D3DXQUATERNION* D3DXQuaternionSlerp(D3DXQUATERNION* out, const D3DXQUATERNION* q1, const D3DXQUATERNION* q2,
                                    float t);
// Slerp(Slerp(q1, c, t), Slerp(a, b, t), 2t(1 - t)).
D3DXQUATERNION* D3DXQuaternionSquad(D3DXQUATERNION* out, const D3DXQUATERNION* q1, const D3DXQUATERNION* a,
                                    const D3DXQUATERNION* b, const D3DXQUATERNION* c, float t);
// The control points a, b, c of a squad segment from q1 to q2 with neighbours
// q0 and q3, so that consecutive segments join smoothly.
void D3DXQuaternionSquadSetup(D3DXQUATERNION* aOut, D3DXQUATERNION* bOut, D3DXQUATERNION* cOut,
                              const D3DXQUATERNION* q0, const D3DXQUATERNION* q1, const D3DXQUATERNION* q2,
                              const D3DXQUATERNION* q3);

// ---------------------------------------------------------------------------
// Plane functions

// Normal normal(cross(p2 - p1, p3 - p1)) through p1: seen from the side the
// normal points to, p1, p2, p3 run clockwise (left-handed).
D3DXPLANE* D3DXPlaneFromPoints(D3DXPLANE* out, const D3DXVECTOR3* p1, const D3DXVECTOR3* p2, const D3DXVECTOR3* p3);
D3DXPLANE* D3DXPlaneFromPointNormal(D3DXPLANE* out, const D3DXVECTOR3* point, const D3DXVECTOR3* normal);
// Divides by the length of (a, b, c); a zero normal gives a zero plane.
D3DXPLANE* D3DXPlaneNormalize(D3DXPLANE* out, const D3DXPLANE* p);
inline float D3DXPlaneDotCoord(const D3DXPLANE* p, const D3DXVECTOR3* v) {
    return p->a * v->x + p->b * v->y + p->c * v->z + p->d;
}
inline float D3DXPlaneDotNormal(const D3DXPLANE* p, const D3DXVECTOR3* v) {
    return p->a * v->x + p->b * v->y + p->c * v->z;
}
// Where the infinite line through v1 and v2 meets the plane; null (output
// unchanged) when the line is parallel to the plane.
D3DXVECTOR3* D3DXPlaneIntersectLine(D3DXVECTOR3* out, const D3DXPLANE* p, const D3DXVECTOR3* v1,
                                    const D3DXVECTOR3* v2);
