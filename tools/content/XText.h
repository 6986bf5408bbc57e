// Geometry and X-file text output shared by the model generators.
//
// Models are built as triangle meshes with one normal and one texture
// coordinate per vertex, front faces clockwise seen from outside (so that
// cross(v1 - v0, v2 - v0) points out of the surface, as Direct3D's
// counter-clockwise culling and the normal computation at load expect).
// XTextWriter turns them into "xof 0302txt 0064" text with the standard
// templates (Header, Frame, FrameTransformMatrix, Mesh, MeshNormals,
// MeshTextureCoords, MeshMaterialList, Material, TextureFilename); the
// templates themselves are not written, the reader registers them.
//
// Everything here is deterministic: trigonometry is our own series on + - * /
// and numbers are written with six fixed decimals.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace content {

struct Float3 {
    double x = 0, y = 0, z = 0;
};

inline Float3 operator+(Float3 a, Float3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Float3 operator-(Float3 a, Float3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Float3 operator*(Float3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double Dot(Float3 a, Float3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Float3 Cross(Float3 a, Float3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// Unit vector along `v`; (0, 0, 0) stays zero.
Float3 Normalise(Float3 v);

constexpr double kPi = 3.14159265358979323846;

// Sine and cosine from a Taylor series after range reduction: the same bits
// with every compiler and C library.
double Sine(double x);
double Cosine(double x);

// A triangle mesh; normals and texCoords have one entry per position.
struct TriMesh {
    std::vector<Float3> positions;
    std::vector<Float3> normals;
    std::vector<std::array<double, 2>> texCoords;
    std::vector<std::array<std::uint32_t, 3>> faces;

    // Adds `other`'s vertices and faces (its indices shifted).
    void Append(const TriMesh& other);
    // Six times the enclosed volume: positive when the faces are wound
    // clockwise seen from outside (outward face normals).
    double SignedVolume6() const;
    // Reverses every face's winding.
    void FlipFaces();
    // Per-vertex normals: the area-weighted mean of the normals of the faces
    // around each vertex.
    void ComputeNormals();
};

// A cross-section for Loft: the points centre + a cos t + b sin t. With a and
// b both zero the section is a single point (a pointed end).
struct Section {
    Float3 centre;
    Float3 a;
    Float3 b;
};

// A closed shell through the sections in order, `segments` points a ring;
// ends that are not points get a flat cap. Texture coordinates: u runs from
// 0 at t = 0 to 1 at t = pi and back (mirrored, so the ring needs no seam),
// v from 0 at the first section to 1 at the last. Faces are wound outward and
// normals computed.
TriMesh Loft(std::span<const Section> sections, int segments);

// A sphere around the origin with `slices` meridians and `stacks` bands,
// poles on the y axis, mapped equirectangularly: u = longitude / 2 pi
// (from +x towards +z, which reads left to right seen from outside),
// v = 0 at the north pole (+y), 1 at the south pole. The seam and the poles
// carry their own vertices for the texture; normals point away from the centre.
TriMesh UvSphere(double radius, int slices, int stacks);

// A Direct3D material as the Material template holds it.
struct XMaterial {
    double r = 1, g = 1, b = 1, a = 1; // diffuse
    double power = 0;
    Float3 specular;
    Float3 emissive;
    std::string textureFile; // empty: no TextureFilename
};

// "%.6f" without a negative zero.
std::string FormatFloat(double v);

// A vertex colour as MeshVertexColors holds it (channels 0..1).
struct XColour {
    double r = 1, g = 1, b = 1, a = 1;
};

// One key of an AnimationKey: its time in ticks and its values (4 for a
// rotation w, x, y, z; 3 for a scale or a position; 16 for a matrix).
struct XKey {
    std::uint32_t time = 0;
    std::vector<double> values;
};

// AnimationKey key types.
enum class XKeyType : std::uint32_t { Rotation = 0, Scale = 1, Position = 2, Matrix = 4 };

// Writes an X file in the text format: by default version 0302 with 64-bit
// floats declared; numbers are written alike in either float size.
class XTextWriter {
public:
    XTextWriter(); // the "xof 0302txt 0064" line and a Header object
    // `magic`: the 16-character first line, e.g. "xof 0303txt 0032".
    explicit XTextWriter(std::string_view magic);

    void BeginFrame(std::string_view name);
    // Row-major 4x4 matrix, row-vector convention (translation in 12..14).
    void FrameTransformMatrix(const std::array<double, 16>& m);
    void EndFrame();

    // A Mesh object with its vertices and faces, MeshNormals (indexed like
    // the faces) and MeshTextureCoords; close it with EndMesh after adding
    // the material list and any other child objects.
    void BeginMesh(std::string_view name, const TriMesh& mesh);
    // MeshMaterialList: `faceMaterials` holds one material index per face.
    void MaterialList(std::span<const XMaterial> materials,
                      std::span<const std::uint32_t> faceMaterials);
    void EndMesh();

    // MeshVertexColors: one colour per vertex, in vertex order.
    void VertexColors(std::span<const XColour> colours);
    // XSkinMeshHeader.
    void SkinMeshHeader(unsigned maxWeightsPerVertex, unsigned maxWeightsPerFace, unsigned bones);
    // SkinWeights: the vertices a bone moves with their weights, and the
    // bone's offset matrix (bind pose into the bone's space, row-major).
    void SkinWeights(std::string_view bone, std::span<const std::uint32_t> vertices,
                     std::span<const double> weights, const std::array<double, 16>& offset);

    // An AnimationKey of one type; the key times must rise.
    void AnimationKey(XKeyType type, std::span<const XKey> keys);

    // A whole mesh with one material on every face.
    void Mesh(std::string_view name, const TriMesh& mesh, const XMaterial& material);

    // One line at the current depth (for child objects not covered above).
    void Line(std::string_view text);
    void Open(std::string_view header);  // "<header> {" and one level deeper
    void Close();                        // "}" one level up

    // The text as bytes; the writer is left empty.
    std::vector<unsigned char> Take();

private:
    void Vectors(std::span<const Float3> v);
    void Faces(std::span<const std::array<std::uint32_t, 3>> faces);

    std::string m_text;
    int m_depth = 0;
};

} // namespace content
