// The rigid models, the moon placements and the planet textures, read back
// from resources/ as the program receives them: what the model loader, the
// background placement and the texture cache rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "gfx/D3DXMath.h"
#include "gfx/ImageDecode.h"
#include "gfx/XFile.h"
#include "tests/support/XFileReading.h"
#include "tools/content/ContentGen.h"
#include "tools/content/XText.h"
#include "tools/rc/ResourceScript.h"

// After the project's headers: jpeglib.h wants <cstdio> before it and defines
// TRUE and FALSE.
#include <jpeglib.h>

namespace fs = std::filesystem;

namespace {

const fs::path kResources = fs::path(GLIMMERWING_SOURCE_DIR) / "resources";

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------------------
// A model as the program's X-file reader delivers it.

using testing_support::Children;
using testing_support::IsType;
using testing_support::Member;
using testing_support::NameOf;

struct Face {
    std::uint32_t a, b, c;
};

// One Mesh object with its children decoded and checked for consistency.
struct LoadedMesh {
    std::string name;
    std::vector<content::Float3> positions;
    std::vector<content::Float3> normals;
    std::vector<std::array<double, 2>> texCoords;
    std::vector<Face> faces;
    std::vector<std::string> textures; // one per material ("" without)
};

// count vectors of three floats.
std::vector<content::Float3> Vectors(const DWORD* count, const float* v) {
    std::vector<content::Float3> out;
    if (count == nullptr || v == nullptr) return out;
    for (DWORD i = 0; i < *count; ++i) out.push_back({v[3 * i], v[3 * i + 1], v[3 * i + 2]});
    return out;
}

// count MeshFace records; false unless every one is a triangle.
bool Triangles(const DWORD* count, const DWORD* f, std::vector<Face>& faces) {
    if (count == nullptr || f == nullptr) return false;
    for (DWORD i = 0; i < *count; ++i, f += 4) {
        if (f[0] != 3) return false;
        faces.push_back({f[1], f[2], f[3]});
    }
    return true;
}

::testing::AssertionResult ReadMesh(XFileData* data, LoadedMesh& mesh) {
    mesh.name = NameOf(data);
    mesh.positions = Vectors(Member<DWORD>(data, "nVertices"), Member<float>(data, "vertices"));
    if (!Triangles(Member<DWORD>(data, "nFaces"), Member<DWORD>(data, "faces"), mesh.faces)) {
        return ::testing::AssertionFailure() << "faces that are not triangles";
    }
    for (const Face& f : mesh.faces) {
        if (std::max({f.a, f.b, f.c}) >= mesh.positions.size()) {
            return ::testing::AssertionFailure() << "face index out of range";
        }
    }
    bool normals = false, coords = false, list = false;
    std::vector<Face> normalFaces;
    std::vector<DWORD> faceMaterials;
    DWORD materials = 0;
    Children(data, [&](XFileData* child) {
        if (IsType(child, TID_D3DRMMeshNormals)) {
            normals = true;
            mesh.normals = Vectors(Member<DWORD>(child, "nNormals"), Member<float>(child, "normals"));
            if (!Triangles(Member<DWORD>(child, "nFaceNormals"), Member<DWORD>(child, "faceNormals"), normalFaces))
                normalFaces.clear();
        } else if (IsType(child, TID_D3DRMMeshTextureCoords)) {
            coords = true;
            const DWORD* n = Member<DWORD>(child, "nTextureCoords");
            const float* uv = Member<float>(child, "textureCoords");
            for (DWORD i = 0; n != nullptr && uv != nullptr && i < *n; ++i)
                mesh.texCoords.push_back({uv[2 * i], uv[2 * i + 1]});
        } else if (IsType(child, TID_D3DRMMeshMaterialList)) {
            list = true;
            materials = *Member<DWORD>(child, "nMaterials");
            const DWORD* n = Member<DWORD>(child, "nFaceIndexes");
            const DWORD* indexes = Member<DWORD>(child, "faceIndexes");
            faceMaterials.assign(indexes, indexes + *n);
            Children(child, [&](XFileData* material) {
                if (!IsType(material, TID_D3DRMMaterial)) return;
                std::string texture;
                Children(material, [&](XFileData* name) {
                    if (IsType(name, TID_D3DRMTextureFilename)) texture = *Member<const char*>(name, "filename");
                });
                mesh.textures.push_back(texture);
            });
        }
    });
    if (!normals || mesh.normals.size() != mesh.positions.size()) {
        return ::testing::AssertionFailure() << "normals do not match the vertices";
    }
    if (normalFaces.size() != mesh.faces.size()) {
        return ::testing::AssertionFailure() << "normal faces differ from the faces";
    }
    for (std::size_t i = 0; i < mesh.faces.size(); ++i) {
        if (normalFaces[i].a != mesh.faces[i].a || normalFaces[i].b != mesh.faces[i].b ||
            normalFaces[i].c != mesh.faces[i].c) {
            return ::testing::AssertionFailure() << "normal faces differ from the faces";
        }
    }
    if (!coords || mesh.texCoords.size() != mesh.positions.size()) {
        return ::testing::AssertionFailure() << "texture coordinates do not match the vertices";
    }
    if (!list || materials == 0 || faceMaterials.size() != mesh.faces.size()) {
        return ::testing::AssertionFailure() << "material list does not cover the faces";
    }
    std::vector<bool> used(materials);
    for (DWORD m : faceMaterials) {
        if (m >= materials) {
            return ::testing::AssertionFailure() << "face material out of range";
        }
        used[m] = true;
    }
    if (std::count(used.begin(), used.end(), false) != 0) {
        return ::testing::AssertionFailure() << "a material is used by no face";
    }
    if (mesh.textures.size() != materials) {
        return ::testing::AssertionFailure() << "material count differs from the materials given";
    }
    return ::testing::AssertionSuccess();
}

struct Model {
    std::string header;
    std::vector<LoadedMesh> meshes;   // in the order of the model loader's depth-first walk
    std::vector<D3DXMATRIX> frameTransforms;  // of the top-level frames, in file order
};

// The meshes of an object and of the frames below it.
::testing::AssertionResult CollectMeshes(XFileData* data, Model& model) {
    if (IsType(data, TID_D3DRMMesh)) {
        LoadedMesh mesh;
        auto result = ReadMesh(data, mesh);
        if (!result) return result << " in mesh " << mesh.name;
        model.meshes.push_back(std::move(mesh));
    } else if (IsType(data, TID_D3DRMFrame)) {
        ::testing::AssertionResult result = ::testing::AssertionSuccess();
        Children(data, [&](XFileData* child) {
            if (result) result = CollectMeshes(child, model);
        });
        return result;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult LoadModel(const char* file, Model& model) {
    const std::string text = ReadText(kResources / file);
    model.header = text.substr(0, 16);
    ::testing::AssertionResult meshes = ::testing::AssertionSuccess();
    const auto read = testing_support::ReadXText(text, [&](XFileData* data) {
        if (!IsType(data, TID_D3DRMFrame)) {
            if (meshes) meshes = CollectMeshes(data, model);
            return;
        }
        // A top-level frame: its transform, and the meshes below it.
        Children(data, [&](XFileData* child) {
            if (IsType(child, TID_D3DRMFrameTransformMatrix)) {
                D3DXMATRIX m;
                std::memcpy(&m.m[0][0], Member<float>(child, "frameMatrix"), sizeof m.m);
                model.frameTransforms.push_back(m);
            } else if (meshes) {
                meshes = CollectMeshes(child, model);
            }
        });
    });
    if (!read) return ::testing::AssertionFailure() << file << ": " << read.message();
    if (!meshes) return meshes << " in " << file;
    return ::testing::AssertionSuccess();
}

struct Bounds {
    content::Float3 lo{1e30, 1e30, 1e30};
    content::Float3 hi{-1e30, -1e30, -1e30};
};

Bounds BoundsOf(const LoadedMesh& mesh) {
    Bounds b;
    for (const auto& p : mesh.positions) {
        b.lo = {std::min(b.lo.x, p.x), std::min(b.lo.y, p.y), std::min(b.lo.z, p.z)};
        b.hi = {std::max(b.hi.x, p.x), std::max(b.hi.y, p.y), std::max(b.hi.z, p.z)};
    }
    return b;
}

struct ExpectedModel {
    const char* file;
    const char* firstMesh;
    const char* secondMesh;
    std::size_t minTriangles; // of the visible mesh
    std::size_t maxTriangles;
    const char* texture; // "" for none
};

const ExpectedModel kModels[] = {
    {"BIRDDAMMY02.X", "displayMesh", "dammyMesh", 200, 700, ""},
    {"WHALEDAMMY.X", "displayMesh", "dammyMesh", 300, 1000, ""},
    {"MOON.X", "displayMeshMesh", "dammyMeshMesh", 500, 4000, "Moon.JPG"},
    {"EARTH.X", "dammyMesh", "displayMesh", 1000, 8000, "earth.jpg"},
};

const LoadedMesh& Visible(const Model& model) {
    return model.meshes[0].name.find("display") != std::string::npos ? model.meshes[0]
                                                                      : model.meshes[1];
}

const LoadedMesh& Proxy(const Model& model) {
    return &Visible(model) == &model.meshes[0] ? model.meshes[1] : model.meshes[0];
}

std::string Upper(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

// ---------------------------------------------------------------------------

TEST(ModelContentTest, ModelsPairOneVisibleWithOneProxyMeshInTheLoadersOrder) {
    for (const ExpectedModel& expected : kModels) {
        SCOPED_TRACE(expected.file);
        Model model;
        ASSERT_TRUE(LoadModel(expected.file, model));
        EXPECT_EQ(model.header, "xof 0302txt 0064");
        ASSERT_EQ(model.meshes.size(), 2u);
        EXPECT_EQ(model.meshes[0].name, expected.firstMesh);
        EXPECT_EQ(model.meshes[1].name, expected.secondMesh);
        // The loader counts a name with "display" as visible, else one with
        // "dammy" as proxy, and needs as many of each.
        int visible = 0, proxy = 0;
        for (const LoadedMesh& mesh : model.meshes) {
            if (mesh.name.find("display") != std::string::npos) {
                ++visible;
            } else if (mesh.name.find("dammy") != std::string::npos) {
                ++proxy;
            }
        }
        EXPECT_EQ(visible, 1);
        EXPECT_EQ(proxy, 1);

        const LoadedMesh& display = Visible(model);
        EXPECT_GE(display.faces.size(), expected.minTriangles);
        EXPECT_LE(display.faces.size(), expected.maxTriangles);
        EXPECT_LT(Proxy(model).faces.size(), 50u);
        EXPECT_LE(display.positions.size(), 65535u); // 16-bit indices
        for (const LoadedMesh& mesh : model.meshes) {
            ASSERT_EQ(mesh.textures.size(), 1u) << mesh.name;
            EXPECT_EQ(mesh.textures[0], expected.texture) << mesh.name;
        }
    }
}

TEST(ModelContentTest, EveryMeshIsClosedWithOutwardFacesAndMatchingNormals) {
    for (const ExpectedModel& expected : kModels) {
        Model model;
        ASSERT_TRUE(LoadModel(expected.file, model));
        for (const LoadedMesh& mesh : model.meshes) {
            SCOPED_TRACE(std::string(expected.file) + " " + mesh.name);
            // Vertices at one place (texture seams, poles) count as one.
            std::map<std::array<double, 3>, std::uint32_t> places;
            std::vector<std::uint32_t> place(mesh.positions.size());
            for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
                const auto& p = mesh.positions[i];
                place[i] = places.emplace(std::array<double, 3>{p.x, p.y, p.z},
                                          static_cast<std::uint32_t>(places.size()))
                               .first->second;
            }
            // Every edge is met once in each direction: closed and
            // consistently wound.
            std::map<std::pair<std::uint32_t, std::uint32_t>, int> edges;
            double volume6 = 0.0;
            std::vector<content::Float3> faceSum(mesh.positions.size());
            for (const Face& f : mesh.faces) {
                const std::uint32_t v[3] = {f.a, f.b, f.c};
                for (int k = 0; k < 3; ++k) {
                    ++edges[{place[v[k]], place[v[(k + 1) % 3]]}];
                }
                const auto& p0 = mesh.positions[f.a];
                const auto& p1 = mesh.positions[f.b];
                const auto& p2 = mesh.positions[f.c];
                const content::Float3 n = content::Cross(p1 - p0, p2 - p0);
                ASSERT_GT(content::Dot(n, n), 0.0) << "degenerate face";
                volume6 += content::Dot(p0, content::Cross(p1, p2));
                for (std::uint32_t i : v) {
                    faceSum[i] = faceSum[i] + n;
                }
            }
            for (const auto& [edge, count] : edges) {
                ASSERT_EQ(count, 1) << "edge used twice in one direction";
                ASSERT_EQ(edges.count({edge.second, edge.first}), 1u) << "open edge";
            }
            // Clockwise seen from outside: the faces' cross products point out.
            EXPECT_GT(volume6, 0.0);
            for (std::size_t i = 0; i < mesh.normals.size(); ++i) {
                const auto& n = mesh.normals[i];
                ASSERT_NEAR(content::Dot(n, n), 1.0, 1e-4) << "vertex " << i;
                ASSERT_GT(content::Dot(n, faceSum[i]), 0.0) << "normal against the winding, vertex " << i;
            }
            for (const auto& uv : mesh.texCoords) {
                ASSERT_TRUE(uv[0] >= 0.0 && uv[0] <= 1.0 && uv[1] >= 0.0 && uv[1] <= 1.0);
            }
        }
    }
}

TEST(ModelContentTest, BirdAndWhaleHaveTheirSizesAndHeadForwardUpright) {
    Model bird, whale;
    ASSERT_TRUE(LoadModel("BIRDDAMMY02.X", bird));
    ASSERT_TRUE(LoadModel("WHALEDAMMY.X", whale));
    for (const Model* model : {&bird, &whale}) {
        const Bounds v = BoundsOf(Visible(*model));
        const Bounds p = BoundsOf(Proxy(*model));
        // The proxy follows the visible shape.
        EXPECT_NEAR(p.hi.z - p.lo.z, v.hi.z - v.lo.z, 0.3);
        EXPECT_NEAR(p.hi.x - p.lo.x, v.hi.x - v.lo.x, 0.3);
        // Mirror-symmetric about x = 0.
        EXPECT_NEAR(v.lo.x, -v.hi.x, 1e-6);
    }
    const LoadedMesh& b = Visible(bird);
    const Bounds bb = BoundsOf(b);
    EXPECT_GE(bb.hi.z - bb.lo.z, 3.0);
    EXPECT_LE(bb.hi.z - bb.lo.z, 4.0);
    EXPECT_GE(bb.hi.x - bb.lo.x, 5.0);
    EXPECT_LE(bb.hi.x - bb.lo.x, 6.0);
    for (const auto& q : b.positions) {
        if (q.z > bb.hi.z - 0.3) {
            EXPECT_LT(std::abs(q.x), 0.1); // the beak at the front, on the axis
        }
        if (std::abs(q.x) > 2.5) {
            EXPECT_LT(q.z, 0.5);  // wing tips swept back
            EXPECT_GT(q.y, -0.1); // and raised a little
        }
    }

    const LoadedMesh& w = Visible(whale);
    const Bounds wb = BoundsOf(w);
    EXPECT_GE(wb.hi.z - wb.lo.z, 6.0);
    EXPECT_LE(wb.hi.z - wb.lo.z, 8.0);
    double flukeSpan = 0.0, noseWidth = 0.0, finHeight = -1.0;
    for (const auto& q : w.positions) {
        if (q.z < wb.lo.z + 0.8) {
            flukeSpan = std::max(flukeSpan, std::abs(q.x));
        }
        if (q.z > wb.hi.z - 0.2) {
            noseWidth = std::max(noseWidth, std::abs(q.x));
        }
        if (std::abs(q.x) < 0.1) {
            finHeight = std::max(finHeight, q.y);
        }
    }
    EXPECT_GT(flukeSpan, 1.0); // horizontal flukes at the back
    EXPECT_LT(noseWidth, 0.5); // a rounded snout at the front
    EXPECT_GT(finHeight, 0.9); // the dorsal fin on top
}

TEST(ModelContentTest, PlanetsAreCentredSpheresMappedEquirectangularly) {
    struct Planet {
        const char* file;
        double radius;
        double tilt;  // of the axis about x, the north pole toward -z
    };
    for (const Planet& planet : {Planet{"MOON.X", 0.5, 0.0}, Planet{"EARTH.X", 1.0, 1.1}}) {
        SCOPED_TRACE(planet.file);
        Model model;
        ASSERT_TRUE(LoadModel(planet.file, model));
        const double c = std::cos(planet.tilt), s = std::sin(planet.tilt);
        for (const LoadedMesh& mesh : model.meshes) {
            for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
                // In the planet's own frame, with its axis upright.
                const auto& tilted = mesh.positions[i];
                const content::Float3 q{tilted.x, tilted.y * c - tilted.z * s, tilted.y * s + tilted.z * c};
                const double u = mesh.texCoords[i][0], v = mesh.texCoords[i][1];
                ASSERT_NEAR(std::sqrt(content::Dot(q, q)), planet.radius, 1e-5);
                // v = 0 at the north pole, u = longitude from +x towards +z.
                ASSERT_NEAR(q.y, planet.radius * std::cos(content::kPi * v), 1e-5) << i;
                if (v > 0.0 && v < 1.0) {
                    const double ring = planet.radius * std::sin(content::kPi * v);
                    ASSERT_NEAR(q.x, ring * std::cos(2.0 * content::kPi * u), 1e-5) << i;
                    ASSERT_NEAR(q.z, ring * std::sin(2.0 * content::kPi * u), 1e-5) << i;
                }
            }
        }
    }
    // The earth's frames carry translations, which the loader does not apply:
    // the meshes themselves must be centred.
    Model earth;
    ASSERT_TRUE(LoadModel("EARTH.X", earth));
    ASSERT_FALSE(earth.frameTransforms.empty());
    const D3DXMATRIX& transform = earth.frameTransforms.back();
    EXPECT_NE(transform.m[3][0] * transform.m[3][0] + transform.m[3][1] * transform.m[3][1] +
                  transform.m[3][2] * transform.m[3][2],
              0.0f);
}

TEST(ModelContentTest, ResourceScriptListsTheContentUnderItsTypes) {
    rc::ResourceScript script;
    std::vector<std::string> errors;
    ASSERT_TRUE(rc::LoadResourceScript(kResources / "glimmerwing.rc", script, errors));
    std::map<std::string, std::string> types; // upper-case name -> type
    for (const auto& r : script.resources) {
        types[Upper(r.name)] = r.type;
    }
    for (const ExpectedModel& expected : kModels) {
        EXPECT_EQ(types[expected.file], "MODEL") << expected.file;
        // Texture names find their image among the RCDATA resources,
        // compared without regard to case.
        if (*expected.texture != '\0') {
            EXPECT_EQ(types[Upper(expected.texture)], "RCDATA") << expected.texture;
        }
    }
    EXPECT_EQ(types["MOON.BPS"], "MISC");
    EXPECT_EQ(types["EARTH.JPG"], "RCDATA");
    EXPECT_EQ(types["MOON.JPG"], "RCDATA");
}

TEST(ModelContentTest, MoonPlacementsHoldTheFourScaledTurnedMatrices) {
    const std::string bps = ReadText(kResources / "MOON.BPS");
    ASSERT_EQ(bps.size(), 260u);
    auto word = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) {
            v = (v << 8) | static_cast<unsigned char>(bps[at + static_cast<std::size_t>(i)]);
        }
        return v;
    };
    EXPECT_EQ(static_cast<std::int32_t>(word(0)), 4);
    const float table[4][5] = {
        {-3546.9727f, -2811.5469f, 15895.1738f, 1613.7539f, 1879.7292f},
        {-4427.2847f, 940.7198f, -212.2145f, 1547.6133f, -15877.0508f},
        {894.1180f, 4436.9370f, -15685.7725f, 1458.1798f, 1320.4420f},
        {-2344.3115f, -3871.6951f, -1643.7151f, 1599.9225f, 15142.6836f},
    };
    for (std::size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        float m[16];
        for (std::size_t i = 0; i < 16; ++i) {
            std::uint32_t bits = word(4 + 64 * k + 4 * i);
            std::memcpy(&m[i], &bits, 4);
        }
        const float expected[16] = {table[k][0], 0, table[k][1],  0, 0, 4526.1265f, 0, 0,
                                    -table[k][1], 0, table[k][0], 0, table[k][2], table[k][3],
                                    table[k][4], 1};
        for (std::size_t i = 0; i < 16; ++i) {
            EXPECT_EQ(m[i], expected[i]) << "element " << i;
        }
        // A uniform scale about y: each axis row has the same length.
        EXPECT_NEAR(std::sqrt(double(m[0]) * m[0] + double(m[2]) * m[2]), 4526.1265, 0.01);
        EXPECT_NEAR(std::sqrt(double(m[12]) * m[12] + double(m[13]) * m[13] + double(m[14]) * m[14]),
                    15800.0, 600.0);
    }
}

// ---------------------------------------------------------------------------
// Textures

struct JpegFrame {
    bool progressive = false;
    bool arithmetic = false;
    int precision = 0, width = 0, height = 0, components = 0;
    bool endsWithEoi = false;
};

struct JpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// The frame header as libjpeg reads it; false when libjpeg cannot. Only plain
// C data lives in this frame, so the jump back from libjpeg skips nothing.
bool ReadJpegFrame(const std::string& bytes, JpegFrame& frame) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); };
    err.pub.output_message = [](j_common_ptr) {};
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    frame.progressive = cinfo.progressive_mode != 0;
    frame.arithmetic = cinfo.arith_code != 0;
    frame.precision = cinfo.data_precision;
    frame.width = static_cast<int>(cinfo.image_width);
    frame.height = static_cast<int>(cinfo.image_height);
    frame.components = cinfo.num_components;
    jpeg_destroy_decompress(&cinfo);
    frame.endsWithEoi = bytes.size() >= 2 && static_cast<unsigned char>(bytes[bytes.size() - 2]) == 0xFF &&
                        static_cast<unsigned char>(bytes[bytes.size() - 1]) == 0xD9;
    return true;
}

// Baseline: sequential, Huffman-coded, 8 bits a sample.
bool Baseline(const JpegFrame& frame) { return !frame.progressive && !frame.arithmetic && frame.precision == 8; }

struct Pixels {
    int width = 0, height = 0;
    std::vector<BYTE> bgrx;
    int R(int x, int y) const { return bgrx[(static_cast<std::size_t>(y) * width + x) * 4 + 2]; }
    int G(int x, int y) const { return bgrx[(static_cast<std::size_t>(y) * width + x) * 4 + 1]; }
    int B(int x, int y) const { return bgrx[(static_cast<std::size_t>(y) * width + x) * 4]; }
};

::testing::AssertionResult LoadTexture(const char* file, Pixels& pixels) {
    const std::string bytes = ReadText(kResources / file);
    JpegFrame frame;
    if (!ReadJpegFrame(bytes, frame)) {
        return ::testing::AssertionFailure() << file << ": libjpeg reads no frame header";
    }
    if (!Baseline(frame) || frame.width != 512 || frame.height != 512 || frame.components != 3 ||
        !frame.endsWithEoi) {
        return ::testing::AssertionFailure() << file << ": not a 512 x 512 baseline 3-component JPEG";
    }
    DecodedImage image;
    const HRESULT hr = DecodeImage(std::span(reinterpret_cast<const unsigned char*>(bytes.data()),
                                             bytes.size()),
                                   image);
    if (hr != S_OK || image.width != 512 || image.height != 512 || image.format != D3DFMT_X8R8G8B8) {
        return ::testing::AssertionFailure() << file << ": the texture decoder does not read it";
    }
    pixels.width = 512;
    pixels.height = 512;
    pixels.bgrx = std::move(image.pixels);
    return ::testing::AssertionSuccess();
}

// Mean absolute difference between two columns.
double ColumnDifference(const Pixels& p, int a, int b) {
    double sum = 0.0;
    for (int y = 0; y < p.height; ++y) {
        sum += std::abs(p.R(a, y) - p.R(b, y)) + std::abs(p.G(a, y) - p.G(b, y)) +
               std::abs(p.B(a, y) - p.B(b, y));
    }
    return sum / p.height;
}

TEST(ModelContentTest, EarthTextureShowsOceansLandCloudsAndIce) {
    Pixels p;
    ASSERT_TRUE(LoadTexture("EARTH.JPG", p));
    int ocean = 0, land = 0, white = 0;
    for (int y = 64; y < 448; ++y) {
        for (int x = 0; x < 512; ++x) {
            const int r = p.R(x, y), g = p.G(x, y), b = p.B(x, y);
            ocean += (b > r + 40 && b > g + 20) ? 1 : 0;
            land += (g > b + 15 || (r > b + 30 && g > b + 10)) ? 1 : 0;
            white += (r > 200 && g > 200 && b > 200) ? 1 : 0;
        }
    }
    const int total = 384 * 512;
    EXPECT_GT(ocean, total * 3 / 10);
    EXPECT_GT(land, total / 10);
    EXPECT_GT(white, total / 20); // clouds
    EXPECT_LT(white, total / 2);
    // Ice at both poles.
    for (int y : {0, 4, 507, 511}) {
        int icy = 0;
        for (int x = 0; x < 512; ++x) {
            icy += (p.R(x, y) > 200 && p.G(x, y) > 200 && p.B(x, y) > 200) ? 1 : 0;
        }
        EXPECT_GT(icy, 500) << "row " << y;
    }
    // Longitude wraps without a seam: the outer columns differ no more than
    // neighbouring columns do.
    EXPECT_LT(ColumnDifference(p, 511, 0), 2.0 * ColumnDifference(p, 255, 256) + 6.0);
}

TEST(ModelContentTest, MoonTextureIsGreyWithDarkMariaAndBrightRims) {
    Pixels p;
    ASSERT_TRUE(LoadTexture("MOON.JPG", p));
    std::vector<int> histogram(256);
    double tint = 0.0;
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 512; ++x) {
            const int r = p.R(x, y), g = p.G(x, y), b = p.B(x, y);
            ++histogram[static_cast<std::size_t>((r + g + b) / 3)];
            tint += std::max({std::abs(r - g), std::abs(g - b), std::abs(r - b)});
        }
    }
    EXPECT_LT(tint / (512.0 * 512.0), 8.0); // grey
    auto fractionBelow = [&](int level) {
        int n = 0;
        for (int i = 0; i < level; ++i) {
            n += histogram[static_cast<std::size_t>(i)];
        }
        return n / (512.0 * 512.0);
    };
    EXPECT_GT(fractionBelow(110), 0.10);       // maria
    EXPECT_LT(fractionBelow(110), 0.50);
    EXPECT_GT(1.0 - fractionBelow(200), 0.01); // bright rims
    EXPECT_LT(ColumnDifference(p, 511, 0), 2.0 * ColumnDifference(p, 255, 256) + 6.0);
}

// ---------------------------------------------------------------------------
// Building blocks

TEST(ModelContentTest, SeriesSineMatchesTheLibraryAndFloatsPrintFixed) {
    for (double x = -20.0; x <= 20.0; x += 0.0137) {
        ASSERT_NEAR(content::Sine(x), std::sin(x), 1e-14) << x;
        ASSERT_NEAR(content::Cosine(x), std::cos(x), 1e-14) << x;
    }
    EXPECT_EQ(content::FormatFloat(-0.0), "0.000000");
    EXPECT_EQ(content::FormatFloat(-1e-9), "0.000000");
    EXPECT_EQ(content::FormatFloat(-2.5), "-2.500000");
    EXPECT_EQ(content::FormatFloat(1234.5678901), "1234.567890");
}

TEST(ModelContentTest, LoftWindsOutwardWhicheverWayTheSectionsRun) {
    using content::Section;
    const std::vector<Section> forward = {{{0, 0, -1}, {}, {}},
                                          {{0, 0, 0}, {0.5, 0, 0}, {0, 0.3, 0}},
                                          {{0, 0, 1}, {0.2, 0, 0}, {0, 0.2, 0}}};
    std::vector<Section> mirrored;
    for (Section s : forward) {
        s.centre.z = -s.centre.z;
        s.a.x = -s.a.x;
        mirrored.push_back(s);
    }
    for (const auto& sections : {forward, mirrored}) {
        const content::TriMesh mesh = content::Loft(sections, 7);
        ASSERT_EQ(mesh.faces.size(), 7u + 14u + 7u); // point end, band, capped end
        EXPECT_GT(mesh.SignedVolume6(), 0.0);
        for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
            // Normals lean away from the axis (or along it at the ends).
            const content::Float3 out = mesh.positions[i] - content::Float3{0, 0, mesh.positions[i].z};
            EXPECT_GE(content::Dot(mesh.normals[i], out), 0.0);
        }
    }
    EXPECT_TRUE(content::Loft(std::span<const Section>(forward.data(), 1), 7).faces.empty());
    EXPECT_TRUE(content::UvSphere(1.0, 2, 2).faces.empty());
}

TEST(ModelContentTest, JpegEncoderRefusesImagesWithoutPixels) {
    EXPECT_TRUE(content::EncodeJpeg(content::Image(), 90).empty());
    content::Image broken(4, 4);
    broken.rgba.resize(10);
    EXPECT_TRUE(content::EncodeJpeg(broken, 90).empty());
    content::Image tiny(8, 8);
    const content::Bytes jpeg = content::EncodeJpeg(tiny, 90);
    JpegFrame frame;
    ASSERT_TRUE(ReadJpegFrame(std::string(jpeg.begin(), jpeg.end()), frame));
    EXPECT_TRUE(Baseline(frame));
    EXPECT_EQ(frame.width, 8);
    EXPECT_EQ(frame.components, 3);
}

} // namespace
