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

// Start-up: decodes every image resource on a worker thread, so that the
// textures made from them later only copy their pixels. A texture whose
// resource holds other bytes than the ones decoded (or when no thread could
// be started) decodes its image itself; the result is the same either way.
void PrefetchTextureImages();

// Waits for that worker and frees the images no texture took; returns how
// many textures took theirs.
int DropPrefetchedTextureImages();
