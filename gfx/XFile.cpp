#include "gfx/XFile.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Resources.h"

// ---------------------------------------------------------------------------
// The standard templates

const char D3DRM_XTEMPLATES[] = R"(xof 0302txt 0064
template Header {
 <3D82AB43-62DA-11cf-AB39-0020AF71E433>
 WORD major;
 WORD minor;
 DWORD flags;
}

template Vector {
 <3D82AB5E-62DA-11cf-AB39-0020AF71E433>
 FLOAT x;
 FLOAT y;
 FLOAT z;
}

template Coords2d {
 <F6F23F44-7686-11cf-8F52-0040333594A3>
 FLOAT u;
 FLOAT v;
}

template Matrix4x4 {
 <F6F23F45-7686-11cf-8F52-0040333594A3>
 array FLOAT matrix[16];
}

template ColorRGBA {
 <35FF44E0-6C7C-11cf-8F52-0040333594A3>
 FLOAT red;
 FLOAT green;
 FLOAT blue;
 FLOAT alpha;
}

template ColorRGB {
 <D3E16E81-7835-11cf-8F52-0040333594A3>
 FLOAT red;
 FLOAT green;
 FLOAT blue;
}

template IndexedColor {
 <1630B820-7842-11cf-8F52-0040333594A3>
 DWORD index;
 ColorRGBA indexColor;
}

template Material {
 <3D82AB4D-62DA-11cf-AB39-0020AF71E433>
 ColorRGBA faceColor;
 FLOAT power;
 ColorRGB specularColor;
 ColorRGB emissiveColor;
 [...]
}

template TextureFilename {
 <A42790E1-7810-11cf-8F52-0040333594A3>
 STRING filename;
}

template MeshFace {
 <3D82AB5F-62DA-11cf-AB39-0020AF71E433>
 DWORD nFaceVertexIndices;
 array DWORD faceVertexIndices[nFaceVertexIndices];
}

template MeshNormals {
 <F6F23F43-7686-11cf-8F52-0040333594A3>
 DWORD nNormals;
 array Vector normals[nNormals];
 DWORD nFaceNormals;
 array MeshFace faceNormals[nFaceNormals];
}

template MeshTextureCoords {
 <F6F23F40-7686-11cf-8F52-0040333594A3>
 DWORD nTextureCoords;
 array Coords2d textureCoords[nTextureCoords];
}

template MeshVertexColors {
 <1630B821-7842-11cf-8F52-0040333594A3>
 DWORD nVertexColors;
 array IndexedColor vertexColors[nVertexColors];
}

template MeshMaterialList {
 <F6F23F42-7686-11cf-8F52-0040333594A3>
 DWORD nMaterials;
 DWORD nFaceIndexes;
 array DWORD faceIndexes[nFaceIndexes];
 [Material <3D82AB4D-62DA-11cf-AB39-0020AF71E433>]
}

template Mesh {
 <3D82AB44-62DA-11cf-AB39-0020AF71E433>
 DWORD nVertices;
 array Vector vertices[nVertices];
 DWORD nFaces;
 array MeshFace faces[nFaces];
 [...]
}

template FrameTransformMatrix {
 <F6F23F41-7686-11cf-8F52-0040333594A3>
 Matrix4x4 frameMatrix;
}

template Frame {
 <3D82AB46-62DA-11cf-AB39-0020AF71E433>
 [...]
}

template FloatKeys {
 <10DD46A9-775B-11cf-8F52-0040333594A3>
 DWORD nValues;
 array FLOAT values[nValues];
}

template TimedFloatKeys {
 <F406B180-7B3B-11cf-8F52-0040333594A3>
 DWORD time;
 FloatKeys tfkeys;
}

template AnimationKey {
 <10DD46A8-775B-11cf-8F52-0040333594A3>
 DWORD keyType;
 DWORD nKeys;
 array TimedFloatKeys keys[nKeys];
}

template AnimationOptions {
 <E2BF56C0-840F-11cf-8F52-0040333594A3>
 DWORD openclosed;
 DWORD positionquality;
}

template Animation {
 <3D82AB4F-62DA-11cf-AB39-0020AF71E433>
 [...]
}

template AnimationSet {
 <3D82AB50-62DA-11cf-AB39-0020AF71E433>
 [Animation <3D82AB4F-62DA-11cf-AB39-0020AF71E433>]
}

template XSkinMeshHeader {
 <3CF169CE-FF7C-44ab-93C0-F78F62D172E2>
 WORD nMaxSkinWeightsPerVertex;
 WORD nMaxSkinWeightsPerFace;
 WORD nBones;
}

template SkinWeights {
 <6F0D123B-BAD2-4167-A0D0-80224F25FABB>
 STRING transformNodeName;
 DWORD nWeights;
 array DWORD vertexIndices[nWeights];
 array FLOAT weights[nWeights];
 Matrix4x4 matrixOffset;
}

template VertexDuplicationIndices {
 <B8D65549-D7C9-4995-89CF-53A9A8B031E3>
 DWORD nIndices;
 DWORD nOriginalVertices;
 array DWORD indices[nIndices];
}
)";

const DWORD D3DRM_XTEMPLATE_BYTES = sizeof(D3DRM_XTEMPLATES) - 1;

// ---------------------------------------------------------------------------
// Templates, parsed (named, not anonymous: the file records below point to
// them)

namespace xfile_detail {

enum class XType : std::uint8_t { Word, Dword, Float, Double, Char, Uchar, Byte, Sword, Sdword, String, Struct };

struct XTemplate;

// One array dimension: a fixed count, or the value of an earlier member.
struct XDimension {
    DWORD count = 0;
    int member = -1;
};

struct XMember {
    std::string name;
    XType type = XType::Dword;
    std::shared_ptr<const XTemplate> structType;
    bool isArray = false;
    std::vector<XDimension> dims;
};

// One entry of a restricted template's list of allowed children.
struct XRestriction {
    std::string name;
    bool hasGuid = false;
    GUID guid{};
};

enum class XChildren : std::uint8_t { Closed, Open, Restricted };

struct XTemplate {
    std::string name;
    GUID guid{};
    std::vector<XMember> members;
    XChildren children = XChildren::Closed;
    std::vector<XRestriction> allowed;
    std::uint64_t minValues = 0;  // values an instance holds at the least
    int depth = 1;                // structure nesting, 1 without structure members
};

constexpr std::uint64_t kSaturated = std::uint64_t{1} << 62;

std::uint64_t SaturatingMul(std::uint64_t a, std::uint64_t b) {
    if (a == 0 || b == 0) return 0;
    if (a >= kSaturated || b >= kSaturated || a > kSaturated / b) return kSaturated;
    return a * b;
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) { return std::min(kSaturated, a + b); }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool IsNameChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u == '-' ||
           u == '.' || u >= 0x80;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct PrimitiveName {
    std::string_view keyword;
    XType type;
};
constexpr PrimitiveName kPrimitives[] = {
    {"WORD", XType::Word},     {"DWORD", XType::Dword}, {"FLOAT", XType::Float},     {"DOUBLE", XType::Double},
    {"CHAR", XType::Char},     {"UCHAR", XType::Uchar}, {"BYTE", XType::Byte},       {"SWORD", XType::Sword},
    {"SDWORD", XType::Sdword}, {"STRING", XType::String}, {"CSTRING", XType::String}, {"LPSTR", XType::String},
};

bool PrimitiveFromName(std::string_view word, XType& type) {
    for (const PrimitiveName& p : kPrimitives) {
        if (EqualNoCase(word, p.keyword)) {
            type = p.type;
            return true;
        }
    }
    return false;
}

bool IsReservedWord(std::string_view word) {
    XType unused;
    return PrimitiveFromName(word, unused) || EqualNoCase(word, "template") || EqualNoCase(word, "array") ||
           EqualNoCase(word, "UNICODE") || EqualNoCase(word, "binary") || EqualNoCase(word, "binary_resource");
}

bool IsIntegerType(XType type) {
    switch (type) {
        case XType::Word:
        case XType::Dword:
        case XType::Char:
        case XType::Uchar:
        case XType::Byte:
        case XType::Sword:
        case XType::Sdword: return true;
        default: return false;
    }
}

// Whether two templates lay their data out alike (names aside).
bool SameLayout(const XTemplate& a, const XTemplate& b) {
    if (a.members.size() != b.members.size()) return false;
    for (std::size_t i = 0; i < a.members.size(); ++i) {
        const XMember& x = a.members[i];
        const XMember& y = b.members[i];
        if (x.type != y.type || x.isArray != y.isArray || x.dims.size() != y.dims.size()) return false;
        for (std::size_t d = 0; d < x.dims.size(); ++d) {
            if (x.dims[d].count != y.dims[d].count || x.dims[d].member != y.dims[d].member) return false;
        }
        if (x.type == XType::Struct && !SameLayout(*x.structType, *y.structType)) return false;
    }
    return true;
}

}  // namespace xfile_detail

using namespace xfile_detail;

struct XFileTemplateSet {
    std::vector<std::shared_ptr<const XTemplate>> list;

    // The latest definition of a name; names compare without regard to case.
    std::shared_ptr<const XTemplate> Find(std::string_view name) const {
        for (auto it = list.rbegin(); it != list.rend(); ++it) {
            if (EqualNoCase((*it)->name, name)) return *it;
        }
        return nullptr;
    }
};

// ---------------------------------------------------------------------------
// Parsed files

struct XFileChild {
    std::unique_ptr<XFileNode> node;  // a data object, or else a reference:
    std::string refName;
    bool refHasId = false;
    GUID refId{};
    const XFileNode* target = nullptr;
};

struct XFileNode {
    const XTemplate* pTemplate = nullptr;
    std::string name;
    GUID id{};
    std::vector<unsigned char> data;
    std::vector<DWORD> memberOffsets;  // one per member of the template, then the end
    std::vector<std::unique_ptr<char[]>> strings;
    std::vector<XFileChild> children;
};

struct XFileDocument {
    std::shared_ptr<const XFileTemplateSet> templates;
    std::vector<std::unique_ptr<XFileNode>> objects;
};

namespace {

// ---------------------------------------------------------------------------
// Text reading

class Lexer {
public:
    Lexer(const char* begin, const char* end) : m_p(begin), m_end(end) {}

    void SkipSpace() {
        while (m_p < m_end) {
            const char c = *m_p;
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
                ++m_p;
            } else if (c == '#' || (c == '/' && m_end - m_p >= 2 && m_p[1] == '/')) {
                while (m_p < m_end && *m_p != '\n') ++m_p;
            } else {
                break;
            }
        }
    }

    // Separators carry no data: any run of them, or none, is accepted.
    void SkipSeparators() {
        for (;;) {
            SkipSpace();
            if (m_p < m_end && (*m_p == ',' || *m_p == ';')) {
                ++m_p;
            } else {
                return;
            }
        }
    }

    int Peek() {
        SkipSpace();
        return m_p < m_end ? static_cast<unsigned char>(*m_p) : -1;
    }

    bool AtEnd() { return Peek() < 0; }

    bool Accept(char c) {
        if (Peek() != static_cast<unsigned char>(c)) return false;
        ++m_p;
        return true;
    }

    bool AcceptText(std::string_view text) {
        SkipSpace();
        if (static_cast<std::size_t>(m_end - m_p) < text.size() || std::string_view(m_p, text.size()) != text) {
            return false;
        }
        m_p += text.size();
        return true;
    }

    bool AtNameStart() {
        const int c = Peek();
        return c >= 0 && IsNameChar(static_cast<char>(c));
    }

    bool ReadName(std::string& out) {
        if (!AtNameStart()) return false;
        const char* start = m_p;
        while (m_p < m_end && IsNameChar(*m_p)) ++m_p;
        out.assign(start, m_p);
        return true;
    }

    bool ReadGuid(GUID& out) {
        if (!Accept('<')) return false;
        SkipSpace();
        static constexpr int kGroups[] = {8, 4, 4, 4, 12};
        std::array<std::uint8_t, 16> bytes{};
        std::size_t byteIndex = 0;
        for (int g = 0; g < 5; ++g) {
            if (g > 0) {
                if (m_p >= m_end || *m_p != '-') return false;
                ++m_p;
            }
            for (int i = 0; i < kGroups[g]; i += 2) {
                if (m_end - m_p < 2) return false;
                const int hi = HexValue(m_p[0]);
                const int lo = HexValue(m_p[1]);
                if (hi < 0 || lo < 0) return false;
                bytes[byteIndex++] = static_cast<std::uint8_t>(hi * 16 + lo);
                m_p += 2;
            }
        }
        if (!Accept('>')) return false;
        out.Data1 = (DWORD{bytes[0]} << 24) | (DWORD{bytes[1]} << 16) | (DWORD{bytes[2]} << 8) | bytes[3];
        out.Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
        out.Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
        std::copy(bytes.begin() + 8, bytes.end(), out.Data4);
        return true;
    }

    // A decimal integer with an optional sign.
    bool ReadInteger(std::int64_t& out) {
        SkipSpace();
        const char* p = m_p;
        bool negative = false;
        if (p < m_end && (*p == '-' || *p == '+')) negative = *p++ == '-';
        const char* digits = p;
        std::int64_t value = 0;
        while (p < m_end && IsDigit(*p)) {
            if (p - digits >= 18) return false;
            value = value * 10 + (*p - '0');
            ++p;
        }
        if (p == digits || (p < m_end && IsNameChar(*p))) return false;
        out = negative ? -value : value;
        m_p = p;
        return true;
    }

    // A decimal number with optional fraction and exponent, read with the
    // precision of a float or a double.
    bool ReadFloat(double& out, bool doublePrecision) {
        SkipSpace();
        const char* p = m_p;
        const char* start = p;
        if (p < m_end && (*p == '-' || *p == '+')) ++p;
        std::size_t mantissaDigits = 0;
        while (p < m_end && IsDigit(*p)) ++p, ++mantissaDigits;
        if (p < m_end && *p == '.') {
            ++p;
            while (p < m_end && IsDigit(*p)) ++p, ++mantissaDigits;
        }
        if (mantissaDigits == 0) return false;
        if (p < m_end && (*p == 'e' || *p == 'E')) {
            const char* e = p + 1;
            if (e < m_end && (*e == '-' || *e == '+')) ++e;
            if (e < m_end && IsDigit(*e)) {
                while (e < m_end && IsDigit(*e)) ++e;
                p = e;
            }
        }
        if (p < m_end && IsNameChar(*p)) return false;
        const char* first = (*start == '+') ? start + 1 : start;
        if (doublePrecision) {
            double value = 0.0;
            const auto result = std::from_chars(first, p, value);
            if (result.ec != std::errc() || result.ptr != p) return false;
            out = value;
        } else {
            float value = 0.0f;
            const auto result = std::from_chars(first, p, value);
            if (result.ec == std::errc::result_out_of_range) {
                // Below the smallest float, or above the largest: the caller
                // rounds the first and rejects the second.
                double wide = 0.0;
                const auto again = std::from_chars(first, p, wide);
                if (again.ec != std::errc() || again.ptr != p) return false;
                out = wide;
            } else {
                if (result.ec != std::errc() || result.ptr != p) return false;
                out = value;
            }
        }
        m_p = p;
        return true;
    }

    bool ReadString(std::string& out) {
        if (!Accept('"')) return false;
        const char* start = m_p;
        while (m_p < m_end && *m_p != '"') ++m_p;
        if (m_p >= m_end) return false;
        out.assign(start, m_p);
        ++m_p;
        return true;
    }

    std::size_t Remaining() const { return static_cast<std::size_t>(m_end - m_p); }

private:
    const char* m_p;
    const char* m_end;
};

// The 16-byte file header: "xof ", the version, the encoding and the float
// size. Only the text encoding is read.
HRESULT ReadHeader(const char*& p, const char* end, bool& doublePrecision) {
    if (end - p < 16 || std::string_view(p, 4) != "xof ") return DXFILEERR_BADFILETYPE;
    const std::string_view version(p + 4, 4);
    const std::string_view format(p + 8, 4);
    const std::string_view floatSize(p + 12, 4);
    if (version.substr(0, 2) != "03" || !IsDigit(version[2]) || !IsDigit(version[3])) return DXFILEERR_BADFILEVERSION;
    if (format == "tzip" || format == "bzip") return DXFILEERR_BADFILECOMPRESSIONTYPE;
    if (format != "txt ") return DXFILEERR_BADFILETYPE;
    if (floatSize == "0032") {
        doublePrecision = false;
    } else if (floatSize == "0064") {
        doublePrecision = true;
    } else {
        return DXFILEERR_BADFILEFLOATSIZE;
    }
    p += 16;
    return S_OK;
}

bool Allowed(const XTemplate& parent, const XTemplate& child) {
    switch (parent.children) {
        case XChildren::Closed: return false;
        case XChildren::Open: return true;
        case XChildren::Restricted:
            for (const XRestriction& r : parent.allowed) {
                if (r.hasGuid ? IsEqualGUID(r.guid, child.guid) : EqualNoCase(r.name, child.name)) return true;
            }
            return false;
    }
    return false;
}

class Parser {
public:
    Parser(const char* begin, const char* end, XFileTemplateSet& templates, bool doublePrecision)
        : m_lexer(begin, end), m_templates(templates), m_bDoublePrecision(doublePrecision) {}

    // The whole text after the header: template definitions and, unless
    // templatesOnly, top-level data objects.
    HRESULT ParseFile(bool templatesOnly, std::vector<std::unique_ptr<XFileNode>>* objects) {
        for (;;) {
            m_lexer.SkipSeparators();
            if (m_lexer.AtEnd()) return S_OK;
            std::string word;
            if (!m_lexer.ReadName(word)) return DXFILEERR_PARSEERROR;
            HRESULT hr;
            if (EqualNoCase(word, "template")) {
                hr = ParseTemplate();
            } else if (templatesOnly) {
                hr = DXFILEERR_PARSEERROR;
            } else {
                auto node = std::make_unique<XFileNode>();
                hr = ParseObject(word, 1, *node);
                if (SUCCEEDED(hr)) objects->push_back(std::move(node));
            }
            if (FAILED(hr)) return hr;
        }
    }

private:
    HRESULT ParseTemplate() {
        auto t = std::make_shared<XTemplate>();
        if (!m_lexer.ReadName(t->name) || IsReservedWord(t->name)) return DXFILEERR_PARSEERROR;
        if (!m_lexer.Accept('{') || !m_lexer.ReadGuid(t->guid)) return DXFILEERR_PARSEERROR;
        for (;;) {
            m_lexer.SkipSeparators();
            const int c = m_lexer.Peek();
            if (c == '}') {
                m_lexer.Accept('}');
                break;
            }
            if (c == '[') {
                HRESULT hr = ParseRestriction(*t);
                if (FAILED(hr)) return hr;
                m_lexer.SkipSeparators();
                if (!m_lexer.Accept('}')) return DXFILEERR_PARSEERROR;
                break;
            }
            HRESULT hr = ParseMemberDeclaration(*t);
            if (FAILED(hr)) return hr;
        }
        std::uint64_t minValues = 0;
        int depth = 1;
        for (const XMember& m : t->members) {
            std::uint64_t values = m.type == XType::Struct ? m.structType->minValues : 1;
            if (m.type == XType::Struct) depth = std::max(depth, m.structType->depth + 1);
            for (const XDimension& d : m.dims) values = d.member >= 0 ? 0 : SaturatingMul(values, d.count);
            minValues = SaturatingAdd(minValues, values);
        }
        if (depth > kXFileMaxTemplateNesting) return DXFILEERR_PARSEERROR;
        t->minValues = minValues;
        t->depth = depth;
        // Files often repeat the standard definitions; one that gives a known
        // GUID another layout would make readers of that type misread it.
        for (const auto& known : m_templates.list) {
            if (IsEqualGUID(known->guid, t->guid) && !SameLayout(*known, *t)) return DXFILEERR_BADTYPE;
        }
        m_templates.list.push_back(std::move(t));
        return S_OK;
    }

    HRESULT ParseMemberDeclaration(XTemplate& t) {
        XMember m;
        std::string word;
        if (!m_lexer.ReadName(word)) return DXFILEERR_PARSEERROR;
        if (EqualNoCase(word, "array")) {
            m.isArray = true;
            if (!m_lexer.ReadName(word)) return DXFILEERR_PARSEERROR;
        }
        if (!PrimitiveFromName(word, m.type)) {
            if (IsReservedWord(word)) return DXFILEERR_PARSEERROR;
            m.structType = m_templates.Find(word);
            if (!m.structType) return DXFILEERR_NOTEMPLATE;
            m.type = XType::Struct;
        }
        if (m_lexer.AtNameStart()) {
            m_lexer.ReadName(m.name);
        } else if (m.isArray) {
            return DXFILEERR_PARSEERROR;
        }
        if (m.isArray) {
            while (m_lexer.Accept('[')) {
                XDimension d;
                if (IsDigit(static_cast<char>(m_lexer.Peek()))) {
                    std::int64_t count = 0;
                    if (!m_lexer.ReadInteger(count) || count < 0 || count > 0xFFFFFFFF) return DXFILEERR_PARSEERROR;
                    d.count = static_cast<DWORD>(count);
                } else {
                    std::string name;
                    if (!m_lexer.ReadName(name)) return DXFILEERR_PARSEERROR;
                    for (std::size_t i = 0; i < t.members.size(); ++i) {
                        const XMember& earlier = t.members[i];
                        if (earlier.name == name && !earlier.isArray && IsIntegerType(earlier.type)) {
                            d.member = static_cast<int>(i);
                        }
                    }
                    if (d.member < 0) return DXFILEERR_PARSEERROR;
                }
                if (!m_lexer.Accept(']')) return DXFILEERR_PARSEERROR;
                m.dims.push_back(d);
            }
            if (m.dims.empty()) return DXFILEERR_PARSEERROR;
        }
        t.members.push_back(std::move(m));
        return S_OK;
    }

    HRESULT ParseRestriction(XTemplate& t) {
        m_lexer.Accept('[');
        if (m_lexer.AcceptText("...")) {
            t.children = XChildren::Open;
            return m_lexer.Accept(']') ? S_OK : DXFILEERR_PARSEERROR;
        }
        t.children = XChildren::Restricted;
        for (;;) {
            XRestriction r;
            const bool named = m_lexer.ReadName(r.name);
            if (m_lexer.Peek() == '<') {
                if (!m_lexer.ReadGuid(r.guid)) return DXFILEERR_PARSEERROR;
                r.hasGuid = true;
            }
            if (!named && !r.hasGuid) return DXFILEERR_PARSEERROR;
            t.allowed.push_back(std::move(r));
            if (m_lexer.Accept(']')) return S_OK;
            if (!m_lexer.Accept(',')) return DXFILEERR_PARSEERROR;
        }
    }

    // `Template [name] [<guid>] { [<guid>] members children }`, its template
    // name already read.
    HRESULT ParseObject(const std::string& templateName, int depth, XFileNode& node) {
        if (depth > kXFileMaxNesting) return DXFILEERR_PARSEERROR;
        if (IsReservedWord(templateName)) return DXFILEERR_PARSEERROR;
        const XTemplate* t = m_templates.Find(templateName).get();
        if (t == nullptr) return DXFILEERR_NOTEMPLATE;
        node.pTemplate = t;
        if (m_lexer.AtNameStart()) m_lexer.ReadName(node.name);
        if (m_lexer.Peek() == '<' && !m_lexer.ReadGuid(node.id)) return DXFILEERR_PARSEERROR;
        if (!m_lexer.Accept('{')) return DXFILEERR_PARSEERROR;
        if (m_lexer.Peek() == '<' && !m_lexer.ReadGuid(node.id)) return DXFILEERR_PARSEERROR;

        HRESULT hr = ParseMembers(*t, node, &node.memberOffsets);
        if (FAILED(hr)) return hr;

        for (;;) {
            m_lexer.SkipSeparators();
            const int c = m_lexer.Peek();
            if (c == '}') {
                m_lexer.Accept('}');
                return S_OK;
            }
            XFileChild child;
            if (c == '{') {
                m_lexer.Accept('{');
                m_lexer.ReadName(child.refName);
                if (m_lexer.Peek() == '<') {
                    if (!m_lexer.ReadGuid(child.refId)) return DXFILEERR_PARSEERROR;
                    child.refHasId = true;
                }
                if (child.refName.empty() && !child.refHasId) return DXFILEERR_PARSEERROR;
                if (!m_lexer.Accept('}')) return DXFILEERR_PARSEERROR;
                if (t->children == XChildren::Closed) return DXFILEERR_BADDATAREFERENCE;
            } else if (c >= 0 && IsNameChar(static_cast<char>(c)) && !IsDigit(static_cast<char>(c)) && c != '-' &&
                       c != '.') {
                std::string childTemplate;
                m_lexer.ReadName(childTemplate);
                child.node = std::make_unique<XFileNode>();
                hr = ParseObject(childTemplate, depth + 1, *child.node);
                if (FAILED(hr)) return hr;
                if (!Allowed(*t, *child.node->pTemplate)) return DXFILEERR_BADOBJECT;
            } else {
                // Values beyond what the template holds, or the end of the input.
                return DXFILEERR_PARSEERROR;
            }
            node.children.push_back(std::move(child));
        }
    }

    // The members of one instance of a template, appended to node.data.
    HRESULT ParseMembers(const XTemplate& t, XFileNode& node, std::vector<DWORD>* offsets) {
        // Values of the earlier integer members, for the array sizes.
        std::array<std::uint64_t, 16> fixedScalars{};
        std::vector<std::uint64_t> moreScalars;
        std::uint64_t* scalars = fixedScalars.data();
        if (t.members.size() > fixedScalars.size()) {
            moreScalars.assign(t.members.size(), 0);
            scalars = moreScalars.data();
        }
        for (std::size_t i = 0; i < t.members.size(); ++i) {
            const XMember& m = t.members[i];
            if (offsets) offsets->push_back(static_cast<DWORD>(node.data.size()));
            if (!m.isArray) {
                HRESULT hr = ParseValue(m, node, &scalars[i]);
                if (FAILED(hr)) return hr;
                continue;
            }
            std::uint64_t count = 1;
            for (const XDimension& d : m.dims) count = SaturatingMul(count, d.member >= 0 ? scalars[d.member] : d.count);
            const std::uint64_t perElement =
                std::max<std::uint64_t>(1, m.type == XType::Struct ? m.structType->minValues : 1);
            if (SaturatingMul(count, perElement) > m_lexer.Remaining()) return DXFILEERR_BADARRAYSIZE;
            for (std::uint64_t k = 0; k < count; ++k) {
                HRESULT hr = ParseValue(m, node, nullptr);
                if (FAILED(hr)) return hr;
            }
        }
        if (node.data.size() > 0x7FFFFFFFu) return DXFILEERR_BADALLOC;
        if (offsets) offsets->push_back(static_cast<DWORD>(node.data.size()));
        return S_OK;
    }

    template <class T>
    void Append(XFileNode& node, T value) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
        node.data.insert(node.data.end(), bytes, bytes + sizeof(T));
    }

    // One value of a member; `scalar` receives an integer's value for later
    // array sizes (kSaturated for a negative one).
    HRESULT ParseValue(const XMember& m, XFileNode& node, std::uint64_t* scalar) {
        if (m.type == XType::Struct) return ParseMembers(*m.structType, node, nullptr);
        m_lexer.SkipSeparators();
        switch (m.type) {
            case XType::Float:
            case XType::Double: {
                double value = 0.0;
                const bool asDouble = m.type == XType::Double || m_bDoublePrecision;
                if (!m_lexer.ReadFloat(value, asDouble)) return DXFILEERR_PARSEERROR;
                if (m.type == XType::Double) {
                    Append(node, value);
                } else {
                    if (!(value >= -FLT_MAX && value <= FLT_MAX)) return DXFILEERR_PARSEERROR;
                    Append(node, static_cast<float>(value));
                }
                return S_OK;
            }
            case XType::String: {
                std::string text;
                if (!m_lexer.ReadString(text)) return DXFILEERR_PARSEERROR;
                auto copy = std::make_unique<char[]>(text.size() + 1);
                std::copy(text.begin(), text.end(), copy.get());
                copy[text.size()] = '\0';
                Append(node, static_cast<const char*>(copy.get()));
                node.strings.push_back(std::move(copy));
                return S_OK;
            }
            default: break;
        }
        std::int64_t value = 0;
        if (!m_lexer.ReadInteger(value)) return DXFILEERR_PARSEERROR;
        std::int64_t low = 0;
        std::int64_t high = 0;
        switch (m.type) {
            case XType::Word: low = -32768, high = 0xFFFF; break;
            case XType::Sword: low = -32768, high = 32767; break;
            case XType::Dword: low = INT32_MIN, high = 0xFFFFFFFF; break;
            case XType::Sdword: low = INT32_MIN, high = INT32_MAX; break;
            case XType::Char: low = -128, high = 127; break;
            default: low = -128, high = 0xFF; break;
        }
        if (value < low || value > high) return DXFILEERR_PARSEERROR;
        switch (m.type) {
            case XType::Word:
            case XType::Sword: Append(node, static_cast<WORD>(value)); break;
            case XType::Dword:
            case XType::Sdword: Append(node, static_cast<DWORD>(value)); break;
            default: Append(node, static_cast<BYTE>(value)); break;
        }
        if (scalar) {
            const bool isSigned = m.type == XType::Sword || m.type == XType::Sdword || m.type == XType::Char;
            if (value < 0 && isSigned) {
                *scalar = kSaturated;
            } else if (m.type == XType::Dword || m.type == XType::Sdword) {
                *scalar = static_cast<DWORD>(value);
            } else if (m.type == XType::Word || m.type == XType::Sword) {
                *scalar = static_cast<WORD>(value);
            } else {
                *scalar = static_cast<BYTE>(value);
            }
        }
        return S_OK;
    }

    Lexer m_lexer;
    XFileTemplateSet& m_templates;
    bool m_bDoublePrecision;
};

// Every node of the file, parents before children, in file order.
void CollectNodes(XFileNode& node, std::vector<XFileNode*>& out) {
    out.push_back(&node);
    for (XFileChild& child : node.children) {
        if (child.node) CollectNodes(*child.node, out);
    }
}

// Binds each reference to the object it names (the first of that name in the
// file) and rejects references that would lead a walk in a circle.
HRESULT ResolveReferences(XFileDocument& document) {
    std::vector<XFileNode*> nodes;
    for (auto& object : document.objects) CollectNodes(*object, nodes);
    std::unordered_map<std::string_view, const XFileNode*> byName;
    std::unordered_map<std::string_view, const XFileNode*> byId;  // the GUID's bytes
    for (const XFileNode* node : nodes) {
        if (!node->name.empty()) byName.emplace(node->name, node);
        if (!IsEqualGUID(node->id, GUID{})) {
            byId.emplace(std::string_view(reinterpret_cast<const char*>(&node->id), sizeof(GUID)), node);
        }
    }
    for (XFileNode* node : nodes) {
        for (XFileChild& child : node->children) {
            if (child.node) continue;
            const XFileNode* target = nullptr;
            if (!child.refName.empty()) {
                auto it = byName.find(child.refName);
                if (it != byName.end()) target = it->second;
            } else {
                auto it = byId.find(std::string_view(reinterpret_cast<const char*>(&child.refId), sizeof(GUID)));
                if (it != byId.end()) target = it->second;
            }
            if (target == nullptr || !Allowed(*node->pTemplate, *target->pTemplate)) return DXFILEERR_BADDATAREFERENCE;
            child.target = target;
        }
    }

    // Depth-first search over children and references for a cycle.
    std::unordered_map<const XFileNode*, std::uint8_t> state;  // 1 on the path, 2 done
    struct Frame {
        const XFileNode* node;
        std::size_t next;
    };
    std::vector<Frame> stack;
    for (const XFileNode* root : nodes) {
        if (state[root] != 0) continue;
        stack.push_back({root, 0});
        state[root] = 1;
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next == top.node->children.size()) {
                state[top.node] = 2;
                stack.pop_back();
                continue;
            }
            const XFileChild& child = top.node->children[top.next++];
            const XFileNode* next = child.node ? child.node.get() : child.target;
            std::uint8_t& s = state[next];
            if (s == 1) return DXFILEERR_BADDATAREFERENCE;
            if (s == 0) {
                s = 1;
                stack.push_back({next, 0});
            }
        }
    }
    return S_OK;
}

const char* TextEnd(const char* begin, std::size_t size) {
    const void* nul = std::memchr(begin, 0, size);
    return nul ? static_cast<const char*>(nul) : begin + size;
}

HRESULT CopyName(const std::string& name, char* buffer, DWORD* size) {
    if (size == nullptr) return DXFILEERR_BADVALUE;
    const std::size_t needed = name.size() + 1;
    if (needed > 0xFFFFFFFFu) return DXFILEERR_BADVALUE;
    if (buffer == nullptr) {
        *size = static_cast<DWORD>(needed);
        return S_OK;
    }
    if (*size < needed) {
        *size = static_cast<DWORD>(needed);
        return DXFILEERR_BADVALUE;
    }
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = '\0';
    *size = static_cast<DWORD>(needed);
    return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------
// Objects

DWORD XFileObject::Release() {
    const DWORD refs = --m_dwRefs;
    if (refs == 0) delete this;
    return refs;
}

XFileData::XFileData(std::shared_ptr<const XFileDocument> document, const XFileNode* node)
    : m_pDocument(std::move(document)), m_pNode(node) {}

XFileData::~XFileData() = default;

HRESULT XFileData::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_INVALIDARG;
    if (IsEqualGUID(riid, IID_IDirectXFileData)) {
        *object = this;
    } else if (IsEqualGUID(riid, IID_IDirectXFileObject)) {
        *object = static_cast<XFileObject*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT XFileData::GetName(char* buffer, DWORD* size) { return CopyName(m_pNode->name, buffer, size); }

HRESULT XFileData::GetId(GUID* id) {
    if (id == nullptr) return DXFILEERR_BADVALUE;
    *id = m_pNode->id;
    return S_OK;
}

HRESULT XFileData::GetType(const GUID** type) {
    if (type == nullptr) return DXFILEERR_BADVALUE;
    *type = &m_pNode->pTemplate->guid;
    return S_OK;
}

HRESULT XFileData::GetData(const char* member, DWORD* size, void** data) {
    if (size == nullptr || data == nullptr) return DXFILEERR_BADVALUE;
    const auto& bytes = m_pNode->data;
    DWORD offset = 0;
    DWORD end = static_cast<DWORD>(bytes.size());
    if (member != nullptr) {
        const auto& members = m_pNode->pTemplate->members;
        std::size_t i = 0;
        while (i < members.size() && members[i].name != member) ++i;
        if (i == members.size()) {
            *size = 0;
            *data = nullptr;
            return DXFILEERR_NOTFOUND;
        }
        offset = m_pNode->memberOffsets[i];
        end = m_pNode->memberOffsets[i + 1];
    }
    *size = end - offset;
    *data = bytes.empty() ? nullptr : const_cast<unsigned char*>(bytes.data()) + offset;
    return S_OK;
}

HRESULT XFileData::GetNextObject(XFileObject** child) {
    if (child == nullptr) return DXFILEERR_BADVALUE;
    *child = nullptr;
    if (m_nNextChild >= m_pNode->children.size()) return DXFILEERR_NOMOREOBJECTS;
    const XFileChild& next = m_pNode->children[m_nNextChild];
    XFileObject* object = nullptr;
    if (next.node) {
        object = new (std::nothrow) XFileData(m_pDocument, next.node.get());
    } else {
        object = new (std::nothrow) XFileDataReference(m_pDocument, &next);
    }
    if (object == nullptr) return DXFILEERR_BADALLOC;
    ++m_nNextChild;
    *child = object;
    return S_OK;
}

XFileDataReference::XFileDataReference(std::shared_ptr<const XFileDocument> document, const XFileChild* child)
    : m_pDocument(std::move(document)), m_pChild(child) {}

XFileDataReference::~XFileDataReference() = default;

HRESULT XFileDataReference::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_INVALIDARG;
    if (IsEqualGUID(riid, IID_IDirectXFileDataReference)) {
        *object = this;
    } else if (IsEqualGUID(riid, IID_IDirectXFileObject)) {
        *object = static_cast<XFileObject*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT XFileDataReference::GetName(char* buffer, DWORD* size) { return CopyName(m_pChild->refName, buffer, size); }

HRESULT XFileDataReference::GetId(GUID* id) {
    if (id == nullptr) return DXFILEERR_BADVALUE;
    *id = m_pChild->refHasId ? m_pChild->refId : GUID{};
    return S_OK;
}

HRESULT XFileDataReference::Resolve(XFileData** data) {
    if (data == nullptr) return DXFILEERR_BADVALUE;
    *data = new (std::nothrow) XFileData(m_pDocument, m_pChild->target);
    return *data ? S_OK : DXFILEERR_BADALLOC;
}

// ---------------------------------------------------------------------------
// Enumerator and reader

XFileEnumObject::XFileEnumObject(std::shared_ptr<const XFileDocument> document) : m_pDocument(std::move(document)) {}

XFileEnumObject::~XFileEnumObject() = default;

DWORD XFileEnumObject::Release() {
    const DWORD refs = --m_dwRefs;
    if (refs == 0) delete this;
    return refs;
}

HRESULT XFileEnumObject::GetNextDataObject(XFileData** data) {
    if (data == nullptr) return DXFILEERR_BADVALUE;
    *data = nullptr;
    if (m_nNext >= m_pDocument->objects.size()) return DXFILEERR_NOMOREOBJECTS;
    *data = new (std::nothrow) XFileData(m_pDocument, m_pDocument->objects[m_nNext].get());
    if (*data == nullptr) return DXFILEERR_BADALLOC;
    ++m_nNext;
    return S_OK;
}

XFile::XFile() : m_pTemplates(std::make_shared<const XFileTemplateSet>()) {}

XFile::~XFile() = default;

DWORD XFile::Release() {
    const DWORD refs = --m_dwRefs;
    if (refs == 0) delete this;
    return refs;
}

HRESULT XFile::RegisterTemplates(const void* data, DWORD size) {
    if (data == nullptr) return DXFILEERR_BADVALUE;
    try {
        const char* p = static_cast<const char*>(data);
        const char* end = TextEnd(p, size);
        bool doublePrecision = false;
        HRESULT hr = ReadHeader(p, end, doublePrecision);
        if (FAILED(hr)) return hr;
        auto templates = std::make_shared<XFileTemplateSet>(*m_pTemplates);
        Parser parser(p, end, *templates, doublePrecision);
        hr = parser.ParseFile(true, nullptr);
        if (FAILED(hr)) return hr;
        m_pTemplates = std::move(templates);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return DXFILEERR_BADALLOC;
    }
}

HRESULT XFile::CreateEnumObject(const void* source, DWORD options, XFileEnumObject** enumObject) {
    if (enumObject == nullptr) return DXFILEERR_BADVALUE;
    *enumObject = nullptr;
    if (source == nullptr) return DXFILEERR_BADVALUE;

    const char* text = nullptr;
    std::size_t size = 0;
    if (options == DXFILELOAD_FROMRESOURCE) {
        const auto* resource = static_cast<const DXFILELOADRESOURCE*>(source);
        if (resource->lpName == nullptr || resource->lpType == nullptr) return DXFILEERR_BADVALUE;
        HRSRC found = FindResourceA(resource->hModule, resource->lpName, resource->lpType);
        if (found == nullptr) return DXFILEERR_RESOURCENOTFOUND;
        HGLOBAL loaded = LoadResource(resource->hModule, found);
        text = static_cast<const char*>(LockResource(loaded));
        size = SizeofResource(resource->hModule, found);
        if (text == nullptr) return DXFILEERR_BADRESOURCE;
    } else if (options == DXFILELOAD_FROMMEMORY) {
        const auto* memory = static_cast<const DXFILELOADMEMORY*>(source);
        text = static_cast<const char*>(memory->lpMemory);
        size = memory->dSize;
        if (text == nullptr) return DXFILEERR_BADVALUE;
    } else {
        // Files, streams and URLs are not read by this program.
        return DXFILEERR_BADVALUE;
    }

    try {
        const char* p = text;
        const char* end = TextEnd(text, size);
        bool doublePrecision = false;
        HRESULT hr = ReadHeader(p, end, doublePrecision);
        if (FAILED(hr)) return hr;
        auto templates = std::make_shared<XFileTemplateSet>(*m_pTemplates);
        auto document = std::make_shared<XFileDocument>();
        Parser parser(p, end, *templates, doublePrecision);
        hr = parser.ParseFile(false, &document->objects);
        if (FAILED(hr)) return hr;
        hr = ResolveReferences(*document);
        if (FAILED(hr)) return hr;
        document->templates = std::move(templates);
        *enumObject = new XFileEnumObject(std::move(document));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return DXFILEERR_BADALLOC;
    }
}

HRESULT DirectXFileCreate(XFile** file) {
    if (file == nullptr) return DXFILEERR_BADVALUE;
    *file = new (std::nothrow) XFile;
    return *file ? S_OK : DXFILEERR_BADALLOC;
}
