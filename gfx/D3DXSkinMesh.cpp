#include "gfx/D3DXSkinMesh.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numeric>
#include <utility>
#include <vector>

#include "gfx/DeviceResources.h"
#include "gfx/VertexFormat.h"
#include "gfx/VertexProgramAsm.h"

namespace {

// One bone's pull on one vertex.
struct Influence {
    DWORD bone;
    float weight;
};

// Holds one reference and releases it.
template <class T>
class Owned {
public:
    Owned() = default;
    ~Owned() {
        if (m_p) m_p->Release();
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    T** Out() { return &m_p; }
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    T* Detach() { return std::exchange(m_p, nullptr); }

private:
    T* m_p = nullptr;
};

}  // namespace

struct D3DXSkinMesh::Impl {
    struct Bone {
        std::vector<DWORD> vertices;
        std::vector<float> weights;
    };

    D3DXMesh* mesh = nullptr;  // one reference
    std::vector<Bone> bones;

    ~Impl() {
        if (mesh) mesh->Release();
    }

    // The bones with a positive weight on each vertex (weights a bone gives
    // one vertex several times are added up), by decreasing weight, ties by
    // bone number.
    std::vector<std::vector<Influence>> VertexInfluences() const {
        std::vector<std::vector<Influence>> result(mesh->GetNumVertices());
        for (DWORD b = 0; b < bones.size(); ++b) {
            const Bone& bone = bones[b];
            for (std::size_t i = 0; i < bone.vertices.size(); ++i) {
                std::vector<Influence>& list = result[bone.vertices[i]];
                auto it = std::find_if(list.begin(), list.end(), [&](const Influence& x) { return x.bone == b; });
                if (it == list.end()) {
                    list.push_back({b, bone.weights[i]});
                } else {
                    it->weight += bone.weights[i];
                }
            }
        }
        for (std::vector<Influence>& list : result) {
            std::erase_if(list, [](const Influence& x) { return !(x.weight > 0.0f); });
            std::sort(list.begin(), list.end(), [](const Influence& a, const Influence& b) {
                return a.weight != b.weight ? a.weight > b.weight : a.bone < b.bone;
            });
        }
        return result;
    }
};

D3DXSkinMesh::D3DXSkinMesh() = default;
D3DXSkinMesh::~D3DXSkinMesh() = default;

DWORD D3DXSkinMesh::Release() {
    const DWORD refs = --m_dwRefs;
    if (refs == 0) delete this;
    return refs;
}

HRESULT D3DXCreateSkinMeshFromMesh(D3DXMesh* mesh, DWORD numBones, D3DXSkinMesh** skinMesh) {
    if (skinMesh == nullptr) return D3DERR_INVALIDCALL;
    *skinMesh = nullptr;
    if (mesh == nullptr) return D3DERR_INVALIDCALL;
    D3DXSkinMesh* created = new (std::nothrow) D3DXSkinMesh;
    if (created == nullptr) return E_OUTOFMEMORY;
    try {
        created->m_pImpl = std::make_unique<D3DXSkinMesh::Impl>();
        created->m_pImpl->bones.resize(numBones);
    } catch (const std::bad_alloc&) {
        created->Release();
        return E_OUTOFMEMORY;
    }
    mesh->AddRef();
    created->m_pImpl->mesh = mesh;
    *skinMesh = created;
    return S_OK;
}

DWORD D3DXSkinMesh::GetNumBones() const { return static_cast<DWORD>(m_pImpl->bones.size()); }
DWORD D3DXSkinMesh::GetNumFaces() const { return m_pImpl->mesh->GetNumFaces(); }
DWORD D3DXSkinMesh::GetNumVertices() const { return m_pImpl->mesh->GetNumVertices(); }
DWORD D3DXSkinMesh::GetFVF() const { return m_pImpl->mesh->GetFVF(); }
DWORD D3DXSkinMesh::GetOptions() const { return m_pImpl->mesh->GetOptions(); }

HRESULT D3DXSkinMesh::GetOriginalMesh(D3DXMesh** mesh) {
    if (mesh == nullptr) return D3DERR_INVALIDCALL;
    m_pImpl->mesh->AddRef();
    *mesh = m_pImpl->mesh;
    return S_OK;
}

DWORD D3DXSkinMesh::GetNumBoneInfluences(DWORD bone) const {
    if (bone >= m_pImpl->bones.size()) return 0;
    return static_cast<DWORD>(m_pImpl->bones[bone].vertices.size());
}

HRESULT D3DXSkinMesh::GetBoneInfluence(DWORD bone, DWORD* vertices, float* weights) const {
    if (bone >= m_pImpl->bones.size() || vertices == nullptr || weights == nullptr) return D3DERR_INVALIDCALL;
    const Impl::Bone& b = m_pImpl->bones[bone];
    std::copy(b.vertices.begin(), b.vertices.end(), vertices);
    std::copy(b.weights.begin(), b.weights.end(), weights);
    return S_OK;
}

HRESULT D3DXSkinMesh::SetBoneInfluence(DWORD bone, DWORD count, const DWORD* vertices, const float* weights) {
    if (bone >= m_pImpl->bones.size()) return D3DERR_INVALIDCALL;
    if (count > 0 && (vertices == nullptr || weights == nullptr)) return D3DERR_INVALIDCALL;
    const DWORD vertexCount = m_pImpl->mesh->GetNumVertices();
    for (DWORD i = 0; i < count; ++i) {
        if (vertices[i] >= vertexCount || !std::isfinite(weights[i]) || weights[i] < 0.0f) return D3DERR_INVALIDCALL;
    }
    try {
        Impl::Bone b;
        b.vertices.assign(vertices, vertices + count);
        b.weights.assign(weights, weights + count);
        m_pImpl->bones[bone] = std::move(b);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT D3DXSkinMesh::GetMaxVertexInfluences(DWORD* maxVertexInfluences) const {
    if (maxVertexInfluences == nullptr) return D3DERR_INVALIDCALL;
    try {
        std::size_t most = 0;
        for (const auto& list : m_pImpl->VertexInfluences()) most = std::max(most, list.size());
        *maxVertexInfluences = static_cast<DWORD>(most);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT D3DXSkinMesh::GetMaxFaceInfluences(DWORD* maxFaceInfluences) const {
    if (maxFaceInfluences == nullptr) return D3DERR_INVALIDCALL;
    try {
        const auto influences = m_pImpl->VertexInfluences();
        BYTE* indexBytes = nullptr;
        m_pImpl->mesh->LockIndexBuffer(D3DLOCK_READONLY, &indexBytes);
        const DWORD faces = m_pImpl->mesh->GetNumFaces();
        const DWORD vertices = m_pImpl->mesh->GetNumVertices();
        std::size_t most = 0;
        std::vector<DWORD> bones;
        for (DWORD f = 0; f < faces; ++f) {
            bones.clear();
            for (DWORD k = 0; k < 3; ++k) {
                WORD v;
                std::memcpy(&v, indexBytes + (f * 3 + k) * sizeof(WORD), sizeof v);
                if (v >= vertices) continue;
                for (const Influence& x : influences[v]) bones.push_back(x.bone);
            }
            std::sort(bones.begin(), bones.end());
            most = std::max<std::size_t>(most, std::unique(bones.begin(), bones.end()) - bones.begin());
        }
        m_pImpl->mesh->UnlockIndexBuffer();
        *maxFaceInfluences = static_cast<DWORD>(most);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// Indexed-blended conversion

namespace {

// A run of faces of one attribute whose corners need at most a palette of
// bones.
struct Group {
    DWORD attribute = 0;
    DWORD faceStart = 0;  // in the sorted face order
    DWORD faceCount = 0;
    std::vector<DWORD> bones;  // ascending; palette slot = position
};

// a ∪ b for ascending, duplicate-free lists.
std::vector<DWORD> Union(const std::vector<DWORD>& a, const std::vector<DWORD>& b) {
    std::vector<DWORD> out;
    out.reserve(a.size() + b.size());
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

constexpr DWORD kMeshOptionBits = 0x00FFFFFFu;  // the rest are optimisation flags

}  // namespace

HRESULT D3DXSkinMesh::ConvertToIndexedBlendedMesh(DWORD options, const DWORD* adjacencyIn, DWORD paletteSize,
                                                  DWORD* adjacencyOut, DWORD* faceRemap, D3DXBuffer** vertexRemap,
                                                  DWORD* maxVertexInfluences, DWORD* numBoneCombinations,
                                                  D3DXBuffer** boneCombinationTable, D3DXMesh** mesh) {
    if (vertexRemap) *vertexRemap = nullptr;
    if (boneCombinationTable) *boneCombinationTable = nullptr;
    if (mesh) *mesh = nullptr;
    if (maxVertexInfluences) *maxVertexInfluences = 0;
    if (numBoneCombinations) *numBoneCombinations = 0;
    if (mesh == nullptr || numBoneCombinations == nullptr) return D3DERR_INVALIDCALL;
    if (paletteSize == 0 || paletteSize > kD3DXMaxPaletteSize || m_pImpl->bones.empty()) return D3DERR_INVALIDCALL;
    D3DXMesh* source = m_pImpl->mesh;
    if (!source->IndicesInRange()) return D3DXERR_INVALIDMESH;

    try {
        const DWORD faces = source->GetNumFaces();
        const DWORD sourceVertices = source->GetNumVertices();
        const std::vector<std::vector<Influence>> influences = m_pImpl->VertexInfluences();
        std::size_t most = 1;
        for (const auto& list : influences) most = std::max(most, list.size());
        if (most > kD3DXMaxVertexInfluences) return D3DXERR_TOOMANYINFLUENCES;
        const DWORD k = static_cast<DWORD>(most);

        BYTE* sourceBytes = nullptr;
        BYTE* indexBytes = nullptr;
        DWORD* attributes = nullptr;
        source->LockVertexBuffer(D3DLOCK_READONLY, &sourceBytes);
        source->LockIndexBuffer(D3DLOCK_READONLY, &indexBytes);
        source->LockAttributeBuffer(D3DLOCK_READONLY, &attributes);
        source->UnlockAttributeBuffer();
        source->UnlockIndexBuffer();
        source->UnlockVertexBuffer();
        auto corner = [&](DWORD face, DWORD c) {
            WORD v;
            std::memcpy(&v, indexBytes + (face * 3 + c) * sizeof(WORD), sizeof v);
            return DWORD{v};
        };

        // Faces by attribute, keeping their order within one.
        std::vector<DWORD> order(faces);
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](DWORD a, DWORD b) { return attributes[a] < attributes[b]; });

        // Greedy groups: a face joins the open group when it has the same
        // attribute and the bones of both fit the palette together.
        std::vector<Group> groups;
        std::vector<DWORD> faceBones;
        for (DWORD i = 0; i < faces; ++i) {
            const DWORD f = order[i];
            faceBones.clear();
            for (DWORD c = 0; c < 3; ++c) {
                for (const Influence& x : influences[corner(f, c)]) faceBones.push_back(x.bone);
            }
            std::sort(faceBones.begin(), faceBones.end());
            faceBones.erase(std::unique(faceBones.begin(), faceBones.end()), faceBones.end());
            if (faceBones.size() > paletteSize) return D3DXERR_TOOMANYINFLUENCES;
            if (!groups.empty() && groups.back().attribute == attributes[f]) {
                std::vector<DWORD> joined = Union(groups.back().bones, faceBones);
                if (joined.size() <= paletteSize) {
                    groups.back().bones = std::move(joined);
                    ++groups.back().faceCount;
                    continue;
                }
            }
            groups.push_back(Group{attributes[f], i, 1, faceBones});
        }
        // A group of vertices no bone moves binds them to a bone all the same
        // (slot 0 must name one).
        for (Group& g : groups) {
            if (g.bones.empty()) g.bones.push_back(0);
        }

        // Each group's own vertices, in the order its faces first use them.
        std::vector<DWORD> oldOfNew;      // source vertex of each new vertex
        std::vector<DWORD> newIndices(static_cast<std::size_t>(faces) * 3);
        std::vector<D3DXATTRIBUTERANGE> ranges;
        std::vector<DWORD> local(sourceVertices, UNUSED32);
        for (const Group& g : groups) {
            const DWORD vertexStart = static_cast<DWORD>(oldOfNew.size());
            for (DWORD i = g.faceStart; i < g.faceStart + g.faceCount; ++i) {
                for (DWORD c = 0; c < 3; ++c) {
                    const DWORD v = corner(order[i], c);
                    if (local[v] == UNUSED32) {
                        if (oldOfNew.size() >= kD3DXMaxMeshVertices) return E_NOTIMPL;
                        local[v] = static_cast<DWORD>(oldOfNew.size());
                        oldOfNew.push_back(v);
                    }
                    newIndices[i * 3 + c] = local[v];
                }
            }
            for (std::size_t v = vertexStart; v < oldOfNew.size(); ++v) local[oldOfNew[v]] = UNUSED32;
            ranges.push_back({g.attribute, g.faceStart, g.faceCount, vertexStart,
                              static_cast<DWORD>(oldOfNew.size()) - vertexStart});
        }

        const DWORD sourceFvf = source->GetFVF();
        const DWORD fvf = (sourceFvf & ~(D3DFVF_POSITION_MASK | D3DFVF_LASTBETA_UBYTE4)) | (D3DFVF_XYZRHW + 2 * k) |
                          D3DFVF_LASTBETA_UBYTE4;
        VertexLayout from;
        VertexLayout to;
        if (!LayoutFromFVF(sourceFvf, from) || !LayoutFromFVF(fvf, to)) return D3DERR_INVALIDCALL;

        Owned<Direct3DDevice8> device;
        if (FAILED(source->GetDevice(device.Out()))) *device.Out() = nullptr;
        Owned<D3DXMesh> out;
        HRESULT hr = D3DXCreateMeshFVF(faces, static_cast<DWORD>(oldOfNew.size()), options & kMeshOptionBits, fvf,
                                       device.Get(), out.Out());
        if (FAILED(hr)) return hr;

        BYTE* outBytes = nullptr;
        BYTE* outIndices = nullptr;
        DWORD* outAttributes = nullptr;
        out->LockVertexBuffer(0, &outBytes);
        out->LockIndexBuffer(0, &outIndices);
        out->LockAttributeBuffer(0, &outAttributes);
        std::size_t groupOfVertex = 0;
        for (std::size_t v = 0; v < oldOfNew.size(); ++v) {
            while (v >= ranges[groupOfVertex].VertexStart + ranges[groupOfVertex].VertexCount) ++groupOfVertex;
            const std::vector<DWORD>& palette = groups[groupOfVertex].bones;
            const BYTE* in = sourceBytes + static_cast<std::size_t>(oldOfNew[v]) * from.stride;
            BYTE* target = outBytes + v * to.stride;
            std::memcpy(target, in, 12);
            for (std::size_t reg = D3DVSDE_NORMAL; reg < kVertexRegisters; ++reg) {
                const VertexElement& a = from.elements[reg];
                const VertexElement& b = to.elements[reg];
                if (a.type != ElementType::None && a.type == b.type) {
                    std::memcpy(target + b.offset, in + a.offset, ElementSize(a.type));
                }
            }

            // Weights scaled to sum to 1, then the palette slots.
            const std::vector<Influence>& list = influences[oldOfNew[v]];
            float sum = 0.0f;
            for (const Influence& x : list) sum += x.weight;
            float weights[kD3DXMaxVertexInfluences] = {};
            BYTE slots[4] = {};
            if (list.empty()) {
                weights[0] = 1.0f;  // slot 0
            }
            for (std::size_t j = 0; j < list.size(); ++j) {
                weights[j] = list[j].weight / sum;
                const auto slot = std::lower_bound(palette.begin(), palette.end(), list[j].bone) - palette.begin();
                slots[j] = static_cast<BYTE>(slot);
            }
            for (std::size_t j = std::max<std::size_t>(list.size(), 1); j < 4; ++j) slots[j] = slots[j - 1];
            if (k > 1) std::memcpy(target + to.elements[D3DVSDE_BLENDWEIGHT].offset, weights, (k - 1) * sizeof(float));
            std::memcpy(target + to.elements[D3DVSDE_BLENDINDICES].offset, slots, 4);
        }
        for (DWORD i = 0; i < faces; ++i) {
            outAttributes[i] = attributes[order[i]];
            for (DWORD c = 0; c < 3; ++c) {
                const WORD index = static_cast<WORD>(newIndices[i * 3 + c]);
                std::memcpy(outIndices + (i * 3 + c) * sizeof(WORD), &index, sizeof index);
            }
        }
        out->UnlockAttributeBuffer();
        out->UnlockIndexBuffer();
        out->UnlockVertexBuffer();
        hr = out->SetAttributeTable(ranges.data(), static_cast<DWORD>(ranges.size()));
        if (FAILED(hr)) return hr;

        // The table: the records, then each group's palette.
        Owned<D3DXBuffer> table;
        if (boneCombinationTable) {
            const std::size_t size = groups.size() * (sizeof(D3DXBONECOMBINATION) + paletteSize * sizeof(DWORD));
            if (size > 0x7FFFFFFFu) return E_OUTOFMEMORY;
            hr = D3DXCreateBuffer(static_cast<DWORD>(size), table.Out());
            if (FAILED(hr)) return hr;
            auto* records = static_cast<D3DXBONECOMBINATION*>(table->GetBufferPointer());
            auto* ids = reinterpret_cast<DWORD*>(records + groups.size());
            for (std::size_t g = 0; g < groups.size(); ++g) {
                DWORD* palette = ids + g * paletteSize;
                std::fill(palette, palette + paletteSize, UNUSED32);
                std::copy(groups[g].bones.begin(), groups[g].bones.end(), palette);
                records[g] = {ranges[g].AttribId,   ranges[g].FaceStart,   ranges[g].FaceCount,
                              ranges[g].VertexStart, ranges[g].VertexCount, palette};
            }
        }
        Owned<D3DXBuffer> remap;
        if (vertexRemap) {
            hr = D3DXCreateBuffer(static_cast<DWORD>(oldOfNew.size() * sizeof(DWORD)), remap.Out());
            if (FAILED(hr)) return hr;
            std::memcpy(remap->GetBufferPointer(), oldOfNew.data(), oldOfNew.size() * sizeof(DWORD));
        }
        if (adjacencyOut) {
            std::vector<DWORD> sourceAdjacency;
            if (adjacencyIn == nullptr) {
                sourceAdjacency.resize(static_cast<std::size_t>(faces) * 3);
                hr = source->GenerateAdjacencyFromIndices(sourceAdjacency.data());
                if (FAILED(hr)) return hr;
                adjacencyIn = sourceAdjacency.data();
            }
            std::vector<DWORD> newFaceOf(faces);
            for (DWORD i = 0; i < faces; ++i) newFaceOf[order[i]] = i;
            for (DWORD i = 0; i < faces; ++i) {
                for (DWORD c = 0; c < 3; ++c) {
                    const DWORD neighbour = adjacencyIn[order[i] * 3 + c];
                    adjacencyOut[i * 3 + c] = neighbour < faces ? newFaceOf[neighbour] : UNUSED32;
                }
            }
        }
        if (faceRemap) std::copy(order.begin(), order.end(), faceRemap);

        if (maxVertexInfluences) *maxVertexInfluences = k;
        *numBoneCombinations = static_cast<DWORD>(groups.size());
        if (boneCombinationTable) *boneCombinationTable = table.Detach();
        if (vertexRemap) *vertexRemap = remap.Detach();
        *mesh = out.Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
