// The drawing side of D3DXMesh: the device it belongs to, device buffers made
// from its arrays, and DrawSubset.
#include <algorithm>
#include <cstring>

#include "gfx/D3DXMesh.h"
#include "gfx/Device.h"
#include "gfx/DeviceResources.h"

namespace {

D3DPOOL PoolOf(DWORD options, DWORD systemMemBit, DWORD managedBit) {
    if (options & systemMemBit) return D3DPOOL_SYSTEMMEM;
    if (options & managedBit) return D3DPOOL_MANAGED;
    return D3DPOOL_DEFAULT;
}

DWORD UsageOf(DWORD options, DWORD writeOnlyBit, DWORD dynamicBit, DWORD softwareBit) {
    DWORD usage = 0;
    if (options & writeOnlyBit) usage |= D3DUSAGE_WRITEONLY;
    if (options & dynamicBit) usage |= D3DUSAGE_DYNAMIC;
    if (options & softwareBit) usage |= D3DUSAGE_SOFTWAREPROCESSING;
    return usage;
}

// Copies `size` bytes into the whole of a device buffer.
template <class Buffer>
HRESULT Fill(Buffer* buffer, const void* data, std::size_t size) {
    BYTE* target = nullptr;
    HRESULT hr = buffer->Lock(0, 0, &target, 0);
    if (FAILED(hr)) return hr;
    std::memcpy(target, data, std::min<std::size_t>(size, buffer->Size()));
    return buffer->Unlock();
}

}  // namespace

D3DXMesh::~D3DXMesh() {
    if (m_pVertexBuffer) m_pVertexBuffer->Release();
    if (m_pIndexBuffer) m_pIndexBuffer->Release();
    if (m_pDevice) m_pDevice->Release();
}

void D3DXMesh::AttachDevice(Direct3DDevice8* device) {
    if (device) device->AddRef();
    if (m_pDevice) m_pDevice->Release();
    m_pDevice = device;
}

HRESULT D3DXMesh::GetDevice(Direct3DDevice8** device) {
    if (device == nullptr) return D3DERR_INVALIDCALL;
    *device = m_pDevice;
    if (m_pDevice == nullptr) return D3DERR_INVALIDCALL;
    m_pDevice->AddRef();
    return S_OK;
}

HRESULT D3DXMesh::GetVertexBuffer(Direct3DVertexBuffer8** vertexBuffer) {
    if (vertexBuffer == nullptr) return D3DERR_INVALIDCALL;
    *vertexBuffer = nullptr;
    if (m_pDevice == nullptr) return D3DERR_INVALIDCALL;
    if (m_pVertexBuffer == nullptr) {
        const HRESULT hr = m_pDevice->CreateVertexBuffer(
            static_cast<UINT>(m_Vertices.size()),
            UsageOf(m_dwOptions, D3DXMESH_VB_WRITEONLY, D3DXMESH_VB_DYNAMIC, D3DXMESH_VB_SOFTWAREPROCESSING), m_dwFVF,
            PoolOf(m_dwOptions, D3DXMESH_VB_SYSTEMMEM, D3DXMESH_VB_MANAGED), &m_pVertexBuffer);
        if (FAILED(hr)) return hr;
        m_bVerticesChanged = true;
    }
    if (m_bVerticesChanged) {
        const HRESULT hr = Fill(m_pVertexBuffer, m_Vertices.data(), m_Vertices.size());
        if (FAILED(hr)) return hr;
        // A lock still open may write on after this fill.
        m_bVerticesChanged = m_bVerticesLocked;
    }
    m_pVertexBuffer->AddRef();
    *vertexBuffer = m_pVertexBuffer;
    return S_OK;
}

HRESULT D3DXMesh::GetIndexBuffer(Direct3DIndexBuffer8** indexBuffer) {
    if (indexBuffer == nullptr) return D3DERR_INVALIDCALL;
    *indexBuffer = nullptr;
    if (m_pDevice == nullptr) return D3DERR_INVALIDCALL;
    if (m_pIndexBuffer == nullptr) {
        const HRESULT hr = m_pDevice->CreateIndexBuffer(
            static_cast<UINT>(m_Indices.size() * sizeof(WORD)),
            UsageOf(m_dwOptions, D3DXMESH_IB_WRITEONLY, D3DXMESH_IB_DYNAMIC, D3DXMESH_IB_SOFTWAREPROCESSING),
            D3DFMT_INDEX16, PoolOf(m_dwOptions, D3DXMESH_IB_SYSTEMMEM, D3DXMESH_IB_MANAGED), &m_pIndexBuffer);
        if (FAILED(hr)) return hr;
        m_bIndicesChanged = true;
    }
    if (m_bIndicesChanged) {
        const HRESULT hr = Fill(m_pIndexBuffer, m_Indices.data(), m_Indices.size() * sizeof(WORD));
        if (FAILED(hr)) return hr;
        m_bIndicesChanged = m_bIndicesLocked;
    }
    m_pIndexBuffer->AddRef();
    *indexBuffer = m_pIndexBuffer;
    return S_OK;
}

HRESULT D3DXMesh::DrawRange(DWORD faceStart, DWORD faceCount, DWORD vertexStart, DWORD vertexCount) {
    if (faceCount == 0) return S_OK;
    return m_pDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, vertexStart, vertexCount, faceStart * 3, faceCount);
}

HRESULT D3DXMesh::DrawSubset(DWORD attribId) {
    if (m_pDevice == nullptr) return D3DERR_INVALIDCALL;
    const DWORD faces = GetNumFaces();
    const bool any = m_AttribTable.empty()
                         ? std::find(m_Attributes.begin(), m_Attributes.end(), attribId) != m_Attributes.end()
                         : std::any_of(m_AttribTable.begin(), m_AttribTable.end(), [&](const D3DXATTRIBUTERANGE& r) {
                               return r.AttribId == attribId && r.FaceCount > 0;
                           });
    if (!any) return S_OK;

    Direct3DVertexBuffer8* vertexBuffer = nullptr;
    HRESULT hr = GetVertexBuffer(&vertexBuffer);
    if (FAILED(hr)) return hr;
    Direct3DIndexBuffer8* indexBuffer = nullptr;
    hr = GetIndexBuffer(&indexBuffer);
    if (SUCCEEDED(hr)) hr = m_pDevice->SetStreamSource(0, vertexBuffer, m_dwStride);
    if (SUCCEEDED(hr)) hr = m_pDevice->SetIndices(indexBuffer, 0);
    if (SUCCEEDED(hr)) hr = m_pDevice->SetVertexShader(m_dwFVF);
    // The device holds its own references to bound buffers; the mesh keeps
    // its own in m_pVertexBuffer and m_pIndexBuffer.
    vertexBuffer->Release();
    if (indexBuffer) indexBuffer->Release();
    if (FAILED(hr)) return hr;

    if (!m_AttribTable.empty()) {
        for (const D3DXATTRIBUTERANGE& r : m_AttribTable) {
            if (r.AttribId != attribId) continue;
            hr = DrawRange(r.FaceStart, r.FaceCount, r.VertexStart, r.VertexCount);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }
    for (DWORD start = 0; start < faces;) {
        if (m_Attributes[start] != attribId) {
            ++start;
            continue;
        }
        DWORD end = start;
        DWORD low = UNUSED32;
        DWORD high = 0;
        while (end < faces && m_Attributes[end] == attribId) {
            for (DWORD k = 0; k < 3; ++k) {
                const DWORD v = m_Indices[end * 3 + k];
                low = std::min(low, v);
                high = std::max(high, v);
            }
            ++end;
        }
        hr = DrawRange(start, end - start, low, high - low + 1);
        if (FAILED(hr)) return hr;
        start = end;
    }
    return S_OK;
}
