// Images (BMP, JPEG, DDS) as the program's RCDATA resource, through the
// texture creation the models and the particle trails use.
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "gfx/D3DXTexture.h"
#include "gfx/ImageDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Direct3DDevice8* device = fuzzing::Device();
    fuzzing::UseAsResource("RCDATA", "FUZZ.IMG", data, size);
    Direct3DTexture8* texture = nullptr;
    const HRESULT hr = D3DXCreateTextureFromResourceA(device, nullptr, "FUZZ.IMG", &texture);
    fuzzing::Check(SUCCEEDED(hr) == (texture != nullptr), "a texture comes with success and only with it");
    if (!texture) return 0;
    // Every level is there, half the size of the one before, and readable.
    UINT width = 0, height = 0;
    for (DWORD level = 0; level < texture->GetLevelCount(); ++level) {
        D3DSURFACE_DESC desc{};
        fuzzing::Check(SUCCEEDED(texture->GetLevelDesc(level, &desc)), "every level has a description");
        if (level > 0)
            fuzzing::Check(desc.Width == (width > 1 ? width / 2 : 1) && desc.Height == (height > 1 ? height / 2 : 1),
                           "each level halves the one before");
        width = desc.Width;
        height = desc.Height;
        D3DLOCKED_RECT locked{};
        fuzzing::Check(SUCCEEDED(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY)), "every level locks");
        const auto* row = static_cast<const unsigned char*>(locked.pBits);
        volatile unsigned char last = row[static_cast<std::size_t>(height - 1) * static_cast<UINT>(locked.Pitch) +
                                         width * BytesPerPixel(desc.Format) - 1];
        (void)last;
        texture->UnlockRect(level);
    }
    fuzzing::Check(width == 1 && height == 1, "the mipmap chain runs down to 1 x 1");
    texture->Release();
    return 0;
}
