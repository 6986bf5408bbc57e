#include "gfx/D3DXTexture.h"

#include <strings.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include "gfx/ImageDecode.h"
#include "platform/Resources.h"

namespace {

// Image resources decoded on a worker thread while the caller goes on with
// other work. An image is handed over once, to the first texture made from
// the very same bytes.
class ImagePrefetch {
public:
    ImagePrefetch() = default;
    ImagePrefetch(const ImagePrefetch&) = delete;
    ImagePrefetch& operator=(const ImagePrefetch&) = delete;
    ~ImagePrefetch() { Drop(); }

    void Start() {
        Drop();
        std::vector<Item> items;
        for (const ResourceEntry& entry : CompiledResourceTable()) {
            if (strcasecmp(entry.type, "RCDATA") != 0) continue;
            // The bytes a lookup finds now, which tests may have replaced.
            HRSRC found = FindResourceA(nullptr, entry.name, RT_RCDATA);
            HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
            const void* bytes = loaded ? LockResource(loaded) : nullptr;
            if (!bytes) continue;
            const std::span<const unsigned char> data(static_cast<const unsigned char*>(bytes),
                                                      SizeofResource(nullptr, found));
            if (IsImageData(data)) items.emplace_back().data = data;
        }
        if (items.empty()) return;
        std::lock_guard lock(m_Mutex);
        m_Items = std::move(items);
        m_bCancel = false;
        try {
            m_Worker = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
            m_Items.clear();  // no thread: every texture decodes its own image
        }
    }

    // The decoded image of `data`, when it was (or is being) decoded here.
    bool Take(std::span<const unsigned char> data, HRESULT& hr, D3DFORMAT& format, std::vector<MipLevel>& levels) {
        std::unique_lock lock(m_Mutex);
        for (Item& item : m_Items) {
            if (item.taken || item.data.data() != data.data() || item.data.size() != data.size()) continue;
            m_Done.wait(lock, [&] { return item.done; });
            item.taken = true;
            // Memory that ran short on the worker may not run short here.
            if (item.hr == E_OUTOFMEMORY) return false;
            hr = item.hr;
            format = item.format;
            levels = std::move(item.levels);
            return true;
        }
        return false;
    }

    int Drop() {
        {
            std::lock_guard lock(m_Mutex);
            m_bCancel = true;
        }
        if (m_Worker.joinable()) m_Worker.join();
        std::lock_guard lock(m_Mutex);
        const auto taken = std::count_if(m_Items.begin(), m_Items.end(), [](const Item& item) { return item.taken; });
        m_Items.clear();
        return static_cast<int>(taken);
    }

private:
    struct Item {
        std::span<const unsigned char> data;
        bool done = false;
        bool taken = false;
        HRESULT hr = E_FAIL;
        D3DFORMAT format = D3DFMT_UNKNOWN;
        std::vector<MipLevel> levels;
    };

    void Run() {
        for (std::size_t i = 0;; ++i) {
            std::span<const unsigned char> data;
            {
                std::lock_guard lock(m_Mutex);
                if (m_bCancel || i >= m_Items.size()) return;
                data = m_Items[i].data;
            }
            D3DFORMAT format = D3DFMT_UNKNOWN;
            std::vector<MipLevel> levels;
            HRESULT hr = E_OUTOFMEMORY;
            try {
                hr = DecodeTextureImage(data, format, levels);
            } catch (...) {
                levels.clear();
            }
            std::lock_guard lock(m_Mutex);
            Item& item = m_Items[i];
            item.hr = hr;
            item.format = format;
            item.levels = std::move(levels);
            item.done = true;
            m_Done.notify_all();
        }
    }

    std::mutex m_Mutex;
    std::condition_variable m_Done;
    std::vector<Item> m_Items;  // fixed while the worker runs
    bool m_bCancel = false;
    std::thread m_Worker;
};

ImagePrefetch g_ImagePrefetch;

}  // namespace

void PrefetchTextureImages() { g_ImagePrefetch.Start(); }

int DropPrefetchedTextureImages() { return g_ImagePrefetch.Drop(); }

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
    HRESULT hr = E_FAIL;
    if (!g_ImagePrefetch.Take(data, hr, format, levels)) hr = DecodeTextureImage(data, format, levels);
    if (FAILED(hr)) return hr;
    if (levels.empty()) return D3DXERR_INVALIDDATA;

    // The decoded levels become the texture's own: packed rows, a full chain.
    const UINT bpp = BytesPerPixel(format);
    std::vector<std::vector<BYTE>> pixels;
    pixels.reserve(levels.size());
    for (MipLevel& level : levels) {
        if (bpp != 0 && level.pitch != level.width * bpp) return D3DERR_INVALIDCALL;
        pixels.push_back(std::move(level.pixels));
    }
    Direct3DTexture8* created = nullptr;
    hr = device->CreateTextureFromPixels(levels[0].width, levels[0].height, format, pixels, &created);
    if (FAILED(hr)) return hr;
    *texture = created;
    return D3D_OK;
}
