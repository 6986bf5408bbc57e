#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Icon.h"
#include "platform/Resources.h"

namespace {

const unsigned char kClock[] = "clock";
const unsigned char kToon[] = "vs.1.1";
const unsigned char kBird[] = "xof 0302txt 0064";
const unsigned char kIcon[] = "not really an icon";
const unsigned char kDialog[] = "dlg";
const unsigned char kNumbered[] = "numbered";

const ResourceEntry kTable[] = {
    {"MISC", "PATH.FPP", kClock, 5},
    {"RCDATA", "TOON.VSH", kToon, 6},
    {"MODEL", "Bird.x", kBird, 16},
    {"ICON", "#156", kIcon, 18},
    {"DIALOGEX", "#176", kDialog, 3},
    {"#10", "42", kNumbered, 8},
};

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override { SetResourceTableForTesting(kTable); }
    void TearDown() override { SetResourceTableForTesting({}); }

    const void* Bytes(const char* name, const char* type) {
        HRSRC found = FindResourceA(m_module, name, type);
        if (found == nullptr) {
            return nullptr;
        }
        return LockResource(LoadResource(m_module, found));
    }

    HMODULE m_module = GetModuleHandleA(nullptr);
};

TEST_F(ResourcesTest, ModuleHandleIsTheProgramsOwn) {
    EXPECT_NE(m_module, nullptr);
    EXPECT_EQ(GetModuleHandleA(nullptr), m_module);
    EXPECT_EQ(GetModuleHandleA("kernel32.dll"), nullptr);
}

TEST_F(ResourcesTest, NamesAndTypesCompareWithoutCase) {
    EXPECT_EQ(Bytes("PATH.FPP", "MISC"), kClock);
    EXPECT_EQ(Bytes("path.fpp", "misc"), kClock);
    EXPECT_EQ(Bytes("bird.X", "Model"), kBird);
    EXPECT_EQ(Bytes("Toon.vsh", RT_RCDATA), kToon);
    EXPECT_EQ(Bytes("PATH.FPP", "MODEL"), nullptr); // right name, wrong type
    EXPECT_EQ(Bytes("PATH", "MISC"), nullptr);       // no prefix matches
    EXPECT_EQ(Bytes("PATH.FPPX", "MISC"), nullptr);
}

TEST_F(ResourcesTest, NumericNamesAndPredefinedTypes) {
    EXPECT_EQ(Bytes(MAKEINTRESOURCEA(156), RT_ICON), kIcon);
    EXPECT_EQ(Bytes(MAKEINTRESOURCEA(156), RT_GROUP_ICON), kIcon);
    EXPECT_EQ(Bytes(MAKEINTRESOURCEA(156), "icon"), kIcon);
    EXPECT_EQ(Bytes("#156", "ICON"), kIcon);
    EXPECT_EQ(Bytes(MAKEINTRESOURCEA(176), RT_DIALOG), kDialog);
    EXPECT_EQ(Bytes(MAKEINTRESOURCEA(42), RT_RCDATA), kNumbered); // bare number, type "#10"
    EXPECT_EQ(Bytes(MAKEINTRESOURCEA(42), "#10"), kNumbered);
    EXPECT_EQ(Bytes(MAKEINTRESOURCEA(157), RT_ICON), nullptr);
    EXPECT_EQ(Bytes(MAKEINTRESOURCEA(156), RT_RCDATA), nullptr);
    EXPECT_EQ(Bytes(MAKEINTRESOURCEA(15), RT_ICON), nullptr); // "#156" is not 15
}

TEST_F(ResourcesTest, LoadLockAndSize) {
    HRSRC found = FindResourceA(m_module, "TOON.VSH", RT_RCDATA);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SizeofResource(m_module, found), 6u);
    HGLOBAL loaded = LoadResource(m_module, found);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(std::memcmp(LockResource(loaded), "vs.1.1", 6), 0);
}

TEST_F(ResourcesTest, NullAndForeignHandlesGiveNothing) {
    // A null module means the program itself.
    EXPECT_EQ(FindResourceA(nullptr, "PATH.FPP", "MISC"), FindResourceA(m_module, "PATH.FPP", "MISC"));
    auto* foreign = reinterpret_cast<HMODULE>(std::uintptr_t{0x10000000});
    EXPECT_EQ(FindResourceA(foreign, "PATH.FPP", "MISC"), nullptr);
    EXPECT_EQ(FindResourceA(m_module, nullptr, "MISC"), nullptr);
    EXPECT_EQ(FindResourceA(m_module, "PATH.FPP", nullptr), nullptr);
    EXPECT_EQ(LoadResource(m_module, nullptr), nullptr);
    EXPECT_EQ(LockResource(nullptr), nullptr);
    EXPECT_EQ(SizeofResource(m_module, nullptr), 0u);

    HRSRC found = FindResourceA(m_module, "PATH.FPP", "MISC");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(LoadResource(foreign, found), nullptr);
    // A handle that is not an entry of the table is refused, not followed.
    int notAnEntry = 0;
    auto* bogus = reinterpret_cast<HRSRC>(&notAnEntry);
    EXPECT_EQ(LoadResource(m_module, bogus), nullptr);
    EXPECT_EQ(SizeofResource(m_module, bogus), 0u);
    auto* inside = reinterpret_cast<HRSRC>(reinterpret_cast<char*>(found) + 1);
    EXPECT_EQ(LoadResource(m_module, inside), nullptr);
}

TEST_F(ResourcesTest, EmptyTableRestoresTheCompiledOne) {
    EXPECT_EQ(Bytes("PATH.FPP", "MISC"), kClock);
    SetResourceTableForTesting({});
    EXPECT_EQ(Bytes("PATH.FPP", "MISC"), nullptr);
    HRSRC icon = FindResourceA(m_module, MAKEINTRESOURCEA(156), RT_ICON);
    ASSERT_NE(icon, nullptr) << "the program's table holds the icon";
    // Every blob is followed by a NUL that its size does not count.
    const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(m_module, icon)));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[SizeofResource(m_module, icon)], 0);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bytes) % 16, 0u);
}

// ---------------------------------------------------------------------------
// Icons

void Put16(std::vector<unsigned char>& b, unsigned v) {
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}
void Put32(std::vector<unsigned char>& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// An .ico with one image per size. Each image's colour of pixel (x, y)
// (top-down) is given by `pixel`, as B, G, R, A bytes.
struct IcoEntry {
    int size;
    std::uint16_t bitCount = 32;
};

std::vector<unsigned char> MakeIco(const std::vector<IcoEntry>& entries,
                                   std::uint32_t (*pixel)(int size, int x, int y),
                                   bool maskLeftColumn = false) {
    std::vector<unsigned char> ico;
    Put16(ico, 0);
    Put16(ico, 1);
    Put16(ico, static_cast<unsigned>(entries.size()));
    std::vector<std::vector<unsigned char>> blobs;
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
    for (const auto& entry : entries) {
        const int n = entry.size;
        const int stride = (n + 31) / 32 * 4;
        std::vector<unsigned char> blob;
        Put32(blob, 40);
        Put32(blob, static_cast<std::uint32_t>(n));
        Put32(blob, static_cast<std::uint32_t>(2 * n));
        Put16(blob, 1);
        Put16(blob, entry.bitCount);
        for (int i = 0; i < 6; ++i) {
            Put32(blob, 0);
        }
        for (int row = n - 1; row >= 0; --row) {
            for (int x = 0; x < n; ++x) {
                Put32(blob, pixel(n, x, row)); // B G R A in memory
            }
        }
        for (int row = n - 1; row >= 0; --row) {
            for (int i = 0; i < stride; ++i) {
                blob.push_back(maskLeftColumn && i == 0 ? 0x80 : 0);
            }
        }
        ico.push_back(static_cast<unsigned char>(n));
        ico.push_back(static_cast<unsigned char>(n));
        ico.push_back(0);
        ico.push_back(0);
        Put16(ico, 1);
        Put16(ico, entry.bitCount);
        Put32(ico, static_cast<std::uint32_t>(blob.size()));
        Put32(ico, offset);
        offset += static_cast<std::uint32_t>(blob.size());
        blobs.push_back(blob);
    }
    for (const auto& blob : blobs) {
        ico.insert(ico.end(), blob.begin(), blob.end());
    }
    return ico;
}

// B = x, G = y, R = size, A = 200 (as the uint32 0xAARRGGBB of BGRA bytes).
std::uint32_t Gradient(int size, int x, int y) {
    return 200u << 24 | std::uint32_t(size) << 16 | std::uint32_t(y) << 8 | std::uint32_t(x);
}
std::uint32_t NoAlpha(int, int x, int y) {
    return 0x00102030u + std::uint32_t(x + y);
}

TEST(IconTest, DecodesRowsTopDownAndChannelsToRgba) {
    const auto ico = MakeIco({{4}}, Gradient);
    IconImage image;
    std::string error;
    ASSERT_TRUE(DecodeIcon(ico, 4, image, &error)) << error;
    ASSERT_EQ(image.width, 4);
    ASSERT_EQ(image.height, 4);
    ASSERT_EQ(image.rgba.size(), 16u);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            // R = size, G = y, B = x, A = 200 as R | G << 8 | B << 16 | A << 24.
            EXPECT_EQ(image.rgba[y * 4 + x],
                      4u | std::uint32_t(y) << 8 | std::uint32_t(x) << 16 | 200u << 24)
                << x << "," << y;
        }
    }
}

TEST(IconTest, ImagesWithoutAlphaUseTheAndMask) {
    const auto ico = MakeIco({{8}}, NoAlpha, /*maskLeftColumn=*/true);
    IconImage image;
    ASSERT_TRUE(DecodeIcon(ico, 8, image));
    EXPECT_EQ(image.rgba[0], 0u);                   // masked: transparent
    EXPECT_EQ(image.rgba[1] >> 24, 255u);           // unmasked: opaque
    EXPECT_EQ(image.rgba[1] & 0xFFFFFFu, 0x312010u); // B=0x30+1 G=0x20 R=0x10
}

TEST(IconTest, PicksTheAskedSizeElseTheLargest) {
    const auto ico = MakeIco({{16}, {48}, {32}}, Gradient);
    IconImage image;
    ASSERT_TRUE(DecodeIcon(ico, 32, image));
    EXPECT_EQ(image.width, 32);
    EXPECT_EQ(image.rgba[0] & 0xFF, 32u);
    ASSERT_TRUE(DecodeIcon(ico, 16, image));
    EXPECT_EQ(image.width, 16);
    ASSERT_TRUE(DecodeIcon(ico, 24, image));
    EXPECT_EQ(image.width, 48);
}

TEST(IconTest, MalformedIconsFailCleanly) {
    const auto good = MakeIco({{16}}, Gradient);
    std::vector<std::pair<std::string, std::vector<unsigned char>>> cases;
    cases.emplace_back("empty", std::vector<unsigned char>{});
    cases.emplace_back("short header", std::vector<unsigned char>(good.begin(), good.begin() + 5));
    cases.emplace_back("directory cut", std::vector<unsigned char>(good.begin(), good.begin() + 20));
    cases.emplace_back("bitmap header cut",
                       std::vector<unsigned char>(good.begin(), good.begin() + 22 + 30));
    auto withBytes = [&](std::size_t at, std::vector<unsigned char> bytes) {
        auto copy = good;
        std::copy(bytes.begin(), bytes.end(), copy.begin() + static_cast<std::ptrdiff_t>(at));
        return copy;
    };
    cases.emplace_back("cursor", withBytes(2, {2, 0}));
    cases.emplace_back("no images", withBytes(4, {0, 0}));
    cases.emplace_back("entry past end", withBytes(6 + 12, {0xF0, 0xFF, 0xFF, 0xFF}));
    cases.emplace_back("size past end", withBytes(6 + 8, {0x00, 0x10, 0, 0}));
    cases.emplace_back("size wraps", withBytes(6 + 8, {0xFF, 0xFF, 0xFF, 0xFF}));
    cases.emplace_back("8 bits", withBytes(22 + 14, {8, 0}));
    cases.emplace_back("compressed", withBytes(22 + 16, {3, 0, 0, 0}));
    cases.emplace_back("huge width", withBytes(22 + 4, {0, 0, 1, 0}));
    cases.emplace_back("negative width", withBytes(22 + 4, {0xF0, 0xFF, 0xFF, 0xFF}));
    cases.emplace_back("odd height", withBytes(22 + 8, {33, 0, 0, 0}));
    cases.emplace_back("size differs from directory", withBytes(6, {8, 8}));
    cases.emplace_back("header size too big", withBytes(22, {0xFF, 0xFF, 0, 0}));
    cases.emplace_back("colour table past end", withBytes(22 + 32, {0xFF, 0, 0, 0}));
    {
        // The directory claims less data than the pixels need.
        auto copy = good;
        copy.resize(copy.size() - 1);
        auto cut = withBytes(6 + 8, {});
        cut[6 + 8] = static_cast<unsigned char>((good.size() - 22 - 1) & 0xFF);
        cut[6 + 9] = static_cast<unsigned char>((good.size() - 22 - 1) >> 8);
        cases.emplace_back("pixels cut", copy);
        cases.emplace_back("entry smaller than its pixels", cut);
    }
    {
        auto png = good;
        const unsigned char sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        std::copy(sig, sig + 8, png.begin() + 22);
        cases.emplace_back("png", png);
    }
    for (auto& [what, bytes] : cases) {
        // An exactly sized heap copy, so that a read past the end is caught.
        std::vector<unsigned char> exact(bytes.begin(), bytes.end());
        IconImage image;
        std::string error;
        EXPECT_FALSE(DecodeIcon(exact, 16, image, &error)) << what;
        EXPECT_FALSE(error.empty()) << what;
        if (what == "png") {
            EXPECT_NE(error.find("PNG"), std::string::npos) << error;
        }
    }
}

TEST(IconTest, LoadsTheProgramIconFromTheCompiledTable) {
    SetResourceTableForTesting({});
    HINSTANCE module = GetModuleHandleA(nullptr);
    HICON icon = LoadIconA(module, MAKEINTRESOURCEA(156));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconA(module, MAKEINTRESOURCEA(156)), icon);

    const IconImage* largest = IconImageFromHandle(icon);
    ASSERT_NE(largest, nullptr);
    EXPECT_EQ(largest->width, 48);
    EXPECT_EQ(largest->height, 48);
    EXPECT_EQ(largest->rgba.size(), 48u * 48u);
    const IconImage* small = IconImageFromHandle(icon, 32);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small->width, 32);
    EXPECT_EQ(IconImageFromHandle(icon, 20), largest);

    EXPECT_EQ(LoadIconA(module, MAKEINTRESOURCEA(999)), nullptr);
    EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(156)), nullptr);
    int notAnIcon = 0;
    EXPECT_EQ(IconImageFromHandle(reinterpret_cast<HICON>(&notAnIcon)), nullptr);
    EXPECT_EQ(IconImageFromHandle(nullptr), nullptr);
}

TEST(IconTest, BrokenIconResourcesGiveNoHandle) {
    static const unsigned char kBroken[] = {0, 0, 1, 0, 1, 0, 16, 16};
    static const std::vector<unsigned char> kEightBit = MakeIco({{16, 8}}, Gradient);
    const ResourceEntry table[] = {
        {"ICON", "#1", kBroken, sizeof kBroken},
        {"ICON", "#2", kEightBit.data(), kEightBit.size()},
    };
    SetResourceTableForTesting(table);
    HINSTANCE module = GetModuleHandleA(nullptr);
    EXPECT_EQ(LoadIconA(module, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_EQ(LoadIconA(module, MAKEINTRESOURCEA(2)), nullptr);
    SetResourceTableForTesting({});
}

} // namespace
