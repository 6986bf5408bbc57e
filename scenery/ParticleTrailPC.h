// The glowing trails behind the birds: particles emitted by the flock at a
// bird's position, falling under gravity, growing, fading in quickly and out
// slowly, drawn as camera-facing textured triangles with additive blending.
//
// Each sprite image fills only a small part of its triangle, and additive
// blending adds nothing where the texture is transparent. So the part of the
// triangle that can show anything (the rectangle of the image around its
// non-transparent texels, when that lies inside the triangle) is drawn as a
// quad in the triangle's plane, with the texture coordinates the triangle
// has there: the same pixels change by the same amounts, and the rasterizer
// sees about half the area. Sprites that cannot show anything (a newborn's
// alpha of 0, or one wholly outside the view) are left out of the buffer.
#pragma once

#include <array>

#include "app/Settings.h"
#include "gfx/D3DXMath.h"
#include "gfx/Device.h"
#include "gfx/DeviceResources.h"

class ParticleTrailPC {
public:
    static constexpr DWORD kCapacity = 3000;
    static constexpr int kTextureCount = 7;

    ParticleTrailPC();
    ParticleTrailPC(const ParticleTrailPC&) = delete;
    ParticleTrailPC& operator=(const ParticleTrailPC&) = delete;
    ~ParticleTrailPC();  // releases the sprites and the buffer, frees every record of both lists

    HRESULT SetParameters(const Settings& settings);
    HRESULT InitDeviceObjects(Direct3DDevice8* device);
    HRESULT RestoreDeviceObjects();
    HRESULT InvalidateDeviceObjects();
    HRESULT DeleteDeviceObjects();

    // One particle at position p with initial velocity v, in world units a
    // second as FrameMove integrates it (the flock hands over the distance a
    // bird moved in its last frame: a slow push along its path).
    HRESULT Emit(float px, float py, float pz, float vx, float vy, float vz);
    HRESULT FrameMove();
    HRESULT Render(Direct3DDevice8* device, D3DXMATRIX billboard);

    // The vertex layout of the sprites (format kFVF, 24 bytes).
    static constexpr DWORD kFVF = 0x142;  // position, diffuse colour, one texture pair
    struct Vertex {
        float x, y, z;
        DWORD colour;
        float u, v;
    };

    // One live or recycled particle.
    struct Particle {
        D3DXVECTOR3 vPosition;
        D3DXVECTOR3 vVelocity;
        float fLife;     // -255 at birth, dies at 255
        DWORD dwColour;  // 0x00RRGGBB
        Particle* pNext;
    };

    // Read-only views for tests and benchmarks.
    DWORD ActiveCount() const { return m_dwNum; }
    DWORD FreeCount() const;
    const Particle* FirstActive() const { return m_pActive; }  // the newest
    float Size() const { return m_fSize; }
    int TextureIndex() const { return m_nTexIdx; }
    Direct3DTexture8* Texture(int i) const { return m_pTexture[static_cast<std::size_t>(i)]; }
    Direct3DVertexBuffer8* VertexBuffer() const { return m_pVB; }
    const Vertex& TemplateVertex(int i) const { return m_Template[static_cast<std::size_t>(i)]; }
    // The quad drawn in place of the template triangle (corners bottom left,
    // top left, top right, bottom right), when the sprite allows one.
    bool DrawsQuads() const { return m_bQuads; }
    const Vertex& QuadVertex(int i) const { return m_Quad[static_cast<std::size_t>(i)]; }
    // Sprites written into the vertex buffer by the last Render.
    DWORD DrawnCount() const { return m_dwDrawn; }

private:
    void PrepareQuads(Direct3DDevice8* device);

    DWORD m_dwNum;
    DWORD m_dwMax;
    Particle* m_pActive;
    Particle* m_pFree;
    Direct3DVertexBuffer8* m_pVB;
    std::array<Direct3DTexture8*, kTextureCount> m_pTexture;
    std::array<Vertex, 3> m_Template;
    std::array<Vertex, 4> m_Quad;
    bool m_bQuads;
    bool m_bEmpty;  // the sprite shows nothing at all
    Direct3DIndexBuffer8* m_pIB;  // two triangles a quad
    DWORD m_dwDrawn;
    D3DXMATRIX m_matIdentity;
    float m_fSize;
    int m_bLongLife;
    int m_nTexIdx;
    int m_bRandomColour;
};

extern ParticleTrailPC g_ParticleTrailPC;
