#include "gfx/PipelineGlsl.h"

#include <cstdio>

#include "gfx/VertexFormat.h"

namespace {

const char* const kVaryingsOut =
    "out vec4 vsD0;\nout vec4 vsD1;\nout vec4 vsT0;\nout vec4 vsT1;\nout vec4 vsT2;\nout vec4 vsT3;\n"
    "out vec4 vsT4;\nout vec4 vsT5;\nout vec4 vsT6;\nout vec4 vsT7;\nout float vsFog;\n";

const char* const kVaryingsIn =
    "in vec4 vsD0;\nin vec4 vsD1;\nin vec4 vsT0;\nin vec4 vsT1;\nin vec4 vsT2;\nin vec4 vsT3;\n"
    "in vec4 vsT4;\nin vec4 vsT5;\nin vec4 vsT6;\nin vec4 vsT7;\nin float vsFog;\n";

std::string MaterialColour(const FixedVertexKey& key, std::uint8_t source, const char* material) {
    const bool hasDiffuse = (key.fvf & D3DFVF_DIFFUSE) != 0;
    const bool hasSpecular = (key.fvf & D3DFVF_SPECULAR) != 0;
    if (key.colorVertex && source == D3DMCS_COLOR1 && hasDiffuse) return "v5";
    if (key.colorVertex && source == D3DMCS_COLOR2 && hasSpecular) return "v6";
    return material;
}

}  // namespace

std::string FixedFunctionVertexGlsl(const FixedVertexKey& key) {
    std::string s = "#version 330 core\n";
    VertexLayout layout;
    LayoutFromFVF(key.fvf, layout);
    for (std::size_t r = 0; r < kVertexRegisters; ++r)
        if (layout.elements[r].type != ElementType::None)
            s += "layout(location = " + std::to_string(r) + ") in vec4 v" + std::to_string(r) + ";\n";
    s += "uniform mat4 uWorld;\nuniform mat4 uView;\nuniform mat4 uProj;\n"
         "uniform float uFogStart;\nuniform float uFogEnd;\n"
         "uniform vec4 uMatDiffuse;\nuniform vec4 uMatAmbient;\nuniform vec4 uMatEmissive;\nuniform vec4 uAmbient;\n"
         "uniform bool uClipControl;\n";
    s += kVaryingsOut;
    s += "void main() {\n"
         "    vec4 p = vec4(v0.xyz, 1.0);\n"
         "    vec4 view = uView * (uWorld * p);\n"
         "    vec4 clip = uProj * view;\n"
         "    gl_Position = uClipControl ? clip : vec4(clip.xy, 2.0 * clip.z - clip.w, clip.w);\n";
    const bool hasDiffuse = (key.fvf & D3DFVF_DIFFUSE) != 0;
    const bool hasSpecular = (key.fvf & D3DFVF_SPECULAR) != 0;
    if (key.lighting) {
        // No light is ever enabled: the lit colour is the emissive plus the
        // ambient term, with the diffuse colour's alpha.
        s += "    vec4 diffuse = " + MaterialColour(key, key.diffuseSource, "uMatDiffuse") + ";\n";
        s += "    vec4 ambient = " + MaterialColour(key, key.ambientSource, "uMatAmbient") + ";\n";
        s += "    vec4 emissive = " + MaterialColour(key, key.emissiveSource, "uMatEmissive") + ";\n";
        s += "    vsD0 = vec4(clamp(emissive.rgb + uAmbient.rgb * ambient.rgb, 0.0, 1.0), diffuse.a);\n"
             "    vsD1 = vec4(0.0);\n";
    } else {
        s += std::string("    vsD0 = ") + (hasDiffuse ? "v5" : "vec4(1.0)") + ";\n";
        s += std::string("    vsD1 = ") + (hasSpecular ? "v6" : "vec4(0.0)") + ";\n";
    }
    const UINT texCount = (key.fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    for (UINT t = 0; t < 8; ++t) {
        const std::string n = std::to_string(t);
        if (t < texCount) s += "    vsT" + n + " = v" + std::to_string(D3DVSDE_TEXCOORD0 + t) + ";\n";
        else s += "    vsT" + n + " = vec4(0.0);\n";
    }
    if (key.fogLinear)
        s += "    vsFog = (uFogEnd - view.z) / (uFogEnd - uFogStart);\n";
    else
        s += "    vsFog = 1.0;\n";
    s += "}\n";
    return s;
}

namespace {

std::string Arg(std::uint8_t arg, int stage, bool alpha) {
    std::string v;
    switch (arg & D3DTA_SELECTMASK) {
        case D3DTA_DIFFUSE: v = "vsD0"; break;
        case D3DTA_CURRENT: v = "current"; break;
        case D3DTA_TEXTURE: v = "tex" + std::to_string(stage); break;
        case D3DTA_TFACTOR: v = "uTFactor"; break;
        case D3DTA_SPECULAR: v = "vsD1"; break;
        case D3DTA_TEMP: v = "temp"; break;
        default: v = "vec4(1.0)"; break;
    }
    if (arg & D3DTA_COMPLEMENT) v = "(vec4(1.0) - " + v + ")";
    if ((arg & D3DTA_ALPHAREPLICATE) && !alpha) v = "vec4(" + v + ".a)";
    return v;
}

// One stage operation on the two arguments, as a vec4 expression.
std::string Operation(std::uint8_t op, const std::string& a1, const std::string& a2, int stage) {
    const std::string tex = "tex" + std::to_string(stage);
    switch (op) {
        case D3DTOP_SELECTARG1: return a1;
        case D3DTOP_SELECTARG2: return a2;
        case D3DTOP_MODULATE: return a1 + " * " + a2;
        case D3DTOP_MODULATE2X: return "clamp(2.0 * " + a1 + " * " + a2 + ", 0.0, 1.0)";
        case D3DTOP_MODULATE4X: return "clamp(4.0 * " + a1 + " * " + a2 + ", 0.0, 1.0)";
        case D3DTOP_ADD: return "clamp(" + a1 + " + " + a2 + ", 0.0, 1.0)";
        case D3DTOP_ADDSIGNED: return "clamp(" + a1 + " + " + a2 + " - 0.5, 0.0, 1.0)";
        case D3DTOP_ADDSIGNED2X: return "clamp(2.0 * (" + a1 + " + " + a2 + " - 0.5), 0.0, 1.0)";
        case D3DTOP_SUBTRACT: return "clamp(" + a1 + " - " + a2 + ", 0.0, 1.0)";
        case D3DTOP_ADDSMOOTH: return "clamp(" + a1 + " + " + a2 + " - " + a1 + " * " + a2 + ", 0.0, 1.0)";
        case D3DTOP_BLENDDIFFUSEALPHA: return "mix(" + a2 + ", " + a1 + ", vsD0.a)";
        case D3DTOP_BLENDTEXTUREALPHA: return "mix(" + a2 + ", " + a1 + ", " + tex + ".a)";
        case D3DTOP_BLENDFACTORALPHA: return "mix(" + a2 + ", " + a1 + ", uTFactor.a)";
        case D3DTOP_BLENDTEXTUREALPHAPM: return "clamp(" + a1 + " + " + a2 + " * (1.0 - " + tex + ".a), 0.0, 1.0)";
        case D3DTOP_BLENDCURRENTALPHA: return "mix(" + a2 + ", " + a1 + ", current.a)";
        case D3DTOP_MODULATEALPHA_ADDCOLOR: return "clamp(" + a1 + " + " + a1 + ".a * " + a2 + ", 0.0, 1.0)";
        case D3DTOP_MODULATECOLOR_ADDALPHA: return "clamp(" + a1 + " * " + a2 + " + " + a1 + ".a, 0.0, 1.0)";
        case D3DTOP_MODULATEINVALPHA_ADDCOLOR:
            return "clamp(" + a1 + " + (1.0 - " + a1 + ".a) * " + a2 + ", 0.0, 1.0)";
        case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
            return "clamp((vec4(1.0) - " + a1 + ") * " + a2 + " + " + a1 + ".a, 0.0, 1.0)";
        case D3DTOP_DOTPRODUCT3:
            return "vec4(clamp(4.0 * dot(" + a1 + ".rgb - 0.5, " + a2 + ".rgb - 0.5), 0.0, 1.0))";
        default: return "current";  // operations that need what the device has not (bump maps, premodulate)
    }
}

}  // namespace

std::string FragmentGlsl(const FragmentKey& key) {
    std::string s = "#version 330 core\n";
    s += kVaryingsIn;
    for (int i = 0; i < key.stageCount; ++i) s += "uniform sampler2D uTex" + std::to_string(i) + ";\n";
    s += "uniform vec4 uTFactor;\nuniform vec4 uFogColor;\nuniform float uAlphaRef;\nout vec4 oColor;\n"
         "void main() {\n"
         "    vec4 current = vsD0;\n"
         "    vec4 temp = vec4(0.0);\n";
    for (int i = 0; i < key.stageCount; ++i) {
        const StageKey& st = key.stages[static_cast<std::size_t>(i)];
        const std::string n = std::to_string(i);
        s += "    {\n";
        s += "        vec4 tex" + n + " = texture(uTex" + n + ", vsT" + std::to_string(st.texCoordIndex & 7) + ".xy);\n";
        const std::string colour =
            Operation(st.colorOp, Arg(st.colorArg1, i, false), Arg(st.colorArg2, i, false), i);
        // A disabled alpha operation passes the current alpha on.
        const std::string alpha = st.alphaOp == D3DTOP_DISABLE
                                      ? std::string("current")
                                      : Operation(st.alphaOp, Arg(st.alphaArg1, i, true), Arg(st.alphaArg2, i, true), i);
        const std::string target = st.resultTemp ? "temp" : "current";
        s += "        vec4 c = " + colour + ";\n";
        s += "        vec4 a = " + alpha + ";\n";
        s += "        " + target + " = vec4(c.rgb, a.a);\n";
        s += "    }\n";
    }
    if (key.specular) s += "    current.rgb = clamp(current.rgb + vsD1.rgb, 0.0, 1.0);\n";
    if (key.alphaFunc != D3DCMP_ALWAYS) {
        static const char* const kTests[] = {"", "false", "a < r", "a == r", "a <= r", "a > r", "a != r", "a >= r"};
        const char* test = key.alphaFunc < 8 ? kTests[key.alphaFunc] : "true";
        s += "    { float a = floor(current.a * 255.0 + 0.5); float r = floor(uAlphaRef * 255.0 + 0.5);\n";
        s += std::string("      if (!(") + test + ")) discard; }\n";
    }
    if (key.fog) s += "    current.rgb = mix(uFogColor.rgb, current.rgb, clamp(vsFog, 0.0, 1.0));\n";
    s += "    oColor = current;\n}\n";
    return s;
}

std::uint32_t FragmentVaryings(const FragmentKey& key) {
    std::uint32_t varyings = key.specular ? kVaryingSpecular : 0u;
    if (key.fog) varyings |= kVaryingFog;
    auto specular = [](std::uint8_t arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_SPECULAR; };
    for (int i = 0; i < key.stageCount; ++i) {
        const StageKey& st = key.stages[static_cast<std::size_t>(i)];
        // Every stage that runs samples its texture.
        varyings |= kVaryingTexCoord0 << (st.texCoordIndex & 7u);
        if (specular(st.colorArg1) || specular(st.colorArg2) || specular(st.alphaArg1) || specular(st.alphaArg2))
            varyings |= kVaryingSpecular;
    }
    return varyings;
}

std::string SoftwareVertexGlsl(std::uint32_t varyings) {
    std::string s = "#version 330 core\n"
                    "layout(location = 0) in vec4 sPos;\n"
                    "layout(location = 1) in vec4 sD0;\n";
    if (varyings & kVaryingSpecular) s += "layout(location = 2) in vec4 sD1;\n";
    if (varyings & kVaryingFog) s += "layout(location = 3) in float sFog;\n";
    for (UINT t = 0; t < 8; ++t)
        if (varyings & (kVaryingTexCoord0 << t))
            s += "layout(location = " + std::to_string(4 + t) + ") in vec4 sT" + std::to_string(t) + ";\n";
    s += "uniform bool uClipControl;\n";
    s += kVaryingsOut;
    s += "void main() {\n"
         "    gl_Position = uClipControl ? sPos : vec4(sPos.x, sPos.y, 2.0 * sPos.z - sPos.w, sPos.w);\n"
         "    vsD0 = sD0;\n";
    s += (varyings & kVaryingSpecular) ? "    vsD1 = sD1;\n" : "    vsD1 = vec4(0.0);\n";
    for (UINT t = 0; t < 8; ++t) {
        const std::string n = std::to_string(t);
        s += (varyings & (kVaryingTexCoord0 << t)) ? "    vsT" + n + " = sT" + n + ";\n" : "    vsT" + n + " = vec4(0.0);\n";
    }
    s += (varyings & kVaryingFog) ? "    vsFog = sFog;\n" : "    vsFog = 1.0;\n";
    s += "}\n";
    return s;
}

namespace {

// FNV-1a, one field value at a time.
class FieldHash {
public:
    FieldHash& Add(std::uint64_t value) {
        for (int i = 0; i < 8; ++i) m_h = (m_h ^ ((value >> (8 * i)) & 0xFFu)) * 1099511628211ull;
        return *this;
    }
    std::size_t Value() const { return static_cast<std::size_t>(m_h); }

private:
    std::uint64_t m_h = 1469598103934665603ull;
};

void AddFields(FieldHash& h, const FixedVertexKey& key) {
    h.Add(key.fvf).Add(key.lighting).Add(key.colorVertex).Add(key.diffuseSource).Add(key.ambientSource);
    h.Add(key.emissiveSource).Add(key.fogLinear);
}

void AddFields(FieldHash& h, const FragmentKey& key) {
    for (const StageKey& st : key.stages) {
        h.Add(st.colorOp).Add(st.colorArg1).Add(st.colorArg2).Add(st.alphaOp).Add(st.alphaArg1).Add(st.alphaArg2);
        h.Add(st.texCoordIndex).Add(st.resultTemp);
    }
    h.Add(key.stageCount).Add(key.specular).Add(key.fog).Add(key.alphaFunc);
}

}  // namespace

std::size_t HashOf(const FixedVertexKey& key) {
    FieldHash h;
    AddFields(h, key);
    return h.Value();
}

std::size_t HashOf(const FragmentKey& key) {
    FieldHash h;
    AddFields(h, key);
    return h.Value();
}

std::size_t HashOf(const ProgramKey& key) {
    FieldHash h;
    h.Add(static_cast<std::uint8_t>(key.vertex)).Add(key.id);
    AddFields(h, key.fixed);
    AddFields(h, key.fragment);
    return h.Value();
}
