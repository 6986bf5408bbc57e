// The rigid models (the bird, the whale, the moon and the earth) and the moon
// placement file. Each model file holds one visible mesh, whose name contains
// "display", and one low-poly proxy mesh, whose name contains "dammy"; the
// loader tells them apart by these names and needs as many of one as of the
// other. Models are built in their own units: +Z is the heading, +Y up.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "tools/content/ContentGen.h"
#include "tools/content/Models.h"

namespace content {
namespace {

constexpr std::array<double, 16> kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

std::array<double, 16> Translation(double x, double y, double z) {
    std::array<double, 16> m = kIdentity;
    m[12] = x;
    m[13] = y;
    m[14] = z;
    return m;
}

// A cross-section of a body running along z: an ellipse rx wide, ry tall.
Section AlongZ(double z, double rx, double ry, double y = 0.0) {
    return {{0.0, y, z}, {rx, 0.0, 0.0}, {0.0, ry, 0.0}};
}

// A cross-section of a flat part running along x (wing, fluke): chord along
// z from `leading` back to `trailing`, `thickness` half-height.
Section AlongX(double x, double y, double leading, double trailing, double thickness) {
    return {{x, y, (leading + trailing) * 0.5}, {0.0, 0.0, (leading - trailing) * 0.5},
            {0.0, thickness, 0.0}};
}

Section Point(double x, double y, double z) { return {{x, y, z}, {}, {}}; }

std::vector<Section> MirrorX(std::span<const Section> sections) {
    std::vector<Section> out;
    for (const Section& s : sections) {
        out.push_back({{-s.centre.x, s.centre.y, s.centre.z},
                       {-s.a.x, s.a.y, s.a.z},
                       {-s.b.x, s.b.y, s.b.z}});
    }
    return out;
}

// A limb from `root` to `tip`: sections at the given fractions of the way,
// each with its half chord along `chord` (made perpendicular to the limb) and
// its half thickness across the limb's plane.
struct LimbStation {
    double along;
    double halfChord;
    double halfThickness;
    double sweep; // shift along the chord direction
};

std::vector<Section> Limb(Float3 root, Float3 tip, Float3 chord,
                          std::span<const LimbStation> stations) {
    const Float3 axis = tip - root;
    const Float3 d = Normalise(axis);
    const Float3 c = Normalise(chord - d * Dot(chord, d));
    const Float3 t = Normalise(Cross(d, c));
    std::vector<Section> out;
    for (const LimbStation& s : stations) {
        const Float3 centre = root + axis * s.along + c * s.sweep;
        if (s.halfChord == 0.0) {
            out.push_back({centre, {}, {}});
        } else {
            out.push_back({centre, c * s.halfChord, t * s.halfThickness});
        }
    }
    return out;
}

TriMesh LoftOf(const std::vector<Section>& sections, int segments) {
    return Loft(sections, segments);
}

Bytes WriteModel(const char* rootFrame, const TriMesh& display, const TriMesh& proxy,
                 const XMaterial& material) {
    XTextWriter x;
    x.BeginFrame(rootFrame);
    x.FrameTransformMatrix(kIdentity);
    x.BeginFrame(std::string(rootFrame) + "Body");
    x.FrameTransformMatrix(kIdentity);
    x.Mesh("displayMesh", display, material);
    x.EndFrame();
    x.BeginFrame(std::string(rootFrame) + "Proxy");
    x.FrameTransformMatrix(kIdentity);
    x.Mesh("dammyMesh", proxy, material);
    x.EndFrame();
    x.EndFrame();
    return x.Take();
}

} // namespace

// ---------------------------------------------------------------------------
// Bird: 3.65 long (z -1.70 .. 1.95), wingspan 5.56, gull-winged.

std::vector<TriMesh> BirdDisplayParts() {
    std::vector<TriMesh> parts;
    // Body, neck and head in one piece, from the tail root to the brow.
    parts.push_back(LoftOf({Point(0.0, 0.06, -1.10), AlongZ(-0.98, 0.10, 0.09, 0.06),
                            AlongZ(-0.72, 0.20, 0.18, 0.04), AlongZ(-0.38, 0.29, 0.26, 0.01),
                            AlongZ(0.00, 0.34, 0.31, 0.00), AlongZ(0.36, 0.33, 0.30, 0.02),
                            AlongZ(0.68, 0.26, 0.25, 0.06), AlongZ(0.92, 0.18, 0.19, 0.12),
                            AlongZ(1.08, 0.20, 0.21, 0.16), AlongZ(1.26, 0.23, 0.23, 0.18),
                            AlongZ(1.42, 0.21, 0.21, 0.18), AlongZ(1.54, 0.14, 0.14, 0.17),
                            Point(0.0, 0.16, 1.60)},
                           10));
    // Beak, pointed and slightly hooked.
    parts.push_back(LoftOf({AlongZ(1.40, 0.085, 0.07, 0.14), AlongZ(1.62, 0.065, 0.05, 0.13),
                            AlongZ(1.80, 0.035, 0.03, 0.11), Point(0.0, 0.08, 1.95)},
                           6));
    // Right wing: broad inner wing raised to the elbow, swept outer wing.
    const std::vector<Section> right = {
        AlongX(0.15, 0.05, 0.45, -0.35, 0.07), AlongX(0.60, 0.12, 0.55, -0.40, 0.065),
        AlongX(1.10, 0.20, 0.55, -0.35, 0.055), AlongX(1.60, 0.22, 0.42, -0.30, 0.045),
        AlongX(2.10, 0.18, 0.20, -0.28, 0.035), AlongX(2.50, 0.12, -0.05, -0.28, 0.025),
        Point(2.78, 0.08, -0.25)};
    parts.push_back(LoftOf(right, 8));
    parts.push_back(LoftOf(MirrorX(right), 8));
    // Tail: a flat fan widening backwards.
    parts.push_back(LoftOf({AlongZ(-0.75, 0.10, 0.05, 0.05), AlongZ(-1.05, 0.20, 0.04, 0.04),
                            AlongZ(-1.35, 0.36, 0.03, 0.03), AlongZ(-1.62, 0.50, 0.025, 0.02),
                            AlongZ(-1.70, 0.48, 0.02, 0.02)},
                           8));
    return parts;
}

TriMesh BirdDisplayMesh() {
    TriMesh mesh;
    for (const TriMesh& part : BirdDisplayParts()) {
        mesh.Append(part);
    }
    return mesh;
}

TriMesh BirdProxyMesh() {
    TriMesh mesh;
    mesh.Append(LoftOf({Point(0.0, 0.06, -1.10), AlongZ(0.0, 0.34, 0.31),
                        AlongZ(1.2, 0.22, 0.22, 0.17), Point(0.0, 0.08, 1.95)},
                       4));
    const std::vector<Section> right = {AlongX(0.15, 0.05, 0.45, -0.35, 0.07),
                                        Point(2.78, 0.08, -0.25)};
    mesh.Append(LoftOf(right, 3));
    mesh.Append(LoftOf(MirrorX(right), 3));
    mesh.Append(LoftOf({AlongZ(-0.75, 0.10, 0.05, 0.05), AlongZ(-1.70, 0.48, 0.02, 0.02)}, 3));
    return mesh;
}

Bytes MakeBirdModel() {
    return WriteModel("Bird", BirdDisplayMesh(), BirdProxyMesh(), XMaterial{});
}

// ---------------------------------------------------------------------------
// Whale: 7.05 long (z -3.60 .. 3.45), flukes 2.8 across, long flippers.

std::vector<TriMesh> WhaleDisplayParts() {
    std::vector<TriMesh> parts;
    // Body from the snout back to the tail stock, which is taller than wide.
    parts.push_back(LoftOf({Point(0.0, -0.08, 3.45), AlongZ(3.32, 0.30, 0.24, -0.08),
                            AlongZ(3.08, 0.55, 0.44, -0.08), AlongZ(2.70, 0.74, 0.60, -0.07),
                            AlongZ(2.20, 0.88, 0.74, -0.06), AlongZ(1.60, 0.97, 0.82, -0.04),
                            AlongZ(0.90, 1.00, 0.86, -0.01), AlongZ(0.20, 0.96, 0.84, 0.02),
                            AlongZ(-0.50, 0.85, 0.76, 0.05), AlongZ(-1.10, 0.68, 0.64, 0.08),
                            AlongZ(-1.65, 0.50, 0.50, 0.10), AlongZ(-2.10, 0.34, 0.38, 0.11),
                            AlongZ(-2.50, 0.22, 0.28, 0.10), AlongZ(-2.82, 0.14, 0.19, 0.08),
                            AlongZ(-3.06, 0.10, 0.13, 0.06), Point(0.0, 0.05, -3.22)},
                           14));
    // Flukes: one blade from tip to tip through the tail stock, swept back
    // on both sides.
    const std::vector<Section> fluke = {
        AlongX(0.40, 0.05, -2.96, -3.30, 0.050), AlongX(0.80, 0.05, -3.10, -3.36, 0.040),
        AlongX(1.15, 0.05, -3.30, -3.48, 0.030), Point(1.40, 0.05, -3.60)};
    std::vector<Section> flukes = MirrorX(fluke);
    std::reverse(flukes.begin(), flukes.end());
    flukes.push_back(AlongX(0.00, 0.05, -2.86, -3.28, 0.060));
    flukes.insert(flukes.end(), fluke.begin(), fluke.end());
    parts.push_back(LoftOf(flukes, 8));
    // Flippers: long and narrow, reaching out, down and back from the chest.
    const LimbStation flipper[] = {
        {0.0, 0.30, 0.09, 0.00}, {0.30, 0.26, 0.07, -0.04}, {0.60, 0.20, 0.055, -0.08},
        {0.85, 0.13, 0.04, -0.10}, {1.0, 0.0, 0.0, -0.12}};
    const std::vector<Section> rightFlipper =
        Limb(kWhaleFlipperRoot, kWhaleFlipperTip, {0.0, 0.0, 1.0}, flipper);
    parts.push_back(LoftOf(rightFlipper, 8));
    parts.push_back(LoftOf(MirrorX(rightFlipper), 8));
    // A small dorsal fin, leaning back.
    const LimbStation fin[] = {{0.0, 0.28, 0.06, 0.0}, {0.55, 0.16, 0.045, -0.05},
                               {1.0, 0.0, 0.0, -0.08}};
    parts.push_back(LoftOf(Limb({0.0, 0.48, -1.30}, {0.0, 0.98, -1.78}, {0.0, 0.0, 1.0}, fin), 6));
    return parts;
}

TriMesh WhaleDisplayMesh() {
    TriMesh mesh;
    for (const TriMesh& part : WhaleDisplayParts()) {
        mesh.Append(part);
    }
    return mesh;
}

TriMesh WhaleProxyMesh() {
    TriMesh mesh;
    mesh.Append(LoftOf({Point(0.0, -0.08, 3.45), AlongZ(1.6, 0.97, 0.82, -0.04),
                        AlongZ(-1.1, 0.68, 0.64, 0.08), Point(0.0, 0.05, -3.22)},
                       4));
    mesh.Append(LoftOf({Point(-1.40, 0.05, -3.60), AlongX(0.0, 0.05, -2.86, -3.28, 0.06),
                        Point(1.40, 0.05, -3.60)},
                       3));
    const LimbStation flipper[] = {{0.0, 0.30, 0.09, 0.0}, {1.0, 0.0, 0.0, -0.12}};
    const std::vector<Section> rightFlipper =
        Limb(kWhaleFlipperRoot, kWhaleFlipperTip, {0.0, 0.0, 1.0}, flipper);
    mesh.Append(LoftOf(rightFlipper, 3));
    mesh.Append(LoftOf(MirrorX(rightFlipper), 3));
    return mesh;
}

Bytes MakeWhaleModel() {
    return WriteModel("Whale", WhaleDisplayMesh(), WhaleProxyMesh(), XMaterial{});
}

// ---------------------------------------------------------------------------
// Moon and earth: textured spheres.

Bytes MakeMoonModel() {
    XMaterial material;
    material.textureFile = "Moon.JPG";
    XTextWriter x;
    x.BeginFrame("Moon");
    x.FrameTransformMatrix(kIdentity);
    x.Mesh("displayMeshMesh", UvSphere(0.5, 32, 16), material);
    x.Mesh("dammyMeshMesh", UvSphere(0.5, 8, 4), material);
    x.EndFrame();
    return x.Take();
}

// The proxy comes first here, and the frames carry translations; the loader
// uses every mesh in its own coordinates, so the earth stays centred.
// The earth lies so far below the flock that only a cap around the top of
// its sphere is ever in sight. Its axis is tipped toward -z by kEarthTilt, so
// that this cap shows oceans, land and clouds of the middle latitudes, and the
// north polar ice only toward the horizon.
constexpr double kEarthTilt = 1.1;

TriMesh TiltedEarthSphere(int slices, int stacks) {
    TriMesh mesh = UvSphere(1.0, slices, stacks);
    const double c = Cosine(kEarthTilt), s = Sine(kEarthTilt);
    auto tilt = [&](Float3& v) {
        const double y = v.y * c + v.z * s;
        const double z = -v.y * s + v.z * c;
        v.y = y;
        v.z = z;
    };
    for (Float3& p : mesh.positions) tilt(p);
    for (Float3& n : mesh.normals) tilt(n);
    return mesh;
}

Bytes MakeEarthModel() {
    XMaterial material;
    material.textureFile = "earth.jpg";
    XTextWriter x;
    x.BeginFrame("Earth");
    x.FrameTransformMatrix(Translation(0.0, -1.25, 0.0));
    x.BeginFrame("EarthProxy");
    x.FrameTransformMatrix(Translation(2.5, 0.0, 0.0));
    x.Mesh("dammyMesh", TiltedEarthSphere(8, 4), material);
    x.EndFrame();
    x.BeginFrame("EarthSurface");
    x.FrameTransformMatrix(Translation(0.0, 0.5, -0.75));
    x.Mesh("displayMesh", TiltedEarthSphere(64, 32), material);
    x.EndFrame();
    x.EndFrame();
    return x.Take();
}

// ---------------------------------------------------------------------------
// MOON.BPS: four placements of the moon, each a uniform scaling by 4526.1265,
// a turn about y and a position about 16 000 units out.

Bytes MakeMoonPlacements() {
    struct Placement {
        float cosine; // _11 = _33
        float sine;   // _13 = -_31
        float x, y, z;
    };
    static constexpr float kScale = 4526.1265f;
    static constexpr Placement kPlacements[] = {
        {-3546.9727f, -2811.5469f, 15895.1738f, 1613.7539f, 1879.7292f},
        {-4427.2847f, 940.7198f, -212.2145f, 1547.6133f, -15877.0508f},
        {894.1180f, 4436.9370f, -15685.7725f, 1458.1798f, 1320.4420f},
        {-2344.3115f, -3871.6951f, -1643.7151f, 1599.9225f, 15142.6836f},
    };
    Bytes out;
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
        }
    };
    put32(static_cast<std::uint32_t>(std::size(kPlacements)));
    for (const Placement& p : kPlacements) {
        const float m[16] = {p.cosine, 0.0f, p.sine,   0.0f, //
                             0.0f,     kScale, 0.0f,   0.0f, //
                             -p.sine,  0.0f, p.cosine, 0.0f, //
                             p.x,      p.y,  p.z,      1.0f};
        for (float f : m) {
            put32(std::bit_cast<std::uint32_t>(f));
        }
    }
    return out;
}

} // namespace content
