#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/Icon.h"
#include "tools/content/ContentGen.h"
#include "tools/rc/ResourceScript.h"

namespace fs = std::filesystem;

namespace {

const fs::path kResources = fs::path(GLIMMERWING_SOURCE_DIR) / "resources";

content::Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return content::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TempDir {
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "gw-content-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path = pattern;
        }
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

TEST(ContentTest, RegeneratingReproducesTheCommittedFiles) {
    for (const auto& gen : content::Generators()) {
        SCOPED_TRACE(gen.fileName);
        const content::Bytes committed = ReadBytes(kResources / gen.fileName);
        ASSERT_FALSE(committed.empty()) << "run glimmerwing-content resources/";
        EXPECT_TRUE(gen.generate() == committed)
            << "the generator no longer makes the committed file; regenerate it";
    }
    EXPECT_TRUE(content::CheckContent(kResources).empty());
}

TEST(ContentTest, EveryGeneratedFileIsInTheResourceScript) {
    rc::ResourceScript script;
    std::vector<std::string> errors;
    ASSERT_TRUE(rc::LoadResourceScript(kResources / "glimmerwing.rc", script, errors));
    std::set<fs::path> listed;
    for (const auto& r : script.resources) {
        listed.insert(r.file);
    }
    for (const auto& gen : content::Generators()) {
        EXPECT_TRUE(listed.count((kResources / gen.fileName).lexically_normal()))
            << gen.fileName << " is generated but not embedded";
    }
}

TEST(ContentTest, WriteAndCheckFindExactlyTheDifferingFiles) {
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    EXPECT_EQ(content::CheckContent(dir.path).size(), content::Generators().size());

    std::vector<std::string> messages;
    ASSERT_TRUE(content::WriteContent(dir.path, messages));
    EXPECT_EQ(messages.size(), content::Generators().size());
    EXPECT_TRUE(content::CheckContent(dir.path).empty());

    // Unchanged files are not written again.
    messages.clear();
    ASSERT_TRUE(content::WriteContent(dir.path, messages));
    EXPECT_TRUE(messages.empty());

    const char* first = content::Generators()[0].fileName;
    {
        std::fstream f(dir.path / first, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(10);
        f.put('\x5A');
    }
    auto differing = content::CheckContent(dir.path);
    ASSERT_EQ(differing.size(), 1u);
    EXPECT_EQ(differing[0], first);

    std::vector<std::string> out, err;
    EXPECT_EQ(content::RunContentGenerator({"--check", dir.path.string()}, out, err), 1);
    ASSERT_EQ(err.size(), 1u);
    EXPECT_NE(err[0].find(first), std::string::npos);
    err.clear();
    EXPECT_EQ(content::RunContentGenerator({dir.path.string()}, out, err), 0);
    EXPECT_EQ(content::RunContentGenerator({"--check", dir.path.string()}, out, err), 0);
    EXPECT_TRUE(err.empty());

    EXPECT_NE(content::RunContentGenerator({}, out, err), 0);
    EXPECT_NE(content::RunContentGenerator({"--check", (dir.path / "none").string()}, out, err),
              0);
}

TEST(ContentTest, IconHoldsTwoMaskedSizesOfABirdOnTransparent) {
    const content::Bytes ico = content::MakeIcon();
    ASSERT_GE(ico.size(), 6u + 2 * 16);
    EXPECT_EQ(ico[4], 2); // two images
    for (int size : {32, 48}) {
        SCOPED_TRACE(size);
        IconImage image;
        std::string error;
        ASSERT_TRUE(DecodeIcon(ico, size, image, &error)) << error;
        ASSERT_EQ(image.width, size);
        ASSERT_EQ(image.height, size);
        auto alpha = [&](int x, int y) { return image.rgba[y * size + x] >> 24; };
        EXPECT_EQ(alpha(0, 0), 0u);
        EXPECT_EQ(alpha(size - 1, 0), 0u);
        EXPECT_EQ(alpha(0, size - 1), 0u);
        EXPECT_EQ(alpha(size - 1, size - 1), 0u);
        int opaque = 0, pale = 0, dark = 0;
        for (std::uint32_t px : image.rgba) {
            std::uint32_t r = px & 0xFF, g = (px >> 8) & 0xFF, b = (px >> 16) & 0xFF;
            if ((px >> 24) == 255) {
                ++opaque;
                pale += (b >= 220 && r >= 170 && b >= r) ? 1 : 0;
            }
            if ((px >> 24) >= 128) {
                dark += (r + g + b < 200) ? 1 : 0;
            }
        }
        // A silhouette covering a good part of the square, mostly pale
        // inside a dark outline.
        EXPECT_GT(opaque, size * size / 6);
        EXPECT_LT(opaque, size * size / 2);
        EXPECT_GT(pale, opaque / 3);
        EXPECT_GT(dark, 2 * size);
    }

    // The AND mask marks exactly the pixels under half opacity, so that a
    // reader without alpha shows the same silhouette.
    auto read32 = [&](std::size_t at) {
        return std::uint32_t(ico[at]) | std::uint32_t(ico[at + 1]) << 8 |
               std::uint32_t(ico[at + 2]) << 16 | std::uint32_t(ico[at + 3]) << 24;
    };
    for (std::size_t entry = 0; entry < 2; ++entry) {
        const std::size_t dir = 6 + entry * 16;
        const std::size_t w = ico[dir];
        const std::size_t at = read32(dir + 12);
        const std::size_t stride = (w + 31) / 32 * 4;
        ASSERT_EQ(read32(dir + 8), 40 + w * w * 4 + stride * w);
        ASSERT_LE(at + read32(dir + 8), ico.size());
        const std::size_t mask = at + 40 + w * w * 4;
        for (std::size_t row = 0; row < w; ++row) {
            for (std::size_t x = 0; x < w; ++x) {
                const unsigned a = ico[at + 40 + (row * w + x) * 4 + 3];
                const bool bit = (ico[mask + row * stride + x / 8] >> (7 - x % 8)) & 1;
                ASSERT_EQ(bit, a < 128) << "size " << w << " row " << row << " x " << x;
            }
        }
    }
}

} // namespace
