#include "gfx/D3DXTexture.h"

#include <cstring>
#include <span>
#include <vector>

#include "gfx/ImageDecode.h"
#include "platform/Resources.h"

HRESULT D3DXCreateTextureFromResourceA(Direct3DDevice8* device, HMODULE module, const char* name,
                                       Direct3DTexture8** texture) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (!device || !name) return D3DERR_INVALIDCALL;
    HRSRC found = FindResourceA(module, name, RT_RCDATA);
    if (!found) return D3DERR_NOTFOUND;
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return D3DERR_NOTFOUND;
    const std::span<const unsigned char> data(static_cast<const unsigned char*>(bytes), SizeofResource(module, found));

    D3DFORMAT format = D3DFMT_UNKNOWN;
    std::vector<MipLevel> levels;
    HRESULT hr = DecodeTextureImage(data, format, levels);
    if (FAILED(hr)) return hr;
    if (levels.empty()) return D3DXERR_INVALIDDATA;

    Direct3DTexture8* created = nullptr;
    hr = device->CreateTexture(levels[0].width, levels[0].height, static_cast<UINT>(levels.size()), 0, format,
                               D3DPOOL_MANAGED, &created);
    if (FAILED(hr)) return hr;
    const UINT bpp = BytesPerPixel(format);
    for (UINT i = 0; i < levels.size(); ++i) {
        const MipLevel& level = levels[i];
        D3DLOCKED_RECT locked{};
        if (FAILED(created->LockRect(i, &locked, nullptr, 0))) {
            created->Release();
            return D3DERR_INVALIDCALL;
        }
        for (UINT y = 0; y < level.height; ++y)
            std::memcpy(static_cast<BYTE*>(locked.pBits) + static_cast<std::size_t>(y) * static_cast<UINT>(locked.Pitch),
                        level.pixels.data() + static_cast<std::size_t>(y) * level.pitch,
                        static_cast<std::size_t>(level.width) * bpp);
        created->UnlockRect(i);
    }
    *texture = created;
    return D3D_OK;
}
