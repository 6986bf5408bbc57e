// The earth and moon textures: equirectangular images (u = longitude,
// v = 0 at the north pole) painted from seeded gradient noise, stored as
// baseline JPEG. The pixel maths uses + - * /, sqrt and floor only (and the
// series sine of XText.h), so the pixels are the same with every compiler;
// the encoder runs with fixed settings, which libjpeg turns into the same
// bytes every time.
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "tools/content/ContentGen.h"
#include "tools/content/XText.h"

namespace content {
namespace {

// ---------------------------------------------------------------------------
// Noise

std::uint32_t Hash(std::int32_t x, std::int32_t y, std::int32_t z, std::uint32_t seed) {
    std::uint32_t h = seed;
    h ^= static_cast<std::uint32_t>(x) * 0x8DA6B343u;
    h ^= static_cast<std::uint32_t>(y) * 0xD8163841u;
    h ^= static_cast<std::uint32_t>(z) * 0xCB1AB31Fu;
    h = (h ^ (h >> 16)) * 0x7FEB352Du;
    h = (h ^ (h >> 15)) * 0x846CA68Bu;
    return h ^ (h >> 16);
}

double Fade(double t) { return t * t * t * (t * (t * 6.0 - 15.0) + 10.0); }
double Lerp(double a, double b, double t) { return a + (b - a) * t; }

double Gradient(std::uint32_t hash, double x, double y, double z) {
    // The twelve edge directions of a cube.
    switch (hash % 12) {
    case 0: return x + y;
    case 1: return -x + y;
    case 2: return x - y;
    case 3: return -x - y;
    case 4: return x + z;
    case 5: return -x + z;
    case 6: return x - z;
    case 7: return -x - z;
    case 8: return y + z;
    case 9: return -y + z;
    case 10: return y - z;
    default: return -y - z;
    }
}

// Gradient noise, about -1..1.
double Noise(Float3 p, std::uint32_t seed) {
    const double fx = std::floor(p.x), fy = std::floor(p.y), fz = std::floor(p.z);
    const auto ix = static_cast<std::int32_t>(fx), iy = static_cast<std::int32_t>(fy),
               iz = static_cast<std::int32_t>(fz);
    const double x = p.x - fx, y = p.y - fy, z = p.z - fz;
    auto g = [&](int dx, int dy, int dz) {
        return Gradient(Hash(ix + dx, iy + dy, iz + dz, seed), x - dx, y - dy, z - dz);
    };
    const double u = Fade(x), v = Fade(y), w = Fade(z);
    return Lerp(Lerp(Lerp(g(0, 0, 0), g(1, 0, 0), u), Lerp(g(0, 1, 0), g(1, 1, 0), u), v),
                Lerp(Lerp(g(0, 0, 1), g(1, 0, 1), u), Lerp(g(0, 1, 1), g(1, 1, 1), u), v), w);
}

// Fractal sum of `octaves` layers, each twice the frequency and half the
// weight of the one before; about -1..1.
double Fbm(Float3 p, int octaves, std::uint32_t seed) {
    double sum = 0.0, weight = 0.5, total = 0.0;
    for (int o = 0; o < octaves; ++o) {
        sum += Noise(p, seed + static_cast<std::uint32_t>(o) * 1013u) * weight;
        total += weight;
        p = p * 2.0 + Float3{17.31, 9.17, 5.73};
        weight *= 0.5;
    }
    return sum / total * 1.6;
}

double Clamp(double v, double lo, double hi) { return std::min(hi, std::max(lo, v)); }

double SmoothStep(double e0, double e1, double x) {
    const double t = Clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

Colour Rgb(double r, double g, double b) { return {r, g, b, 1.0}; }

Colour Blend(Colour a, Colour b, double t) {
    return {Lerp(a.r, b.r, t), Lerp(a.g, b.g, t), Lerp(a.b, b.b, t), 1.0};
}

// The point of the unit sphere under pixel (x, y) of a size x size
// equirectangular image: the same mapping as the sphere models'.
Float3 SpherePoint(int x, int y, int size) {
    const double phi = 2.0 * kPi * (x + 0.5) / size;
    const double theta = kPi * (y + 0.5) / size;
    const double s = Sine(theta);
    return {s * Cosine(phi), Cosine(theta), s * Sine(phi)};
}

// The Microsoft C runtime's generator, for reproducible crater fields.
class Lcg {
public:
    explicit Lcg(std::uint32_t seed) : m_state(seed) {}
    double Uniform() { // 0..1
        m_state = m_state * 214013u + 2531011u;
        return double((m_state >> 16) & 0x7FFF) / 32767.0;
    }

private:
    std::uint32_t m_state;
};

// ---------------------------------------------------------------------------
// JPEG output

struct JpegErrorExit {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void OnJpegError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegErrorExit*>(cinfo->err)->jump, 1);
}

struct JpegOutput {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
};

} // namespace

Bytes EncodeJpeg(const Image& image, int quality) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgba.size() != static_cast<std::size_t>(image.width) * image.height * 4) {
        return {};
    }
    std::vector<JSAMPLE> row(static_cast<std::size_t>(image.width) * 3);
    jpeg_compress_struct cinfo{};
    JpegErrorExit error{};
    JpegOutput output;
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = OnJpegError;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        std::free(output.buffer);
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &output.buffer, &output.size);
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo); // baseline, 4:2:0, JFIF header
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.dct_method = JDCT_ISLOW; // exact integer DCT, the same on every CPU
    cinfo.optimize_coding = FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        const std::uint8_t* src =
            &image.rgba[static_cast<std::size_t>(cinfo.next_scanline) * image.width * 4];
        for (int x = 0; x < image.width; ++x) {
            row[static_cast<std::size_t>(x) * 3] = src[x * 4];
            row[static_cast<std::size_t>(x) * 3 + 1] = src[x * 4 + 1];
            row[static_cast<std::size_t>(x) * 3 + 2] = src[x * 4 + 2];
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes bytes(output.buffer, output.buffer + output.size);
    jpeg_destroy_compress(&cinfo);
    std::free(output.buffer);
    return bytes;
}

// ---------------------------------------------------------------------------
// Earth

Image RenderEarthImage(int size) {
    const Colour deepSea = Rgb(0.015, 0.055, 0.23);
    const Colour shallowSea = Rgb(0.05, 0.22, 0.48);
    const Colour lowland = Rgb(0.20, 0.40, 0.13);
    const Colour forest = Rgb(0.10, 0.27, 0.08);
    const Colour desert = Rgb(0.70, 0.58, 0.36);
    const Colour highland = Rgb(0.44, 0.34, 0.22);
    const Colour ice = Rgb(0.93, 0.95, 0.98);
    const Colour cloud = Rgb(0.98, 0.98, 1.0);
    constexpr double kSeaLevel = 0.08;

    Image image(size, size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const Float3 p = SpherePoint(x, y, size);
            const double latitude = std::abs(p.y); // sine of the latitude
            // Continents: warped fractal relief.
            const Float3 warp{Fbm(p * 1.3 + Float3{3.1, 0.0, 0.0}, 3, 11),
                              Fbm(p * 1.3 + Float3{0.0, 5.2, 0.0}, 3, 12),
                              Fbm(p * 1.3 + Float3{0.0, 0.0, 7.3}, 3, 13)};
            const double relief = Fbm(p * 1.5 + warp * 0.45, 7, 1);
            Colour c;
            if (relief < kSeaLevel) {
                const double depth = SmoothStep(0.0, 0.35, kSeaLevel - relief);
                c = Blend(shallowSea, deepSea, depth);
            } else {
                const double height = relief - kSeaLevel;
                const double moisture = Fbm(p * 2.2, 4, 2) + 0.5 * latitude - 0.15;
                const double dry = SmoothStep(0.05, -0.35, moisture) *
                                   (1.0 - SmoothStep(0.35, 0.75, latitude));
                c = Blend(lowland, forest, SmoothStep(0.0, 0.4, moisture));
                c = Blend(c, desert, dry);
                c = Blend(c, highland, SmoothStep(0.18, 0.42, height));
                c = Blend(c, ice, SmoothStep(0.50, 0.60, height));
                // A light shore line.
                c = Blend(c, Rgb(0.55, 0.52, 0.36), 0.5 * SmoothStep(0.02, 0.0, height));
            }
            // Polar caps with ragged edges.
            const double capEdge = 0.972 + 0.015 * Fbm(p * 4.0, 4, 3);
            c = Blend(c, ice, SmoothStep(capEdge, capEdge + 0.01, latitude));
            // Clouds: swirls stretched along the latitudes, thicker in bands.
            const Float3 swirl{Fbm(p * 1.6 + Float3{1.7, 9.2, 0.0}, 3, 21),
                               Fbm(p * 1.6 + Float3{8.3, 2.8, 0.0}, 3, 22),
                               Fbm(p * 1.6 + Float3{0.0, 4.1, 6.6}, 3, 23)};
            const Float3 q = p + swirl * 0.30;
            const double clouds = Fbm({q.x * 3.0, q.y * 5.5, q.z * 3.0}, 6, 4);
            const double bands = 0.5 + 0.5 * Cosine(p.y * 9.0);
            const double cover = SmoothStep(0.05, 0.55, clouds + 0.30 * bands - 0.05);
            c = Blend(c, cloud, 0.92 * cover);
            image.Set(x, y, c);
        }
    }
    return image;
}

Bytes MakeEarthTexture() { return EncodeJpeg(RenderEarthImage(512), 90); }

// ---------------------------------------------------------------------------
// Moon

Image RenderMoonImage(int size) {
    struct Crater {
        Float3 centre;
        double radius; // chord length on the unit sphere
        double young;  // 0..1: brightness of the ejecta
    };
    std::vector<Crater> craters;
    Lcg random(20240527u);
    for (int i = 0; i < 2000; ++i) {
        const double y = random.Uniform() * 2.0 - 1.0;
        const double phi = random.Uniform() * 2.0 * kPi;
        const double r = std::sqrt(std::max(0.0, 1.0 - y * y));
        const double u = random.Uniform();
        // Sizes fall off with the square of the radius, as counted on the
        // real moon: many small craters, a few dozen wide ones, a handful of
        // basins; from 0.01 to 0.2.
        const double radius = 0.01 / std::sqrt(1.0 - 0.9975 * u);
        const double young = random.Uniform();
        craters.push_back({{r * Cosine(phi), y, r * Sine(phi)}, radius, young * young});
    }
    constexpr double kReach = 2.0; // in crater radii: rim and ejecta

    const auto w = static_cast<std::size_t>(size);
    std::vector<double> height(w * w), albedo(w * w);
    std::vector<const Crater*> near;
    for (int y = 0; y < size; ++y) {
        const Float3 row = SpherePoint(0, y, size);
        near.clear();
        for (const Crater& c : craters) {
            if (std::abs(c.centre.y - row.y) <= c.radius * kReach) {
                near.push_back(&c);
            }
        }
        for (int x = 0; x < size; ++x) {
            const Float3 p = SpherePoint(x, y, size);
            // Maria: broad dark plains; highlands mottled.
            const double mare = SmoothStep(0.02, 0.22, Fbm(p * 1.4 + Float3{4.0, 1.0, 2.0}, 5, 31));
            double a = 0.66 + 0.07 * Fbm(p * 6.0, 5, 32);
            a = Lerp(a, 0.34 + 0.05 * Fbm(p * 5.0, 4, 33), mare);
            double h = 0.004 * Fbm(p * 12.0, 4, 34) * (1.0 - 0.7 * mare);
            for (const Crater* c : near) {
                const Float3 d = p - c->centre;
                const double d2 = Dot(d, d);
                const double reach = c->radius * kReach;
                if (d2 >= reach * reach) {
                    continue;
                }
                const double t = std::sqrt(d2) / c->radius; // 0 at the centre, 1 on the rim
                const double rimT = (t - 1.0) / 0.22;
                const double rim = std::abs(rimT) < 1.0 ? (1.0 - rimT * rimT) * (1.0 - rimT * rimT) : 0.0;
                // A bowl below the surroundings, a raised rim, a flat floor on big ones.
                double profile = rim * 0.22;
                if (t < 1.0) {
                    profile -= std::min(0.55, 1.0 - t * t) * 0.6;
                }
                h += profile * c->radius;
                double brightness = 0.12 * rim;
                if (t < 1.0) {
                    brightness -= 0.04;
                } else {
                    const double fall = 1.0 - (t - 1.0) / (kReach - 1.0);
                    brightness += 0.12 * c->young * fall * fall;
                }
                a += brightness * (1.0 - 0.5 * mare);
            }
            height[static_cast<std::size_t>(y) * w + x] = h;
            albedo[static_cast<std::size_t>(y) * w + x] = a;
        }
    }
    // Relief lit from the upper left (north-west).
    Image image(size, size);
    const double pixel = 2.0 * kPi / size; // chord length of one pixel at the equator
    for (int y = 0; y < size; ++y) {
        const int up = std::max(0, y - 1), down = std::min(size - 1, y + 1);
        for (int x = 0; x < size; ++x) {
            const int left = (x + size - 1) % size, right = (x + 1) % size;
            auto at = [&](int px, int py) { return height[static_cast<std::size_t>(py) * w + px]; };
            const double sx = (at(left, y) - at(right, y)) / (2.0 * pixel);
            const double sy = (at(x, up) - at(x, down)) / (2.0 * pixel);
            const double light = Clamp(0.95 + 0.8 * (sx + sy), 0.55, 1.3);
            const double g = albedo[static_cast<std::size_t>(y) * w + x] * light;
            image.Set(x, y, Rgb(g * 1.01, g, g * 0.97));
        }
    }
    return image;
}

Bytes MakeMoonTexture() { return EncodeJpeg(RenderMoonImage(512), 90); }

} // namespace content
