// What the scene sees of the camera: the view volume that visibility is
// tested against, and the camera's matrices for one frame's drawing.
#pragma once

#include "gfx/D3DXMath.h"

// The view volume in world space. Corner i is the image of the clip-space
// point with x = -1/+1 by bit 0, y = -1/+1 by bit 1 and depth 0/1 by bit 2,
// so corners 0 to 3 lie on the near plane and 4 to 7 on the far plane.
// The planes are near, far, left, right, top, bottom; their normals point into
// the volume, so a visible point has a non-negative D3DXPlaneDotCoord with all
// six.
struct ViewFrustum {
    D3DXVECTOR3 vecFrustum[8];
    D3DXPLANE planeFrustum[6];
};

// The camera as the objects that draw themselves need it.
struct CameraView {
    D3DXMATRIX world;       // camera to world; its translation row is the eye
    D3DXMATRIX view;        // the inverse of world
    D3DXMATRIX projection;
    ViewFrustum frustum;
};
