// The extension library's mesh records.
#pragma once

#include "gfx/D3D8Types.h"

// One range of a mesh's faces that share an attribute (a material).
struct D3DXATTRIBUTERANGE {
    DWORD AttribId;
    DWORD FaceStart;
    DWORD FaceCount;
    DWORD VertexStart;
    DWORD VertexCount;
};
