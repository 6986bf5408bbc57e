#include "gfx/VertexProgramGlsl.h"

#include <bit>
#include <cstdio>

namespace {

// Helpers shared by every translated program. Each matches the interpreter's
// handling of the same instruction, special values included.
constexpr const char* kHelpers = R"(float vpInf() { return uintBitsToFloat(0x7F800000u); }
float vpReduced(float v) { return uintBitsToFloat(floatBitsToUint(v) & 0xFFFFFF00u); }
int vpAddress(float x) {
    float f = floor(x);
    return (f >= -1048576.0 && f <= 1048576.0) ? int(f) : -1048576;
}
vec4 vpRcp(float f) { return vec4(f == 1.0 ? 1.0 : (f == 0.0 ? vpInf() : 1.0 / f)); }
vec4 vpRsq(float x) {
    float f = abs(x);
    return vec4(f == 1.0 ? 1.0 : (f == 0.0 ? vpInf() : inversesqrt(f)));
}
vec4 vpLog(float x) {
    float f = abs(x);
    return vec4(f != 0.0 ? log2(f) : -vpInf());
}
vec4 vpLit(vec4 s) {
    vec4 d = vec4(1.0, 0.0, 0.0, 1.0);
    float power = s.w;
    if (power < -127.9961) power = -127.9961;
    else if (power > 127.9961) power = 127.9961;
    if (s.x > 0.0) {
        d.y = s.x;
        if (s.y > 0.0) d.z = pow(s.y, power);
    }
    return d;
}
vec4 vpExpp(float w) {
    float v = floor(w);
    return vec4(exp2(v), w - v, vpReduced(exp2(w)), 1.0);
}
vec4 vpLogp(float x) {
    float v = abs(x);
    if (v == 0.0) return vec4(-vpInf(), 1.0, -vpInf(), 1.0);
    uint bits = floatBitsToUint(v);
    return vec4(float(int(bits >> 23) - 127), uintBitsToFloat((bits & 0x007FFFFFu) | 0x3F800000u),
                vpReduced(log2(v)), 1.0);
}
)";

constexpr char kComponents[] = "xyzw";

std::string Hex(DWORD v) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08Xu", static_cast<unsigned>(v));
    return buffer;
}

// A float exactly, whatever its value.
std::string ExactFloat(float f) { return "uintBitsToFloat(" + Hex(std::bit_cast<DWORD>(f)) + ")"; }

std::string ExactVector(const VpVector& v) {
    return "vec4(" + ExactFloat(v[0]) + ", " + ExactFloat(v[1]) + ", " + ExactFloat(v[2]) + ", " + ExactFloat(v[3]) +
           ")";
}

class Translator {
public:
    explicit Translator(const VertexProgram& program) : m_Program(program) {}

    std::string Run() {
        m_Text = "#version 330 core\n";
        m_Text += m_Program.version == D3DVS_VERSION(1, 0) ? "// vs.1.0\n" : "// vs.1.1\n";
        for (DWORD n = 0; n < kVpInputRegisters; ++n)
            if (m_Program.inputsRead & (1u << n))
                m_Text += "layout(location = " + std::to_string(n) + ") in vec4 v" + std::to_string(n) + ";\n";
        m_Text += "uniform vec4 c[96];\nuniform bool uClipControl;\n";
        m_Text += "out vec4 vsD0;\nout vec4 vsD1;\n";
        for (DWORD n = 0; n < kVpTexCoordOutputs; ++n) m_Text += "out vec4 vsT" + std::to_string(n) + ";\n";
        m_Text += "out float vsFog;\n\n";
        m_Text += kHelpers;
        EmitConstantReader();

        m_Text += "\nvoid main() {\n";
        for (DWORD n = 0; n < kVpTempRegisters; ++n)
            if (m_Program.tempsUsed & (1u << n)) m_Text += "    vec4 r" + std::to_string(n) + " = vec4(0.0);\n";
        m_Text += "    int a0 = 0;\n";
        m_Text += "    vec4 oPos = vec4(0.0, 0.0, 0.0, 1.0);\n";
        m_Text += "    vec4 oD0 = vec4(1.0);\n    vec4 oD1 = vec4(0.0);\n";
        for (DWORD n = 0; n < kVpTexCoordOutputs; ++n) m_Text += "    vec4 oT" + std::to_string(n) + " = vec4(0.0);\n";
        m_Text += "    vec4 oFog = vec4(1.0);\n    vec4 oPts = vec4(1.0);\n";
        m_Text += "    vec4 t;\n";
        for (const VpInstruction& ins : m_Program.instructions) Emit(ins);
        m_Text +=
            "    gl_Position = uClipControl ? oPos : vec4(oPos.x, oPos.y, 2.0 * oPos.z - oPos.w, oPos.w);\n"
            "    vsD0 = clamp(oD0, 0.0, 1.0);\n"
            "    vsD1 = clamp(oD1, 0.0, 1.0);\n";
        for (DWORD n = 0; n < kVpTexCoordOutputs; ++n)
            m_Text += "    vsT" + std::to_string(n) + " = oT" + std::to_string(n) + ";\n";
        m_Text += "    vsFog = oFog.x;\n";
        if (m_Program.outputsWritten & (1u << kVpOutPointSize)) m_Text += "    gl_PointSize = oPts.x;\n";
        m_Text += "}\n";
        return std::move(m_Text);
    }

private:
    // vpConst(i): c[i] with the program's own definitions in place, and
    // (0, 0, 0, 0) outside c0..c95, for relative reads.
    void EmitConstantReader() {
        m_Text += "vec4 vpConst(int i) {\n    if (i < 0 || i >= 96) return vec4(0.0);\n";
        for (DWORD n = 0; n < kVpConstRegisters; ++n)
            if (m_Program.defined.test(n))
                m_Text += "    if (i == " + std::to_string(n) + ") return " + ExactVector(m_Program.definedConstants[n]) +
                          ";\n";
        m_Text += "    return c[i];\n}\n";
    }

    // The register a source names, row `row` of a matrix operand.
    std::string Register(const VpSourceParam& s, DWORD row) const {
        const DWORD n = s.number + row;
        switch (s.type) {
        case D3DSPR_TEMP: return "r" + std::to_string(n);
        case D3DSPR_INPUT: return "v" + std::to_string(n);
        case D3DSPR_CONST:
            if (s.relative) return "vpConst(a0 + " + std::to_string(n) + ")";
            if (n < kVpConstRegisters && m_Program.defined.test(n)) return ExactVector(m_Program.definedConstants[n]);
            return "c[" + std::to_string(n) + "]";
        default: return "vec4(0.0)";
        }
    }

    std::string Source(const VpSourceParam& s, DWORD row = 0) const {
        std::string text = Register(s, row);
        if (!(s.swizzle[0] == 0 && s.swizzle[1] == 1 && s.swizzle[2] == 2 && s.swizzle[3] == 3)) {
            text += '.';
            for (int k = 0; k < 4; ++k) text += kComponents[s.swizzle[k] & 3u];
        }
        return s.negate ? "(-" + text + ")" : text;
    }

    // The one component a scalar operation reads: the one the swizzle puts in w.
    std::string Scalar(const VpSourceParam& s) const {
        std::string text = Register(s, 0) + "." + kComponents[s.swizzle[3] & 3u];
        return s.negate ? "(-" + text + ")" : text;
    }

    std::string Matrix(const VpInstruction& ins, const VpOpcodeInfo& info) const {
        const std::string v = Source(ins.src[0]);
        std::string text = "vec4(";
        for (DWORD row = 0; row < 4; ++row) {
            if (row) text += ", ";
            if (row >= info.matrixRows) {
                text += "0.0";
            } else if (info.matrixColumns == 4) {
                text += "dot(" + v + ", " + Source(ins.src[1], row) + ")";
            } else {
                text += "dot((" + v + ").xyz, (" + Source(ins.src[1], row) + ").xyz)";
            }
        }
        return text + ")";
    }

    void Emit(const VpInstruction& ins) {
        const VpOpcodeInfo* info = VpFindOpcode(ins.opcode);
        if (!info || !info->hasDest) return;
        const std::string a = info->sources > 0 ? Source(ins.src[0]) : std::string();
        const std::string b = info->sources > 1 ? Source(ins.src[1]) : std::string();
        const std::string c = info->sources > 2 ? Source(ins.src[2]) : std::string();

        std::string value;
        switch (ins.opcode) {
        case D3DSIO_MOV: value = a; break;
        case D3DSIO_ADD: value = a + " + " + b; break;
        case D3DSIO_SUB: value = a + " - " + b; break;
        case D3DSIO_MUL: value = a + " * " + b; break;
        case D3DSIO_MAD: value = a + " * " + b + " + " + c; break;
        case D3DSIO_RCP: value = "vpRcp(" + Scalar(ins.src[0]) + ")"; break;
        case D3DSIO_RSQ: value = "vpRsq(" + Scalar(ins.src[0]) + ")"; break;
        case D3DSIO_DP3: value = "vec4(dot((" + a + ").xyz, (" + b + ").xyz))"; break;
        case D3DSIO_DP4: value = "vec4(dot(" + a + ", " + b + "))"; break;
        case D3DSIO_MIN: value = "mix(" + b + ", " + a + ", lessThan(" + a + ", " + b + "))"; break;
        case D3DSIO_MAX: value = "mix(" + b + ", " + a + ", greaterThanEqual(" + a + ", " + b + "))"; break;
        case D3DSIO_SLT: value = "vec4(lessThan(" + a + ", " + b + "))"; break;
        case D3DSIO_SGE: value = "vec4(greaterThanEqual(" + a + ", " + b + "))"; break;
        case D3DSIO_EXP: value = "vec4(exp2(" + Scalar(ins.src[0]) + "))"; break;
        case D3DSIO_LOG: value = "vpLog(" + Scalar(ins.src[0]) + ")"; break;
        case D3DSIO_LIT: value = "vpLit(" + a + ")"; break;
        case D3DSIO_DST: value = "vec4(1.0, (" + a + ").y * (" + b + ").y, (" + a + ").z, (" + b + ").w)"; break;
        case D3DSIO_FRC: value = a + " - floor(" + a + ")"; break;
        case D3DSIO_M4x4:
        case D3DSIO_M4x3:
        case D3DSIO_M3x4:
        case D3DSIO_M3x3:
        case D3DSIO_M3x2: value = Matrix(ins, *info); break;
        case D3DSIO_EXPP: value = "vpExpp(" + Scalar(ins.src[0]) + ")"; break;
        case D3DSIO_LOGP: value = "vpLogp(" + Scalar(ins.src[0]) + ")"; break;
        default: return;  // nop, def
        }
        m_Text += "    t = " + value + ";\n";

        const DWORD mask = ins.dest.writeMask & info->resultMask;
        if (mask == 0) return;
        if (ins.dest.type == D3DSPR_ADDR) {
            if (mask & 1u) m_Text += "    a0 = vpAddress(t.x);\n";
            return;
        }
        std::string dest;
        switch (ins.dest.type) {
        case D3DSPR_TEMP: dest = "r" + std::to_string(ins.dest.number); break;
        case D3DSPR_RASTOUT:
            dest = ins.dest.number == D3DSRO_POSITION ? "oPos" : ins.dest.number == D3DSRO_FOG ? "oFog" : "oPts";
            break;
        case D3DSPR_ATTROUT: dest = "oD" + std::to_string(ins.dest.number); break;
        case D3DSPR_TEXCRDOUT: dest = "oT" + std::to_string(ins.dest.number); break;
        default: return;
        }
        std::string components;
        for (int k = 0; k < 4; ++k)
            if (mask & (1u << k)) components += kComponents[k];
        if (components.size() == 4) m_Text += "    " + dest + " = t;\n";
        else m_Text += "    " + dest + "." + components + " = t." + components + ";\n";
    }

    const VertexProgram& m_Program;
    std::string m_Text;
};

}  // namespace

std::string TranslateVertexProgramToGlsl(const VertexProgram& program) { return Translator(program).Run(); }
