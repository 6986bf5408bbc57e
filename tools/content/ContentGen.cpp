#include "tools/content/ContentGen.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace content {
namespace {

// ---------------------------------------------------------------------------
// Files

bool ReadFile(const fs::path& path, Bytes& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFileAtomically(const fs::path& path, const Bytes& bytes, std::string& error) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    fs::path temp = path;
    temp += ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            fs::remove(temp, ec);
            error = path.string() + ": cannot write";
            return false;
        }
    }
    fs::rename(temp, path, ec);
    if (ec) {
        fs::remove(temp, ec);
        error = path.string() + ": cannot replace: " + ec.message();
        return false;
    }
    return true;
}

void Put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<unsigned char>(v & 0xFF));
    b.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// ---------------------------------------------------------------------------
// Signed distance shapes (negative inside), in the bird's own frame.

struct Vec2 {
    double x, y;
};

Vec2 operator-(Vec2 a, Vec2 b) { return {a.x - b.x, a.y - b.y}; }
Vec2 operator+(Vec2 a, Vec2 b) { return {a.x + b.x, a.y + b.y}; }
Vec2 operator*(Vec2 a, double s) { return {a.x * s, a.y * s}; }
double Dot(Vec2 a, Vec2 b) { return a.x * b.x + a.y * b.y; }
double Length(Vec2 a) { return std::sqrt(Dot(a, a)); }
double Clamp01(double v) { return std::min(1.0, std::max(0.0, v)); }

double CircleDistance(Vec2 p, Vec2 centre, double radius) {
    return Length(p - centre) - radius;
}

// A close approximation of the distance to an axis-aligned ellipse.
double EllipseDistance(Vec2 p, Vec2 centre, Vec2 radii) {
    Vec2 q = p - centre;
    double k0 = Length({q.x / radii.x, q.y / radii.y});
    double k1 = Length({q.x / (radii.x * radii.x), q.y / (radii.y * radii.y)});
    if (k1 == 0.0) {
        return -std::min(radii.x, radii.y);
    }
    return k0 * (k0 - 1.0) / k1;
}

double PolygonDistance(Vec2 p, std::span<const Vec2> v) {
    double best = Dot(p - v[0], p - v[0]);
    double sign = 1.0;
    for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i, ++i) {
        Vec2 e = v[j] - v[i];
        Vec2 w = p - v[i];
        Vec2 b = w - e * Clamp01(Dot(w, e) / Dot(e, e));
        best = std::min(best, Dot(b, b));
        bool c1 = p.y >= v[i].y;
        bool c2 = p.y < v[j].y;
        bool c3 = e.x * w.y > e.y * w.x;
        if ((c1 && c2 && c3) || (!c1 && !c2 && !c3)) {
            sign = -sign;
        }
    }
    return sign * std::sqrt(best);
}

// Union with a rounded seam of width k.
double SmoothUnion(double a, double b, double k) {
    double h = std::max(k - std::abs(a - b), 0.0) / k;
    return std::min(a, b) - h * h * k * 0.25;
}

Vec2 Bezier(Vec2 p0, Vec2 p1, Vec2 p2, Vec2 p3, double t) {
    double s = 1.0 - t;
    return p0 * (s * s * s) + p1 * (3.0 * s * s * t) + p2 * (3.0 * s * t * t) + p3 * (t * t * t);
}

// The bird seen from below, heading +y, wings along x; about 2 units across.
class BirdShape {
public:
    BirdShape() {
        // Right wing: a swept leading edge out to a pointed tip, and a
        // trailing edge with a gentle S back to the body.
        const Vec2 shoulder{0.05, 0.15}, tip{1.0, 0.10}, root{0.05, -0.13};
        constexpr int kSteps = 14;
        for (int i = 0; i <= kSteps; ++i) {
            m_rightWing.push_back(
                Bezier(shoulder, {0.32, 0.40}, {0.70, 0.34}, tip, double(i) / kSteps));
        }
        for (int i = 1; i < kSteps; ++i) {
            m_rightWing.push_back(
                Bezier(tip, {0.72, 0.10}, {0.42, -0.12}, root, double(i) / kSteps));
        }
        m_rightWing.push_back(root);
        for (Vec2 v : m_rightWing) {
            m_leftWing.push_back({-v.x, v.y});
        }
        // Keep the left wing's winding the same as the right's.
        std::reverse(m_leftWing.begin(), m_leftWing.end());
    }

    double Distance(Vec2 p) const {
        static constexpr std::array<Vec2, 3> kBeak = {{{-0.05, 0.55}, {0.05, 0.55}, {0.0, 0.70}}};
        static constexpr std::array<Vec2, 5> kTail = {
            {{-0.07, -0.28}, {0.07, -0.28}, {0.24, -0.70}, {0.0, -0.62}, {-0.24, -0.70}}};
        double body = EllipseDistance(p, {0.0, -0.02}, {0.12, 0.40});
        double head = CircleDistance(p, {0.0, 0.45}, 0.14);
        double d = SmoothUnion(body, head, 0.08);
        d = std::min(d, PolygonDistance(p, kBeak));
        d = SmoothUnion(d, PolygonDistance(p, kTail), 0.08);
        d = SmoothUnion(d, PolygonDistance(p, m_rightWing), 0.10);
        d = SmoothUnion(d, PolygonDistance(p, m_leftWing), 0.10);
        return d;
    }

private:
    std::vector<Vec2> m_rightWing;
    std::vector<Vec2> m_leftWing;
};

Colour Mix(Colour a, Colour b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
            a.a + (b.a - a.a) * t};
}

} // namespace

// ---------------------------------------------------------------------------
// Images

std::uint8_t ToByte(double v) {
    double scaled = Clamp01(v) * 255.0 + 0.5;
    return static_cast<std::uint8_t>(std::min(255.0, std::floor(scaled)));
}

void Image::Set(int x, int y, Colour c) {
    std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)) *
                     4;
    rgba[at] = ToByte(c.r);
    rgba[at + 1] = ToByte(c.g);
    rgba[at + 2] = ToByte(c.b);
    rgba[at + 3] = ToByte(c.a);
}

Bytes EncodeIco(std::span<const Image> images) {
    Bytes out;
    Put16(out, 0);                                   // reserved
    Put16(out, 1);                                   // icon
    Put16(out, static_cast<unsigned>(images.size())); // image count
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    std::vector<Bytes> blobs;
    for (const Image& image : images) {
        const auto w = static_cast<std::size_t>(image.width);
        const auto h = static_cast<std::size_t>(image.height);
        const std::size_t maskStride = (w + 31) / 32 * 4;
        Bytes blob;
        Put32(blob, 40);                                   // biSize
        Put32(blob, static_cast<std::uint32_t>(w));        // biWidth
        Put32(blob, static_cast<std::uint32_t>(h * 2));    // biHeight: colour + mask
        Put16(blob, 1);                                    // biPlanes
        Put16(blob, 32);                                   // biBitCount
        Put32(blob, 0);                                    // BI_RGB
        Put32(blob, static_cast<std::uint32_t>(w * h * 4 + maskStride * h));
        Put32(blob, 0);
        Put32(blob, 0);
        Put32(blob, 0);
        Put32(blob, 0);
        for (std::size_t row = h; row-- > 0;) { // bottom row first
            for (std::size_t x = 0; x < w; ++x) {
                const std::uint8_t* px = &image.rgba[(row * w + x) * 4];
                blob.insert(blob.end(), {px[2], px[1], px[0], px[3]});
            }
        }
        for (std::size_t row = h; row-- > 0;) {
            Bytes mask(maskStride, 0);
            for (std::size_t x = 0; x < w; ++x) {
                if (image.rgba[(row * w + x) * 4 + 3] < 128) {
                    mask[x / 8] = static_cast<unsigned char>(mask[x / 8] | (0x80 >> (x % 8)));
                }
            }
            blob.insert(blob.end(), mask.begin(), mask.end());
        }
        out.push_back(static_cast<unsigned char>(w == 256 ? 0 : w));
        out.push_back(static_cast<unsigned char>(h == 256 ? 0 : h));
        out.push_back(0); // colour count
        out.push_back(0); // reserved
        Put16(out, 1);    // planes
        Put16(out, 32);   // bits per pixel
        Put32(out, static_cast<std::uint32_t>(blob.size()));
        Put32(out, offset);
        offset += static_cast<std::uint32_t>(blob.size());
        blobs.push_back(std::move(blob));
    }
    for (const Bytes& blob : blobs) {
        out.insert(out.end(), blob.begin(), blob.end());
    }
    return out;
}

Image RenderBirdIcon(int size) {
    static const BirdShape bird;
    // Heading up and a little to the right, as if banking into a climb.
    const double hx = 0.26, hy = 1.0;
    const double hl = std::sqrt(hx * hx + hy * hy);
    const Vec2 heading{hx / hl, hy / hl};
    const Vec2 right{heading.y, -heading.x};
    const double birdScale = 0.90;                 // bird units to icon units (-1..1)
    const Vec2 centre{0.02, -0.02};
    const double pixelsPerUnit = size * 0.5 * birdScale; // bird units to pixels

    const Colour outline{0.08, 0.12, 0.26, 1.0};
    const Colour rim{0.70, 0.82, 0.96, 1.0};
    const Colour top{0.98, 0.99, 1.0, 1.0};
    const Colour bottom{0.80, 0.88, 0.98, 1.0};
    const double outlineWidth = size >= 48 ? 1.35 : 1.0; // pixels, fully opaque
    const double outlineFade = 0.9;                       // pixels of soft edge beyond it
    const double rimWidth = size >= 48 ? 1.2 : 0.9;

    // Distance from the silhouette in pixels (negative inside).
    auto distance = [&](Vec2 icon) {
        Vec2 q = (icon - centre) * (1.0 / birdScale);
        return bird.Distance({Dot(q, right), Dot(q, heading)}) * pixelsPerUnit;
    };
    auto shade = [&](double d, double y) {
        Colour c;
        if (d <= 0.0) {
            Colour fill = Mix(bottom, top, Clamp01((y + 0.6) / 1.2));
            c = d <= -rimWidth ? fill : Mix(rim, fill, -d / rimWidth);
        } else if (d < outlineWidth + outlineFade) {
            c = outline;
            if (d > outlineWidth) {
                c.a = 1.0 - (d - outlineWidth) / outlineFade;
            }
        }
        return c;
    };

    constexpr int kSub = 16; // samples per pixel along each axis
    // Pixels whose centre lies this far beyond the outline or inside the rim
    // are wholly outside or wholly fill: no need to measure every sample.
    constexpr double kMargin = 1.5;
    Image image(size, size);
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            const double centreDistance =
                distance({((px + 0.5) / size) * 2.0 - 1.0, 1.0 - ((py + 0.5) / size) * 2.0});
            if (centreDistance > outlineWidth + outlineFade + kMargin) {
                continue; // transparent
            }
            const bool interior = centreDistance < -(rimWidth + kMargin);
            double sumA = 0, sumR = 0, sumG = 0, sumB = 0;
            for (int sy = 0; sy < kSub; ++sy) {
                for (int sx = 0; sx < kSub; ++sx) {
                    Vec2 icon{((px + (sx + 0.5) / kSub) / size) * 2.0 - 1.0,
                              1.0 - ((py + (sy + 0.5) / kSub) / size) * 2.0};
                    Colour c = shade(interior ? -rimWidth : distance(icon), icon.y);
                    sumA += c.a;
                    sumR += c.r * c.a;
                    sumG += c.g * c.a;
                    sumB += c.b * c.a;
                }
            }
            Colour pixel;
            if (sumA > 0.0) {
                pixel = {sumR / sumA, sumG / sumA, sumB / sumA, sumA / (kSub * kSub)};
            }
            image.Set(px, py, pixel);
        }
    }
    return image;
}

Bytes MakeIcon() {
    const std::array<Image, 2> images = {RenderBirdIcon(32), RenderBirdIcon(48)};
    return EncodeIco(images);
}

Bytes EncodeBmp24(const Image& image) {
    const auto w = static_cast<std::size_t>(image.width);
    const auto h = static_cast<std::size_t>(image.height);
    const std::size_t stride = (w * 3 + 3) / 4 * 4;
    const auto dataSize = static_cast<std::uint32_t>(stride * h);
    Bytes out;
    // BITMAPFILEHEADER
    out.push_back('B');
    out.push_back('M');
    Put32(out, 14 + 40 + dataSize); // bfSize
    Put32(out, 0);                  // reserved
    Put32(out, 14 + 40);            // bfOffBits
    // BITMAPINFOHEADER
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(w));
    Put32(out, static_cast<std::uint32_t>(h)); // positive: bottom row first
    Put16(out, 1);                             // planes
    Put16(out, 24);                            // bits per pixel
    Put32(out, 0);                             // BI_RGB
    Put32(out, dataSize);
    Put32(out, 2835); // 72 dpi
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (std::size_t row = h; row-- > 0;) {
        for (std::size_t x = 0; x < w; ++x) {
            const std::uint8_t* px = &image.rgba[(row * w + x) * 4];
            out.insert(out.end(), {px[2], px[1], px[0]});
        }
        out.insert(out.end(), stride - w * 3, 0);
    }
    return out;
}

std::uint8_t ToonRampGrey(int column) {
    struct Band {
        int last;
        std::uint8_t grey;
    };
    // Black rim, a dark band, the terminator band and three lit bands.
    static constexpr Band kBands[] = {
        {17, 0},    {18, 22},   {19, 40},  {20, 38},  {44, 35},  {45, 31},  {46, 26},  {47, 53},
        {48, 98},   {50, 131},  {51, 132}, {65, 131}, {85, 202}, {109, 229}, {127, 253},
    };
    for (const Band& band : kBands) {
        if (column <= band.last) {
            return band.grey;
        }
    }
    return kBands[std::size(kBands) - 1].grey;
}

Bytes MakeToonRamp() {
    constexpr int kSize = 128;
    Image image(kSize, kSize);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const std::uint8_t g = ToonRampGrey(x);
            std::uint8_t* px = &image.rgba[(static_cast<std::size_t>(y) * kSize + x) * 4];
            px[0] = px[1] = px[2] = g;
            px[3] = 255;
        }
    }
    return EncodeBmp24(image);
}

// ---------------------------------------------------------------------------
// The list and the command line

std::span<const Generator> Generators() {
    static constexpr Generator kGenerators[] = {
        {"glimmerwing.ico", &MakeIcon},
        {"TOONTOON.BMP", &MakeToonRamp},
        {"BIRDDAMMY02.X", &MakeBirdModel},
        {"WHALEDAMMY.X", &MakeWhaleModel},
        {"MOON.X", &MakeMoonModel},
        {"EARTH.X", &MakeEarthModel},
        {"BIRDSKINNED03.X", &MakeSkinnedBird03},
        {"BIRDSKINNED04.X", &MakeSkinnedBird04},
        {"WHALESKINNED.X", &MakeSkinnedWhale},
        {"DAMMY.X", &MakeDammySkin},
        {"MOON.BPS", &MakeMoonPlacements},
        {"CLOCK.FPP", &MakePathFile},
        {"EARTH.JPG", &MakeEarthTexture},
        {"MOON.JPG", &MakeMoonTexture},
        {"PARTICLETRAILPC0.DDS", &MakeParticleSprite0},
        {"PARTICLETRAILPC1.DDS", &MakeParticleSprite1},
        {"PARTICLETRAILPC2.DDS", &MakeParticleSprite2},
        {"PARTICLETRAILPC3.DDS", &MakeParticleSprite3},
        {"PARTICLETRAILPC4.DDS", &MakeParticleSprite4},
        {"PARTICLETRAILPC5.DDS", &MakeParticleSprite5},
        {"PARTICLETRAILPC6.DDS", &MakeParticleSprite6},
    };
    return kGenerators;
}

namespace {

// Generators are pure, so each runs once per process.
const Bytes& Generated(const Generator& gen) {
    static std::map<const Generator*, Bytes> cache;
    auto it = cache.find(&gen);
    if (it == cache.end()) {
        it = cache.emplace(&gen, gen.generate()).first;
    }
    return it->second;
}

} // namespace

bool WriteContent(const fs::path& dir, std::vector<std::string>& messages) {
    bool ok = true;
    for (const Generator& gen : Generators()) {
        const fs::path path = dir / gen.fileName;
        const Bytes& bytes = Generated(gen);
        Bytes existing;
        if (ReadFile(path, existing) && existing == bytes) {
            continue;
        }
        std::string error;
        if (WriteFileAtomically(path, bytes, error)) {
            messages.push_back("wrote " + path.string());
        } else {
            messages.push_back(error);
            ok = false;
        }
    }
    return ok;
}

std::vector<std::string> CheckContent(const fs::path& dir) {
    std::vector<std::string> differing;
    for (const Generator& gen : Generators()) {
        Bytes existing;
        if (!ReadFile(dir / gen.fileName, existing) || existing != Generated(gen)) {
            differing.emplace_back(gen.fileName);
        }
    }
    return differing;
}

int RunContentGenerator(const std::vector<std::string>& args, std::vector<std::string>& out,
                        std::vector<std::string>& err) {
    const std::string usage =
        "usage: glimmerwing-content [--check] <resources dir>";
    if (args.size() == 1 && args[0] != "--check" && !args[0].empty()) {
        std::vector<std::string> messages;
        bool ok = WriteContent(args[0], messages);
        (ok ? out : err).insert((ok ? out : err).end(), messages.begin(), messages.end());
        return ok ? 0 : 1;
    }
    if (args.size() == 2 && args[0] == "--check") {
        std::error_code ec;
        if (!fs::is_directory(args[1], ec)) {
            err.push_back(args[1] + ": not a folder");
            return 2;
        }
        auto differing = CheckContent(args[1]);
        for (const auto& name : differing) {
            err.push_back(name + " differs from the generated content");
        }
        return differing.empty() ? 0 : 1;
    }
    err.push_back(usage);
    return 2;
}

} // namespace content
