#include "tools/content/XText.h"

#include <cmath>
#include <cstdio>

namespace content {

Float3 Normalise(Float3 v) {
    const double length = std::sqrt(Dot(v, v));
    return length > 0.0 ? v * (1.0 / length) : Float3{};
}

double Sine(double x) {
    // Into -pi..pi, then -pi/2..pi/2 where the series converges quickly.
    x -= std::floor(x / (2.0 * kPi) + 0.5) * (2.0 * kPi);
    if (x > kPi / 2.0) {
        x = kPi - x;
    } else if (x < -kPi / 2.0) {
        x = -kPi - x;
    }
    // x (1 - x^2/(2*3) (1 - x^2/(4*5) (1 - ...))), up to x^21.
    const double x2 = x * x;
    double r = 1.0;
    for (int k = 10; k >= 1; --k) {
        r = 1.0 - x2 / ((2.0 * k) * (2.0 * k + 1.0)) * r;
    }
    return x * r;
}

double Cosine(double x) { return Sine(x + kPi / 2.0); }

// ---------------------------------------------------------------------------
// TriMesh

void TriMesh::Append(const TriMesh& other) {
    const auto base = static_cast<std::uint32_t>(positions.size());
    positions.insert(positions.end(), other.positions.begin(), other.positions.end());
    normals.insert(normals.end(), other.normals.begin(), other.normals.end());
    texCoords.insert(texCoords.end(), other.texCoords.begin(), other.texCoords.end());
    for (const auto& f : other.faces) {
        faces.push_back({f[0] + base, f[1] + base, f[2] + base});
    }
}

double TriMesh::SignedVolume6() const {
    double sum = 0.0;
    for (const auto& f : faces) {
        sum += Dot(positions[f[0]], Cross(positions[f[1]], positions[f[2]]));
    }
    return sum;
}

void TriMesh::FlipFaces() {
    for (auto& f : faces) {
        std::swap(f[1], f[2]);
    }
}

void TriMesh::ComputeNormals() {
    normals.assign(positions.size(), Float3{});
    for (const auto& f : faces) {
        const Float3 p0 = positions[f[0]];
        // Twice the face's area along its normal: larger faces weigh more.
        const Float3 n = Cross(positions[f[1]] - p0, positions[f[2]] - p0);
        for (std::uint32_t i : f) {
            normals[i] = normals[i] + n;
        }
    }
    for (Float3& n : normals) {
        n = Normalise(n);
    }
}

// ---------------------------------------------------------------------------
// Shapes

namespace {

bool IsPoint(const Section& s) {
    return Dot(s.a, s.a) == 0.0 && Dot(s.b, s.b) == 0.0;
}

// Makes the faces of a closed shell point outward.
void OrientOutward(TriMesh& mesh) {
    if (mesh.SignedVolume6() < 0.0) {
        mesh.FlipFaces();
    }
}

} // namespace

TriMesh Loft(std::span<const Section> sections, int segments) {
    TriMesh mesh;
    const auto n = static_cast<std::uint32_t>(segments);
    const std::size_t count = sections.size();
    if (count < 2 || segments < 3) {
        return mesh;
    }
    auto addVertex = [&](Float3 p, double u, double v) {
        mesh.positions.push_back(p);
        mesh.texCoords.push_back({u, v});
        return static_cast<std::uint32_t>(mesh.positions.size() - 1);
    };

    // First vertex of each section; a point section has one vertex.
    std::vector<std::uint32_t> first(count);
    for (std::size_t k = 0; k < count; ++k) {
        const Section& s = sections[k];
        const double v = double(k) / double(count - 1);
        if (IsPoint(s)) {
            first[k] = addVertex(s.centre, 0.5, v);
            continue;
        }
        first[k] = static_cast<std::uint32_t>(mesh.positions.size());
        for (std::uint32_t j = 0; j < n; ++j) {
            const double t = 2.0 * kPi * j / n;
            const double u = 2.0 * double(j <= n / 2 ? j : n - j) / n;
            addVertex(s.centre + s.a * Cosine(t) + s.b * Sine(t), u, v);
        }
    }
    auto ring = [&](std::size_t k, std::uint32_t j) {
        return IsPoint(sections[k]) ? first[k] : first[k] + j % n;
    };

    // The band between sections k and k + 1 as quads a0 b0 b1 a1; a point
    // section collapses its side of the quad into one triangle.
    for (std::size_t k = 0; k + 1 < count; ++k) {
        const bool pointA = IsPoint(sections[k]);
        const bool pointB = IsPoint(sections[k + 1]);
        for (std::uint32_t j = 0; j < n; ++j) {
            const std::uint32_t a0 = ring(k, j), a1 = ring(k, j + 1);
            const std::uint32_t b0 = ring(k + 1, j), b1 = ring(k + 1, j + 1);
            if (!pointA) {
                mesh.faces.push_back({a0, b1, a1});
            }
            if (!pointB) {
                mesh.faces.push_back({a0, b0, b1});
            }
        }
    }
    // Flat caps, wound as if a point lay beyond each open end.
    if (!IsPoint(sections.front())) {
        const std::uint32_t c = addVertex(sections.front().centre, 0.5, 0.0);
        for (std::uint32_t j = 0; j < n; ++j) {
            mesh.faces.push_back({c, ring(0, j), ring(0, j + 1)});
        }
    }
    if (!IsPoint(sections.back())) {
        const std::uint32_t c = addVertex(sections.back().centre, 0.5, 1.0);
        for (std::uint32_t j = 0; j < n; ++j) {
            mesh.faces.push_back({ring(count - 1, j), c, ring(count - 1, j + 1)});
        }
    }
    OrientOutward(mesh);
    mesh.ComputeNormals();
    return mesh;
}

TriMesh UvSphere(double radius, int slices, int stacks) {
    TriMesh mesh;
    if (slices < 3 || stacks < 2) {
        return mesh;
    }
    const auto ns = static_cast<std::uint32_t>(slices);
    const auto nt = static_cast<std::uint32_t>(stacks);
    auto addVertex = [&](Float3 unit, double u, double v) {
        mesh.positions.push_back(unit * radius);
        mesh.normals.push_back(unit);
        mesh.texCoords.push_back({u, v});
        return static_cast<std::uint32_t>(mesh.positions.size() - 1);
    };
    // Rings 1 .. stacks - 1, each slices + 1 vertices (the seam twice).
    for (std::uint32_t i = 1; i < nt; ++i) {
        const double theta = kPi * i / nt;
        const double v = double(i) / nt;
        for (std::uint32_t j = 0; j <= ns; ++j) {
            const double phi = 2.0 * kPi * j / ns;
            const double u = double(j) / ns;
            addVertex({Sine(theta) * Cosine(phi), Cosine(theta), Sine(theta) * Sine(phi)}, u, v);
        }
    }
    auto at = [&](std::uint32_t i, std::uint32_t j) { return (i - 1) * (ns + 1) + j; };
    const std::uint32_t north = static_cast<std::uint32_t>(mesh.positions.size());
    for (std::uint32_t j = 0; j < ns; ++j) {
        addVertex({0.0, 1.0, 0.0}, (j + 0.5) / ns, 0.0);
    }
    const std::uint32_t south = static_cast<std::uint32_t>(mesh.positions.size());
    for (std::uint32_t j = 0; j < ns; ++j) {
        addVertex({0.0, -1.0, 0.0}, (j + 0.5) / ns, 1.0);
    }
    for (std::uint32_t j = 0; j < ns; ++j) {
        mesh.faces.push_back({north + j, at(1, j + 1), at(1, j)});
    }
    for (std::uint32_t i = 1; i + 1 < nt; ++i) {
        for (std::uint32_t j = 0; j < ns; ++j) {
            mesh.faces.push_back({at(i, j), at(i, j + 1), at(i + 1, j + 1)});
            mesh.faces.push_back({at(i, j), at(i + 1, j + 1), at(i + 1, j)});
        }
    }
    for (std::uint32_t j = 0; j < ns; ++j) {
        mesh.faces.push_back({south + j, at(nt - 1, j), at(nt - 1, j + 1)});
    }
    OrientOutward(mesh);
    return mesh;
}

// ---------------------------------------------------------------------------
// X text

std::string FormatFloat(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6f", v);
    std::string text = buffer;
    if (text == "-0.000000") {
        text = "0.000000";
    }
    return text;
}

XTextWriter::XTextWriter() : XTextWriter("xof 0302txt 0064") {}

XTextWriter::XTextWriter(std::string_view magic) {
    m_text = std::string(magic) + "\n";
    Open("Header");
    Line("1;");
    Line("0;");
    Line("1;");
    Close();
    m_text += "\n";
}

void XTextWriter::Line(std::string_view text) {
    m_text.append(static_cast<std::size_t>(m_depth) * 2, ' ');
    m_text += text;
    m_text += '\n';
}

void XTextWriter::Open(std::string_view header) {
    Line(std::string(header) + " {");
    ++m_depth;
}

void XTextWriter::Close() {
    if (m_depth > 0) {
        --m_depth;
    }
    Line("}");
}

void XTextWriter::BeginFrame(std::string_view name) { Open("Frame " + std::string(name)); }

void XTextWriter::FrameTransformMatrix(const std::array<double, 16>& m) {
    Open("FrameTransformMatrix");
    for (int row = 0; row < 4; ++row) {
        std::string line;
        for (int col = 0; col < 4; ++col) {
            line += FormatFloat(m[static_cast<std::size_t>(row * 4 + col)]);
            line += (row == 3 && col == 3) ? ";;" : ",";
        }
        Line(line);
    }
    Close();
}

void XTextWriter::EndFrame() { Close(); }

void XTextWriter::Vectors(std::span<const Float3> v) {
    Line(std::to_string(v.size()) + ";");
    for (std::size_t i = 0; i < v.size(); ++i) {
        Line(FormatFloat(v[i].x) + ";" + FormatFloat(v[i].y) + ";" + FormatFloat(v[i].z) +
             (i + 1 < v.size() ? ";," : ";;"));
    }
}

void XTextWriter::Faces(std::span<const std::array<std::uint32_t, 3>> faces) {
    Line(std::to_string(faces.size()) + ";");
    for (std::size_t i = 0; i < faces.size(); ++i) {
        Line("3;" + std::to_string(faces[i][0]) + "," + std::to_string(faces[i][1]) + "," +
             std::to_string(faces[i][2]) + (i + 1 < faces.size() ? ";," : ";;"));
    }
}

void XTextWriter::BeginMesh(std::string_view name, const TriMesh& mesh) {
    Open("Mesh " + std::string(name));
    Vectors(mesh.positions);
    Faces(mesh.faces);
    Open("MeshNormals");
    Vectors(mesh.normals);
    Faces(mesh.faces);
    Close();
    Open("MeshTextureCoords");
    Line(std::to_string(mesh.texCoords.size()) + ";");
    for (std::size_t i = 0; i < mesh.texCoords.size(); ++i) {
        Line(FormatFloat(mesh.texCoords[i][0]) + ";" + FormatFloat(mesh.texCoords[i][1]) +
             (i + 1 < mesh.texCoords.size() ? ";," : ";;"));
    }
    Close();
}

void XTextWriter::MaterialList(std::span<const XMaterial> materials,
                               std::span<const std::uint32_t> faceMaterials) {
    Open("MeshMaterialList");
    Line(std::to_string(materials.size()) + ";");
    Line(std::to_string(faceMaterials.size()) + ";");
    for (std::size_t i = 0; i < faceMaterials.size(); ++i) {
        Line(std::to_string(faceMaterials[i]) + (i + 1 < faceMaterials.size() ? "," : ";"));
    }
    for (const XMaterial& m : materials) {
        Open("Material");
        Line(FormatFloat(m.r) + ";" + FormatFloat(m.g) + ";" + FormatFloat(m.b) + ";" +
             FormatFloat(m.a) + ";;");
        Line(FormatFloat(m.power) + ";");
        Line(FormatFloat(m.specular.x) + ";" + FormatFloat(m.specular.y) + ";" +
             FormatFloat(m.specular.z) + ";;");
        Line(FormatFloat(m.emissive.x) + ";" + FormatFloat(m.emissive.y) + ";" +
             FormatFloat(m.emissive.z) + ";;");
        if (!m.textureFile.empty()) {
            Open("TextureFilename");
            Line("\"" + m.textureFile + "\";");
            Close();
        }
        Close();
    }
    Close();
}

void XTextWriter::EndMesh() { Close(); }

void XTextWriter::VertexColors(std::span<const XColour> colours) {
    Open("MeshVertexColors");
    Line(std::to_string(colours.size()) + ";");
    for (std::size_t i = 0; i < colours.size(); ++i) {
        const XColour& c = colours[i];
        Line(std::to_string(i) + ";" + FormatFloat(c.r) + ";" + FormatFloat(c.g) + ";" +
             FormatFloat(c.b) + ";" + FormatFloat(c.a) + (i + 1 < colours.size() ? ";;," : ";;;"));
    }
    Close();
}

void XTextWriter::SkinMeshHeader(unsigned maxWeightsPerVertex, unsigned maxWeightsPerFace,
                                 unsigned bones) {
    Open("XSkinMeshHeader");
    Line(std::to_string(maxWeightsPerVertex) + ";");
    Line(std::to_string(maxWeightsPerFace) + ";");
    Line(std::to_string(bones) + ";");
    Close();
}

void XTextWriter::SkinWeights(std::string_view bone, std::span<const std::uint32_t> vertices,
                              std::span<const double> weights,
                              const std::array<double, 16>& offset) {
    Open("SkinWeights");
    Line("\"" + std::string(bone) + "\";");
    Line(std::to_string(vertices.size()) + ";");
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        Line(std::to_string(vertices[i]) + (i + 1 < vertices.size() ? "," : ";"));
    }
    for (std::size_t i = 0; i < weights.size(); ++i) {
        Line(FormatFloat(weights[i]) + (i + 1 < weights.size() ? "," : ";"));
    }
    for (int row = 0; row < 4; ++row) {
        std::string line;
        for (int col = 0; col < 4; ++col) {
            line += FormatFloat(offset[static_cast<std::size_t>(row * 4 + col)]);
            line += (row == 3 && col == 3) ? ";;" : ",";
        }
        Line(line);
    }
    Close();
}

void XTextWriter::AnimationKey(XKeyType type, std::span<const XKey> keys) {
    Open("AnimationKey");
    Line(std::to_string(static_cast<std::uint32_t>(type)) + ";");
    Line(std::to_string(keys.size()) + ";");
    for (std::size_t i = 0; i < keys.size(); ++i) {
        std::string line = std::to_string(keys[i].time) + ";" +
                           std::to_string(keys[i].values.size()) + ";";
        for (std::size_t v = 0; v < keys[i].values.size(); ++v) {
            line += FormatFloat(keys[i].values[v]) + (v + 1 < keys[i].values.size() ? "," : ";");
        }
        line += i + 1 < keys.size() ? ";," : ";;";
        Line(line);
    }
    Close();
}

void XTextWriter::Mesh(std::string_view name, const TriMesh& mesh, const XMaterial& material) {
    BeginMesh(name, mesh);
    const std::vector<std::uint32_t> faceMaterials(mesh.faces.size(), 0);
    MaterialList(std::span<const XMaterial>(&material, 1), faceMaterials);
    EndMesh();
}

std::vector<unsigned char> XTextWriter::Take() {
    std::vector<unsigned char> bytes(m_text.begin(), m_text.end());
    m_text.clear();
    m_depth = 0;
    return bytes;
}

} // namespace content
