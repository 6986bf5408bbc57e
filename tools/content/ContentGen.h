// The content generator: every file under resources/ that is made from code
// (icon, models, images, path and placement files ...) comes from one entry of
// the generator list. Output must be the same bytes on every run: no clock,
// no unseeded randomness, and pixel maths kept to + - * / and sqrt so that
// the compiler's optimisation level cannot change a rounding.
//
//   glimmerwing-content <resources dir>          write what differs
//   glimmerwing-content --check <resources dir>  exit 1 listing what differs
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace content {

using Bytes = std::vector<unsigned char>;

// One generated file.
struct Generator {
    const char* fileName; // relative to the resources folder
    Bytes (*generate)();
};

// Every generator, in a fixed order. New content adds its entry here.
std::span<const Generator> Generators();

// Generates every file and writes those whose bytes differ from what `dir`
// holds (through a temporary file renamed into place). Messages name each
// file written and every failure; returns false on a failure.
bool WriteContent(const std::filesystem::path& dir, std::vector<std::string>& messages);

// Generates every file in memory; returns the names of those that are
// missing in `dir` or differ from it (empty when all match).
std::vector<std::string> CheckContent(const std::filesystem::path& dir);

// The command line (arguments after the program name); messages for the
// user go to `out`, problems to `err`. Returns the exit code.
int RunContentGenerator(const std::vector<std::string>& args, std::vector<std::string>& out,
                        std::vector<std::string>& err);

// ---------------------------------------------------------------------------
// Building blocks shared by image content.

// A straight-alpha colour with channels 0..1.
struct Colour {
    double r = 0, g = 0, b = 0, a = 0;
};

// An image of 8-bit channels, rows top to bottom.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba; // R, G, B, A per pixel

    Image() = default;
    Image(int w, int h)
        : width(w), height(h), rgba(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4) {}
    void Set(int x, int y, Colour c);
};

// Channel 0..1 to 0..255, rounded, clamped.
std::uint8_t ToByte(double v);

// An .ico file holding the images (each 1..256 pixels wide) as uncompressed
// 32-bit BGRA DIBs with their AND masks (set where alpha < 128).
Bytes EncodeIco(std::span<const Image> images);

// The program icon (resource 156): a bird in flight, 32 x 32 and 48 x 48.
Image RenderBirdIcon(int size);
Bytes MakeIcon();

// An uncompressed 24-bit BMP (BITMAPFILEHEADER + BITMAPINFOHEADER, bottom row
// first, rows padded to 4 bytes); alpha is dropped.
Bytes EncodeBmp24(const Image& image);

// The toon ramp TOONTOON.BMP: 128 x 128, every row the same bands of grey;
// ToonRampGrey gives the grey of a column (0..127).
std::uint8_t ToonRampGrey(int column);
Bytes MakeToonRamp();

// ---------------------------------------------------------------------------
// Rigid models (Models.cpp): X files in the text format, each with one visible
// mesh (named "...display...") and one proxy mesh ("...dammy..."), built from
// the shapes of Models.h.

Bytes MakeBirdModel();      // BIRDDAMMY02.X
Bytes MakeWhaleModel();     // WHALEDAMMY.X
Bytes MakeMoonModel();      // MOON.X, textured "Moon.JPG"
Bytes MakeEarthModel();     // EARTH.X, textured "earth.jpg"

// Skinned, animated models (SkinModels.cpp): one skinned mesh on a frame
// hierarchy of bones and one looping AnimationSet each.
Bytes MakeSkinnedBird03();  // BIRDSKINNED03.X, the bird's shape, a 0.5 s wing-beat
Bytes MakeSkinnedBird04();  // BIRDSKINNED04.X, the same bird, a slower, shallower beat
Bytes MakeSkinnedWhale();   // WHALESKINNED.X, the whale swimming slowly
Bytes MakeDammySkin();      // DAMMY.X, "xof 0303txt 0032", up to four bones a vertex

// MOON.BPS: a signed 32-bit count, then that many 4x4 float world matrices in
// row order, little-endian: the four moons.
Bytes MakeMoonPlacements();

// CLOCK.FPP (PathFile.cpp): a signed 32-bit count N, N control points (x, y, z
// floats) in path order, then two arrays of N floats carried along unused;
// little-endian, 4 + 20 N bytes: the camera flyer's closed path, 47 points.
Bytes MakePathFile();

// ---------------------------------------------------------------------------
// Planet textures (PlanetImages.cpp): size x size equirectangular images,
// column 0 at longitude 0, row 0 at the north pole.

// A baseline JPEG (three components, 4:2:0, JFIF) of the image's colours;
// alpha is dropped. Empty when the encoder fails.
Bytes EncodeJpeg(const Image& image, int quality);

Image RenderEarthImage(int size);
Image RenderMoonImage(int size);
Bytes MakeEarthTexture();   // EARTH.JPG, 512 x 512
Bytes MakeMoonTexture();    // MOON.JPG, 512 x 512

// ---------------------------------------------------------------------------
// Particle sprites (ParticleImages.cpp): white shapes on transparent black
// with soft alpha edges. The particle triangle samples (0,1), (0.5,0), (1,1)
// of the texture, so every shape lies inside that triangle's incircle.

// An uncompressed DDS of one level in A4R4G4B4 (16-bit words: alpha in bits
// 12-15, red 8-11, green 4-7, blue 0-3); 4-bit channels rounded from 8-bit.
// A pixel whose alpha rounds to 0 is stored as 0 (transparent black).
Bytes EncodeDdsA4R4G4B4(const Image& image);

constexpr int kParticleSpriteCount = 7;
constexpr int kParticleSpriteSize = 256;

// Sprite `index` (0 glow, 1 shine, 2 cross, 3 soap bubble, 4 snowflake,
// 5 eighth note, 6 ring) as size x size pixels; white wherever alpha is not 0.
Image RenderParticleSprite(int index, int size);
Bytes MakeParticleSprite0();  // PARTICLETRAILPC0.DDS .. PARTICLETRAILPC6.DDS, 256 x 256
Bytes MakeParticleSprite1();
Bytes MakeParticleSprite2();
Bytes MakeParticleSprite3();
Bytes MakeParticleSprite4();
Bytes MakeParticleSprite5();
Bytes MakeParticleSprite6();

} // namespace content
