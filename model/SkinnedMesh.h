// An animated, skinned model read from an X-file resource of type MODEL: a
// hierarchy of frames, the mesh parts that hang on them, the bones of every
// skinned part bound to the frames that carry their names, and the key tracks
// that move the frames. The model runs its own clock (4800 ticks a second);
// Render draws one instance in the current pose with matrix-palette skinning
// in the vertex programs skinmesh1.vsh .. skinmesh4.vsh.
#pragma once

#include <array>

#include "gfx/D3D8Types.h"
#include "gfx/D3DXMath.h"
#include "gfx/D3DXMesh.h"
#include "gfx/D3DXSkinMesh.h"
#include "gfx/Device.h"
#include "gfx/DeviceResources.h"
#include "gfx/VertexProgramAsm.h"
#include "gfx/XFile.h"

struct PositionKey {
    DWORD dwTime;
    D3DXVECTOR3 vPos;
};

struct RotationKey {
    DWORD dwTime;
    D3DXQUATERNION quatRotate;
};

struct ScaleKey {
    DWORD dwTime;
    D3DXVECTOR3 vScale;
};

struct MatrixKey {
    DWORD dwTime;
    D3DXMATRIX mat;
};

// One Mesh object of the file. A skinned part draws its blended mesh by bone
// combination; a rigid part (a mesh without bones) draws its source mesh by
// material.
struct SkinMeshPart {
    SkinMeshPart() = default;
    SkinMeshPart(const SkinMeshPart&) = delete;
    SkinMeshPart& operator=(const SkinMeshPart&) = delete;
    ~SkinMeshPart();  // deletes the parts after it as well

    D3DXMesh* pMesh = nullptr;
    D3DMATERIAL8* rgMaterials = nullptr;
    Direct3DTexture8** pTextures = nullptr;
    DWORD cGroups = 0;
    DWORD cMaterials = 0;
    SkinMeshPart* pNext = nullptr;
    char* szName = nullptr;

    D3DXSkinMesh* pSkinInfo = nullptr;
    D3DXMATRIX** ppBoneMatrices = nullptr;
    D3DXBuffer* pBoneNames = nullptr;
    D3DXBuffer* pBoneOffsets = nullptr;
    D3DXMATRIX* pBoneOffsetMatrices = nullptr;
    DWORD* pAdjacency = nullptr;
    DWORD dwMaxInfluences = 0;
    D3DXBuffer* pBoneCombinations = nullptr;
    DWORD dwMethod = 1;
    DWORD dwPaletteSize = 0;
    BOOL bSoftware = 0;
};

// A node of the hierarchy. Animation sets and animations are frames too
// (bAnimation = 1); an animation frame drives the matRot of its target.
struct SkinFrame {
    SkinFrame();
    SkinFrame(const SkinFrame&) = delete;
    SkinFrame& operator=(const SkinFrame&) = delete;
    ~SkinFrame();  // deletes the subtree and the siblings after it

    SkinMeshPart* pParts = nullptr;
    D3DXMATRIX matRot;
    D3DXMATRIX matTrans;
    D3DXMATRIX matRotOrig;
    D3DXMATRIX matCombined;

    PositionKey* pPositionKeys = nullptr;
    DWORD cPositionKeys = 0;
    RotationKey* pRotateKeys = nullptr;
    DWORD cRotateKeys = 0;
    ScaleKey* pScaleKeys = nullptr;
    DWORD cScaleKeys = 0;
    MatrixKey* pMatrixKeys = nullptr;
    DWORD cMatrixKeys = 0;

    SkinFrame* pAnimNext = nullptr;
    SkinFrame* pTarget = nullptr;
    SkinFrame* pSibling = nullptr;
    SkinFrame* pFirstChild = nullptr;
    BYTE bAnimation = 0;
    char* szName = nullptr;
};

// One loaded hierarchy.
struct SkinModel {
    SkinModel() = default;
    SkinModel(const SkinModel&) = delete;
    SkinModel& operator=(const SkinModel&) = delete;
    ~SkinModel();  // deletes the models after it as well

    SkinFrame* pRoot = nullptr;
    SkinFrame* pAnimHead = nullptr;
    char* szName = nullptr;
    SkinModel* pNext = nullptr;
    float fCurTime = 0.0f;
};

// What Render needs of the instance and the camera.
struct SkinRenderParams {
    D3DXMATRIX world;
    D3DXMATRIX view;
    D3DXMATRIX projection;
    D3DXVECTOR4 light;  // a direction, w = 0
    float fogEnd;
};

class SkinnedMesh {
public:
    static constexpr DWORD kNoShader = 0xFFFFFFFF;
    static constexpr DWORD kMaxPalette = 28;
    static constexpr DWORD kTicksPerSecond = 4800;

    SkinnedMesh();
    SkinnedMesh(const SkinnedMesh&) = delete;
    SkinnedMesh& operator=(const SkinnedMesh&) = delete;
    // Releases whatever it still holds; its owners invalidate and delete it
    // before the device goes, so in a run this finds nothing.
    ~SkinnedMesh();

    HRESULT InitDeviceObjects(Direct3DDevice8* device, D3DCAPS8 caps, const char* name);
    HRESULT RestoreDeviceObjects();
    HRESULT FrameMove(DWORD clip, DWORD clipCount, DWORD unused);
    HRESULT Render(SkinRenderParams params);
    HRESULT InvalidateDeviceObjects();
    HRESULT DeleteDeviceObjects();

    // What the object holds (for its owners' checks and for tests).
    SkinModel* Models() const { return m_pModels; }
    SkinModel* CurrentModel() const { return m_pCurrentModel; }
    float TotalTicks() const { return m_fTotalTicks; }
    float ClipStart() const { return m_fClipStart; }
    float ClipEnd() const { return m_fClipEnd; }
    DWORD Shader(DWORD influences) const { return influences >= 1 && influences <= 4 ? m_hShader[influences - 1] : kNoShader; }
    Direct3DTexture8* ToonTexture() const { return m_pToonTexture; }
    static SkinFrame* FindFrameByName(const SkinModel* model, const char* name);

private:
    HRESULT LoadHierarchy();
    HRESULT ReadFrameObject(XFileData* object, SkinModel* model, SkinFrame* parent);
    HRESULT ReadMeshPart(XFileData* object, SkinFrame* parent);
    HRESULT ReadAnimationSet(XFileData* object, SkinModel* model, SkinFrame* parent);
    HRESULT ReadAnimation(XFileData* object, SkinModel* model, SkinFrame* parent);
    HRESULT ReadAnimationKey(XFileData* object, SkinFrame* frame);
    HRESULT BindBones(const SkinModel* model, SkinFrame* frame);
    HRESULT BuildBlendedMesh(SkinMeshPart* part);
    static void ApplyKeys(SkinFrame* frame, float time);
    static void AttachChild(SkinFrame* parent, SkinFrame* child);

    static void ComposeFrames(SkinFrame* frame, const D3DXMATRIX& parent);
    HRESULT DrawFrameTree(const SkinFrame* frame, const SkinRenderParams& params);
    HRESULT DrawMeshPart(SkinMeshPart* part, const SkinRenderParams& params);

    Direct3DDevice8* m_pDevice;
    D3DCAPS8 m_Caps;
    char m_szName[256];
    SkinModel* m_pModels;
    SkinModel* m_pCurrentModel;
    DWORD m_dwMethod;
    float m_fTotalTicks;
    BOOL m_bClipReset;
    float m_fClipLength;
    float m_fClipStart;
    float m_fClipEnd;
    std::array<DWORD, 4> m_hShader;
    Direct3DTexture8* m_pToonTexture;
};

// The process-wide skinned mesh that start-up loads and shutdown releases;
// nothing moves or draws it.
extern SkinnedMesh g_DammySkm;
