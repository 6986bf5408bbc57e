#include "model/SkinnedMesh.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "app/ErrLog.h"
#include "app/FrameState.h"
#include "gfx/D3DXTexture.h"
#include "gfx/VertexFormat.h"

SkinnedMesh g_DammySkm;

namespace {

// The declaration shared by the four skinning programs: position, the first
// blend weight, the palette indices (read as a colour), normal, colour and
// two texture sets: the 52-byte vertex of a two-influence blended mesh.
constexpr DWORD kSkinDeclaration[] = {
    D3DVSD_STREAM(0),
    D3DVSD_REG(0, D3DVSDT_FLOAT3),
    D3DVSD_REG(1, D3DVSDT_FLOAT1),
    D3DVSD_REG(2, D3DVSDT_D3DCOLOR),
    D3DVSD_REG(3, D3DVSDT_FLOAT3),
    D3DVSD_REG(5, D3DVSDT_D3DCOLOR),
    D3DVSD_REG(7, D3DVSDT_FLOAT2),
    D3DVSD_REG(8, D3DVSDT_FLOAT2),
    D3DVSD_END(),
};

constexpr const char* kProgramNames[4] = {"skinmesh1.vsh", "skinmesh2.vsh", "skinmesh3.vsh", "skinmesh4.vsh"};

// Releases a COM-style object and clears the pointer.
template <class T>
void SafeRelease(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

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

D3DXMATRIX Identity() {
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    return m;
}

// The three rows of a transposed palette matrix, as the programs read them.
void SetPaletteSlot(Direct3DDevice8* device, DWORD slot, const D3DXMATRIX& bone) {
    D3DXMATRIX t;
    D3DXMatrixTranspose(&t, &bone);
    device->SetVertexShaderConstant(9 + 3 * slot, &t, 3);
}

// Key index pair and fraction of one track at time u.
struct KeySpan {
    DWORD k1 = 0;
    DWORD k2 = 0;
    float f = 0.0f;
};

template <class Key>
KeySpan FindSpan(const Key* keys, DWORD n, float t) {
    KeySpan s;
    const DWORD last = keys[n - 1].dwTime;
    // Each track loops on its own last key; a track that ends at 0 holds.
    const float u = last == 0 ? 0.0f : std::fmod(t, static_cast<float>(last));
    DWORD k2 = n;
    for (DWORD i = 0; i < n; ++i) {
        if (static_cast<float>(keys[i].dwTime) > u) {
            k2 = i;
            break;
        }
    }
    if (k2 == n) return s;  // no key after u: hold the first
    s.k2 = k2;
    s.k1 = k2 == 0 ? 0 : k2 - 1;
    const float t1 = static_cast<float>(keys[s.k1].dwTime);
    const float t2 = static_cast<float>(keys[s.k2].dwTime);
    s.f = t1 == t2 ? 0.0f : (u - t1) / (t2 - t1);
    return s;
}

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
// Records

SkinMeshPart::~SkinMeshPart() {
    // The list is deleted one part at a time, so a long one cannot exhaust
    // the stack.
    SkinMeshPart* next = pNext;
    pNext = nullptr;
    while (next) {
        SkinMeshPart* after = next->pNext;
        next->pNext = nullptr;
        delete next;
        next = after;
    }
    SafeRelease(pMesh);
    delete[] rgMaterials;
    if (pTextures) {
        const DWORD n = cMaterials ? cMaterials : 1;
        for (DWORD i = 0; i < n; ++i) SafeRelease(pTextures[i]);
        delete[] pTextures;
    }
    delete[] szName;
    SafeRelease(pSkinInfo);
    delete[] ppBoneMatrices;
    SafeRelease(pBoneNames);
    SafeRelease(pBoneOffsets);
    delete[] pAdjacency;
    SafeRelease(pBoneCombinations);
}

SkinFrame::SkinFrame() {
    D3DXMatrixIdentity(&matRot);
    D3DXMatrixIdentity(&matTrans);
    D3DXMatrixIdentity(&matRotOrig);
    D3DXMatrixIdentity(&matCombined);
}

SkinFrame::~SkinFrame() {
    SkinFrame* next = pSibling;
    pSibling = nullptr;
    while (next) {
        SkinFrame* after = next->pSibling;
        next->pSibling = nullptr;
        delete next;
        next = after;
    }
    delete pFirstChild;
    delete pParts;
    delete[] pPositionKeys;
    delete[] pRotateKeys;
    delete[] pScaleKeys;
    delete[] pMatrixKeys;
    delete[] szName;
}

SkinModel::~SkinModel() {
    SkinModel* next = pNext;
    while (next) {
        SkinModel* after = next->pNext;
        next->pNext = nullptr;
        delete next;
        next = after;
    }
    delete pRoot;
    delete[] szName;
}

// ---------------------------------------------------------------------------
// Lifecycle

SkinnedMesh::SkinnedMesh()
    : m_pDevice(nullptr),
      m_Caps{},
      m_szName{},
      m_pModels(nullptr),
      m_pCurrentModel(nullptr),
      m_dwMethod(0),
      m_fTotalTicks(0.0f),
      m_bClipReset(1),
      m_fClipLength(0.0f),
      m_fClipStart(0.0f),
      m_fClipEnd(0.0f),
      m_pToonTexture(nullptr),
      m_matView(Identity()),
      m_fFogFar(0.0f) {
    m_hShader.fill(kNoShader);
}

HRESULT SkinnedMesh::InitDeviceObjects(Direct3DDevice8* device, D3DCAPS8 caps, const char* name) {
    m_pDevice = device;
    m_Caps = caps;
    std::snprintf(m_szName, sizeof m_szName, "%s", name ? name : "");

    LoadHierarchy();  // a model that fails to load leaves an object that draws nothing

    g_ErrLog.Add("\t\tD3DXCreateTextureFromResource...\n");
    if (!m_pToonTexture &&
        FAILED(D3DXCreateTextureFromResourceA(m_pDevice, nullptr, "ToonToon.bmp", &m_pToonTexture))) {
        m_pToonTexture = nullptr;
        g_ErrLog.Add("\t\tFailed\n");
        return E_FAIL;
    }
    return S_OK;
}

HRESULT SkinnedMesh::DeleteDeviceObjects() {
    if (m_pCurrentModel == m_pModels) m_pCurrentModel = nullptr;
    delete m_pModels;
    m_pModels = nullptr;
    m_pCurrentModel = nullptr;
    SafeRelease(m_pToonTexture);
    return S_OK;
}

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

// ---------------------------------------------------------------------------
// Animation

HRESULT SkinnedMesh::FrameMove(DWORD clip, DWORD clipCount, DWORD) {
    for (SkinModel* model = m_pModels; model; model = model->pNext) {
        if (m_bClipReset) {
            if (clip == 0 || clipCount == 0) return S_OK;
            m_fClipLength = m_fTotalTicks / static_cast<float>(clipCount);
            m_fClipStart = static_cast<float>(clip - 1) * m_fClipLength;
            m_fClipEnd = static_cast<float>(clip) * m_fClipLength;
            m_bClipReset = 0;
        }
        model->fCurTime += g_fElapsedTime * static_cast<float>(kTicksPerSecond);
        if (model->fCurTime > m_fClipEnd) {
            model->fCurTime = m_fClipStart;
            m_bClipReset = 1;
        }
        if (model->fCurTime < m_fClipStart) model->fCurTime = m_fClipStart;
        for (SkinFrame* anim = model->pAnimHead; anim; anim = anim->pAnimNext) ApplyKeys(anim, model->fCurTime);
    }
    return S_OK;
}

void SkinnedMesh::ApplyKeys(SkinFrame* frame, float time) {
    SkinFrame* target = frame->pTarget;
    if (!target) return;

    if (frame->pMatrixKeys) {
        const KeySpan s = FindSpan(frame->pMatrixKeys, frame->cMatrixKeys, time);
        target->matRot = frame->pMatrixKeys[s.f > 0.5f ? s.k2 : s.k1].mat;
        return;
    }

    D3DXMATRIX m = Identity();
    bool applied = false;
    if (frame->pScaleKeys) {
        const KeySpan s = FindSpan(frame->pScaleKeys, frame->cScaleKeys, time);
        D3DXVECTOR3 v;
        D3DXVec3Lerp(&v, &frame->pScaleKeys[s.k1].vScale, &frame->pScaleKeys[s.k2].vScale, s.f);
        D3DXMATRIX scale;
        D3DXMatrixScaling(&scale, v.x, v.y, v.z);
        D3DXMatrixMultiply(&m, &m, &scale);
        applied = true;
    }
    if (frame->pRotateKeys) {
        const DWORD n = frame->cRotateKeys;
        const KeySpan s = FindSpan(frame->pRotateKeys, n, time);
        const DWORD k0 = s.k1 == 0 ? n - 1 : s.k1 - 1;
        const DWORD k3 = s.k2 + 1 >= n ? s.k2 + 1 - n : s.k2 + 1;
        D3DXQUATERNION a, b, c, q;
        D3DXQuaternionSquadSetup(&a, &b, &c, &frame->pRotateKeys[k0].quatRotate, &frame->pRotateKeys[s.k1].quatRotate,
                                 &frame->pRotateKeys[s.k2].quatRotate, &frame->pRotateKeys[k3].quatRotate);
        D3DXQuaternionSquad(&q, &frame->pRotateKeys[s.k1].quatRotate, &a, &b, &c, s.f);
        q.w = -q.w;
        D3DXMATRIX rotation;
        D3DXMatrixRotationQuaternion(&rotation, &q);
        D3DXMatrixMultiply(&m, &m, &rotation);
        applied = true;
    }
    D3DXMATRIX translation;
    if (frame->pPositionKeys) {
        const KeySpan s = FindSpan(frame->pPositionKeys, frame->cPositionKeys, time);
        D3DXVECTOR3 v;
        D3DXVec3Lerp(&v, &frame->pPositionKeys[s.k1].vPos, &frame->pPositionKeys[s.k2].vPos, s.f);
        D3DXMatrixTranslation(&translation, v.x, v.y, v.z);
        applied = true;
    } else {
        D3DXMatrixTranslation(&translation, target->matRotOrig.m[3][0], target->matRotOrig.m[3][1],
                              target->matRotOrig.m[3][2]);
    }
    D3DXMatrixMultiply(&m, &m, &translation);
    if (applied) target->matRot = m;
}

// ---------------------------------------------------------------------------
// Drawing

HRESULT SkinnedMesh::RestoreDeviceObjects() {
    for (DWORD i = 0; i < 4; ++i) {
        g_ErrLog.Add("\t\tD3DXAssembleShaderFromResource...\n");
        D3DXBuffer* code = nullptr;
        HRESULT hr = D3DXAssembleShaderFromResourceA(nullptr, kProgramNames[i], 0, nullptr, &code, nullptr);
        if (FAILED(hr)) {
            g_ErrLog.Add("\t\tFailed\n");
            return hr;
        }
        g_ErrLog.Add("\t\tCreateVertexShader...\n");
        if (m_hShader[i] != kNoShader) {  // a second restore replaces the program
            m_pDevice->DeleteVertexShader(m_hShader[i]);
            m_hShader[i] = kNoShader;
        }
        hr = m_pDevice->CreateVertexShader(kSkinDeclaration, static_cast<const DWORD*>(code->GetBufferPointer()),
                                           &m_hShader[i], 0);
        code->Release();
        if (FAILED(hr)) {
            m_hShader[i] = kNoShader;
            g_ErrLog.Add("\t\tFailed\n");
            return hr;
        }
    }
    return S_OK;
}

HRESULT SkinnedMesh::InvalidateDeviceObjects() {
    struct Walk {
        static void Frames(SkinFrame* frame) {
            for (; frame; frame = frame->pSibling) {
                for (SkinMeshPart* part = frame->pParts; part; part = part->pNext) {
                    if (!part->pSkinInfo) continue;
                    SafeRelease(part->pMesh);
                    part->dwMethod = 1;
                }
                Frames(frame->pFirstChild);
            }
        }
    };
    for (SkinModel* model = m_pModels; model; model = model->pNext) Walk::Frames(model->pRoot);
    for (DWORD& shader : m_hShader) {
        if (shader == kNoShader) continue;
        if (m_pDevice) m_pDevice->DeleteVertexShader(shader);
        shader = kNoShader;
    }
    return S_OK;
}

HRESULT SkinnedMesh::Render(SkinRenderParams params) {
    if (!m_pDevice) return m_pModels ? E_FAIL : S_OK;
    m_matView = params.view;

    D3DXMATRIX projection;
    D3DXMatrixTranspose(&projection, &params.projection);
    m_pDevice->SetVertexShaderConstant(2, &projection, 4);

    // The light in the instance's model space.
    D3DXMATRIX inverse;
    D3DXVECTOR4 light = params.light;
    if (D3DXMatrixInverse(&inverse, nullptr, &params.world)) D3DXVec4Transform(&light, &params.light, &inverse);
    D3DXVec4Normalize(&light, &light);
    m_pDevice->SetVertexShaderConstant(1, &light, 1);

    m_fFogFar = params.fogEnd;

    for (SkinModel* model = m_pModels; model; model = model->pNext) {
        model->pRoot->matRot = params.world;
        D3DXMatrixIdentity(&model->pRoot->matTrans);
    }
    if (!m_pModels) return S_OK;

    const D3DXMATRIX identity = Identity();
    for (SkinModel* model = m_pModels; model; model = model->pNext) {
        ComposeFrames(model->pRoot, identity);
        const HRESULT hr = DrawFrameTree(model->pRoot);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

void SkinnedMesh::ComposeFrames(SkinFrame* frame, const D3DXMATRIX& parent) {
    for (; frame; frame = frame->pSibling) {
        D3DXMatrixMultiply(&frame->matCombined, &frame->matRot, &parent);
        D3DXMatrixMultiply(&frame->matCombined, &frame->matCombined, &frame->matTrans);
        ComposeFrames(frame->pFirstChild, frame->matCombined);
    }
}

HRESULT SkinnedMesh::DrawFrameTree(SkinFrame* frame) {
    for (; frame; frame = frame->pSibling) {
        if (frame->pParts) {
            HRESULT hr = m_pDevice->SetTransform(D3DTS_WORLD, &frame->matCombined);
            if (FAILED(hr)) return hr;
            for (SkinMeshPart* part = frame->pParts; part; part = part->pNext) {
                hr = DrawMeshPart(part);
                if (FAILED(hr)) return hr;
            }
        }
        const HRESULT hr = DrawFrameTree(frame->pFirstChild);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT SkinnedMesh::DrawMeshPart(SkinMeshPart* part) {
    Direct3DDevice8* d = m_pDevice;

    if (!part->pSkinInfo) {
        for (DWORD i = 0; i < part->cGroups; ++i) {
            d->SetMaterial(&part->rgMaterials[i]);
            d->SetTexture(0, part->pTextures[i]);
            const HRESULT hr = part->pMesh->DrawSubset(i);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

    // A blended mesh dropped by an invalidation is rebuilt here; one that
    // cannot be rebuilt is skipped this frame.
    if (part->dwMethod != m_dwMethod) BuildBlendedMesh(part);
    if (!part->pMesh || !part->pBoneCombinations) return S_OK;

    const float c0[4] = {1.0f, 0.5f, 0.0f, 765.01f};
    d->SetVertexShaderConstant(0, c0, 1);

    if (part->bSoftware) d->SetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, TRUE);
    struct SoftwareScope {
        Direct3DDevice8* device;
        BOOL on;
        ~SoftwareScope() {
            if (on) device->SetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, FALSE);
        }
    } scope{d, part->bSoftware};

    Direct3DVertexBuffer8* vb = nullptr;
    HRESULT hr = part->pMesh->GetVertexBuffer(&vb);
    if (FAILED(hr)) return hr;
    hr = d->SetStreamSource(0, vb, D3DXGetFVFVertexSize(part->pMesh->GetFVF()));
    vb->Release();
    if (FAILED(hr)) return hr;

    Direct3DIndexBuffer8* ib = nullptr;
    hr = part->pMesh->GetIndexBuffer(&ib);
    if (FAILED(hr)) return hr;
    hr = d->SetIndices(ib, 0);
    ib->Release();
    if (FAILED(hr)) return hr;

    hr = d->SetVertexShader(Shader(part->dwMaxInfluences));
    if (FAILED(hr)) return hr;

    const DWORD bones = part->pSkinInfo->GetNumBones();
    const DWORD textures = part->cMaterials ? part->cMaterials : 1;
    const auto* groups = static_cast<const D3DXBONECOMBINATION*>(part->pBoneCombinations->GetBufferPointer());
    for (DWORD g = 0; g < part->cGroups; ++g) {
        const D3DXBONECOMBINATION& group = groups[g];
        for (DWORD k = 0; k < part->dwPaletteSize; ++k) {
            const DWORD b = group.BoneId[k];
            if (b == UNUSED32 || b >= bones) continue;
            D3DXMATRIX bone;
            D3DXMatrixMultiply(&bone, &part->pBoneOffsetMatrices[b], part->ppBoneMatrices[b]);
            D3DXMatrixMultiply(&bone, &bone, &m_matView);
            SetPaletteSlot(d, k, bone);
        }

        // Linear fog from the eye to the fog end; a fog end of 0 or less
        // fogs everything rather than dividing by it.
        float c7[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        if (m_fFogFar > 0.0f) {
            c7[0] = -1.0f / (m_fFogFar - 0.0f);
            c7[1] = m_fFogFar / (m_fFogFar - 0.0f);
        }
        d->SetVertexShaderConstant(7, c7, 1);

        d->SetTexture(0, m_pToonTexture);
        d->SetTexture(1, group.AttribId < textures ? part->pTextures[group.AttribId] : nullptr);
        hr = d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, group.VertexStart, group.VertexCount, group.FaceStart * 3,
                                     group.FaceCount);
        d->SetTexture(0, nullptr);
        d->SetTexture(1, nullptr);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}
