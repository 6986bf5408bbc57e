// The rigid models, the moon placements and the planet textures, read back
// from resources/ as the program receives them: what the model loader, the
// background placement and the texture cache rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "gfx/ImageDecode.h"
#include "tools/content/ContentGen.h"
#include "tools/content/XText.h"
#include "tools/rc/ResourceScript.h"

namespace fs = std::filesystem;

namespace {

const fs::path kResources = fs::path(GLIMMERWING_SOURCE_DIR) / "resources";

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------------------
// A small reader of the X text our generator writes: objects with their
// numbers, strings and child objects; separators are not checked here.

struct XObject {
    std::string type;
    std::string name;
    std::vector<double> numbers;
    std::vector<std::string> strings;
    std::vector<XObject> children;

    const XObject* Child(const std::string& childType) const {
        for (const XObject& c : children) {
            if (c.type == childType) {
                return &c;
            }
        }
        return nullptr;
    }
};

class XReader {
public:
    explicit XReader(std::string text) : m_text(std::move(text)), m_at(16) {}

    bool ReadAll(std::vector<XObject>& objects) {
        std::string token;
        while (Next(token)) {
            XObject object;
            if (!ReadObject(token, object)) {
                return false;
            }
            objects.push_back(std::move(object));
        }
        return true;
    }

private:
    bool Next(std::string& token) {
        while (m_at < m_text.size()) {
            const char c = m_text[m_at];
            if (std::isspace(static_cast<unsigned char>(c)) || c == ',' || c == ';') {
                ++m_at;
            } else if (c == '/' && m_text.compare(m_at, 2, "//") == 0) {
                m_at = m_text.find('\n', m_at);
            } else {
                break;
            }
        }
        if (m_at >= m_text.size()) {
            return false;
        }
        const std::size_t start = m_at;
        const char c = m_text[m_at];
        if (c == '{' || c == '}') {
            ++m_at;
        } else if (c == '"') {
            m_at = m_text.find('"', m_at + 1);
            if (m_at == std::string::npos) {
                return false;
            }
            ++m_at;
        } else {
            while (m_at < m_text.size() && !std::isspace(static_cast<unsigned char>(m_text[m_at])) &&
                   std::strchr(",;{}\"", m_text[m_at]) == nullptr) {
                ++m_at;
            }
        }
        token = m_text.substr(start, m_at - start);
        return true;
    }

    static bool IsNumber(const std::string& t) {
        return !t.empty() && (std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '-');
    }

    bool ReadObject(const std::string& type, XObject& object) {
        object.type = type;
        std::string token;
        if (!Next(token)) {
            return false;
        }
        if (token != "{") {
            object.name = token;
            if (!Next(token) || token != "{") {
                return false;
            }
        }
        while (Next(token)) {
            if (token == "}") {
                return true;
            }
            if (token[0] == '"') {
                object.strings.push_back(token.substr(1, token.size() - 2));
            } else if (IsNumber(token)) {
                object.numbers.push_back(std::stod(token));
            } else {
                XObject child;
                if (!ReadObject(token, child)) {
                    return false;
                }
                object.children.push_back(std::move(child));
            }
        }
        return false;
    }

    std::string m_text;
    std::size_t m_at;
};

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

bool ReadFaces(const std::vector<double>& n, std::size_t& at, std::vector<Face>& faces) {
    if (at >= n.size()) {
        return false;
    }
    const auto count = static_cast<std::size_t>(n[at++]);
    for (std::size_t i = 0; i < count; ++i) {
        if (at + 4 > n.size() || n[at] != 3) {
            return false; // triangles only
        }
        faces.push_back({static_cast<std::uint32_t>(n[at + 1]), static_cast<std::uint32_t>(n[at + 2]),
                         static_cast<std::uint32_t>(n[at + 3])});
        at += 4;
    }
    return true;
}

bool ReadVectors(const std::vector<double>& n, std::size_t& at, std::vector<content::Float3>& v) {
    if (at >= n.size()) {
        return false;
    }
    const auto count = static_cast<std::size_t>(n[at++]);
    if (at + 3 * count > n.size()) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i, at += 3) {
        v.push_back({n[at], n[at + 1], n[at + 2]});
    }
    return true;
}

::testing::AssertionResult DecodeMesh(const XObject& object, LoadedMesh& mesh) {
    mesh.name = object.name;
    std::size_t at = 0;
    if (!ReadVectors(object.numbers, at, mesh.positions) || !ReadFaces(object.numbers, at, mesh.faces) ||
        at != object.numbers.size()) {
        return ::testing::AssertionFailure() << "vertices and faces do not add up";
    }
    for (const Face& f : mesh.faces) {
        if (std::max({f.a, f.b, f.c}) >= mesh.positions.size()) {
            return ::testing::AssertionFailure() << "face index out of range";
        }
    }
    const XObject* normals = object.Child("MeshNormals");
    if (normals == nullptr) {
        return ::testing::AssertionFailure() << "no MeshNormals";
    }
    at = 0;
    std::vector<Face> normalFaces;
    if (!ReadVectors(normals->numbers, at, mesh.normals) || !ReadFaces(normals->numbers, at, normalFaces) ||
        at != normals->numbers.size() || mesh.normals.size() != mesh.positions.size()) {
        return ::testing::AssertionFailure() << "normals do not match the vertices";
    }
    for (std::size_t i = 0; i < mesh.faces.size() && i < normalFaces.size(); ++i) {
        if (normalFaces.size() != mesh.faces.size() || normalFaces[i].a != mesh.faces[i].a ||
            normalFaces[i].b != mesh.faces[i].b || normalFaces[i].c != mesh.faces[i].c) {
            return ::testing::AssertionFailure() << "normal faces differ from the faces";
        }
    }
    const XObject* coords = object.Child("MeshTextureCoords");
    if (coords == nullptr || coords->numbers.empty() ||
        coords->numbers[0] != static_cast<double>(mesh.positions.size()) ||
        coords->numbers.size() != 1 + 2 * mesh.positions.size()) {
        return ::testing::AssertionFailure() << "texture coordinates do not match the vertices";
    }
    for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
        mesh.texCoords.push_back({coords->numbers[1 + 2 * i], coords->numbers[2 + 2 * i]});
    }
    const XObject* list = object.Child("MeshMaterialList");
    if (list == nullptr || list->numbers.size() < 2) {
        return ::testing::AssertionFailure() << "no material list";
    }
    const auto materials = static_cast<std::size_t>(list->numbers[0]);
    if (materials == 0 || list->numbers[1] != static_cast<double>(mesh.faces.size()) ||
        list->numbers.size() != 2 + mesh.faces.size()) {
        return ::testing::AssertionFailure() << "material list does not cover the faces";
    }
    std::vector<bool> used(materials);
    for (std::size_t i = 2; i < list->numbers.size(); ++i) {
        const auto m = static_cast<std::size_t>(list->numbers[i]);
        if (m >= materials) {
            return ::testing::AssertionFailure() << "face material out of range";
        }
        used[m] = true;
    }
    if (std::count(used.begin(), used.end(), false) != 0) {
        return ::testing::AssertionFailure() << "a material is used by no face";
    }
    for (const XObject& material : list->children) {
        if (material.type != "Material" || material.numbers.size() != 11) {
            return ::testing::AssertionFailure() << "malformed material";
        }
        const XObject* texture = material.Child("TextureFilename");
        mesh.textures.push_back(texture != nullptr && !texture->strings.empty() ? texture->strings[0]
                                                                                : "");
    }
    if (mesh.textures.size() != materials) {
        return ::testing::AssertionFailure() << "material count differs from the materials given";
    }
    return ::testing::AssertionSuccess();
}

// The meshes in the order the model loader's depth-first walk meets them.
void CollectMeshes(const XObject& object, std::vector<const XObject*>& meshes) {
    if (object.type == "Mesh") {
        meshes.push_back(&object);
    } else if (object.type == "Frame") {
        for (const XObject& child : object.children) {
            CollectMeshes(child, meshes);
        }
    }
}

struct Model {
    std::string header;
    std::vector<XObject> objects;
    std::vector<LoadedMesh> meshes;
};

::testing::AssertionResult LoadModel(const char* file, Model& model) {
    const std::string text = ReadText(kResources / file);
    model.header = text.substr(0, 16);
    XReader reader(text);
    if (!reader.ReadAll(model.objects)) {
        return ::testing::AssertionFailure() << file << " does not parse";
    }
    std::vector<const XObject*> meshes;
    for (const XObject& object : model.objects) {
        CollectMeshes(object, meshes);
    }
    for (const XObject* object : meshes) {
        LoadedMesh mesh;
        auto result = DecodeMesh(*object, mesh);
        if (!result) {
            return result << " in " << file << " mesh " << object->name;
        }
        model.meshes.push_back(std::move(mesh));
    }
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

struct ModelSpec {
    const char* file;
    const char* firstMesh;
    const char* secondMesh;
    std::size_t minTriangles; // of the visible mesh
    std::size_t maxTriangles;
    const char* texture; // "" for none
};

const ModelSpec kModels[] = {
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
    for (const ModelSpec& spec : kModels) {
        SCOPED_TRACE(spec.file);
        Model model;
        ASSERT_TRUE(LoadModel(spec.file, model));
        EXPECT_EQ(model.header, "xof 0302txt 0064");
        ASSERT_EQ(model.meshes.size(), 2u);
        EXPECT_EQ(model.meshes[0].name, spec.firstMesh);
        EXPECT_EQ(model.meshes[1].name, spec.secondMesh);
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
        EXPECT_GE(display.faces.size(), spec.minTriangles);
        EXPECT_LE(display.faces.size(), spec.maxTriangles);
        EXPECT_LT(Proxy(model).faces.size(), 50u);
        EXPECT_LE(display.positions.size(), 65535u); // 16-bit indices
        for (const LoadedMesh& mesh : model.meshes) {
            ASSERT_EQ(mesh.textures.size(), 1u) << mesh.name;
            EXPECT_EQ(mesh.textures[0], spec.texture) << mesh.name;
        }
    }
}

TEST(ModelContentTest, EveryMeshIsClosedWithOutwardFacesAndMatchingNormals) {
    for (const ModelSpec& spec : kModels) {
        Model model;
        ASSERT_TRUE(LoadModel(spec.file, model));
        for (const LoadedMesh& mesh : model.meshes) {
            SCOPED_TRACE(std::string(spec.file) + " " + mesh.name);
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
    ASSERT_FALSE(earth.objects.empty());
    const XObject* transform = earth.objects.back().Child("FrameTransformMatrix");
    ASSERT_NE(transform, nullptr);
    ASSERT_EQ(transform->numbers.size(), 16u);
    EXPECT_NE(transform->numbers[12] * transform->numbers[12] +
                  transform->numbers[13] * transform->numbers[13] +
                  transform->numbers[14] * transform->numbers[14],
              0.0);
}

TEST(ModelContentTest, ResourceScriptListsTheContentUnderItsTypes) {
    rc::ResourceScript script;
    std::vector<std::string> errors;
    ASSERT_TRUE(rc::LoadResourceScript(kResources / "glimmerwing.rc", script, errors));
    std::map<std::string, std::string> types; // upper-case name -> type
    for (const auto& r : script.resources) {
        types[Upper(r.name)] = r.type;
    }
    for (const ModelSpec& spec : kModels) {
        EXPECT_EQ(types[spec.file], "MODEL") << spec.file;
        // Texture names find their image among the RCDATA resources,
        // compared without regard to case.
        if (*spec.texture != '\0') {
            EXPECT_EQ(types[Upper(spec.texture)], "RCDATA") << spec.texture;
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
    bool baseline = false;
    bool progressive = false;
    int precision = 0, width = 0, height = 0, components = 0;
    bool endsWithEoi = false;
};

// Walks the marker segments up to the first scan.
bool ReadJpegFrame(const std::string& j, JpegFrame& frame) {
    if (j.size() < 4 || static_cast<unsigned char>(j[0]) != 0xFF ||
        static_cast<unsigned char>(j[1]) != 0xD8) {
        return false;
    }
    frame.endsWithEoi = static_cast<unsigned char>(j[j.size() - 2]) == 0xFF &&
                        static_cast<unsigned char>(j[j.size() - 1]) == 0xD9;
    auto byte = [&](std::size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(j[at])); };
    std::size_t at = 2;
    while (at + 4 <= j.size() && byte(at) == 0xFF) {
        const unsigned marker = byte(at + 1);
        const std::size_t length = byte(at + 2) << 8 | byte(at + 3);
        if (marker == 0xC0 || marker == 0xC2) {
            if (at + 10 > j.size()) {
                return false;
            }
            frame.baseline |= marker == 0xC0;
            frame.progressive |= marker == 0xC2;
            frame.precision = static_cast<int>(byte(at + 4));
            frame.height = static_cast<int>(byte(at + 5) << 8 | byte(at + 6));
            frame.width = static_cast<int>(byte(at + 7) << 8 | byte(at + 8));
            frame.components = static_cast<int>(byte(at + 9));
        }
        if (marker == 0xDA) {
            return true;
        }
        at += 2 + length;
    }
    return false;
}

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
        return ::testing::AssertionFailure() << file << ": no frame header before the scan";
    }
    if (!frame.baseline || frame.progressive || frame.precision != 8 || frame.width != 512 ||
        frame.height != 512 || frame.components != 3 || !frame.endsWithEoi) {
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
    EXPECT_TRUE(frame.baseline);
    EXPECT_EQ(frame.width, 8);
    EXPECT_EQ(frame.components, 3);
}

} // namespace
