// The proxy mesh of a model: loaded with it, kept in system memory with
// position, normal and one texture set, released with it; nothing draws it.
#pragma once

#include "gfx/D3DXMesh.h"
#include "gfx/VertexProgramAsm.h"
#include "gfx/Device.h"
#include "gfx/XFile.h"

class DammyMesh {
public:
    DammyMesh() = default;
    DammyMesh(const DammyMesh&) = delete;
    DammyMesh& operator=(const DammyMesh&) = delete;
    ~DammyMesh() { Release(); }

    HRESULT Load(Direct3DDevice8* device, XFileData* meshObject);
    HRESULT Release();

    const char* Name() const { return m_szName; }
    D3DXMesh* Mesh() const { return m_pMesh; }

private:
    char m_szName[512] = {};
    D3DXMesh* m_pMesh = nullptr;
};
