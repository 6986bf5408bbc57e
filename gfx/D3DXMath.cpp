#include "gfx/D3DXMath.h"

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
    *out = D3DXMATRIX();
    out->m[0][0] = out->m[1][1] = out->m[2][2] = out->m[3][3] = 1.0f;
    return out;
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

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle) {
    D3DXMatrixIdentity(out);
    const float c = std::cos(angle), s = std::sin(angle);
    out->m[0][0] = c;
    out->m[0][2] = -s;
    out->m[2][0] = s;
    out->m[2][2] = c;
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

D3DXVECTOR4* D3DXVec4Transform(D3DXVECTOR4* out, const D3DXVECTOR4* v, const D3DXMATRIX* m) {
    const D3DXVECTOR4 in = *v;
    out->x = in.x * m->m[0][0] + in.y * m->m[1][0] + in.z * m->m[2][0] + in.w * m->m[3][0];
    out->y = in.x * m->m[0][1] + in.y * m->m[1][1] + in.z * m->m[2][1] + in.w * m->m[3][1];
    out->z = in.x * m->m[0][2] + in.y * m->m[1][2] + in.z * m->m[2][2] + in.w * m->m[3][2];
    out->w = in.x * m->m[0][3] + in.y * m->m[1][3] + in.z * m->m[2][3] + in.w * m->m[3][3];
    return out;
}
