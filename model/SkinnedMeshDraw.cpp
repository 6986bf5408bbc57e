// SkinnedMesh: the skinning programs and the drawing of one instance in the
// current pose.
#include "app/ErrLog.h"
#include "gfx/VertexFormat.h"
#include "model/SkinnedMesh.h"
#include "model/SkinnedMeshInternal.h"

using skinned_mesh::Identity;
using skinned_mesh::SafeRelease;

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

// The three rows of a transposed palette matrix, as the programs read them.
void SetPaletteSlot(Direct3DDevice8* device, DWORD slot, const D3DXMATRIX& bone) {
    D3DXMATRIX t;
    D3DXMatrixTranspose(&t, &bone);
    device->SetVertexShaderConstant(9 + 3 * slot, &t, 3);
}

}  // namespace

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

    D3DXMATRIX projection;
    D3DXMatrixTranspose(&projection, &params.projection);
    m_pDevice->SetVertexShaderConstant(2, &projection, 4);

    // The light in the instance's model space.
    D3DXMATRIX inverse;
    D3DXVECTOR4 light = params.light;
    if (D3DXMatrixInverse(&inverse, nullptr, &params.world)) D3DXVec4Transform(&light, &params.light, &inverse);
    D3DXVec4Normalize(&light, &light);
    m_pDevice->SetVertexShaderConstant(1, &light, 1);

    if (!m_pModels) return S_OK;

    // The instance's world matrix takes the place of the root's own
    // transform: the model, its pose and the root stay as they are for the
    // next instance.
    const D3DXMATRIX identity = Identity();
    for (SkinModel* model = m_pModels; model; model = model->pNext) {
        SkinFrame* root = model->pRoot;
        D3DXMatrixMultiply(&root->matCombined, &params.world, &identity);
        D3DXMatrixMultiply(&root->matCombined, &root->matCombined, &root->matTrans);
        ComposeFrames(root->pFirstChild, root->matCombined);
        const HRESULT hr = DrawFrameTree(root, params);
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

HRESULT SkinnedMesh::DrawFrameTree(const SkinFrame* frame, const SkinRenderParams& params) {
    for (; frame; frame = frame->pSibling) {
        if (frame->pParts) {
            HRESULT hr = m_pDevice->SetTransform(D3DTS_WORLD, &frame->matCombined);
            if (FAILED(hr)) return hr;
            for (SkinMeshPart* part = frame->pParts; part; part = part->pNext) {
                hr = DrawMeshPart(part, params);
                if (FAILED(hr)) return hr;
            }
        }
        const HRESULT hr = DrawFrameTree(frame->pFirstChild, params);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT SkinnedMesh::DrawMeshPart(SkinMeshPart* part, const SkinRenderParams& params) {
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
            D3DXMatrixMultiply(&bone, &bone, &params.view);
            SetPaletteSlot(d, k, bone);
        }

        // Linear fog from the eye to the fog end; a fog end of 0 or less
        // fogs everything rather than dividing by it.
        float c7[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        if (params.fogEnd > 0.0f) {
            c7[0] = -1.0f / (params.fogEnd - 0.0f);
            c7[1] = params.fogEnd / (params.fogEnd - 0.0f);
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
