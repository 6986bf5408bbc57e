// The skinned, animated models: the two birds, the whale and the small model
// that is loaded but never drawn. Each file holds one root frame with one
// skinned Mesh and the bone frames below it, then one AnimationSet whose
// Animations drive the bones with looping key tracks.
//
// Conventions the player relies on:
// - Bone frames carry pure translations. A rotation track replaces the frame's
//   whole local matrix by (rotation x translation of the file transform), so a
//   rotation in the file transform would be lost as soon as the bone moves.
//   The rest pose is therefore every bone at its file translation, unturned,
//   and each bone's offset matrix is the inverse of its summed translation.
// - Rotation keys are written w, x, y, z and hold the conjugate of the turn
//   the bone makes: the player negates w before it builds the matrix.
// - Every track of a model has the same period, its first key at 0 and its
//   last key (equal to the first) at the period, so the whole set loops
//   without a seam. 4800 ticks are one second.
// - Weights are whole millionths summing to exactly one; the drawn models
//   blend at most two bones a vertex, the never-drawn one up to four.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/content/ContentGen.h"
#include "tools/content/Models.h"

namespace content {
namespace {

using Matrix = std::array<double, 16>;

constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
constexpr std::uint32_t kTicksPerSecond = 4800;
constexpr int kMicro = 1000000;

Matrix Translation(Float3 t) {
    Matrix m = kIdentity;
    m[12] = t.x;
    m[13] = t.y;
    m[14] = t.z;
    return m;
}

// ---------------------------------------------------------------------------
// Turns as unit quaternions (w + xi + yj + zk).

struct Quat {
    double w = 1, x = 0, y = 0, z = 0;
};

Quat AxisAngle(Float3 axis, double angle) {
    const Float3 n = Normalise(axis);
    const double s = Sine(angle * 0.5);
    return {Cosine(angle * 0.5), n.x * s, n.y * s, n.z * s};
}

// The turn `a` followed by the turn `b` (the quaternion product b a).
Quat Then(Quat a, Quat b) {
    return {b.w * a.w - b.x * a.x - b.y * a.y - b.z * a.z,
            b.w * a.x + b.x * a.w + b.y * a.z - b.z * a.y,
            b.w * a.y - b.x * a.z + b.y * a.w + b.z * a.x,
            b.w * a.z + b.x * a.y - b.y * a.x + b.z * a.w};
}

// The same turn seen in the mirror x -> -x (the left side of a right-side
// movement).
Quat MirrorX(Quat q) { return {q.w, q.x, -q.y, -q.z}; }

constexpr Float3 kAxisX{1, 0, 0};
constexpr Float3 kAxisY{0, 1, 0};
constexpr Float3 kAxisZ{0, 0, 1};

// A periodic wave of `cycles` (0..1 over one period).
double Wave(double cycles) { return Sine(2.0 * kPi * cycles); }
double CoWave(double cycles) { return Cosine(2.0 * kPi * cycles); }

// ---------------------------------------------------------------------------
// Skinned models

struct Bone {
    std::string name;
    int parent;   // -1: hangs on the model's root frame
    Float3 pivot; // in the bind pose, model space
};

struct Influence {
    int bone;
    int micro; // weight in millionths
};

// One bone's looping tracks, sampled at `keys` even steps of the period; a
// missing function means no track of that kind.
struct Track {
    int bone;
    std::function<Quat(double)> rotation; // turn at a phase 0..1
    std::function<Float3(double)> scale;
    std::function<Float3(double)> position; // replaces the file translation
};

struct SkinnedModel {
    const char* magic = "xof 0302txt 0064";
    const char* rootFrame = "";
    const char* meshName = "";
    const char* animationSet = "";
    TriMesh mesh;
    std::vector<XColour> colours;                // one per vertex
    std::vector<std::vector<Influence>> weights; // one list per vertex
    std::vector<Bone> bones;
    std::uint32_t periodTicks = kTicksPerSecond;
    std::uint32_t keysPerPeriod = 24; // divides periodTicks
    std::vector<Track> tracks;
};

double SmoothStep(double edge0, double edge1, double v) {
    double t = (v - edge0) / (edge1 - edge0);
    t = std::min(1.0, std::max(0.0, t));
    return t * t * (3.0 - 2.0 * t);
}

// Bone `a` blending into bone `b` as `v` runs from edge0 to edge1.
std::vector<Influence> Blend(int a, int b, double edge0, double edge1, double v) {
    const int toB = static_cast<int>(SmoothStep(edge0, edge1, v) * kMicro + 0.5);
    if (toB < kMicro / 1000) {
        return {{a, kMicro}};
    }
    if (toB > kMicro - kMicro / 1000) {
        return {{b, kMicro}};
    }
    return {{a, kMicro - toB}, {b, toB}};
}

// A chain of bones along one coordinate: bones[k] hands over to bones[k + 1]
// between edges[k].first and edges[k].second (the zones must not overlap).
std::vector<Influence> Chain(std::span<const int> bones,
                             std::span<const std::pair<double, double>> edges, double v) {
    for (std::size_t k = 0; k < edges.size(); ++k) {
        const auto [e0, e1] = edges[k];
        const bool beforeEnd = e1 > e0 ? v < e1 : v > e1;
        if (beforeEnd) {
            return Blend(bones[k], bones[k + 1], e0, e1, v);
        }
    }
    return {{bones.back(), kMicro}};
}

// Adds a piece of the mesh with the bones and colour of each of its vertices.
void AddPart(SkinnedModel& model, const TriMesh& part,
             const std::function<std::vector<Influence>(std::size_t)>& weigh,
             const std::function<XColour(std::size_t)>& colour) {
    for (std::size_t i = 0; i < part.positions.size(); ++i) {
        model.weights.push_back(weigh(i));
        model.colours.push_back(colour(i));
    }
    model.mesh.Append(part);
}

XColour Mix(XColour a, XColour b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, 1.0};
}

XColour Tinted(XColour c, XColour tint) { return {c.r * tint.r, c.g * tint.g, c.b * tint.b, 1.0}; }

Float3 PivotOf(const SkinnedModel& model, int bone) { return model.bones[bone].pivot; }

void WriteBoneFrames(XTextWriter& x, const SkinnedModel& model, int parent) {
    for (std::size_t b = 0; b < model.bones.size(); ++b) {
        const Bone& bone = model.bones[b];
        if (bone.parent != parent) {
            continue;
        }
        const Float3 base = parent < 0 ? Float3{} : PivotOf(model, parent);
        x.BeginFrame(bone.name);
        x.FrameTransformMatrix(Translation(bone.pivot - base));
        WriteBoneFrames(x, model, static_cast<int>(b));
        x.EndFrame();
    }
}

template <class Value>
std::vector<XKey> SampleTrack(const SkinnedModel& model, const std::function<Value(double)>& at,
                              const std::function<std::vector<double>(Value)>& values) {
    std::vector<XKey> keys;
    const std::uint32_t n = model.keysPerPeriod;
    const std::uint32_t step = model.periodTicks / n;
    for (std::uint32_t i = 0; i <= n; ++i) {
        // The closing key repeats the first one exactly.
        keys.push_back({i * step, values(at(double(i % n) / n))});
    }
    return keys;
}

Bytes WriteSkinnedModel(const SkinnedModel& model) {
    XTextWriter x(model.magic);
    x.BeginFrame(model.rootFrame);
    x.FrameTransformMatrix(kIdentity);

    x.BeginMesh(model.meshName, model.mesh);
    x.VertexColors(model.colours);
    const XMaterial white;
    const std::vector<std::uint32_t> faceMaterials(model.mesh.faces.size(), 0);
    x.MaterialList(std::span<const XMaterial>(&white, 1), faceMaterials);

    // Bones per vertex and per face, and each bone's list of vertices.
    std::vector<std::vector<std::uint32_t>> vertices(model.bones.size());
    std::vector<std::vector<double>> weights(model.bones.size());
    std::size_t perVertex = 0;
    for (std::size_t v = 0; v < model.weights.size(); ++v) {
        perVertex = std::max(perVertex, model.weights[v].size());
        for (const Influence& in : model.weights[v]) {
            vertices[in.bone].push_back(static_cast<std::uint32_t>(v));
            weights[in.bone].push_back(double(in.micro) / kMicro);
        }
    }
    std::size_t perFace = 0;
    for (const auto& face : model.mesh.faces) {
        std::vector<int> bones;
        for (std::uint32_t v : face) {
            for (const Influence& in : model.weights[v]) {
                if (std::find(bones.begin(), bones.end(), in.bone) == bones.end()) {
                    bones.push_back(in.bone);
                }
            }
        }
        perFace = std::max(perFace, bones.size());
    }
    const auto used = static_cast<unsigned>(std::count_if(
        vertices.begin(), vertices.end(), [](const auto& list) { return !list.empty(); }));
    x.SkinMeshHeader(static_cast<unsigned>(perVertex), static_cast<unsigned>(perFace), used);
    for (std::size_t b = 0; b < model.bones.size(); ++b) {
        if (!vertices[b].empty()) {
            const Float3 pivot = model.bones[b].pivot;
            x.SkinWeights(model.bones[b].name, vertices[b], weights[b],
                          Translation({-pivot.x, -pivot.y, -pivot.z}));
        }
    }
    x.EndMesh();

    WriteBoneFrames(x, model, -1);
    x.EndFrame();

    // Rotation keys hold the conjugate turn (see the top of the file).
    const std::function<std::vector<double>(Quat)> conjugate = [](Quat q) {
        return std::vector<double>{q.w, -q.x, -q.y, -q.z};
    };
    const std::function<std::vector<double>(Float3)> vector = [](Float3 v) {
        return std::vector<double>{v.x, v.y, v.z};
    };
    x.Open("AnimationSet " + std::string(model.animationSet));
    for (const Track& track : model.tracks) {
        x.Open("Animation");
        x.Line("{ " + model.bones[track.bone].name + " }");
        if (track.rotation) {
            x.AnimationKey(XKeyType::Rotation, SampleTrack(model, track.rotation, conjugate));
        }
        if (track.scale) {
            x.AnimationKey(XKeyType::Scale, SampleTrack(model, track.scale, vector));
        }
        if (track.position) {
            x.AnimationKey(XKeyType::Position, SampleTrack(model, track.position, vector));
        }
        x.Close();
    }
    x.Close();
    return x.Take();
}

// ---------------------------------------------------------------------------
// Birds: the static bird's shape with a body, two two-piece wings and a tail.

struct BeatStyle {
    std::uint32_t periodTicks;
    double phase;     // cycles the beat is ahead at time 0
    double stroke;    // half the inner wing's swing, radians
    double dihedral;  // mean raise of the inner wing
    double tipStroke; // half the tip's swing against the inner wing
    double tipLag;    // cycles the tip trails the inner wing
    double tipTwist;  // half the tip's pitch about its span
    double tailPitch;
    double bodyPitch;
    double bodyBob; // half the body's rise and fall
    XColour tint;   // on the plumage colours
};

enum BirdBone { kBody, kRightInner, kRightTip, kLeftInner, kLeftTip, kTail };

SkinnedModel MakeSkinnedBird(const BeatStyle& style) {
    SkinnedModel model;
    model.rootFrame = "Bird";
    model.meshName = "birdSkin";
    model.animationSet = "WingBeat";
    model.periodTicks = style.periodTicks;
    model.bones = {
        {"Body", -1, {0.0, 0.0, 0.0}},
        {"RightWingInner", kBody, {0.25, 0.07, 0.08}},
        {"RightWingTip", kRightInner, {1.38, 0.21, 0.08}},
        {"LeftWingInner", kBody, {-0.25, 0.07, 0.08}},
        {"LeftWingTip", kLeftInner, {-1.38, 0.21, 0.08}},
        {"Tail", kBody, {0.0, 0.05, -0.78}},
    };

    // Plumage: warm white below, a light grey mantle on the back and the
    // upper wings, darker grey wing tips, a pale yellow beak.
    const XColour white{0.97, 0.95, 0.91, 1.0};
    const XColour mantle{0.81, 0.80, 0.78, 1.0};
    const XColour tipGrey{0.66, 0.66, 0.66, 1.0};
    const XColour beak{0.96, 0.86, 0.62, 1.0};

    const std::vector<TriMesh> parts = BirdDisplayParts();
    const TriMesh& body = parts[0];
    const TriMesh& bill = parts[1];
    const TriMesh& tail = parts[4];

    const int bodyTail[] = {kBody, kTail};
    const std::pair<double, double> tailZone[] = {{-0.62, -0.95}};
    auto back = [&](const TriMesh& m, std::size_t i, double amount) {
        return Tinted(Mix(white, mantle, amount * SmoothStep(-0.2, 0.6, m.normals[i].y)),
                      style.tint);
    };
    AddPart(
        model, body, [&](std::size_t i) { return Chain(bodyTail, tailZone, body.positions[i].z); },
        [&](std::size_t i) { return back(body, i, 0.8); });
    AddPart(
        model, bill,
        [](std::size_t) {
            return std::vector<Influence>{{kBody, kMicro}};
        },
        [&](std::size_t) { return Tinted(beak, style.tint); });
    for (int side = 0; side < 2; ++side) {
        const TriMesh& wing = parts[2 + static_cast<std::size_t>(side)];
        const int chain[] = {kBody, side == 0 ? kRightInner : kLeftInner,
                             side == 0 ? kRightTip : kLeftTip};
        const std::pair<double, double> zones[] = {{0.25, 0.70}, {1.15, 1.60}};
        AddPart(
            model, wing,
            [&](std::size_t i) {
                const double span =
                    wing.positions[i].x < 0 ? -wing.positions[i].x : wing.positions[i].x;
                return Chain(chain, zones, span);
            },
            [&](std::size_t i) {
                const double span =
                    wing.positions[i].x < 0 ? -wing.positions[i].x : wing.positions[i].x;
                return Tinted(Mix(Mix(white, mantle, SmoothStep(-0.3, 0.3, wing.normals[i].y)),
                                  tipGrey, SmoothStep(2.0, 2.6, span)),
                              style.tint);
            });
    }
    AddPart(
        model, tail, [&](std::size_t i) { return Chain(bodyTail, tailZone, tail.positions[i].z); },
        [&](std::size_t i) { return back(tail, i, 0.7); });

    // The beat: the inner wings swing about the body's axis, the tips follow
    // later and pitch their leading edge down on the downstroke; the body
    // rises while the wings push down, the tail balances.
    auto innerAngle = [style](double p) {
        return style.dihedral + style.stroke * CoWave(p + style.phase);
    };
    auto tipTurn = [style](double p) {
        const double u = p + style.phase - style.tipLag;
        return Then(AxisAngle(kAxisX, style.tipTwist * Wave(u)),
                    AxisAngle(kAxisZ, style.tipStroke * CoWave(u)));
    };
    model.tracks = {
        {kBody,
         [style](double p) {
             return AxisAngle(kAxisX, style.bodyPitch * Wave(p + style.phase + 0.25));
         },
         {},
         [style](double p) {
             return Float3{0.0, -style.bodyBob * CoWave(p + style.phase), 0.0};
         }},
        {kRightInner, [=](double p) { return AxisAngle(kAxisZ, innerAngle(p)); }, {}, {}},
        {kRightTip, tipTurn, {}, {}},
        {kLeftInner, [=](double p) { return MirrorX(AxisAngle(kAxisZ, innerAngle(p))); }, {}, {}},
        {kLeftTip, [=](double p) { return MirrorX(tipTurn(p)); }, {}, {}},
        {kTail,
         [style](double p) {
             return AxisAngle(kAxisX, style.tailPitch * Wave(p + style.phase - 0.15));
         },
         {},
         {}},
    };
    return model;
}

// ---------------------------------------------------------------------------
// Whale: body, a tail of two segments, the flukes and the flippers.

enum WhaleBone { kWhaleBody, kTailFront, kTailBack, kFlukes, kRightFlipper, kLeftFlipper };

SkinnedModel MakeSkinnedWhaleModel() {
    SkinnedModel model;
    model.rootFrame = "Whale";
    model.meshName = "whaleSkin";
    model.animationSet = "Swim";
    model.periodTicks = 12000; // 2.5 s
    model.bones = {
        {"Body", -1, {0.0, 0.0, 0.0}},
        {"TailFront", kWhaleBody, {0.0, 0.08, -1.20}},
        {"TailBack", kTailFront, {0.0, 0.10, -2.30}},
        {"Flukes", kTailBack, {0.0, 0.06, -2.90}},
        {"RightFlipper", kWhaleBody, kWhaleFlipperRoot},
        {"LeftFlipper",
         kWhaleBody,
         {-kWhaleFlipperRoot.x, kWhaleFlipperRoot.y, kWhaleFlipperRoot.z}},
    };

    // Blue-grey back, pale belly and flipper undersides.
    const XColour back{0.47, 0.55, 0.65, 1.0};
    const XColour belly{0.79, 0.84, 0.89, 1.0};
    const std::vector<TriMesh> parts = WhaleDisplayParts();
    const int spine[] = {kWhaleBody, kTailFront, kTailBack, kFlukes};
    const std::pair<double, double> zones[] = {{-0.90, -1.50}, {-2.05, -2.55}, {-2.80, -3.05}};
    const Float3 axis = kWhaleFlipperTip - kWhaleFlipperRoot;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const TriMesh& part = parts[k];
        const bool flipper = k == 2 || k == 3;
        const int flipperBone = k == 2 ? kRightFlipper : kLeftFlipper;
        AddPart(
            model, part,
            [&](std::size_t i) {
                const Float3 p = part.positions[i];
                if (!flipper) {
                    return Chain(spine, zones, p.z);
                }
                // How far out along the flipper (mirrored for the left).
                const Float3 q{p.x < 0 ? -p.x : p.x, p.y, p.z};
                const double along = Dot(q - kWhaleFlipperRoot, axis) / Dot(axis, axis);
                return Blend(kWhaleBody, flipperBone, 0.0, 0.3, along);
            },
            [&](std::size_t i) {
                return Mix(belly, back, SmoothStep(-0.35, 0.45, part.normals[i].y));
            });
    }

    // A slow swim: the tail sweeps up and down in a wave that runs back to
    // the flukes, the body pitches and heaves against it, the flippers paddle
    // in small circles.
    auto paddle = [](double p) {
        return Then(AxisAngle(kAxisY, 0.10 * Wave(p)), AxisAngle(kAxisZ, 0.14 * CoWave(p)));
    };
    model.tracks = {
        {kWhaleBody,
         [](double p) { return AxisAngle(kAxisX, -0.025 * Wave(p + 0.05)); },
         {},
         [](double p) {
             return Float3{0.0, 0.05 * Wave(p - 0.25), 0.0};
         }},
        {kTailFront, [](double p) { return AxisAngle(kAxisX, 0.10 * Wave(p)); }, {}, {}},
        {kTailBack, [](double p) { return AxisAngle(kAxisX, 0.16 * Wave(p - 0.08)); }, {}, {}},
        {kFlukes, [](double p) { return AxisAngle(kAxisX, 0.26 * Wave(p - 0.18)); }, {}, {}},
        {kRightFlipper, paddle, {}, {}},
        {kLeftFlipper, [=](double p) { return MirrorX(paddle(p)); }, {}, {}},
    };
    return model;
}

// ---------------------------------------------------------------------------
// The never-drawn model: a bent tube on a chain of four bones, blended over
// wide zones so that the middle vertices have three or four bones.

SkinnedModel MakeDammySkinModel() {
    SkinnedModel model;
    model.magic = "xof 0303txt 0032";
    model.rootFrame = "Dammy";
    model.meshName = "dammySkin";
    model.animationSet = "Bend";
    model.periodTicks = kTicksPerSecond;
    model.keysPerPeriod = 8;

    // A quarter circle of radius 0.8 rising along y and bending towards +z.
    const double radius = 0.8;
    const double bend = kPi / 2.0;
    auto centre = [&](double s) {
        return Float3{0.0, radius * Sine(bend * s), radius * (1.0 - Cosine(bend * s))};
    };
    std::vector<Section> sections;
    for (int k = 0; k <= 8; ++k) {
        const double s = k / 8.0;
        sections.push_back(
            {centre(s), {0.12, 0.0, 0.0}, Float3{0.0, -Sine(bend * s), Cosine(bend * s)} * 0.12});
    }
    const TriMesh tube = Loft(sections, 8);

    const double joints[] = {0.0, 1.0 / 3.0, 2.0 / 3.0, 1.0};
    model.bones = {{"Root", -1, centre(joints[0])},
                   {"Joint1", 0, centre(joints[1])},
                   {"Joint2", 1, centre(joints[2])},
                   {"End", 2, centre(joints[3])}};
    AddPart(
        model, tube,
        [&](std::size_t i) {
            // The texture's v runs along the tube: 0 at the root, 1 at the end.
            const double s = tube.texCoords[i][1];
            double raw[4];
            double sum = 0.0;
            for (int b = 0; b < 4; ++b) {
                const double d = (s - joints[b]) / 0.6;
                raw[b] = d * d < 1.0 ? (1.0 - d * d) * (1.0 - d * d) : 0.0;
                sum += raw[b];
            }
            // Whole millionths; the heaviest bone takes the rounding.
            std::vector<Influence> out;
            int total = 0, heaviest = 0;
            for (int b = 0; b < 4; ++b) {
                const int micro = static_cast<int>(raw[b] / sum * kMicro + 0.5);
                if (micro > 0) {
                    out.push_back({b, micro});
                    total += micro;
                    if (micro > out[static_cast<std::size_t>(heaviest)].micro) {
                        heaviest = static_cast<int>(out.size() - 1);
                    }
                }
            }
            out[static_cast<std::size_t>(heaviest)].micro += kMicro - total;
            return out;
        },
        [](std::size_t) {
            return XColour{0.8, 0.8, 0.8, 1.0};
        });

    // Each joint bends back and forth a little later than the one before;
    // the end also swells (a scale track beside the turn).
    for (int b = 1; b < 4; ++b) {
        Track track{
            b, [b](double p) { return AxisAngle(kAxisX, 0.25 * Wave(p - 0.1 * b)); }, {}, {}};
        if (b == 3) {
            track.scale = [](double p) {
                const double s = 1.0 + 0.05 * (1.0 - CoWave(p));
                return Float3{s, s, s};
            };
        }
        model.tracks.push_back(track);
    }
    return model;
}

} // namespace

Bytes MakeSkinnedBird03() {
    BeatStyle style{};
    style.periodTicks = 2400; // 0.5 s
    style.phase = 0.0;
    style.stroke = 0.62;
    style.dihedral = 0.10;
    style.tipStroke = 0.45;
    style.tipLag = 0.14;
    style.tipTwist = 0.14;
    style.tailPitch = 0.08;
    style.bodyPitch = 0.03;
    style.bodyBob = 0.06;
    style.tint = {1.0, 1.0, 1.0, 1.0};
    return WriteSkinnedModel(MakeSkinnedBird(style));
}

Bytes MakeSkinnedBird04() {
    BeatStyle style{};
    style.periodTicks = 2880; // 0.6 s
    style.phase = 0.37;
    style.stroke = 0.50;
    style.dihedral = 0.14;
    style.tipStroke = 0.36;
    style.tipLag = 0.18;
    style.tipTwist = 0.10;
    style.tailPitch = 0.06;
    style.bodyPitch = 0.025;
    style.bodyBob = 0.05;
    style.tint = {0.99, 0.97, 0.94, 1.0}; // a little creamier
    return WriteSkinnedModel(MakeSkinnedBird(style));
}

Bytes MakeSkinnedWhale() { return WriteSkinnedModel(MakeSkinnedWhaleModel()); }

Bytes MakeDammySkin() { return WriteSkinnedModel(MakeDammySkinModel()); }

} // namespace content
