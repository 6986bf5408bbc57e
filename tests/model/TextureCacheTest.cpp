// The shared textures of the models' materials: one texture per exact name,
// counted acquisitions, list order and the log lines of a creation.
#include <gtest/gtest.h>

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/ErrLog.h"
#include "gfx/D3DXTexture.h"
#include "gfx/Device.h"
#include "platform/Resources.h"
#include "model/TextureCache.h"
#include "tests/support/TestDevice.h"

namespace {

class TextureCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        const HRESULT hr = m_device.Create(D3DCREATE_HARDWARE_VERTEXPROCESSING);
        if (testing_support::TestDevice::NothingToDrawOn(hr)) return testing_support::MissingDisplay("no display");
        ASSERT_EQ(hr, D3D_OK);
        m_pDevice = m_device.Device();
        g_ErrLog.ClearForTesting();
    }

    void TearDown() override {
        // Every case gives back what it took.
        EXPECT_EQ(m_cache.Count(), 0);
        m_device.Release();
    }

    testing_support::TestDevice m_device;
    Direct3DDevice8* m_pDevice = nullptr;
    TextureCache m_cache;
};

}  // namespace

TEST_F(TextureCacheTest, OneNameSharesOneTexture) {
    Direct3DTexture8* first = m_cache.Acquire(m_pDevice, "earth.jpg");
    ASSERT_NE(first, nullptr) << g_ErrLog.Text();
    Direct3DTexture8* second = m_cache.Acquire(m_pDevice, "earth.jpg");
    EXPECT_EQ(second, first);
    EXPECT_EQ(m_cache.Count(), 1);
    EXPECT_EQ(m_cache.RefCountOf(first), 2);
    EXPECT_STREQ(g_ErrLog.Text(), "\t\t\tD3DXCreateTextureFromResource...earth.jpg\n");

    // Hold our own reference to see when the cache lets go of its one.
    EXPECT_EQ(first->AddRef(), 2u);
    m_cache.Release(first);
    EXPECT_EQ(m_cache.RefCountOf(first), 1);
    EXPECT_EQ(m_cache.Count(), 1);
    m_cache.Release(first);
    EXPECT_EQ(m_cache.Count(), 0);
    EXPECT_EQ(m_cache.RefCountOf(first), 0);
    EXPECT_EQ(first->Release(), 0u) << "the cache still holds the texture";
}

TEST_F(TextureCacheTest, NamesDifferingInCaseAreDifferentEntries) {
    Direct3DTexture8* lower = m_cache.Acquire(m_pDevice, "earth.jpg");
    Direct3DTexture8* upper = m_cache.Acquire(m_pDevice, "EARTH.JPG");
    ASSERT_NE(lower, nullptr);
    ASSERT_NE(upper, nullptr);
    EXPECT_NE(lower, upper);
    EXPECT_EQ(m_cache.Count(), 2);
    EXPECT_EQ(m_cache.RefCountOf(lower), 1);
    EXPECT_EQ(m_cache.RefCountOf(upper), 1);
    m_cache.Release(lower);
    m_cache.Release(upper);
}

TEST_F(TextureCacheTest, NewEntriesGoSecond) {
    Direct3DTexture8* a = m_cache.Acquire(m_pDevice, "earth.jpg");
    Direct3DTexture8* b = m_cache.Acquire(m_pDevice, "moon.jpg");
    Direct3DTexture8* c = m_cache.Acquire(m_pDevice, "EARTH.JPG");
    ASSERT_EQ(m_cache.Count(), 3);
    EXPECT_STREQ(m_cache.NameAt(0), "earth.jpg");
    EXPECT_STREQ(m_cache.NameAt(1), "EARTH.JPG");
    EXPECT_STREQ(m_cache.NameAt(2), "moon.jpg");
    EXPECT_EQ(m_cache.NameAt(3), nullptr);

    // Unlinking the head, the middle and the last keeps the rest in order.
    m_cache.Release(a);
    EXPECT_STREQ(m_cache.NameAt(0), "EARTH.JPG");
    EXPECT_STREQ(m_cache.NameAt(1), "moon.jpg");
    Direct3DTexture8* d = m_cache.Acquire(m_pDevice, "earth.jpg");
    EXPECT_STREQ(m_cache.NameAt(1), "earth.jpg");
    m_cache.Release(d);
    m_cache.Release(b);
    EXPECT_EQ(m_cache.Count(), 1);
    EXPECT_STREQ(m_cache.NameAt(0), "EARTH.JPG");
    m_cache.Release(c);
}

TEST_F(TextureCacheTest, UnknownPointersAreIgnored) {
    Direct3DTexture8* earth = m_cache.Acquire(m_pDevice, "earth.jpg");
    ASSERT_NE(earth, nullptr);
    m_cache.Release(nullptr);
    m_cache.Release(reinterpret_cast<Direct3DTexture8*>(&m_cache));
    EXPECT_EQ(m_cache.Count(), 1);
    EXPECT_EQ(m_cache.RefCountOf(earth), 1);
    m_cache.Release(earth);
    m_cache.Release(earth);  // already gone: nothing
    EXPECT_EQ(m_cache.Count(), 0);
    EXPECT_EQ(m_cache.Acquire(m_pDevice, nullptr), nullptr);
}

TEST_F(TextureCacheTest, MissingResourceIsNotCachedAndIsTriedAgain) {
    EXPECT_EQ(m_cache.Acquire(m_pDevice, "nothere.jpg"), nullptr);
    EXPECT_EQ(m_cache.Count(), 0);
    EXPECT_EQ(m_cache.Acquire(m_pDevice, "nothere.jpg"), nullptr);
    EXPECT_STREQ(g_ErrLog.Text(),
                 "\t\t\tD3DXCreateTextureFromResource...nothere.jpg\n\t\t\tFailed\n"
                 "\t\t\tD3DXCreateTextureFromResource...nothere.jpg\n\t\t\tFailed\n");
    // A resource that is not an image fails the same way.
    g_ErrLog.ClearForTesting();
    EXPECT_EQ(m_cache.Acquire(m_pDevice, "MOON.X"), nullptr);
    EXPECT_STREQ(g_ErrLog.Text(), "\t\t\tD3DXCreateTextureFromResource...MOON.X\n\t\t\tFailed\n");
}

TEST_F(TextureCacheTest, LongNameIsLoggedShortened) {
    const std::string name(600, 'x');
    EXPECT_EQ(m_cache.Acquire(m_pDevice, name.c_str()), nullptr);
    const std::string log = g_ErrLog.Text();
    const std::string prefix = "\t\t\tD3DXCreateTextureFromResource...";
    ASSERT_EQ(log.compare(0, prefix.size(), prefix), 0);
    const std::size_t end = log.find('\n');
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end + 1, 511u);
    EXPECT_GT(end, 400u);
    EXPECT_EQ(log.substr(end + 1), "\t\t\tFailed\n");
}

TEST_F(TextureCacheTest, AnImageDecodedAheadMakesTheSameTextureAndFailsTheSameWay) {
    // A saver's start decodes the images on a worker thread; the texture that
    // takes its pixels from there must be the one it would have decoded.
    const auto levelsOf = [](Direct3DTexture8* texture) {
        std::vector<std::vector<BYTE>> levels;
        for (UINT i = 0; i < texture->GetLevelCount(); ++i) {
            D3DSURFACE_DESC desc{};
            D3DLOCKED_RECT locked{};
            EXPECT_EQ(texture->GetLevelDesc(i, &desc), D3D_OK);
            EXPECT_EQ(texture->LockRect(i, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
            const auto* bytes = static_cast<const BYTE*>(locked.pBits);
            levels.emplace_back(bytes, bytes + static_cast<std::size_t>(locked.Pitch) * desc.Height);
            texture->UnlockRect(i);
        }
        return levels;
    };
    for (const char* name : {"earth.jpg", "ParticleTrailPC3.dds", "TOONTOON.BMP"}) {
        SCOPED_TRACE(name);
        Direct3DTexture8* decodedHere = nullptr;
        Direct3DTexture8* decodedAhead = nullptr;
        ASSERT_EQ(D3DXCreateTextureFromResourceA(m_pDevice, nullptr, name, &decodedHere), D3D_OK);
        PrefetchTextureImages();
        ASSERT_EQ(D3DXCreateTextureFromResourceA(m_pDevice, nullptr, name, &decodedAhead), D3D_OK);
        EXPECT_EQ(DropPrefetchedTextureImages(), 1);
        EXPECT_EQ(decodedAhead->Format(), decodedHere->Format());
        EXPECT_TRUE(levelsOf(decodedAhead) == levelsOf(decodedHere));
        decodedHere->Release();
        decodedAhead->Release();
    }

    // A damaged image fails with the same result, and so does one whose
    // bytes changed after the worker read them (it is decoded again).
    std::vector<ResourceEntry> table(CompiledResourceTable().begin(), CompiledResourceTable().end());
    for (ResourceEntry& entry : table)
        if (strcasecmp(entry.name, "MOON.JPG") == 0) entry.size /= 2;
    SetResourceTableForTesting(table);
    Direct3DTexture8* texture = nullptr;
    const HRESULT decodedHere = D3DXCreateTextureFromResourceA(m_pDevice, nullptr, "moon.jpg", &texture);
    EXPECT_TRUE(FAILED(decodedHere));
    PrefetchTextureImages();
    EXPECT_EQ(D3DXCreateTextureFromResourceA(m_pDevice, nullptr, "moon.jpg", &texture), decodedHere);
    EXPECT_EQ(DropPrefetchedTextureImages(), 1);
    PrefetchTextureImages();
    SetResourceTableForTesting({});
    EXPECT_EQ(D3DXCreateTextureFromResourceA(m_pDevice, nullptr, "moon.jpg", &texture), D3D_OK);
    EXPECT_EQ(DropPrefetchedTextureImages(), 0);
    EXPECT_EQ(texture->Release(), 0u);
}
