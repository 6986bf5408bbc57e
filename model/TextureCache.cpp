#include "model/TextureCache.h"

#include <cstdio>
#include <cstring>

#include "app/ErrLog.h"
#include "gfx/D3DXTexture.h"

TextureCache g_TextureCache;

Direct3DTexture8* TextureCache::Acquire(Direct3DDevice8* device, const char* name) {
    if (!name) return nullptr;
    for (Entry* e = m_pHead; e; e = e->next) {
        if (e->name == name) {
            ++e->refs;
            return e->texture;
        }
    }

    // The line goes into a fixed 512-byte buffer; a name too long for it is
    // logged shortened rather than overflowing.
    char line[512];
    const int n = std::snprintf(line, sizeof line, "\t\t\tD3DXCreateTextureFromResource...%s\n", name);
    if (n >= static_cast<int>(sizeof line)) {
        line[sizeof line - 5] = '.';
        line[sizeof line - 4] = '.';
        line[sizeof line - 3] = '.';
        line[sizeof line - 2] = '\n';
        line[sizeof line - 1] = '\0';
    }
    g_ErrLog.Add(line);

    Direct3DTexture8* texture = nullptr;
    if (FAILED(D3DXCreateTextureFromResourceA(device, nullptr, name, &texture))) {
        g_ErrLog.Add("\t\t\tFailed\n");
        return nullptr;
    }

    auto* entry = new Entry{texture, name, 1, nullptr};  // owned by the list
    // A new entry goes first into an empty list, else second.
    if (!m_pHead) {
        m_pHead = entry;
    } else {
        entry->next = m_pHead->next;
        m_pHead->next = entry;
    }
    return texture;
}

void TextureCache::Release(Direct3DTexture8* texture) {
    if (!texture) return;
    Entry* previous = nullptr;
    for (Entry* e = m_pHead; e; previous = e, e = e->next) {
        if (e->texture != texture) continue;
        if (--e->refs > 0) return;
        e->texture->Release();
        if (previous) previous->next = e->next;
        else m_pHead = e->next;
        delete e;
        return;
    }
}

int TextureCache::Count() const {
    int n = 0;
    for (const Entry* e = m_pHead; e; e = e->next) ++n;
    return n;
}

const char* TextureCache::NameAt(int index) const {
    const Entry* e = m_pHead;
    for (; e && index > 0; --index) e = e->next;
    return e ? e->name.c_str() : nullptr;
}

int TextureCache::RefCountOf(const Direct3DTexture8* texture) const {
    for (const Entry* e = m_pHead; e; e = e->next)
        if (e->texture == texture) return e->refs;
    return 0;
}
