#include "gfx/D3DXMath.h"

#include <algorithm>

// ---------------------------------------------------------------------------
// Member operators

D3DXMATRIX D3DXMATRIX::operator*(const D3DXMATRIX& o) const {
    D3DXMATRIX r;
    D3DXMatrixMultiply(&r, this, &o);
    return r;
}

D3DXMATRIX& D3DXMATRIX::operator*=(const D3DXMATRIX& o) {
    D3DXMatrixMultiply(this, this, &o);
    return *this;
}

bool D3DXMATRIX::operator==(const D3DXMATRIX& o) const {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (m[i][j] != o.m[i][j]) return false;
    return true;
}

D3DXQUATERNION D3DXQUATERNION::operator*(const D3DXQUATERNION& o) const {
    D3DXQUATERNION r;
    D3DXQuaternionMultiply(&r, this, &o);
    return r;
}

// ---------------------------------------------------------------------------
// Vectors

D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
    const D3DXVECTOR3 r(a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x);
    *out = r;
    return out;
}

D3DXVECTOR3* D3DXVec3Add(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
    *out = *a + *b;
    return out;
}

D3DXVECTOR3* D3DXVec3Subtract(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
    *out = *a - *b;
    return out;
}

D3DXVECTOR3* D3DXVec3Scale(D3DXVECTOR3* out, const D3DXVECTOR3* v, float s) {
    *out = *v * s;
    return out;
}

D3DXVECTOR3* D3DXVec3Minimize(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
    *out = D3DXVECTOR3(std::min(a->x, b->x), std::min(a->y, b->y), std::min(a->z, b->z));
    return out;
}

D3DXVECTOR3* D3DXVec3Maximize(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
    *out = D3DXVECTOR3(std::max(a->x, b->x), std::max(a->y, b->y), std::max(a->z, b->z));
    return out;
}

D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v) {
    const float length = D3DXVec3Length(v);
    *out = length > 0.0f ? *v / length : D3DXVECTOR3();
    return out;
}

D3DXVECTOR3* D3DXVec3Lerp(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b, float s) {
    *out = *a + (*b - *a) * s;
    return out;
}

D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    const D3DXVECTOR4 in(*v, 1.0f);
    return D3DXVec4Transform(out, &in, m);
}

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    D3DXVECTOR4 r;
    D3DXVec3Transform(&r, v, m);
    *out = r.w != 0.0f ? D3DXVECTOR3(r.x / r.w, r.y / r.w, r.z / r.w) : D3DXVECTOR3(r.x, r.y, r.z);
    return out;
}

D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    const D3DXVECTOR4 in(*v, 0.0f);
    D3DXVECTOR4 r;
    D3DXVec4Transform(&r, &in, m);
    *out = D3DXVECTOR3(r.x, r.y, r.z);
    return out;
}

D3DXVECTOR4* D3DXVec4Transform(D3DXVECTOR4* out, const D3DXVECTOR4* v, const D3DXMATRIX* m) {
    const D3DXVECTOR4 in = *v;
    out->x = in.x * m->m[0][0] + in.y * m->m[1][0] + in.z * m->m[2][0] + in.w * m->m[3][0];
    out->y = in.x * m->m[0][1] + in.y * m->m[1][1] + in.z * m->m[2][1] + in.w * m->m[3][1];
    out->z = in.x * m->m[0][2] + in.y * m->m[1][2] + in.z * m->m[2][2] + in.w * m->m[3][2];
    out->w = in.x * m->m[0][3] + in.y * m->m[1][3] + in.z * m->m[2][3] + in.w * m->m[3][3];
    return out;
}

D3DXVECTOR4* D3DXVec4Normalize(D3DXVECTOR4* out, const D3DXVECTOR4* v) {
    const float length = D3DXVec4Length(v);
    *out = length > 0.0f ? *v / length : D3DXVECTOR4();
    return out;
}

// ---------------------------------------------------------------------------
// Matrices

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
    *out = D3DXMATRIX();
    out->m[0][0] = out->m[1][1] = out->m[2][2] = out->m[3][3] = 1.0f;
    return out;
}

bool D3DXMatrixIsIdentity(const D3DXMATRIX* m) {
    D3DXMATRIX identity;
    return *m == *D3DXMatrixIdentity(&identity);
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
    D3DXMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = a->m[i][0] * b->m[0][j] + a->m[i][1] * b->m[1][j] + a->m[i][2] * b->m[2][j] +
                        a->m[i][3] * b->m[3][j];
    *out = r;
    return out;
}

D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m) {
    D3DXMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) r.m[i][j] = m->m[j][i];
    *out = r;
    return out;
}

namespace {

// The adjugate (transposed cofactors) and determinant of m, in double
// precision so that view x projection products keep their far-plane detail.
double Adjugate(const D3DXMATRIX& m, double adj[4][4]) {
    double a[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) a[i][j] = m.m[i][j];

    // 2x2 minors of the first two rows and of the last two rows.
    const double s0 = a[0][0] * a[1][1] - a[1][0] * a[0][1];
    const double s1 = a[0][0] * a[1][2] - a[1][0] * a[0][2];
    const double s2 = a[0][0] * a[1][3] - a[1][0] * a[0][3];
    const double s3 = a[0][1] * a[1][2] - a[1][1] * a[0][2];
    const double s4 = a[0][1] * a[1][3] - a[1][1] * a[0][3];
    const double s5 = a[0][2] * a[1][3] - a[1][2] * a[0][3];
    const double c5 = a[2][2] * a[3][3] - a[3][2] * a[2][3];
    const double c4 = a[2][1] * a[3][3] - a[3][1] * a[2][3];
    const double c3 = a[2][1] * a[3][2] - a[3][1] * a[2][2];
    const double c2 = a[2][0] * a[3][3] - a[3][0] * a[2][3];
    const double c1 = a[2][0] * a[3][2] - a[3][0] * a[2][2];
    const double c0 = a[2][0] * a[3][1] - a[3][0] * a[2][1];

    adj[0][0] = a[1][1] * c5 - a[1][2] * c4 + a[1][3] * c3;
    adj[0][1] = -a[0][1] * c5 + a[0][2] * c4 - a[0][3] * c3;
    adj[0][2] = a[3][1] * s5 - a[3][2] * s4 + a[3][3] * s3;
    adj[0][3] = -a[2][1] * s5 + a[2][2] * s4 - a[2][3] * s3;
    adj[1][0] = -a[1][0] * c5 + a[1][2] * c2 - a[1][3] * c1;
    adj[1][1] = a[0][0] * c5 - a[0][2] * c2 + a[0][3] * c1;
    adj[1][2] = -a[3][0] * s5 + a[3][2] * s2 - a[3][3] * s1;
    adj[1][3] = a[2][0] * s5 - a[2][2] * s2 + a[2][3] * s1;
    adj[2][0] = a[1][0] * c4 - a[1][1] * c2 + a[1][3] * c0;
    adj[2][1] = -a[0][0] * c4 + a[0][1] * c2 - a[0][3] * c0;
    adj[2][2] = a[3][0] * s4 - a[3][1] * s2 + a[3][3] * s0;
    adj[2][3] = -a[2][0] * s4 + a[2][1] * s2 - a[2][3] * s0;
    adj[3][0] = -a[1][0] * c3 + a[1][1] * c1 - a[1][2] * c0;
    adj[3][1] = a[0][0] * c3 - a[0][1] * c1 + a[0][2] * c0;
    adj[3][2] = -a[3][0] * s3 + a[3][1] * s1 - a[3][2] * s0;
    adj[3][3] = a[2][0] * s3 - a[2][1] * s1 + a[2][2] * s0;

    return s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
}

}  // namespace

float D3DXMatrixDeterminant(const D3DXMATRIX* m) {
    double adj[4][4];
    return static_cast<float>(Adjugate(*m, adj));
}

D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m) {
    double adj[4][4];
    const double det = Adjugate(*m, adj);
    if (determinant) *determinant = static_cast<float>(det);
    if (det == 0.0 || !std::isfinite(det)) return nullptr;
    const double inv = 1.0 / det;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out->m[i][j] = static_cast<float>(adj[i][j] * inv);
    return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
    D3DXMatrixIdentity(out);
    out->m[3][0] = x;
    out->m[3][1] = y;
    out->m[3][2] = z;
    return out;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz) {
    D3DXMatrixIdentity(out);
    out->m[0][0] = sx;
    out->m[1][1] = sy;
    out->m[2][2] = sz;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle) {
    D3DXMatrixIdentity(out);
    const float c = std::cos(angle), s = std::sin(angle);
    out->m[1][1] = c;
    out->m[1][2] = s;
    out->m[2][1] = -s;
    out->m[2][2] = c;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle) {
    D3DXMatrixIdentity(out);
    const float c = std::cos(angle), s = std::sin(angle);
    out->m[0][0] = c;
    out->m[0][2] = -s;
    out->m[2][0] = s;
    out->m[2][2] = c;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle) {
    D3DXMatrixIdentity(out);
    const float c = std::cos(angle), s = std::sin(angle);
    out->m[0][0] = c;
    out->m[0][1] = s;
    out->m[1][0] = -s;
    out->m[1][1] = c;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, float yaw, float pitch, float roll) {
    D3DXMATRIX z, x, y;
    D3DXMatrixRotationZ(&z, roll);
    D3DXMatrixRotationX(&x, pitch);
    D3DXMatrixRotationY(&y, yaw);
    *out = z * x * y;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* out, const D3DXQUATERNION* q) {
    const float x = q->x, y = q->y, z = q->z, w = q->w;
    D3DXMatrixIdentity(out);
    out->m[0][0] = 1.0f - 2.0f * (y * y + z * z);
    out->m[0][1] = 2.0f * (x * y + z * w);
    out->m[0][2] = 2.0f * (x * z - y * w);
    out->m[1][0] = 2.0f * (x * y - z * w);
    out->m[1][1] = 1.0f - 2.0f * (x * x + z * z);
    out->m[1][2] = 2.0f * (y * z + x * w);
    out->m[2][0] = 2.0f * (x * z + y * w);
    out->m[2][1] = 2.0f * (y * z - x * w);
    out->m[2][2] = 1.0f - 2.0f * (x * x + y * y);
    return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zNear, float zFar) {
    *out = D3DXMATRIX();
    const float yScale = 1.0f / std::tan(fovY / 2.0f);
    out->m[0][0] = yScale / aspect;
    out->m[1][1] = yScale;
    out->m[2][2] = zFar / (zFar - zNear);
    out->m[2][3] = 1.0f;
    out->m[3][2] = -zNear * zFar / (zFar - zNear);
    return out;
}

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up) {
    D3DXVECTOR3 xaxis, yaxis, zaxis;
    const D3DXVECTOR3 forward = *at - *eye;
    D3DXVec3Normalize(&zaxis, &forward);
    D3DXVec3Cross(&xaxis, up, &zaxis);
    D3DXVec3Normalize(&xaxis, &xaxis);
    D3DXVec3Cross(&yaxis, &zaxis, &xaxis);
    *out = D3DXMATRIX(xaxis.x, yaxis.x, zaxis.x, 0.0f,  //
                      xaxis.y, yaxis.y, zaxis.y, 0.0f,  //
                      xaxis.z, yaxis.z, zaxis.z, 0.0f,  //
                      -D3DXVec3Dot(&xaxis, eye), -D3DXVec3Dot(&yaxis, eye), -D3DXVec3Dot(&zaxis, eye), 1.0f);
    return out;
}

HRESULT D3DXMatrixDecompose(D3DXVECTOR3* scale, D3DXQUATERNION* rotation, D3DXVECTOR3* translation,
                            const D3DXMATRIX* m) {
    D3DXVECTOR3 rows[3];
    float lengths[3];
    for (int i = 0; i < 3; ++i) {
        rows[i] = D3DXVECTOR3(m->m[i][0], m->m[i][1], m->m[i][2]);
        lengths[i] = D3DXVec3Length(&rows[i]);
        if (lengths[i] == 0.0f) return D3DERR_INVALIDCALL;
    }
    D3DXVECTOR3 cross;
    D3DXVec3Cross(&cross, &rows[0], &rows[1]);
    if (D3DXVec3Dot(&cross, &rows[2]) < 0.0f) lengths[0] = -lengths[0];

    D3DXMATRIX pure;
    D3DXMatrixIdentity(&pure);
    for (int i = 0; i < 3; ++i) {
        const D3DXVECTOR3 r = rows[i] / lengths[i];
        pure.m[i][0] = r.x;
        pure.m[i][1] = r.y;
        pure.m[i][2] = r.z;
    }
    *scale = D3DXVECTOR3(lengths[0], lengths[1], lengths[2]);
    D3DXQuaternionRotationMatrix(rotation, &pure);
    *translation = D3DXVECTOR3(m->m[3][0], m->m[3][1], m->m[3][2]);
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Quaternions

D3DXQUATERNION* D3DXQuaternionIdentity(D3DXQUATERNION* out) {
    *out = D3DXQUATERNION(0.0f, 0.0f, 0.0f, 1.0f);
    return out;
}

D3DXQUATERNION* D3DXQuaternionRotationAxis(D3DXQUATERNION* out, const D3DXVECTOR3* axis, float angle) {
    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, axis);
    const float s = std::sin(angle / 2.0f);
    *out = D3DXQUATERNION(n.x * s, n.y * s, n.z * s, std::cos(angle / 2.0f));
    return out;
}

D3DXQUATERNION* D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* out, float yaw, float pitch, float roll) {
    const float sy = std::sin(yaw / 2.0f), cy = std::cos(yaw / 2.0f);
    const float sp = std::sin(pitch / 2.0f), cp = std::cos(pitch / 2.0f);
    const float sr = std::sin(roll / 2.0f), cr = std::cos(roll / 2.0f);
    // yaw (x) pitch (x) roll as Hamilton products: roll acts first.
    *out = D3DXQUATERNION(cy * sp * cr + sy * cp * sr,  //
                          sy * cp * cr - cy * sp * sr,  //
                          cy * cp * sr - sy * sp * cr,  //
                          cy * cp * cr + sy * sp * sr);
    return out;
}

D3DXQUATERNION* D3DXQuaternionRotationMatrix(D3DXQUATERNION* out, const D3DXMATRIX* m) {
    const float m00 = m->m[0][0], m11 = m->m[1][1], m22 = m->m[2][2];
    const float trace = m00 + m11 + m22;
    D3DXQUATERNION q;
    if (trace > 0.0f) {
        const float s = 2.0f * std::sqrt(trace + 1.0f);  // 4w
        q.w = s / 4.0f;
        q.x = (m->m[1][2] - m->m[2][1]) / s;
        q.y = (m->m[2][0] - m->m[0][2]) / s;
        q.z = (m->m[0][1] - m->m[1][0]) / s;
    } else if (m00 >= m11 && m00 >= m22) {
        const float s = 2.0f * std::sqrt(std::max(0.0f, 1.0f + m00 - m11 - m22));  // 4x
        q.x = s / 4.0f;
        q.y = (m->m[0][1] + m->m[1][0]) / s;
        q.z = (m->m[0][2] + m->m[2][0]) / s;
        q.w = (m->m[1][2] - m->m[2][1]) / s;
    } else if (m11 >= m22) {
        const float s = 2.0f * std::sqrt(std::max(0.0f, 1.0f - m00 + m11 - m22));  // 4y
        q.y = s / 4.0f;
        q.x = (m->m[0][1] + m->m[1][0]) / s;
        q.z = (m->m[1][2] + m->m[2][1]) / s;
        q.w = (m->m[2][0] - m->m[0][2]) / s;
    } else {
        const float s = 2.0f * std::sqrt(std::max(0.0f, 1.0f - m00 - m11 + m22));  // 4z
        q.z = s / 4.0f;
        q.x = (m->m[0][2] + m->m[2][0]) / s;
        q.y = (m->m[1][2] + m->m[2][1]) / s;
        q.w = (m->m[0][1] - m->m[1][0]) / s;
    }
    return D3DXQuaternionNormalize(out, &q);
}

D3DXQUATERNION* D3DXQuaternionNormalize(D3DXQUATERNION* out, const D3DXQUATERNION* q) {
    const float length = D3DXQuaternionLength(q);
    *out = length > 0.0f ? *q * (1.0f / length) : D3DXQUATERNION();
    return out;
}

D3DXQUATERNION* D3DXQuaternionMultiply(D3DXQUATERNION* out, const D3DXQUATERNION* q1, const D3DXQUATERNION* q2) {
    // The Hamilton product q2 q1: rotating by it is rotating by q1, then q2.
    const D3DXQUATERNION a = *q2, b = *q1;
    *out = D3DXQUATERNION(a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,  //
                          a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,  //
                          a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,  //
                          a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z);
    return out;
}

D3DXQUATERNION* D3DXQuaternionInverse(D3DXQUATERNION* out, const D3DXQUATERNION* q) {
    const float lengthSq = D3DXQuaternionDot(q, q);
    *out = lengthSq > 0.0f ? D3DXQUATERNION(-q->x, -q->y, -q->z, q->w) * (1.0f / lengthSq) : D3DXQUATERNION();
    return out;
}

D3DXQUATERNION* D3DXQuaternionLn(D3DXQUATERNION* out, const D3DXQUATERNION* q) {
    const float sinTheta = std::sqrt(q->x * q->x + q->y * q->y + q->z * q->z);
    float k = 1.0f;
    if (sinTheta > 0.0f) {
        const float theta = std::atan2(sinTheta, q->w);
        k = theta / sinTheta;
    }
    *out = D3DXQUATERNION(q->x * k, q->y * k, q->z * k, 0.0f);
    return out;
}

D3DXQUATERNION* D3DXQuaternionExp(D3DXQUATERNION* out, const D3DXQUATERNION* q) {
    const float theta = std::sqrt(q->x * q->x + q->y * q->y + q->z * q->z);
    const float k = theta > 0.0f ? std::sin(theta) / theta : 1.0f;
    *out = D3DXQUATERNION(q->x * k, q->y * k, q->z * k, std::cos(theta));
    return out;
}

D3DXQUATERNION* D3DXQuaternionSlerp(D3DXQUATERNION* out, const D3DXQUATERNION* q1, const D3DXQUATERNION* q2,
                                    float t) {
    float dot = D3DXQuaternionDot(q1, q2);
    float sign = 1.0f;
    if (dot < 0.0f) {
        dot = -dot;
        sign = -1.0f;
    }
    float k1 = 1.0f - t, k2 = t;
    if (dot < 0.9999f) {
        const float theta = std::acos(dot);
        const float s = std::sin(theta);
        k1 = std::sin((1.0f - t) * theta) / s;
        k2 = std::sin(t * theta) / s;
    }
    *out = *q1 * k1 + *q2 * (k2 * sign);
    return out;
}

D3DXQUATERNION* D3DXQuaternionSquad(D3DXQUATERNION* out, const D3DXQUATERNION* q1, const D3DXQUATERNION* a,
                                    const D3DXQUATERNION* b, const D3DXQUATERNION* c, float t) {
    D3DXQUATERNION outer, inner;
    D3DXQuaternionSlerp(&outer, q1, c, t);
    D3DXQuaternionSlerp(&inner, a, b, t);
    return D3DXQuaternionSlerp(out, &outer, &inner, 2.0f * t * (1.0f - t));
}

namespace {

D3DXQUATERNION SameHemisphere(const D3DXQUATERNION& reference, const D3DXQUATERNION& q) {
    const D3DXQUATERNION sum = reference + q, difference = reference - q;
    return D3DXQuaternionDot(&sum, &sum) < D3DXQuaternionDot(&difference, &difference) ? -q : q;
}

// q exp(-(ln(q^-1 next) + ln(q^-1 previous)) / 4), in the library's products.
D3DXQUATERNION SquadInnerPoint(const D3DXQUATERNION& previous, const D3DXQUATERNION& q,
                               const D3DXQUATERNION& next) {
    D3DXQUATERNION inverse, toNext, toPrevious;
    D3DXQuaternionInverse(&inverse, &q);
    D3DXQuaternionMultiply(&toNext, &inverse, &next);
    D3DXQuaternionMultiply(&toPrevious, &inverse, &previous);
    D3DXQuaternionLn(&toNext, &toNext);
    D3DXQuaternionLn(&toPrevious, &toPrevious);
    D3DXQUATERNION tangent = (toNext + toPrevious) * -0.25f;
    D3DXQuaternionExp(&tangent, &tangent);
    D3DXQUATERNION result;
    D3DXQuaternionMultiply(&result, &q, &tangent);
    return result;
}

}  // namespace

void D3DXQuaternionSquadSetup(D3DXQUATERNION* aOut, D3DXQUATERNION* bOut, D3DXQUATERNION* cOut,
                              const D3DXQUATERNION* q0, const D3DXQUATERNION* q1, const D3DXQUATERNION* q2,
                              const D3DXQUATERNION* q3) {
    // Each neighbour on the same hemisphere as the point before it.
    const D3DXQUATERNION p1 = *q1;
    const D3DXQUATERNION p0 = SameHemisphere(p1, *q0);
    const D3DXQUATERNION p2 = SameHemisphere(p1, *q2);
    const D3DXQUATERNION p3 = SameHemisphere(p2, *q3);
    const D3DXQUATERNION a = SquadInnerPoint(p0, p1, p2);
    const D3DXQUATERNION b = SquadInnerPoint(p1, p2, p3);
    *aOut = a;
    *bOut = b;
    *cOut = p2;
}

// ---------------------------------------------------------------------------
// Planes

D3DXPLANE* D3DXPlaneFromPointNormal(D3DXPLANE* out, const D3DXVECTOR3* point, const D3DXVECTOR3* normal) {
    *out = D3DXPLANE(normal->x, normal->y, normal->z, -D3DXVec3Dot(point, normal));
    return out;
}

D3DXPLANE* D3DXPlaneFromPoints(D3DXPLANE* out, const D3DXVECTOR3* p1, const D3DXVECTOR3* p2, const D3DXVECTOR3* p3) {
    const D3DXVECTOR3 edge1 = *p2 - *p1, edge2 = *p3 - *p1;
    D3DXVECTOR3 normal;
    D3DXVec3Cross(&normal, &edge1, &edge2);
    D3DXVec3Normalize(&normal, &normal);
    return D3DXPlaneFromPointNormal(out, p1, &normal);
}

D3DXPLANE* D3DXPlaneNormalize(D3DXPLANE* out, const D3DXPLANE* p) {
    const float length = std::sqrt(p->a * p->a + p->b * p->b + p->c * p->c);
    if (length > 0.0f) {
        const float k = 1.0f / length;
        *out = D3DXPLANE(p->a * k, p->b * k, p->c * k, p->d * k);
    } else {
        *out = D3DXPLANE();
    }
    return out;
}

D3DXVECTOR3* D3DXPlaneIntersectLine(D3DXVECTOR3* out, const D3DXPLANE* p, const D3DXVECTOR3* v1,
                                    const D3DXVECTOR3* v2) {
    const D3DXVECTOR3 direction = *v2 - *v1;
    const float along = D3DXPlaneDotNormal(p, &direction);
    if (along == 0.0f) return nullptr;
    const float t = D3DXPlaneDotCoord(p, v1) / along;
    *out = *v1 - direction * t;
    return out;
}
