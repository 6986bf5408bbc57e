// X files: the reader's walk over every object, member data and reference;
// the mesh and skin-mesh loads of every Mesh object; then the same text as a
// model resource through the rigid model container and the skinned mesh.
#include <cstdint>
#include <vector>

#include "app/ErrLog.h"
#include "app/FrameState.h"
#include "fuzz/FuzzSupport.h"
#include "gfx/D3DXMesh.h"
#include "gfx/D3DXSkinMesh.h"
#include "gfx/VertexFormat.h"
#include "gfx/VertexProgramAsm.h"
#include "gfx/XFile.h"
#include "model/MeshModel.h"
#include "model/SkinnedMesh.h"
#include "model/TextureCache.h"

namespace {

template <class T>
void SafeRelease(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// Reads every byte the object hands out, so that a pointer or a size that
// does not match the data shows.
unsigned Touch(const void* data, DWORD size) {
    unsigned sum = 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (DWORD i = 0; i < size; ++i) sum += bytes[i];
    return sum;
}

void LoadMeshes(XFileData* object) {
    D3DXBuffer* adjacency = nullptr;
    D3DXBuffer* materials = nullptr;
    DWORD materialCount = 0;
    D3DXMesh* mesh = nullptr;
    if (SUCCEEDED(D3DXLoadMeshFromXof(object, D3DXMESH_SYSTEMMEM, nullptr, &adjacency, &materials, &materialCount,
                                      &mesh))) {
        fuzzing::Check(mesh && mesh->GetNumFaces() > 0 && mesh->GetNumVertices() > 0, "a loaded mesh has faces");
        fuzzing::Check(mesh->IndicesInRange(), "a loaded mesh's indices name its vertices");
        D3DXMesh* clone = nullptr;
        if (SUCCEEDED(mesh->CloneMeshFVF(D3DXMESH_SYSTEMMEM, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2,
                                         nullptr, &clone)))
            D3DXComputeNormals(clone, nullptr);
        SafeRelease(clone);
    }
    SafeRelease(mesh);
    SafeRelease(adjacency);
    SafeRelease(materials);

    D3DXBuffer* boneNames = nullptr;
    D3DXBuffer* boneTransforms = nullptr;
    D3DXSkinMesh* skin = nullptr;
    if (SUCCEEDED(D3DXLoadSkinMeshFromXof(object, D3DXMESH_SYSTEMMEM, nullptr, &adjacency, &materials,
                                          &materialCount, &boneNames, &boneTransforms, &skin)) &&
        skin->GetNumBones() > 0) {
        DWORD influences = 0, combinations = 0;
        D3DXBuffer* table = nullptr;
        D3DXMesh* blended = nullptr;
        skin->ConvertToIndexedBlendedMesh(D3DXMESH_SYSTEMMEM, nullptr, SkinnedMesh::kMaxPalette, nullptr, nullptr,
                                          nullptr, &influences, &combinations, &table, &blended);
        SafeRelease(blended);
        SafeRelease(table);
    }
    SafeRelease(skin);
    SafeRelease(boneNames);
    SafeRelease(boneTransforms);
    SafeRelease(adjacency);
    SafeRelease(materials);
}

void Walk(XFileData* object, int depth) {
    const GUID* type = nullptr;
    fuzzing::Check(SUCCEEDED(object->GetType(&type)) && type, "every data object has a type");
    DWORD size = 0;
    if (SUCCEEDED(object->GetName(nullptr, &size)) && size > 0) {
        std::vector<char> name(size);
        fuzzing::Check(SUCCEEDED(object->GetName(name.data(), &size)) && name[size - 1] == '\0',
                       "a name fits the size the object asked for");
    }
    void* data = nullptr;
    if (SUCCEEDED(object->GetData(nullptr, &size, &data)) && size > 0) Touch(data, size);
    if (IsEqualGUID(*type, TID_D3DRMMesh)) LoadMeshes(object);

    for (XFileObject* child = nullptr; SUCCEEDED(object->GetNextObject(&child));) {
        XFileData* childData = nullptr;
        XFileDataReference* reference = nullptr;
        if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&childData)))) {
            Walk(childData, depth + 1);
        } else if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileDataReference,
                                                   reinterpret_cast<void**>(&reference)))) {
            XFileData* target = nullptr;
            if (SUCCEEDED(reference->Resolve(&target))) {
                const GUID* targetType = nullptr;
                fuzzing::Check(SUCCEEDED(target->GetType(&targetType)), "a resolved reference has a type");
            }
            SafeRelease(target);
        }
        SafeRelease(reference);
        SafeRelease(childData);
        child->Release();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    XFile* file = nullptr;
    if (FAILED(DirectXFileCreate(&file))) return 0;
    file->RegisterTemplates(D3DRM_XTEMPLATES, D3DRM_XTEMPLATE_BYTES);
    DXFILELOADMEMORY memory{data, static_cast<DWORD>(size)};
    XFileEnumObject* objects = nullptr;
    const bool parsed = SUCCEEDED(file->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, &objects));
    if (parsed) {
        for (XFileData* object = nullptr; SUCCEEDED(objects->GetNextDataObject(&object));) {
            Walk(object, 0);
            object->Release();
        }
        objects->Release();
    }
    file->Release();
    if (!parsed) return 0;  // the loaders below would only fail at the same parse

    Direct3DDevice8* device = fuzzing::Device();
    fuzzing::UseAsResource("MODEL", "FUZZ.X", data, size);
    g_ErrLog.ClearForTesting();
    {
        MeshModel model;
        model.LoadXFile(device, "FUZZ.X");
        model.Release();
    }
    {
        SkinnedMesh skinned;
        D3DCAPS8 caps{};
        device->GetDeviceCaps(&caps);
        if (SUCCEEDED(skinned.InitDeviceObjects(device, caps, "FUZZ.X"))) {
            g_fElapsedTime = 0.03f;
            for (DWORD frame = 0; frame < 4; ++frame) skinned.FrameMove(1 + frame % 2, 2, 0);
        }
        skinned.InvalidateDeviceObjects();
        skinned.DeleteDeviceObjects();
    }
    fuzzing::Check(g_TextureCache.Count() == 0, "the models give back every texture they took");
    return 0;
}
