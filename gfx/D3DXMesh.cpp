#include "gfx/D3DXMesh.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>

#include "gfx/DeviceResources.h"
#include "gfx/VertexFormat.h"
#include "gfx/VertexProgramAsm.h"

namespace {

D3DXVECTOR3 ReadVector(const BYTE* p) {
    D3DXVECTOR3 v;
    std::memcpy(&v.x, p, sizeof(float));
    std::memcpy(&v.y, p + 4, sizeof(float));
    std::memcpy(&v.z, p + 8, sizeof(float));
    return v;
}

void WriteVector(BYTE* p, const D3DXVECTOR3& v) {
    std::memcpy(p, &v.x, sizeof(float));
    std::memcpy(p + 4, &v.y, sizeof(float));
    std::memcpy(p + 8, &v.z, sizeof(float));
}

UINT FloatCount(ElementType type) {
    switch (type) {
        case ElementType::Float1: return 1;
        case ElementType::Float2: return 2;
        case ElementType::Float3: return 3;
        case ElementType::Float4: return 4;
        default: return 0;
    }
}

// Bytes of a source element that a destination element takes over: float
// vectors share their common components, other types only their own kind.
UINT CopyableBytes(ElementType from, ElementType to) {
    if (from == ElementType::None || to == ElementType::None) return 0;
    const UINT a = FloatCount(from);
    const UINT b = FloatCount(to);
    if (a > 0 && b > 0) return std::min(a, b) * 4;
    return from == to ? ElementSize(from) : 0;
}

// Union-find over vertex indices.
struct PointSets {
    std::vector<DWORD> parent;
    explicit PointSets(DWORD count) : parent(count) { std::iota(parent.begin(), parent.end(), 0); }
    DWORD Find(DWORD v) {
        while (parent[v] != v) {
            parent[v] = parent[parent[v]];
            v = parent[v];
        }
        return v;
    }
    void Join(DWORD a, DWORD b) {
        a = Find(a);
        b = Find(b);
        if (a != b) parent[std::max(a, b)] = std::min(a, b);
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// Creation and access

DWORD D3DXMesh::Release() {
    const DWORD refs = --m_dwRefs;
    if (refs == 0) delete this;
    return refs;
}

HRESULT D3DXCreateMeshFVF(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, Direct3DDevice8* device,
                          D3DXMesh** mesh) {
    if (mesh == nullptr) return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    if (options & D3DXMESH_32BIT) return E_NOTIMPL;
    if (numFaces == 0 || numVertices == 0 || numVertices > kD3DXMaxMeshVertices) return D3DERR_INVALIDCALL;
    if (numFaces > kD3DXMaxMeshFaces) return E_OUTOFMEMORY;
    VertexLayout layout;
    if (!LayoutFromFVF(fvf, layout)) return D3DERR_INVALIDCALL;
    D3DXMesh* created = new (std::nothrow) D3DXMesh;
    if (created == nullptr) return E_OUTOFMEMORY;
    try {
        created->m_dwFVF = fvf;
        created->m_dwOptions = options;
        created->m_dwStride = layout.stride;
        created->m_dwNumVertices = numVertices;
        created->m_Vertices.assign(static_cast<std::size_t>(numVertices) * layout.stride, 0);
        created->m_Indices.assign(static_cast<std::size_t>(numFaces) * 3, 0);
        created->m_Attributes.assign(numFaces, 0);
    } catch (const std::bad_alloc&) {
        created->Release();
        return E_OUTOFMEMORY;
    }
    created->AttachDevice(device);
    *mesh = created;
    return S_OK;
}

HRESULT D3DXMesh::LockVertexBuffer(DWORD flags, BYTE** data) {
    if (data == nullptr) return D3DERR_INVALIDCALL;
    *data = m_Vertices.data();
    if (!(flags & D3DLOCK_READONLY)) {
        m_bVerticesChanged = true;
        m_bVerticesLocked = true;
    }
    return S_OK;
}

HRESULT D3DXMesh::UnlockVertexBuffer() {
    m_bVerticesLocked = false;
    return S_OK;
}

HRESULT D3DXMesh::LockIndexBuffer(DWORD flags, BYTE** data) {
    if (data == nullptr) return D3DERR_INVALIDCALL;
    *data = reinterpret_cast<BYTE*>(m_Indices.data());
    if (!(flags & D3DLOCK_READONLY)) {
        m_bIndicesChanged = true;
        m_bIndicesLocked = true;
    }
    return S_OK;
}

HRESULT D3DXMesh::UnlockIndexBuffer() {
    m_bIndicesLocked = false;
    return S_OK;
}

HRESULT D3DXMesh::LockAttributeBuffer(DWORD /*flags*/, DWORD** data) {
    if (data == nullptr) return D3DERR_INVALIDCALL;
    *data = m_Attributes.data();
    return S_OK;
}

HRESULT D3DXMesh::UnlockAttributeBuffer() { return S_OK; }

HRESULT D3DXMesh::GetAttributeTable(D3DXATTRIBUTERANGE* table, DWORD* count) const {
    if (count == nullptr) return D3DERR_INVALIDCALL;
    const DWORD size = static_cast<DWORD>(m_AttribTable.size());
    if (table == nullptr) {
        *count = size;
        return S_OK;
    }
    const DWORD copied = std::min(*count, size);
    std::copy_n(m_AttribTable.begin(), copied, table);
    *count = copied;
    return S_OK;
}

HRESULT D3DXMesh::SetAttributeTable(const D3DXATTRIBUTERANGE* table, DWORD count) {
    if (table == nullptr && count > 0) return D3DERR_INVALIDCALL;
    const DWORD faces = GetNumFaces();
    for (DWORD i = 0; i < count; ++i) {
        const D3DXATTRIBUTERANGE& r = table[i];
        if (r.FaceStart > faces || r.FaceCount > faces - r.FaceStart || r.VertexStart > m_dwNumVertices ||
            r.VertexCount > m_dwNumVertices - r.VertexStart) {
            return D3DERR_INVALIDCALL;
        }
    }
    m_AttribTable.assign(table, table + count);
    return S_OK;
}

bool D3DXMesh::IndicesInRange() const {
    return std::all_of(m_Indices.begin(), m_Indices.end(), [&](WORD v) { return v < m_dwNumVertices; });
}

// ---------------------------------------------------------------------------
// Clone

HRESULT D3DXMesh::CloneMeshFVF(DWORD options, DWORD fvf, Direct3DDevice8* device, D3DXMesh** cloned) const {
    if (cloned == nullptr) return D3DERR_INVALIDCALL;
    *cloned = nullptr;
    VertexLayout from;
    VertexLayout to;
    if (!LayoutFromFVF(m_dwFVF, from) || !LayoutFromFVF(fvf, to)) return D3DERR_INVALIDCALL;
    D3DXMesh* out = nullptr;
    HRESULT hr = D3DXCreateMeshFVF(GetNumFaces(), m_dwNumVertices, options, fvf, device ? device : m_pDevice, &out);
    if (FAILED(hr)) return hr;
    try {
        out->m_Indices = m_Indices;
        out->m_Attributes = m_Attributes;
        out->m_AttribTable = m_AttribTable;
    } catch (const std::bad_alloc&) {
        out->Release();
        return E_OUTOFMEMORY;
    }
    for (std::size_t reg = 0; reg < kVertexRegisters; ++reg) {
        const VertexElement& a = from.elements[reg];
        const VertexElement& b = to.elements[reg];
        const UINT bytes = CopyableBytes(a.type, b.type);
        if (bytes == 0) continue;
        for (DWORD v = 0; v < m_dwNumVertices; ++v) {
            std::memcpy(&out->m_Vertices[static_cast<std::size_t>(v) * to.stride + b.offset],
                        &m_Vertices[static_cast<std::size_t>(v) * from.stride + a.offset], bytes);
        }
    }
    *cloned = out;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Optimize

HRESULT D3DXMesh::Optimize(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                           D3DXBuffer** vertexRemap, D3DXMesh** optimized) const {
    if (optimized == nullptr) return D3DERR_INVALIDCALL;
    *optimized = nullptr;
    if (vertexRemap) *vertexRemap = nullptr;
    if (flags & (D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER)) {
        flags |= D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_COMPACT;
    }
    const bool sort = (flags & D3DXMESHOPT_ATTRSORT) != 0;
    const bool compact = (flags & D3DXMESHOPT_COMPACT) != 0 && !(flags & D3DXMESHOPT_IGNOREVERTS);
    const bool renumber = sort && !(flags & D3DXMESHOPT_IGNOREVERTS);
    const DWORD faces = GetNumFaces();
    if (!IndicesInRange()) return D3DXERR_INVALIDMESH;

    D3DXMesh* out = nullptr;
    D3DXBuffer* remapBuffer = nullptr;
    try {
        // New face order: old face of each new face.
        std::vector<DWORD> faceOrder(faces);
        std::iota(faceOrder.begin(), faceOrder.end(), 0);
        if (sort) {
            std::stable_sort(faceOrder.begin(), faceOrder.end(),
                             [&](DWORD a, DWORD b) { return m_Attributes[a] < m_Attributes[b]; });
        }

        // New vertex numbering: old vertex of each new vertex.
        std::vector<DWORD> newOfOld(m_dwNumVertices, UNUSED32);
        std::vector<DWORD> oldOfNew;
        oldOfNew.reserve(m_dwNumVertices);
        if (renumber || compact) {
            if (renumber) {
                for (DWORD f : faceOrder) {
                    for (int k = 0; k < 3; ++k) {
                        const DWORD v = m_Indices[f * 3 + k];
                        if (newOfOld[v] == UNUSED32) {
                            newOfOld[v] = static_cast<DWORD>(oldOfNew.size());
                            oldOfNew.push_back(v);
                        }
                    }
                }
            } else {
                std::vector<bool> used(m_dwNumVertices, false);
                for (WORD v : m_Indices) used[v] = true;
                for (DWORD v = 0; v < m_dwNumVertices; ++v) {
                    if (used[v]) {
                        newOfOld[v] = static_cast<DWORD>(oldOfNew.size());
                        oldOfNew.push_back(v);
                    }
                }
            }
            if (!compact) {
                for (DWORD v = 0; v < m_dwNumVertices; ++v) {
                    if (newOfOld[v] == UNUSED32) {
                        newOfOld[v] = static_cast<DWORD>(oldOfNew.size());
                        oldOfNew.push_back(v);
                    }
                }
            }
        } else {
            oldOfNew.resize(m_dwNumVertices);
            std::iota(oldOfNew.begin(), oldOfNew.end(), 0);
            newOfOld = oldOfNew;
        }

        HRESULT hr = D3DXCreateMeshFVF(faces, static_cast<DWORD>(oldOfNew.size()), m_dwOptions, m_dwFVF, m_pDevice,
                                       &out);
        if (FAILED(hr)) return hr;
        for (std::size_t v = 0; v < oldOfNew.size(); ++v) {
            std::memcpy(&out->m_Vertices[v * m_dwStride], &m_Vertices[static_cast<std::size_t>(oldOfNew[v]) * m_dwStride],
                        m_dwStride);
        }
        for (DWORD f = 0; f < faces; ++f) {
            const DWORD old = faceOrder[f];
            out->m_Attributes[f] = m_Attributes[old];
            for (int k = 0; k < 3; ++k) {
                out->m_Indices[f * 3 + k] = static_cast<WORD>(newOfOld[m_Indices[old * 3 + k]]);
            }
        }

        if (sort) {
            for (DWORD start = 0; start < faces;) {
                DWORD end = start;
                DWORD low = UNUSED32;
                DWORD high = 0;
                while (end < faces && out->m_Attributes[end] == out->m_Attributes[start]) {
                    for (int k = 0; k < 3; ++k) {
                        const DWORD v = out->m_Indices[end * 3 + k];
                        low = std::min(low, v);
                        high = std::max(high, v);
                    }
                    ++end;
                }
                out->m_AttribTable.push_back({out->m_Attributes[start], start, end - start, low, high - low + 1});
                start = end;
            }
        }

        if (adjacencyOut) {
            if (adjacencyIn) {
                std::vector<DWORD> newFaceOf(faces);
                for (DWORD f = 0; f < faces; ++f) newFaceOf[faceOrder[f]] = f;
                std::vector<DWORD> result(static_cast<std::size_t>(faces) * 3);
                for (DWORD f = 0; f < faces; ++f) {
                    for (int k = 0; k < 3; ++k) {
                        const DWORD neighbour = adjacencyIn[faceOrder[f] * 3 + k];
                        result[f * 3 + k] = neighbour < faces ? newFaceOf[neighbour] : UNUSED32;
                    }
                }
                std::copy(result.begin(), result.end(), adjacencyOut);
            } else {
                out->GenerateAdjacencyFromIndices(adjacencyOut);
            }
        }
        if (vertexRemap) {
            hr = D3DXCreateBuffer(static_cast<DWORD>(oldOfNew.size() * sizeof(DWORD)), &remapBuffer);
            if (FAILED(hr)) {
                out->Release();
                return hr;
            }
            std::memcpy(remapBuffer->GetBufferPointer(), oldOfNew.data(), oldOfNew.size() * sizeof(DWORD));
        }
        if (faceRemap) std::copy(faceOrder.begin(), faceOrder.end(), faceRemap);
    } catch (const std::bad_alloc&) {
        if (out) out->Release();
        if (remapBuffer) remapBuffer->Release();
        return E_OUTOFMEMORY;
    }
    if (vertexRemap) *vertexRemap = remapBuffer;
    *optimized = out;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Adjacency

void BuildTriangleAdjacency(const DWORD* corners, DWORD numFaces, DWORD* adjacency) {
    struct Edge {
        DWORD low, high, face, slot;
        bool forward;
    };
    std::vector<Edge> edges;
    edges.reserve(static_cast<std::size_t>(numFaces) * 3);
    for (DWORD f = 0; f < numFaces; ++f) {
        for (DWORD k = 0; k < 3; ++k) {
            adjacency[f * 3 + k] = UNUSED32;
            const DWORD a = corners[f * 3 + k];
            const DWORD b = corners[f * 3 + (k + 1) % 3];
            if (a == b) continue;
            edges.push_back({std::min(a, b), std::max(a, b), f, k, a < b});
        }
    }
    std::sort(edges.begin(), edges.end(), [](const Edge& x, const Edge& y) {
        if (x.low != y.low) return x.low < y.low;
        if (x.high != y.high) return x.high < y.high;
        if (x.face != y.face) return x.face < y.face;
        return x.slot < y.slot;
    });
    auto link = [&](const Edge& x, const Edge& y) {
        adjacency[x.face * 3 + x.slot] = y.face;
        adjacency[y.face * 3 + y.slot] = x.face;
    };
    std::vector<const Edge*> forward;
    std::vector<const Edge*> backward;
    std::vector<const Edge*> rest;
    for (std::size_t i = 0; i < edges.size();) {
        std::size_t j = i;
        forward.clear();
        backward.clear();
        rest.clear();
        while (j < edges.size() && edges[j].low == edges[i].low && edges[j].high == edges[i].high) {
            (edges[j].forward ? forward : backward).push_back(&edges[j]);
            ++j;
        }
        // Pairs that run the edge in opposite directions first (consistent
        // winding), in face order; the leftovers pair with each other.
        std::size_t b = 0;
        for (const Edge* e : forward) {
            while (b < backward.size() && backward[b]->face == e->face) rest.push_back(backward[b++]);
            if (b < backward.size()) {
                link(*e, *backward[b++]);
            } else {
                rest.push_back(e);
            }
        }
        while (b < backward.size()) rest.push_back(backward[b++]);
        for (std::size_t k = 0; k + 1 < rest.size();) {
            if (rest[k]->face != rest[k + 1]->face) {
                link(*rest[k], *rest[k + 1]);
                k += 2;
            } else {
                ++k;
            }
        }
        i = j;
    }
}

HRESULT D3DXMesh::GenerateAdjacencyFromIndices(DWORD* adjacency) const {
    if (adjacency == nullptr) return D3DERR_INVALIDCALL;
    try {
        std::vector<DWORD> corners(m_Indices.begin(), m_Indices.end());
        BuildTriangleAdjacency(corners.data(), GetNumFaces(), adjacency);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// Normals and bounds

HRESULT D3DXComputeNormals(D3DXMesh* mesh, const DWORD* adjacency) {
    if (mesh == nullptr) return D3DERR_INVALIDCALL;
    VertexLayout layout;
    if (!LayoutFromFVF(mesh->GetFVF(), layout) || layout.elements[D3DVSDE_NORMAL].type != ElementType::Float3) {
        return D3DERR_INVALIDCALL;
    }
    BYTE* vertices = nullptr;
    BYTE* indexBytes = nullptr;
    mesh->LockVertexBuffer(0, &vertices);
    mesh->LockIndexBuffer(0, &indexBytes);
    const DWORD faces = mesh->GetNumFaces();
    const DWORD count = mesh->GetNumVertices();
    const DWORD stride = mesh->GetNumBytesPerVertex();
    const UINT normalOffset = layout.elements[D3DVSDE_NORMAL].offset;
    auto index = [&](DWORD f, DWORD k) {
        WORD v;
        std::memcpy(&v, indexBytes + (f * 3 + k) * sizeof(WORD), sizeof(WORD));
        return DWORD{v};
    };
    auto position = [&](DWORD v) { return ReadVector(vertices + static_cast<std::size_t>(v) * stride); };
    if (!mesh->IndicesInRange()) return D3DXERR_INVALIDMESH;
    try {
        PointSets points(count);
        if (adjacency) {
            for (DWORD f = 0; f < faces; ++f) {
                for (DWORD k = 0; k < 3; ++k) {
                    const DWORD g = adjacency[f * 3 + k];
                    if (g >= faces || g == f) continue;
                    for (DWORD m = 0; m < 3; ++m) {
                        if (adjacency[g * 3 + m] != f) continue;
                        // Edge (a, b) of f meets edge (c, d) of g, running the other way.
                        const DWORD a = index(f, k), b = index(f, (k + 1) % 3);
                        const DWORD c = index(g, m), d = index(g, (m + 1) % 3);
                        if (position(a) == position(d) && position(b) == position(c)) {
                            points.Join(a, d);
                            points.Join(b, c);
                        }
                        break;
                    }
                }
            }
        }
        std::vector<D3DXVECTOR3> sums(count);
        for (DWORD f = 0; f < faces; ++f) {
            const DWORD a = index(f, 0), b = index(f, 1), c = index(f, 2);
            const D3DXVECTOR3 p0 = position(a);
            const D3DXVECTOR3 e1 = position(b) - p0;
            const D3DXVECTOR3 e2 = position(c) - p0;
            D3DXVECTOR3 n;
            D3DXVec3Cross(&n, &e1, &e2);  // length = twice the area
            sums[points.Find(a)] += n;
            sums[points.Find(b)] += n;
            sums[points.Find(c)] += n;
        }
        for (DWORD v = 0; v < count; ++v) {
            D3DXVECTOR3 n;
            D3DXVec3Normalize(&n, &sums[points.Find(v)]);
            WriteVector(vertices + static_cast<std::size_t>(v) * stride + normalOffset, n);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();
    return S_OK;
}

HRESULT D3DXComputeBoundingBox(const D3DXVECTOR3* first, DWORD count, DWORD stride, D3DXVECTOR3* min,
                               D3DXVECTOR3* max) {
    if (first == nullptr || min == nullptr || max == nullptr || count == 0) return D3DERR_INVALIDCALL;
    const auto* bytes = reinterpret_cast<const BYTE*>(first);
    D3DXVECTOR3 low = ReadVector(bytes);
    D3DXVECTOR3 high = low;
    for (DWORD i = 1; i < count; ++i) {
        const D3DXVECTOR3 p = ReadVector(bytes + static_cast<std::size_t>(i) * stride);
        D3DXVec3Minimize(&low, &low, &p);
        D3DXVec3Maximize(&high, &high, &p);
    }
    *min = low;
    *max = high;
    return S_OK;
}

HRESULT D3DXComputeBoundingSphere(const D3DXVECTOR3* first, DWORD count, DWORD stride, D3DXVECTOR3* centre,
                                  float* radius) {
    if (first == nullptr || centre == nullptr || radius == nullptr || count == 0) return D3DERR_INVALIDCALL;
    const auto* bytes = reinterpret_cast<const BYTE*>(first);
    double sx = 0.0, sy = 0.0, sz = 0.0;
    for (DWORD i = 0; i < count; ++i) {
        const D3DXVECTOR3 p = ReadVector(bytes + static_cast<std::size_t>(i) * stride);
        sx += p.x;
        sy += p.y;
        sz += p.z;
    }
    const D3DXVECTOR3 c(static_cast<float>(sx / count), static_cast<float>(sy / count), static_cast<float>(sz / count));
    float farthest = 0.0f;
    for (DWORD i = 0; i < count; ++i) {
        const D3DXVECTOR3 d = ReadVector(bytes + static_cast<std::size_t>(i) * stride) - c;
        farthest = std::max(farthest, D3DXVec3LengthSq(&d));
    }
    *centre = c;
    *radius = std::sqrt(farthest);
    return S_OK;
}
