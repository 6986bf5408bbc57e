// Textures named by the models' materials, read from the program's image
// resources and shared among every mesh that names them.
#pragma once

#include <string>

#include "gfx/Device.h"
#include "gfx/DeviceResources.h"

class TextureCache {
public:
    TextureCache() = default;
    TextureCache(const TextureCache&) = delete;
    TextureCache& operator=(const TextureCache&) = delete;

    // The texture of that exact name (letter case included), created from the
    // resource of that name on first use; null when it cannot be read.
    Direct3DTexture8* Acquire(Direct3DDevice8* device, const char* name);

    // Gives back one acquisition; the last one releases the texture.
    void Release(Direct3DTexture8* texture);

    // Entries in list order, and one entry's reference count (tests).
    int Count() const;
    const char* NameAt(int index) const;
    int RefCountOf(const Direct3DTexture8* texture) const;

private:
    struct Entry {
        Direct3DTexture8* texture;
        std::string name;
        int refs;
        Entry* next;
    };
    Entry* m_pHead = nullptr;
};

extern TextureCache g_TextureCache;
