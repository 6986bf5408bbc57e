// What the three source files of SkinnedMesh share: the lifecycle and the
// animation (SkinnedMesh.cpp), the loading (SkinnedMeshLoad.cpp) and the
// drawing (SkinnedMeshDraw.cpp).
#pragma once

#include "gfx/D3DXMath.h"

namespace skinned_mesh {

// Releases a COM-style object and clears the pointer.
template <class T>
void SafeRelease(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

inline D3DXMATRIX Identity() {
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    return m;
}

}  // namespace skinned_mesh
