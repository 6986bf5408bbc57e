// The particle sprites as the saver reads them: 256 x 256 A4R4G4B4 of one
// level, white on transparent black, each shape inside the incircle of the
// triangle (0,1), (0.5,0), (1,1) that a particle samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gfx/ImageDecode.h"
#include "tools/content/ContentGen.h"

namespace {

const std::filesystem::path kResources = std::filesystem::path(GLIMMERWING_SOURCE_DIR) / "resources";

struct Sprite {
    DecodedImage image;
    // Alpha (0..15) at texture coordinates (u, v).
    unsigned AlphaAt(double u, double v) const {
        const auto x = static_cast<std::size_t>(u * 256.0);
        const auto y = static_cast<std::size_t>(v * 256.0);
        return Word(x, y) >> 12;
    }
    unsigned Word(std::size_t x, std::size_t y) const {
        const std::size_t at = (y * 256 + x) * 2;
        return image.pixels[at] | image.pixels[at + 1] << 8;
    }
};

Sprite Load(int index) {
    const auto path = kResources / ("PARTICLETRAILPC" + std::to_string(index) + ".DDS");
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Sprite s;
    EXPECT_EQ(DecodeImage(bytes, s.image), S_OK) << path;
    return s;
}

}  // namespace

TEST(ParticleImages, EverySpriteIsAWhiteShapeInsideTheParticleTriangle) {
    // The triangle's incircle, in pixels: radius 256 / (1 + sqrt 5), touching
    // the bottom edge.
    const double radius = 256.0 / (1.0 + std::sqrt(5.0));
    const double cx = 128.0, cy = 256.0 - radius;
    for (int n = 0; n < content::kParticleSpriteCount; ++n) {
        SCOPED_TRACE(n);
        const Sprite s = Load(n);
        ASSERT_EQ(s.image.format, D3DFMT_A4R4G4B4);
        ASSERT_EQ(s.image.width, 256u);
        ASSERT_EQ(s.image.height, 256u);
        EXPECT_EQ(s.image.fileLevels, 1u);

        int opaque = 0, soft = 0, outside = 0, coloured = 0;
        for (std::size_t y = 0; y < 256; ++y)
            for (std::size_t x = 0; x < 256; ++x) {
                const unsigned w = s.Word(x, y);
                const unsigned a = w >> 12;
                if (a == 0) {
                    if (w != 0) ++coloured;  // transparent pixels are black
                    continue;
                }
                if ((w & 0xFFF) != 0xFFF) ++coloured;
                a == 15 ? ++opaque : ++soft;
                const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                if (std::sqrt(dx * dx + dy * dy) > radius) ++outside;
            }
        EXPECT_EQ(outside, 0);
        EXPECT_EQ(coloured, 0);
        EXPECT_GT(soft, 300);  // soft edges
        EXPECT_GT(opaque, 20);
    }
}

TEST(ParticleImages, SpritesComeInTheDialogsOrder) {
    // Points in the shapes' disc: its centre lies on the incircle's centre.
    const double radius = 0.92 / (1.0 + std::sqrt(5.0));
    const double cu = 0.5, cv = 1.0 - 1.0 / (1.0 + std::sqrt(5.0));
    auto alpha = [&](const Sprite& s, double x, double y) { return s.AlphaAt(cu + x * radius, cv - y * radius); };

    const Sprite glow = Load(0), shine = Load(1), cross = Load(2), bubble = Load(3), flake = Load(4),
                 note = Load(5), ring = Load(6);
    EXPECT_EQ(alpha(glow, 0, 0), 15u);
    EXPECT_GT(alpha(glow, 0.5, 0), alpha(glow, 0.8, 0));
    EXPECT_EQ(alpha(glow, 0.5, 0), alpha(glow, 0, -0.5));  // round
    EXPECT_GT(alpha(shine, 0.7, 0), alpha(shine, 0.5, 0.5));  // rays along the axes
    EXPECT_EQ(alpha(cross, 0.7, 0), 15u);
    EXPECT_EQ(alpha(cross, 0.5, 0.5), 0u);
    EXPECT_GT(alpha(bubble, 0, 0), 0u);  // faint inside, bright rim
    EXPECT_LT(alpha(bubble, 0, 0), 6u);
    EXPECT_GE(alpha(bubble, 0, -0.86), 14u);
    EXPECT_EQ(alpha(flake, 0, 0.7), 15u);  // an arm straight up, none to the side
    EXPECT_EQ(alpha(flake, 0.7, 0), 0u);
    EXPECT_EQ(alpha(note, -0.22, -0.48), 15u);  // the head at the lower left only
    EXPECT_EQ(alpha(note, 0.22, -0.48), 0u);
    EXPECT_EQ(alpha(ring, 0, 0), 0u);
    EXPECT_EQ(alpha(ring, 0.82, 0), 15u);
    EXPECT_EQ(alpha(ring, 0, -0.82), 15u);
}
