// The extension library's textures from the program's resources.
#pragma once

#include "gfx/Device.h"
#include "gfx/DeviceResources.h"

// A texture from the RCDATA resource `name` (a BMP, JPEG or DDS image) with
// the library's defaults: sizes rounded up to powers of two, a full mipmap
// chain, the image's own format, the managed pool. A missing resource or one
// that is not a readable image gives a negative result.
HRESULT D3DXCreateTextureFromResourceA(Direct3DDevice8* device, HMODULE module, const char* name,
                                       Direct3DTexture8** texture);
