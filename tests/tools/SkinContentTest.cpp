// The skinned, animated models, read back from resources/ with the program's
// own X-file reader: their skins, bones and key tracks as the skinned-mesh
// player binds and plays them, and the poses the tracks produce.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gfx/D3DXMath.h"
#include "gfx/XFile.h"
#include "tests/support/XFileReading.h"

namespace fs = std::filesystem;

namespace {

const fs::path kResources = fs::path(GLIMMERWING_SOURCE_DIR) / "resources";

// ---------------------------------------------------------------------------
// A model as the reader delivers it.

struct Frame {
    std::string name;
    int parent = -1;
    D3DXMATRIX local; // the file transform
};

struct Skin {
    std::string bone;
    std::vector<DWORD> vertices;
    std::vector<float> weights;
    D3DXMATRIX offset;
};

struct Key {
    DWORD time = 0;
    std::vector<float> values;
};

struct Animation {
    std::string target;
    std::map<DWORD, std::vector<Key>> tracks; // by key type
};

struct SkinModel {
    std::string magic;
    std::vector<Frame> frames;
    std::vector<D3DXVECTOR3> positions;
    std::vector<std::vector<DWORD>> faces;
    std::vector<D3DCOLORVALUE> colours;
    WORD maxPerVertex = 0, maxPerFace = 0, boneCount = 0;
    std::vector<Skin> skins;
    std::vector<Animation> animations;
    int meshes = 0;

    int FrameIndex(const std::string& name) const {
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (frames[i].name == name) return static_cast<int>(i);
        }
        return -1;
    }
};

using testing_support::Children;
using testing_support::Held;
using testing_support::IsType;
using testing_support::Member;
using testing_support::NameOf;

D3DXMATRIX MatrixAt(const float* f) {
    D3DXMATRIX m;
    std::memcpy(&m.m[0][0], f, 16 * sizeof(float));
    return m;
}

void ReadMesh(XFileData* mesh, SkinModel& model) {
    ++model.meshes;
    const DWORD n = *Member<DWORD>(mesh, "nVertices");
    const float* v = Member<float>(mesh, "vertices");
    for (DWORD i = 0; i < n; ++i) model.positions.push_back({v[3 * i], v[3 * i + 1], v[3 * i + 2]});
    const DWORD nFaces = *Member<DWORD>(mesh, "nFaces");
    const DWORD* f = Member<DWORD>(mesh, "faces");
    for (DWORD i = 0; i < nFaces; ++i) {
        model.faces.emplace_back(f + 1, f + 1 + f[0]);
        f += 1 + f[0];
    }
    Children(mesh, [&](XFileData* child) {
        if (IsType(child, TID_D3DRMMeshVertexColors)) {
            const DWORD count = *Member<DWORD>(child, "nVertexColors");
            const BYTE* c = Member<BYTE>(child, "vertexColors");
            model.colours.resize(n, D3DCOLORVALUE{0, 0, 0, 0});
            for (DWORD i = 0; i < count; ++i, c += 20) {
                DWORD index = 0;
                std::memcpy(&index, c, 4);
                if (index < n) std::memcpy(&model.colours[index], c + 4, 16);
            }
        } else if (IsType(child, DXFILEOBJ_XSkinMeshHeader)) {
            model.maxPerVertex = *Member<WORD>(child, "nMaxSkinWeightsPerVertex");
            model.maxPerFace = *Member<WORD>(child, "nMaxSkinWeightsPerFace");
            model.boneCount = *Member<WORD>(child, "nBones");
        } else if (IsType(child, DXFILEOBJ_SkinWeights)) {
            Skin skin;
            skin.bone = *Member<const char*>(child, "transformNodeName");
            const DWORD count = *Member<DWORD>(child, "nWeights");
            const DWORD* indices = Member<DWORD>(child, "vertexIndices");
            const float* weights = Member<float>(child, "weights");
            skin.vertices.assign(indices, indices + count);
            skin.weights.assign(weights, weights + count);
            skin.offset = MatrixAt(Member<float>(child, "matrixOffset"));
            model.skins.push_back(std::move(skin));
        }
    });
}

void ReadFrame(XFileData* frame, int parent, SkinModel& model) {
    const int index = static_cast<int>(model.frames.size());
    model.frames.push_back({NameOf(frame), parent, {}});
    D3DXMatrixIdentity(&model.frames.back().local);
    Children(frame, [&](XFileData* child) {
        if (IsType(child, TID_D3DRMFrameTransformMatrix)) {
            model.frames[static_cast<std::size_t>(index)].local =
                MatrixAt(Member<float>(child, "frameMatrix"));
        } else if (IsType(child, TID_D3DRMFrame)) {
            ReadFrame(child, index, model);
        } else if (IsType(child, TID_D3DRMMesh)) {
            ReadMesh(child, model);
        }
    });
}

void ReadAnimationSet(XFileData* set, SkinModel& model) {
    Children(set, [&](XFileData* animation) {
        if (!IsType(animation, TID_D3DRMAnimation)) return;
        Animation a;
        std::vector<std::string> targets;
        Children(
            animation,
            [&](XFileData* child) {
                if (!IsType(child, TID_D3DRMAnimationKey)) return;
                const DWORD type = *Member<DWORD>(child, "keyType");
                const DWORD count = *Member<DWORD>(child, "nKeys");
                const DWORD* k = Member<DWORD>(child, "keys");
                std::vector<Key>& track = a.tracks[type];
                for (DWORD i = 0; i < count; ++i) {
                    Key key;
                    key.time = k[0];
                    const DWORD values = k[1];
                    key.values.resize(values);
                    std::memcpy(key.values.data(), k + 2, values * sizeof(float));
                    track.push_back(std::move(key));
                    k += 2 + values;
                }
            },
            &targets);
        a.target = targets.size() == 1 ? targets[0] : "";
        model.animations.push_back(std::move(a));
    });
}

::testing::AssertionResult LoadSkinModel(const char* file, SkinModel& model) {
    std::ifstream in(kResources / file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    model.magic = text.substr(0, 16);
    const auto read = testing_support::ReadXText(text, [&](XFileData* data) {
        if (IsType(data, TID_D3DRMFrame)) ReadFrame(data, -1, model);
        if (IsType(data, TID_D3DRMAnimationSet)) ReadAnimationSet(data, model);
    });
    if (!read) return ::testing::AssertionFailure() << file << ": " << read.message();
    if (model.meshes != 1 || model.positions.empty()) {
        return ::testing::AssertionFailure() << file << ": expected one skinned mesh";
    }
    return ::testing::AssertionSuccess();
}

// The bind pose: each frame's file transform after its parent's.
D3DXMATRIX Combined(const SkinModel& model, int frame, const std::vector<D3DXMATRIX>& locals) {
    D3DXMATRIX m = locals[static_cast<std::size_t>(frame)];
    for (int p = model.frames[static_cast<std::size_t>(frame)].parent; p >= 0;
         p = model.frames[static_cast<std::size_t>(p)].parent) {
        m = m * locals[static_cast<std::size_t>(p)];
    }
    return m;
}

std::vector<D3DXMATRIX> FileTransforms(const SkinModel& model) {
    std::vector<D3DXMATRIX> locals;
    for (const Frame& f : model.frames) locals.push_back(f.local);
    return locals;
}

// The key of a track at a time, the track looping on its last key's time;
// between keys the earlier key is held (enough at the key times themselves).
const Key& KeyAt(const std::vector<Key>& track, DWORD time) {
    const DWORD t = track.back().time == 0 ? 0 : time % track.back().time;
    std::size_t k = 0;
    while (k + 1 < track.size() && track[k + 1].time <= t) ++k;
    return track[k];
}

// The frames' local transforms at a time, as the player builds them: scale,
// then the turn of the key's quaternion with w negated, then the key's
// position or the translation of the file transform.
std::vector<D3DXMATRIX> PoseAt(const SkinModel& model, DWORD time) {
    std::vector<D3DXMATRIX> locals = FileTransforms(model);
    for (const Animation& a : model.animations) {
        const int target = model.FrameIndex(a.target);
        if (target < 0) continue;
        D3DXMATRIX m;
        D3DXMatrixIdentity(&m);
        if (auto s = a.tracks.find(1); s != a.tracks.end()) {
            const Key& k = KeyAt(s->second, time);
            D3DXMATRIX scale;
            m = m * *D3DXMatrixScaling(&scale, k.values[0], k.values[1], k.values[2]);
        }
        if (auto r = a.tracks.find(0); r != a.tracks.end()) {
            const Key& k = KeyAt(r->second, time);
            const D3DXQUATERNION q(k.values[1], k.values[2], k.values[3], -k.values[0]);
            D3DXMATRIX turn;
            m = m * *D3DXMatrixRotationQuaternion(&turn, &q);
        }
        const D3DXMATRIX& file = model.frames[static_cast<std::size_t>(target)].local;
        D3DXMATRIX move;
        if (auto p = a.tracks.find(2); p != a.tracks.end()) {
            const Key& k = KeyAt(p->second, time);
            D3DXMatrixTranslation(&move, k.values[0], k.values[1], k.values[2]);
        } else {
            D3DXMatrixTranslation(&move, file.m[3][0], file.m[3][1], file.m[3][2]);
        }
        locals[static_cast<std::size_t>(target)] = m * move;
    }
    return locals;
}

// The skinned vertices for the given local transforms.
std::vector<D3DXVECTOR3> Skinned(const SkinModel& model, const std::vector<D3DXMATRIX>& locals) {
    std::vector<D3DXVECTOR3> out(model.positions.size(), D3DXVECTOR3(0, 0, 0));
    for (const Skin& skin : model.skins) {
        const D3DXMATRIX m = skin.offset * Combined(model, model.FrameIndex(skin.bone), locals);
        for (std::size_t i = 0; i < skin.vertices.size(); ++i) {
            D3DXVECTOR3 p;
            D3DXVec3TransformCoord(&p, &model.positions[skin.vertices[i]], &m);
            out[skin.vertices[i]] += p * skin.weights[i];
        }
    }
    return out;
}

DWORD Period(const SkinModel& model) {
    DWORD period = 0;
    for (const Animation& a : model.animations) {
        for (const auto& [type, track] : a.tracks) period = std::max(period, track.back().time);
    }
    return period;
}

float Distance(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    const D3DXVECTOR3 d = a - b;
    return D3DXVec3Length(&d);
}

struct ExpectedModel {
    const char* file;
    const char* magic;
    WORD maxWeights;              // most bones a vertex may have
    float minSeconds, maxSeconds; // loop length
};

const ExpectedModel kModels[] = {
    {"BIRDSKINNED03.X", "xof 0302txt 0064", 2, 0.3f, 1.0f},
    {"BIRDSKINNED04.X", "xof 0302txt 0064", 2, 0.3f, 1.0f},
    {"WHALESKINNED.X", "xof 0302txt 0064", 2, 1.5f, 4.0f},
    {"DAMMY.X", "xof 0303txt 0032", 4, 0.2f, 2.0f},
};

// ---------------------------------------------------------------------------

TEST(SkinContentTest, SkinsBindEveryVertexToNamedBonesWithWeightsThatSumToOne) {
    for (const ExpectedModel& expected : kModels) {
        SCOPED_TRACE(expected.file);
        SkinModel model;
        ASSERT_TRUE(LoadSkinModel(expected.file, model));
        EXPECT_EQ(model.magic, expected.magic);

        std::set<std::string> names;
        for (const Frame& f : model.frames) {
            EXPECT_FALSE(f.name.empty());
            EXPECT_TRUE(names.insert(f.name).second) << "frame name twice: " << f.name;
        }

        // Every bone names a frame; per vertex, its bones and their weights.
        std::vector<float> sums(model.positions.size(), 0.0f);
        std::vector<WORD> bones(model.positions.size(), 0);
        const std::vector<D3DXMATRIX> locals = FileTransforms(model);
        for (const Skin& skin : model.skins) {
            const int frame = model.FrameIndex(skin.bone);
            ASSERT_GE(frame, 0) << "bone without a frame: " << skin.bone;
            ASSERT_EQ(skin.vertices.size(), skin.weights.size());
            for (std::size_t i = 0; i < skin.vertices.size(); ++i) {
                ASSERT_LT(skin.vertices[i], model.positions.size());
                EXPECT_GT(skin.weights[i], 0.0f);
                sums[skin.vertices[i]] += skin.weights[i];
                ++bones[skin.vertices[i]];
            }
            // The offset undoes the bone's bind pose, so the rest pose is the
            // mesh as written.
            const D3DXMATRIX product = skin.offset * Combined(model, frame, locals);
            for (int r = 0; r < 4; ++r) {
                for (int c = 0; c < 4; ++c) {
                    EXPECT_NEAR(product.m[r][c], r == c ? 1.0f : 0.0f, 1e-5f) << skin.bone;
                }
            }
        }
        EXPECT_EQ(model.boneCount, model.skins.size());
        for (std::size_t v = 0; v < sums.size(); ++v) {
            ASSERT_NEAR(sums[v], 1.0f, 2e-6f) << "vertex " << v;
            ASSERT_GE(bones[v], 1);
        }
        const WORD most = *std::max_element(bones.begin(), bones.end());
        EXPECT_EQ(model.maxPerVertex, most);
        EXPECT_LE(most, expected.maxWeights);
        WORD perFace = 0;
        for (const auto& face : model.faces) {
            std::set<std::string> faceBones;
            for (const Skin& skin : model.skins) {
                for (DWORD v : skin.vertices) {
                    if (std::find(face.begin(), face.end(), v) != face.end())
                        faceBones.insert(skin.bone);
                }
            }
            perFace = std::max<WORD>(perFace, static_cast<WORD>(faceBones.size()));
        }
        EXPECT_EQ(model.maxPerFace, perFace);
        if (expected.maxWeights > 2) {
            EXPECT_GT(most, 2) << "the never-drawn model exercises more than two bones a vertex";
        }

        const std::vector<D3DXVECTOR3> rest = Skinned(model, locals);
        for (std::size_t v = 0; v < rest.size(); ++v) {
            ASSERT_LT(Distance(rest[v], model.positions[v]), 1e-4f) << "vertex " << v;
        }

        // Colours on every vertex: cloning a mesh without them makes it black.
        ASSERT_EQ(model.colours.size(), model.positions.size());
        for (const D3DCOLORVALUE& c : model.colours) {
            EXPECT_GT(c.r + c.g + c.b, 1.2f);
            EXPECT_EQ(c.a, 1.0f);
        }
    }
}

TEST(SkinContentTest, TracksLoopSeamlesslyOnTheTickClockAndTheBirdsBeatApart) {
    std::map<std::string, SkinModel> models;
    for (const ExpectedModel& expected : kModels) {
        SCOPED_TRACE(expected.file);
        SkinModel& model = models[expected.file];
        ASSERT_TRUE(LoadSkinModel(expected.file, model));
        ASSERT_FALSE(model.animations.empty());
        const DWORD period = Period(model);
        EXPECT_GE(period, expected.minSeconds * 4800.0f);
        EXPECT_LE(period, expected.maxSeconds * 4800.0f);
        std::set<std::string> targets;
        for (const Animation& a : model.animations) {
            ASSERT_GE(model.FrameIndex(a.target), 0) << "animation without a target frame";
            // One animation per frame: a second one would overwrite the first.
            EXPECT_TRUE(targets.insert(a.target).second) << a.target;
            for (const auto& [type, track] : a.tracks) {
                SCOPED_TRACE(a.target + " key type " + std::to_string(type));
                ASSERT_TRUE(type == 0 || type == 1 || type == 2) << "unexpected key type";
                ASSERT_GE(track.size(), 3u);
                EXPECT_EQ(track.front().time, 0u);
                EXPECT_EQ(track.back().time, period) << "every track loops with the whole set";
                for (std::size_t k = 0; k < track.size(); ++k) {
                    ASSERT_EQ(track[k].values.size(), type == 0 ? 4u : 3u);
                    if (k > 0) {
                        EXPECT_GT(track[k].time, track[k - 1].time);
                    }
                    if (type == 0) {
                        const auto& q = track[k].values;
                        EXPECT_NEAR(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3], 1.0f,
                                    1e-5f);
                        EXPECT_GT(q[0], 0.0f)
                            << "neighbouring keys on one side, for the interpolation";
                    }
                }
                EXPECT_EQ(track.front().values, track.back().values) << "a seam at the loop";
            }
        }
    }

    // The two birds beat at different tempi, strokes and phases: compare the
    // height of the right elbow over the body.
    auto innerWingHeight = [&](const SkinModel& m, DWORD time) {
        const std::vector<D3DXMATRIX> locals = PoseAt(m, time);
        return Combined(m, m.FrameIndex("RightWingTip"), locals).m[3][1] -
               Combined(m, m.FrameIndex("Body"), locals).m[3][1];
    };
    const SkinModel& a = models["BIRDSKINNED03.X"];
    const SkinModel& b = models["BIRDSKINNED04.X"];
    EXPECT_NE(Period(a), Period(b));
    auto stroke = [&](const SkinModel& m) {
        float lo = 1e9f, hi = -1e9f;
        for (const Key& k : m.animations[0].tracks.begin()->second) {
            const float y = innerWingHeight(m, k.time);
            lo = std::min(lo, y);
            hi = std::max(hi, y);
        }
        return hi - lo;
    };
    EXPECT_GT(std::fabs(stroke(a) - stroke(b)), 0.1f);
    EXPECT_GT(std::fabs(innerWingHeight(a, 0) - innerWingHeight(b, 0)), 0.2f);
}

TEST(SkinContentTest, PosesBeatBothWingsAlikeAndKeepTheSkinWhole) {
    for (const char* file : {"BIRDSKINNED03.X", "BIRDSKINNED04.X", "WHALESKINNED.X"}) {
        SCOPED_TRACE(file);
        SkinModel model;
        ASSERT_TRUE(LoadSkinModel(file, model));
        const bool bird = std::string(file).find("BIRD") != std::string::npos;
        const DWORD period = Period(model);
        float lowestTip = 1e9f, highestTip = -1e9f;
        for (DWORD step = 0; step < 24; ++step) {
            const DWORD time = period * step / 24;
            const std::vector<D3DXMATRIX> locals = PoseAt(model, time);
            const std::vector<D3DXVECTOR3> posed = Skinned(model, locals);
            // No edge stretches or shrinks much: the bones move the skin in
            // one piece.
            for (const auto& face : model.faces) {
                for (std::size_t k = 0; k < face.size(); ++k) {
                    const DWORD i = face[k], j = face[(k + 1) % face.size()];
                    const float rest = Distance(model.positions[i], model.positions[j]);
                    const float now = Distance(posed[i], posed[j]);
                    ASSERT_LT(std::fabs(now - rest), 0.25f * rest + 0.02f)
                        << "edge " << i << "-" << j << " at tick " << time;
                }
            }
            // Mirror images: the right half's extremes match the left half's.
            float rightHigh = -1e9f, leftHigh = -1e9f, rightLow = 1e9f, leftLow = 1e9f;
            float right = -1e9f, left = 1e9f;
            for (const D3DXVECTOR3& p : posed) {
                right = std::max(right, p.x);
                left = std::min(left, p.x);
                if (std::fabs(p.x) > 0.6f) {
                    float& high = p.x > 0 ? rightHigh : leftHigh;
                    float& low = p.x > 0 ? rightLow : leftLow;
                    high = std::max(high, p.y);
                    low = std::min(low, p.y);
                }
            }
            EXPECT_NEAR(right, -left, 1e-3f) << "tick " << time;
            EXPECT_NEAR(rightHigh, leftHigh, 1e-3f) << "tick " << time;
            EXPECT_NEAR(rightLow, leftLow, 1e-3f) << "tick " << time;
            if (bird) {
                // The wing's reach relative to the body.
                const float body = Combined(model, model.FrameIndex("Body"), locals).m[3][1];
                lowestTip = std::min(lowestTip, rightLow - body);
                highestTip = std::max(highestTip, rightHigh - body);
            }
        }
        if (bird) {
            // A real beat: the tips sweep well above and below the shoulder.
            EXPECT_GT(highestTip, 1.2f);
            EXPECT_LT(lowestTip, -0.6f);

            // Where the elbow falls fastest, the hand pitches its leading
            // edge down (its +z axis points below the horizontal); over the
            // beat the wings sit raised, above their rest height.
            std::vector<float> elbow;
            std::vector<float> tipPitch;
            for (DWORD step = 0; step < 24; ++step) {
                const std::vector<D3DXMATRIX> locals = PoseAt(model, period * step / 24);
                const D3DXMATRIX tip = Combined(model, model.FrameIndex("RightWingTip"), locals);
                const D3DXMATRIX body = Combined(model, model.FrameIndex("Body"), locals);
                elbow.push_back(tip.m[3][1] - body.m[3][1]);
                tipPitch.push_back(tip.m[2][1] - body.m[2][1]);
            }
            std::size_t fastestFall = 0;
            float fall = 0.0f, mean = 0.0f;
            for (std::size_t k = 0; k < 24; ++k) {
                const float d = elbow[(k + 1) % 24] - elbow[(k + 23) % 24];
                if (d < fall) {
                    fall = d;
                    fastestFall = k;
                }
                mean += elbow[k] / 24.0f;
            }
            EXPECT_LT(tipPitch[fastestFall], -0.02f);
            const D3DXMATRIX restTip =
                Combined(model, model.FrameIndex("RightWingTip"), FileTransforms(model));
            EXPECT_GT(mean, restTip.m[3][1] + 0.03f);
        }
    }
}

} // namespace
