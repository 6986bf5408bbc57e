// The particle sprites: seven white shapes on transparent black, stored as
// 256 x 256 A4R4G4B4 DDS files of one level.
//
// Each particle is drawn as one triangle that samples the texture at (0,1),
// (0.5,0) and (1,1), so every shape is centred on that triangle's incircle
// and kept inside it. Shapes are written in a unit disc around the incircle's
// centre (x right, y up) as alpha functions, averaged over 4 x 4 samples a
// pixel. The maths is + - * / and sqrt only, so the bytes never depend on the
// compiler or the C library.
#include <algorithm>
#include <array>
#include <cmath>

#include "tools/content/ContentGen.h"

namespace content {
namespace {

struct P2 {
    double x, y;
};

P2 operator-(P2 a, P2 b) { return {a.x - b.x, a.y - b.y}; }
P2 operator+(P2 a, P2 b) { return {a.x + b.x, a.y + b.y}; }
P2 operator*(P2 a, double s) { return {a.x * s, a.y * s}; }
double Dot(P2 a, P2 b) { return a.x * b.x + a.y * b.y; }
double Cross(P2 a, P2 b) { return a.x * b.y - a.y * b.x; }
double Length(P2 a) { return std::sqrt(Dot(a, a)); }
double Clamp01(double v) { return std::min(1.0, std::max(0.0, v)); }
double SmoothStep(double t) {
    t = Clamp01(t);
    return t * t * (3.0 - 2.0 * t);
}

// Width of the soft edge of the outlined shapes, in disc units (about 3 pixels).
constexpr double kSoft = 0.045;

// Alpha of a shape at signed distance d (negative inside).
double Edge(double d) { return Clamp01(0.5 - d / kSoft); }

// Two alphas laid over each other as light adds up without exceeding 1.
double Screen(double a, double b) { return 1.0 - (1.0 - a) * (1.0 - b); }

double SegmentDistance(P2 p, P2 a, P2 b, double* along = nullptr) {
    const P2 ab = b - a;
    const double t = Clamp01(Dot(p - a, ab) / Dot(ab, ab));
    if (along) *along = t;
    return Length(p - (a + ab * t));
}

double BoxDistance(P2 p, P2 half) {
    const double qx = std::abs(p.x) - half.x;
    const double qy = std::abs(p.y) - half.y;
    const double outside = Length({std::max(qx, 0.0), std::max(qy, 0.0)});
    return outside + std::min(std::max(qx, qy), 0.0);
}

// A close approximation of the distance to an ellipse at the origin.
double EllipseDistance(P2 q, P2 radii) {
    const double k0 = Length({q.x / radii.x, q.y / radii.y});
    const double k1 = Length({q.x / (radii.x * radii.x), q.y / (radii.y * radii.y)});
    if (k1 == 0.0) return -std::min(radii.x, radii.y);
    return k0 * (k0 - 1.0) / k1;
}

// ---------------------------------------------------------------------------
// The shapes

// 0: a round glow, brightest in the middle.
double Glow(P2 p) { return SmoothStep(1.0 - Length(p)); }

// A light ray through the centre along `dir` both ways, tapering to its tips.
double Ray(P2 p, P2 dir, double length, double width) {
    const double fall = 1.0 - std::abs(Dot(p, dir)) / length;
    if (fall <= 0.0) return 0.0;
    const double across = Clamp01(1.0 - std::abs(Cross(p, dir)) / (width * fall));
    return fall * across;
}

// 1: a sparkle: a small glow with four long rays and four short diagonal ones.
double Shine(P2 p) {
    const double s = std::sqrt(0.5);
    double a = SmoothStep(1.0 - Length(p) / 0.38);
    a = Screen(a, Ray(p, {1.0, 0.0}, 0.98, 0.11));
    a = Screen(a, Ray(p, {0.0, 1.0}, 0.98, 0.11));
    a = Screen(a, Ray(p, {s, s}, 0.56, 0.08));
    a = Screen(a, Ray(p, {s, -s}, 0.56, 0.08));
    return a;
}

// 2: an upright cross of two bars with rounded ends.
double CrossShape(P2 p) {
    constexpr double kRound = 0.06;
    const double horizontal = BoxDistance(p, {0.84 - kRound, 0.15 - kRound}) - kRound;
    const double vertical = BoxDistance(p, {0.15 - kRound, 0.84 - kRound}) - kRound;
    return Edge(std::min(horizontal, vertical));
}

// 3: a soap bubble: a bright rim, a faint inside growing toward the rim, and
// a window highlight at the upper left with a small one opposite.
double Bubble(P2 p) {
    constexpr double kRim = 0.86;
    const double r = Length(p);
    const double rim = SmoothStep(1.0 - std::abs(r - kRim) / 0.1);
    const double t = r / kRim;
    const double inside = (0.1 + 0.25 * t * t * t * t) * Edge(r - kRim);
    double a = std::max(rim, inside);

    const double s = std::sqrt(0.5);
    const P2 q = p - P2{-0.34, 0.34};
    const P2 local{Dot(q, {s, s}), Dot(q, {-s, s})};  // long axis along the rim
    const double highlight = 0.95 * SmoothStep(1.0 - Length({local.x / 0.2, local.y / 0.1}));
    const double glint = 0.55 * SmoothStep(1.0 - Length(p - P2{0.4, -0.4}) / 0.08);
    a = Screen(a, highlight);
    return Screen(a, glint);
}

// 4: a six-armed snowflake: arms with two pairs of side branches each and a
// small hexagonal heart.
double Snowflake(P2 p) {
    const double h = std::sqrt(3.0) / 2.0;
    const std::array<P2, 6> dirs = {{{0.0, 1.0}, {-h, 0.5}, {-h, -0.5}, {0.0, -1.0}, {h, -0.5}, {h, 0.5}}};
    double d = 1e9;
    for (std::size_t k = 0; k < dirs.size(); ++k) {
        const P2 arm = dirs[k];
        const P2 left = dirs[(k + 1) % 6];
        const P2 right = dirs[(k + 5) % 6];
        d = std::min(d, SegmentDistance(p, {0.0, 0.0}, arm * 0.88) - 0.05);
        const P2 inner = arm * 0.42;
        const P2 outer = arm * 0.64;
        d = std::min(d, SegmentDistance(p, inner, inner + left * 0.26) - 0.04);
        d = std::min(d, SegmentDistance(p, inner, inner + right * 0.26) - 0.04);
        d = std::min(d, SegmentDistance(p, outer, outer + left * 0.17) - 0.035);
        d = std::min(d, SegmentDistance(p, outer, outer + right * 0.17) - 0.035);
    }
    // The heart: a hexagon with corners on the arms.
    double hex = -1e9;
    for (const P2& n : {P2{h, 0.5}, P2{0.0, 1.0}, P2{-h, 0.5}}) hex = std::max(hex, std::abs(Dot(p, n)));
    d = std::min(d, hex - 0.14);
    return Edge(d);
}

P2 Bezier(P2 p0, P2 p1, P2 p2, P2 p3, double t) {
    const double s = 1.0 - t;
    return p0 * (s * s * s) + p1 * (3.0 * s * s * t) + p2 * (3.0 * s * t * t) + p3 * (t * t * t);
}

// 5: an eighth note: a tilted oval head, a stem up from its right side and a
// flag curving down from the stem's top.
class EighthNote {
public:
    EighthNote() {
        const P2 p0{-0.01, 0.74}, p1{0.04, 0.44}, p2{0.44, 0.44}, p3{0.31, 0.02};
        for (int i = 0; i <= kFlagSteps; ++i) {
            m_flag[static_cast<std::size_t>(i)] = Bezier(p0, p1, p2, p3, double(i) / kFlagSteps);
        }
    }

    double Alpha(P2 p) const {
        // Head tilted up to the right along (2, 1).
        const double l = std::sqrt(5.0);
        const P2 t{2.0 / l, 1.0 / l};
        const P2 q = p - P2{-0.22, -0.48};
        double d = EllipseDistance({Dot(q, t), Cross(t, q)}, {0.25, 0.17});
        d = std::min(d, BoxDistance(p - P2{-0.019, 0.16}, {0.035, 0.58}));
        // The flag thins from the stem to its tail.
        for (int i = 0; i < kFlagSteps; ++i) {
            double along = 0.0;
            const double dist = SegmentDistance(p, m_flag[static_cast<std::size_t>(i)],
                                                m_flag[static_cast<std::size_t>(i + 1)], &along);
            const double f = (i + along) / kFlagSteps;
            d = std::min(d, dist - (0.075 - 0.055 * f));
        }
        return Edge(d);
    }

private:
    static constexpr int kFlagSteps = 24;
    std::array<P2, kFlagSteps + 1> m_flag{};
};

// 6: a thin ring.
double Ring(P2 p) { return Edge(std::abs(Length(p) - 0.82) - 0.04); }

double SpriteAlpha(int index, P2 p) {
    static const EighthNote note;
    switch (index) {
    case 0: return Glow(p);
    case 1: return Shine(p);
    case 2: return CrossShape(p);
    case 3: return Bubble(p);
    case 4: return Snowflake(p);
    case 5: return note.Alpha(p);
    default: return Ring(p);
    }
}

void Put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<unsigned char>(v & 0xFF));
    b.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

unsigned To4Bits(std::uint8_t v) { return (static_cast<unsigned>(v) * 15u + 127u) / 255u; }

Bytes MakeParticleSprite(int index) {
    return EncodeDdsA4R4G4B4(RenderParticleSprite(index, kParticleSpriteSize));
}

}  // namespace

Image RenderParticleSprite(int index, int size) {
    // The incircle of the triangle (0,1), (0.5,0), (1,1): radius 1 / (1 + sqrt 5)
    // touching the bottom edge v = 1. The shapes' unit disc keeps a margin to it.
    const double inradius = 1.0 / (1.0 + std::sqrt(5.0));
    const double centreV = 1.0 - inradius;
    const double discRadius = inradius * 0.92;

    constexpr int kSub = 4;
    Image image(size, size);
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            double sum = 0.0;
            for (int sy = 0; sy < kSub; ++sy) {
                for (int sx = 0; sx < kSub; ++sx) {
                    const double u = (px + (sx + 0.5) / kSub) / size;
                    const double v = (py + (sy + 0.5) / kSub) / size;
                    const P2 p{(u - 0.5) / discRadius, (centreV - v) / discRadius};
                    if (Dot(p, p) < 1.0) sum += Clamp01(SpriteAlpha(index, p));
                }
            }
            const double a = sum / (kSub * kSub);
            image.Set(px, py, a > 0.0 ? Colour{1.0, 1.0, 1.0, a} : Colour{});
        }
    }
    return image;
}

Bytes EncodeDdsA4R4G4B4(const Image& image) {
    const auto w = static_cast<std::uint32_t>(image.width);
    const auto h = static_cast<std::uint32_t>(image.height);
    Bytes out;
    out.reserve(128 + static_cast<std::size_t>(w) * h * 2);
    for (const char c : {'D', 'D', 'S', ' '}) out.push_back(static_cast<unsigned char>(c));
    Put32(out, 124);                            // header size
    Put32(out, 0x1 | 0x2 | 0x4 | 0x8 | 0x1000); // caps, height, width, pitch, pixel format
    Put32(out, h);
    Put32(out, w);
    Put32(out, w * 2);  // pitch
    Put32(out, 0);      // depth
    Put32(out, 0);      // mip levels: none beyond the top
    for (int i = 0; i < 11; ++i) Put32(out, 0);
    // Pixel format: alpha pixels + RGB, 16 bits, the four 4-bit masks.
    Put32(out, 32);
    Put32(out, 0x1 | 0x40);
    Put32(out, 0);
    Put32(out, 16);
    Put32(out, 0x0F00);
    Put32(out, 0x00F0);
    Put32(out, 0x000F);
    Put32(out, 0xF000);
    Put32(out, 0x1000);  // caps: texture
    for (int i = 0; i < 4; ++i) Put32(out, 0);
    for (std::size_t i = 0; i + 3 < image.rgba.size(); i += 4) {
        const unsigned a = To4Bits(image.rgba[i + 3]);
        if (a == 0) {
            Put16(out, 0);
            continue;
        }
        Put16(out, a << 12 | To4Bits(image.rgba[i]) << 8 | To4Bits(image.rgba[i + 1]) << 4 |
                       To4Bits(image.rgba[i + 2]));
    }
    return out;
}

Bytes MakeParticleSprite0() { return MakeParticleSprite(0); }
Bytes MakeParticleSprite1() { return MakeParticleSprite(1); }
Bytes MakeParticleSprite2() { return MakeParticleSprite(2); }
Bytes MakeParticleSprite3() { return MakeParticleSprite(3); }
Bytes MakeParticleSprite4() { return MakeParticleSprite(4); }
Bytes MakeParticleSprite5() { return MakeParticleSprite(5); }
Bytes MakeParticleSprite6() { return MakeParticleSprite(6); }

}  // namespace content
