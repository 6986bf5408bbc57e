// SkinnedMesh: reading the hierarchy, its mesh parts and its animations from
// an X-file resource, binding the bones and building the blended meshes.
#include <cstring>
#include <new>
#include <vector>

#include "app/ErrLog.h"
#include "gfx/D3DXTexture.h"
#include "gfx/VertexFormat.h"
#include "model/SkinnedMesh.h"
#include "model/SkinnedMeshInternal.h"

using skinned_mesh::SafeRelease;

namespace {

char* CopyString(const char* s) {
    const std::size_t n = std::strlen(s) + 1;
    char* copy = new (std::nothrow) char[n];
    if (copy) std::memcpy(copy, s, n);
    return copy;
}

// The object's name, or an empty string.
void ObjectName(XFileObject* object, char* name, DWORD capacity) {
    DWORD size = capacity;
    if (FAILED(object->GetName(name, &size))) name[0] = '\0';
    name[capacity - 1] = '\0';
}

// Owns the reader objects of one load.
struct Reader {
    XFile* file = nullptr;
    XFileEnumObject* objects = nullptr;
    Reader() = default;
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    ~Reader() {
        SafeRelease(objects);
        SafeRelease(file);
    }
};

// A data object handed out by the reader, released when it goes.
struct DataRef {
    XFileData* p = nullptr;
    DataRef() = default;
    DataRef(const DataRef&) = delete;
    DataRef& operator=(const DataRef&) = delete;
    ~DataRef() { SafeRelease(p); }
};

// Reads one AnimationKey block into its frame. The file gives each key as a
// time, a value count and the values; the key type fixes how many values are
// read, whatever count the file claims, so the block must hold n keys of
// that size.
template <class Key, std::size_t Values>
HRESULT ReadKeys(const BYTE* data, DWORD size, DWORD count, Key*& keys, DWORD& keyCount, float& totalTicks,
                 void (*store)(Key&, const float*)) {
    if (keys) return E_INVALIDARG;  // a second block of this type
    constexpr DWORD keySize = 8 + Values * 4;
    if (count == 0 || count > (size - 8) / keySize) return E_INVALIDARG;
    keys = new (std::nothrow) Key[count];
    if (!keys) return E_OUTOFMEMORY;
    keyCount = count;
    const BYTE* p = data + 8;
    for (DWORD i = 0; i < count; ++i, p += keySize) {
        std::memcpy(&keys[i].dwTime, p, 4);
        float values[Values];
        std::memcpy(values, p + 8, sizeof values);
        store(keys[i], values);
    }
    const float lastTime = static_cast<float>(keys[count - 1].dwTime);
    if (lastTime > totalTicks) totalTicks = lastTime;
    return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------
// Loading

HRESULT SkinnedMesh::LoadHierarchy() {
    SkinModel* model = new (std::nothrow) SkinModel;
    if (model) model->pRoot = new (std::nothrow) SkinFrame;
    HRESULT hr = S_OK;
    if (!model || !model->pRoot) hr = E_OUTOFMEMORY;
    else if (std::strlen(m_szName) < 2) hr = E_FAIL;

    if (SUCCEEDED(hr)) {
        Reader reader;
        hr = DirectXFileCreate(&reader.file);
        if (SUCCEEDED(hr)) hr = reader.file->RegisterTemplates(D3DRM_XTEMPLATES, D3DRM_XTEMPLATE_BYTES);
        if (SUCCEEDED(hr)) {
            g_ErrLog.Add("\t\tCreateEnumObject...\n");
            DXFILELOADRESOURCE resource{nullptr, m_szName, "Model"};
            hr = reader.file->CreateEnumObject(&resource, DXFILELOAD_FROMRESOURCE, &reader.objects);
            if (FAILED(hr)) g_ErrLog.Add("\t\tFailed\n");
        }
        // The total length counts the blocks of this file only.
        const float previousTotal = m_fTotalTicks;
        if (SUCCEEDED(hr)) m_fTotalTicks = 0.0f;
        while (SUCCEEDED(hr)) {
            DataRef object;
            if (FAILED(reader.objects->GetNextDataObject(&object.p))) break;
            hr = ReadFrameObject(object.p, model, model->pRoot);
        }
        if (SUCCEEDED(hr)) hr = BindBones(model, model->pRoot);
        if (SUCCEEDED(hr)) {
            model->szName = CopyString(m_szName);
            if (!model->szName) hr = E_OUTOFMEMORY;
        }
        if (FAILED(hr)) m_fTotalTicks = previousTotal;
    }

    if (FAILED(hr)) {
        delete model;
        g_ErrLog.AddF("SkinnedMesh Loading Failed...%d\n", static_cast<int>(hr));
        return hr;
    }

    // The new model replaces the current one.
    if (m_pCurrentModel) {
        SkinModel** link = &m_pModels;
        while (*link && *link != m_pCurrentModel) link = &(*link)->pNext;
        if (*link) {
            *link = m_pCurrentModel->pNext;
            m_pCurrentModel->pNext = nullptr;
            delete m_pCurrentModel;
        }
    }
    model->pNext = m_pModels;
    m_pModels = model;
    m_pCurrentModel = model;
    model->fCurTime = 0.0f;
    m_bClipReset = 1;
    return S_OK;
}

HRESULT SkinnedMesh::ReadFrameObject(XFileData* object, SkinModel* model, SkinFrame* parent) {
    const GUID* type = nullptr;
    if (FAILED(object->GetType(&type))) return E_FAIL;

    if (*type == TID_D3DRMMesh) return ReadMeshPart(object, parent);

    if (*type == TID_D3DRMFrameTransformMatrix) {
        DWORD size = 0;
        void* data = nullptr;
        if (FAILED(object->GetData(nullptr, &size, &data)) || size < sizeof(D3DXMATRIX)) return E_FAIL;
        std::memcpy(parent->matRot.m, data, sizeof parent->matRot.m);
        parent->matRotOrig = parent->matRot;
        return S_OK;
    }

    if (*type == TID_D3DRMAnimationSet) {
        ReadAnimationSet(object, model, parent);
        return S_OK;
    }
    if (*type == TID_D3DRMAnimation) {
        ReadAnimation(object, model, parent);
        return S_OK;
    }
    if (*type != TID_D3DRMFrame) return S_OK;

    SkinFrame* frame = new (std::nothrow) SkinFrame;
    if (!frame) return E_OUTOFMEMORY;
    char name[256];
    ObjectName(object, name, sizeof name);
    if (name[0]) {
        frame->szName = CopyString(name);
        if (!frame->szName) {
            delete frame;
            return E_OUTOFMEMORY;
        }
    }
    AttachChild(parent, frame);

    XFileObject* child = nullptr;
    while (SUCCEEDED(object->GetNextObject(&child))) {
        DataRef data;
        const HRESULT asData = child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&data.p));
        child->Release();
        if (FAILED(asData)) continue;  // references are skipped
        const HRESULT hr = ReadFrameObject(data.p, model, frame);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

void SkinnedMesh::AttachChild(SkinFrame* parent, SkinFrame* child) {
    if (!parent->pFirstChild) {
        parent->pFirstChild = child;
        return;
    }
    child->pSibling = parent->pFirstChild->pSibling;
    parent->pFirstChild->pSibling = child;
}

HRESULT SkinnedMesh::ReadMeshPart(XFileData* object, SkinFrame* parent) {
    SkinMeshPart* part = new (std::nothrow) SkinMeshPart;
    if (!part) return E_OUTOFMEMORY;
    char name[256];
    ObjectName(object, name, sizeof name);
    if (name[0] && !(part->szName = CopyString(name))) {
        delete part;
        return E_OUTOFMEMORY;
    }

    D3DXBuffer* adjacency = nullptr;
    D3DXBuffer* materials = nullptr;
    HRESULT hr = D3DXLoadSkinMeshFromXof(object, 0, m_pDevice, &adjacency, &materials, &part->cMaterials,
                                         &part->pBoneNames, &part->pBoneOffsets, &part->pSkinInfo);
    if (FAILED(hr)) {
        SafeRelease(adjacency);
        SafeRelease(materials);
        delete part;
        return hr == D3DXERR_LOADEDMESHASNODATA ? S_OK : hr;
    }

    // Adjacency: three entries per face.
    const DWORD faces = part->pSkinInfo->GetNumFaces();
    part->pAdjacency = new (std::nothrow) DWORD[faces * 3];
    if (!part->pAdjacency) hr = E_OUTOFMEMORY;
    else if (!adjacency || adjacency->GetBufferSize() < faces * 3 * sizeof(DWORD)) hr = E_FAIL;
    else std::memcpy(part->pAdjacency, adjacency->GetBufferPointer(), faces * 3 * sizeof(DWORD));
    SafeRelease(adjacency);

    if (SUCCEEDED(hr)) {
        const DWORD bones = part->pSkinInfo->GetNumBones();
        if (bones > 0) {
            part->ppBoneMatrices = new (std::nothrow) D3DXMATRIX*[bones]();
            if (!part->ppBoneMatrices) hr = E_OUTOFMEMORY;
            else if (!part->pBoneOffsets || part->pBoneOffsets->GetBufferSize() < bones * sizeof(D3DXMATRIX))
                hr = E_FAIL;
            else {
                part->pBoneOffsetMatrices = static_cast<D3DXMATRIX*>(part->pBoneOffsets->GetBufferPointer());
                hr = BuildBlendedMesh(part);
            }
        } else {
            hr = part->pSkinInfo->GetOriginalMesh(&part->pMesh);
            SafeRelease(part->pSkinInfo);
            part->cGroups = part->cMaterials;
        }
    }

    // Materials, with the ambient colour taken from the diffuse.
    if (SUCCEEDED(hr)) {
        const DWORD n = part->cMaterials ? part->cMaterials : 1;
        part->rgMaterials = new (std::nothrow) D3DMATERIAL8[n]();
        part->pTextures = new (std::nothrow) Direct3DTexture8*[n]();
        if (!part->rgMaterials || !part->pTextures) hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr) && part->cMaterials > 0) {
        const auto* source = materials ? static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer()) : nullptr;
        if (!source || materials->GetBufferSize() < part->cMaterials * sizeof(D3DXMATERIAL)) hr = E_FAIL;
        for (DWORD i = 0; SUCCEEDED(hr) && i < part->cMaterials; ++i) {
            part->rgMaterials[i] = source[i].MatD3D;
            part->rgMaterials[i].Ambient = part->rgMaterials[i].Diffuse;
            if (source[i].pTextureFilename) {
                g_ErrLog.Add("\t\tD3DXCreateTextureFromResource...\n");
                if (FAILED(D3DXCreateTextureFromResourceA(m_pDevice, nullptr, source[i].pTextureFilename,
                                                          &part->pTextures[i]))) {
                    part->pTextures[i] = nullptr;
                    g_ErrLog.Add("\t\tFailed\n");
                }
            }
        }
    } else if (SUCCEEDED(hr)) {
        D3DMATERIAL8& m = part->rgMaterials[0];
        m = D3DMATERIAL8{};
        m.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
        m.Specular = m.Diffuse;
    }
    SafeRelease(materials);

    if (FAILED(hr)) {
        delete part;
        return hr;
    }
    part->pNext = parent->pParts;
    parent->pParts = part;
    return S_OK;
}

HRESULT SkinnedMesh::ReadAnimationSet(XFileData* object, SkinModel* model, SkinFrame* parent) {
    SkinFrame* set = new (std::nothrow) SkinFrame;
    if (!set) return E_OUTOFMEMORY;
    set->bAnimation = 1;
    AttachChild(parent, set);
    char name[256];
    ObjectName(object, name, sizeof name);
    if (name[0] && !(set->szName = CopyString(name))) return E_OUTOFMEMORY;

    XFileObject* child = nullptr;
    while (SUCCEEDED(object->GetNextObject(&child))) {
        DataRef data;
        const HRESULT asData = child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&data.p));
        child->Release();
        if (FAILED(asData)) continue;
        const GUID* type = nullptr;
        if (FAILED(data.p->GetType(&type)) || *type != TID_D3DRMAnimation) continue;
        const HRESULT hr = ReadAnimation(data.p, model, set);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT SkinnedMesh::ReadAnimation(XFileData* object, SkinModel* model, SkinFrame* parent) {
    SkinFrame* anim = new (std::nothrow) SkinFrame;
    if (!anim) return E_OUTOFMEMORY;
    anim->bAnimation = 1;
    AttachChild(parent, anim);
    anim->pAnimNext = model->pAnimHead;
    model->pAnimHead = anim;

    XFileObject* child = nullptr;
    while (SUCCEEDED(object->GetNextObject(&child))) {
        XFileDataReference* reference = nullptr;
        if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(&reference)))) {
            child->Release();
            DataRef target;
            const HRESULT resolved = reference->Resolve(&target.p);
            reference->Release();
            if (anim->pTarget || FAILED(resolved)) return E_INVALIDARG;
            const GUID* type = nullptr;
            if (FAILED(target.p->GetType(&type)) || *type != TID_D3DRMFrame) continue;
            char name[256];
            ObjectName(target.p, name, sizeof name);
            if (!name[0]) return E_INVALIDARG;
            anim->pTarget = FindFrameByName(model, name);
            if (!anim->pTarget) return E_INVALIDARG;
            continue;
        }

        DataRef data;
        const HRESULT asData = child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&data.p));
        child->Release();
        if (FAILED(asData)) continue;
        const GUID* type = nullptr;
        if (FAILED(data.p->GetType(&type))) return E_FAIL;
        HRESULT hr = S_OK;
        if (*type == TID_D3DRMFrame) hr = ReadFrameObject(data.p, model, anim);
        else if (*type == TID_D3DRMAnimationKey) hr = ReadAnimationKey(data.p, anim);
        if (FAILED(hr)) return hr;
    }
    // An animation that drives nothing is refused like one that names an
    // unknown frame.
    return anim->pTarget ? S_OK : E_INVALIDARG;
}

HRESULT SkinnedMesh::ReadAnimationKey(XFileData* object, SkinFrame* frame) {
    DWORD size = 0;
    void* data = nullptr;
    if (FAILED(object->GetData(nullptr, &size, &data)) || size < 8) return E_INVALIDARG;
    const auto* bytes = static_cast<const BYTE*>(data);
    DWORD keyType = 0;
    DWORD count = 0;
    std::memcpy(&keyType, bytes, 4);
    std::memcpy(&count, bytes + 4, 4);

    switch (keyType) {
        case 0:
            return ReadKeys<RotationKey, 4>(bytes, size, count, frame->pRotateKeys, frame->cRotateKeys, m_fTotalTicks,
                                            [](RotationKey& k, const float* v) {
                                                k.quatRotate = D3DXQUATERNION(v[1], v[2], v[3], v[0]);
                                            });
        case 1:
            return ReadKeys<ScaleKey, 3>(bytes, size, count, frame->pScaleKeys, frame->cScaleKeys, m_fTotalTicks,
                                         [](ScaleKey& k, const float* v) { k.vScale = D3DXVECTOR3(v[0], v[1], v[2]); });
        case 2:
            return ReadKeys<PositionKey, 3>(bytes, size, count, frame->pPositionKeys, frame->cPositionKeys,
                                            m_fTotalTicks,
                                            [](PositionKey& k, const float* v) { k.vPos = D3DXVECTOR3(v[0], v[1], v[2]); });
        case 4:
            return ReadKeys<MatrixKey, 16>(bytes, size, count, frame->pMatrixKeys, frame->cMatrixKeys, m_fTotalTicks,
                                           [](MatrixKey& k, const float* v) { std::memcpy(k.mat.m, v, sizeof k.mat.m); });
        default: return E_INVALIDARG;
    }
}

SkinFrame* SkinnedMesh::FindFrameByName(const SkinModel* model, const char* name) {
    if (!model || !name) return nullptr;
    // Depth first: the frame, then its first child's subtree, then its next
    // sibling's; an explicit stack keeps deep files off the call stack.
    std::vector<SkinFrame*> stack{model->pRoot};
    while (!stack.empty()) {
        SkinFrame* f = stack.back();
        stack.pop_back();
        if (!f) continue;
        if (f->szName && std::strcmp(f->szName, name) == 0) return f;
        stack.push_back(f->pSibling);
        stack.push_back(f->pFirstChild);
    }
    return nullptr;
}

HRESULT SkinnedMesh::BindBones(const SkinModel* model, SkinFrame* frame) {
    for (; frame; frame = frame->pSibling) {
        for (SkinMeshPart* part = frame->pParts; part; part = part->pNext) {
            if (!part->pSkinInfo) continue;
            const DWORD bones = part->pSkinInfo->GetNumBones();
            auto* const* names = static_cast<char* const*>(part->pBoneNames->GetBufferPointer());
            for (DWORD i = 0; i < bones; ++i) {
                SkinFrame* bone = FindFrameByName(model, names[i]);
                // A bone that no frame carries would leave its vertices
                // without a matrix: the model is refused.
                if (!bone) return E_INVALIDARG;
                part->ppBoneMatrices[i] = &bone->matCombined;
            }
        }
        const HRESULT hr = BindBones(model, frame->pFirstChild);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT SkinnedMesh::BuildBlendedMesh(SkinMeshPart* part) {
    SafeRelease(part->pMesh);
    part->dwPaletteSize = part->pSkinInfo->GetNumBones();
    if (part->dwPaletteSize > kMaxPalette) part->dwPaletteSize = kMaxPalette;

    DWORD options = D3DXMESHOPT_VERTEXCACHE;
    if (m_Caps.VertexShaderVersion >= D3DVS_VERSION(1, 1)) {
        options |= D3DXMESH_MANAGED;
        part->bSoftware = 0;
    } else {
        options |= D3DXMESH_SYSTEMMEM;
        part->bSoftware = 1;
    }

    DWORD influences = 0;
    SafeRelease(part->pBoneCombinations);
    HRESULT hr = part->pSkinInfo->ConvertToIndexedBlendedMesh(options, part->pAdjacency, part->dwPaletteSize, nullptr,
                                                              nullptr, nullptr, &influences, &part->cGroups,
                                                              &part->pBoneCombinations, &part->pMesh);
    if (FAILED(hr)) {
        part->pMesh = nullptr;
        part->cGroups = 0;
        return hr;
    }

    const DWORD position = part->pMesh->GetFVF() & D3DFVF_POSITION_MASK;
    part->dwMaxInfluences = position == D3DFVF_XYZ ? 1 : (position - 4) / 2;

    // The programs read every blended vertex through one 52-byte layout (a
    // weight, then the index bytes): a mesh whose vertices have one bone each
    // gets the weight slot as well, left at 0, so that its stride matches.
    // Program 1 reads only the first index byte, which the conversion keeps.
    const DWORD blend = position == D3DFVF_XYZB1 ? D3DFVF_XYZB2 : position;
    const DWORD required = blend | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2 | D3DFVF_LASTBETA_UBYTE4;
    if (part->pMesh->GetFVF() != required) {
        D3DXMesh* clone = nullptr;
        hr = part->pMesh->CloneMeshFVF(part->pMesh->GetOptions(), required, m_pDevice, &clone);
        if (SUCCEEDED(hr)) {
            part->pMesh->Release();
            part->pMesh = clone;
        }
    }
    part->dwMethod = m_dwMethod;
    return hr;
}
