#include "gfx/VertexProgramInterp.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kMaxPower = 127.9961f;
constexpr int kAddressLimit = 1 << 20;

// Clears the low 8 mantissa bits: the reduced precision of expp and logp.
float Reduced(float v) { return std::bit_cast<float>(std::bit_cast<DWORD>(v) & 0xFFFFFF00u); }

class Machine {
public:
    Machine(const VertexProgram& program, std::span<const VpVector, kVpConstRegisters> constants,
            const std::array<VpVector, kVpInputRegisters>& inputs)
        : m_Program(program), m_Constants(constants), m_Inputs(inputs) {
        m_oPos = {0.0f, 0.0f, 0.0f, 1.0f};
        m_oD[0] = {1.0f, 1.0f, 1.0f, 1.0f};
        m_oFog = {1.0f, 0.0f, 0.0f, 0.0f};
        m_oPts = {1.0f, 0.0f, 0.0f, 0.0f};
    }

    void Run() {
        for (const VpInstruction& ins : m_Program.instructions) Execute(ins);
    }

    void Store(VertexProgramOutputs& out) const {
        out.oPos = m_oPos;
        for (DWORD i = 0; i < kVpColorOutputs; ++i)
            for (int k = 0; k < 4; ++k) out.oD[i][k] = std::clamp(m_oD[i][k], 0.0f, 1.0f);
        out.oT = m_oT;
        out.oFog = m_oFog[0];
        out.oPts = m_oPts[0];
    }

private:
    // The register a source names, row `row` of a matrix operand.
    VpVector Register(const VpSourceParam& s, DWORD row) const {
        static constexpr VpVector kZero{};
        switch (s.type) {
        case D3DSPR_TEMP: {
            const DWORD n = s.number + row;
            return n < kVpTempRegisters ? m_r[n] : kZero;
        }
        case D3DSPR_INPUT: {
            const DWORD n = s.number + row;
            return n < kVpInputRegisters ? m_Inputs[n] : kZero;
        }
        case D3DSPR_CONST: {
            const long long n = (s.relative ? static_cast<long long>(m_a0) : 0LL) + s.number + row;
            if (n < 0 || n >= static_cast<long long>(kVpConstRegisters)) return kZero;
            const auto index = static_cast<std::size_t>(n);
            return m_Program.defined.test(index) ? m_Program.definedConstants[index] : m_Constants[index];
        }
        default:
            return kZero;
        }
    }

    VpVector Fetch(const VpSourceParam& s, DWORD row = 0) const {
        const VpVector reg = Register(s, row);
        VpVector v;
        for (int k = 0; k < 4; ++k) v[k] = s.negate ? -reg[s.swizzle[k] & 3u] : reg[s.swizzle[k] & 3u];
        return v;
    }

    // The one component a scalar operation reads.
    float Scalar(const VpSourceParam& s) const { return Fetch(s)[3]; }

    static VpVector Splat(float f) { return {f, f, f, f}; }
    static float Dot3(const VpVector& a, const VpVector& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
    static float Dot4(const VpVector& a, const VpVector& b) {
        return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    }

    template <class F>
    static VpVector PerComponent(const VpVector& a, const VpVector& b, F f) {
        return {f(a[0], b[0]), f(a[1], b[1]), f(a[2], b[2]), f(a[3], b[3])};
    }

    VpVector Matrix(const VpInstruction& ins, const VpOpcodeInfo& info) const {
        const VpVector v = Fetch(ins.src[0]);
        VpVector result{};
        for (DWORD row = 0; row < info.matrixRows; ++row) {
            const VpVector m = Fetch(ins.src[1], row);
            result[row] = info.matrixColumns == 4 ? Dot4(v, m) : Dot3(v, m);
        }
        return result;
    }

    void Execute(const VpInstruction& ins) {
        const VpOpcodeInfo* info = VpFindOpcode(ins.opcode);
        if (!info || !info->hasDest) return;
        VpVector a{}, b{}, c{};
        if (info->sources > 0 && info->matrixRows == 0) a = Fetch(ins.src[0]);
        if (info->sources > 1 && info->matrixRows == 0) b = Fetch(ins.src[1]);
        if (info->sources > 2) c = Fetch(ins.src[2]);

        VpVector d{};
        switch (ins.opcode) {
        case D3DSIO_MOV: d = a; break;
        case D3DSIO_ADD: d = PerComponent(a, b, [](float x, float y) { return x + y; }); break;
        case D3DSIO_SUB: d = PerComponent(a, b, [](float x, float y) { return x - y; }); break;
        case D3DSIO_MUL: d = PerComponent(a, b, [](float x, float y) { return x * y; }); break;
        case D3DSIO_MAD:
            for (int k = 0; k < 4; ++k) d[k] = a[k] * b[k] + c[k];
            break;
        case D3DSIO_RCP: {
            const float f = a[3];
            d = Splat(f == 1.0f ? 1.0f : (f == 0.0f ? kInf : 1.0f / f));
            break;
        }
        case D3DSIO_RSQ: {
            const float f = std::fabs(a[3]);
            d = Splat(f == 1.0f ? 1.0f : (f == 0.0f ? kInf : 1.0f / std::sqrt(f)));
            break;
        }
        case D3DSIO_DP3: d = Splat(Dot3(a, b)); break;
        case D3DSIO_DP4: d = Splat(Dot4(a, b)); break;
        case D3DSIO_MIN: d = PerComponent(a, b, [](float x, float y) { return x < y ? x : y; }); break;
        case D3DSIO_MAX: d = PerComponent(a, b, [](float x, float y) { return x >= y ? x : y; }); break;
        case D3DSIO_SLT: d = PerComponent(a, b, [](float x, float y) { return x < y ? 1.0f : 0.0f; }); break;
        case D3DSIO_SGE: d = PerComponent(a, b, [](float x, float y) { return x >= y ? 1.0f : 0.0f; }); break;
        case D3DSIO_EXP: d = Splat(std::exp2(a[3])); break;
        case D3DSIO_LOG: {
            const float f = std::fabs(a[3]);
            d = Splat(f != 0.0f ? std::log2(f) : -kInf);
            break;
        }
        case D3DSIO_LIT: {
            d = {1.0f, 0.0f, 0.0f, 1.0f};
            float power = a[3];
            if (power < -kMaxPower) power = -kMaxPower;
            else if (power > kMaxPower) power = kMaxPower;
            if (a[0] > 0.0f) {
                d[1] = a[0];
                if (a[1] > 0.0f) d[2] = std::pow(a[1], power);
            }
            break;
        }
        case D3DSIO_DST: d = {1.0f, a[1] * b[1], a[2], b[3]}; break;
        case D3DSIO_FRC:
            for (int k = 0; k < 4; ++k) d[k] = a[k] - std::floor(a[k]);
            break;
        case D3DSIO_M4x4:
        case D3DSIO_M4x3:
        case D3DSIO_M3x4:
        case D3DSIO_M3x3:
        case D3DSIO_M3x2: d = Matrix(ins, *info); break;
        case D3DSIO_EXPP: {
            const float w = a[3];
            const float v = std::floor(w);
            d = {std::exp2(v), w - v, Reduced(std::exp2(w)), 1.0f};
            break;
        }
        case D3DSIO_LOGP: {
            const float v = std::fabs(a[3]);
            if (v == 0.0f) {
                d = {-kInf, 1.0f, -kInf, 1.0f};
            } else {
                const DWORD bits = std::bit_cast<DWORD>(v);
                d = {static_cast<float>(static_cast<int>(bits >> 23) - 127),
                     std::bit_cast<float>((bits & 0x007FFFFFu) | 0x3F800000u), Reduced(std::log2(v)), 1.0f};
            }
            break;
        }
        default: return;  // nop, def
        }
        Write(ins.dest, d, info->resultMask);
    }

    void Write(const VpDestParam& dest, const VpVector& value, DWORD resultMask) {
        VpVector* target = nullptr;
        switch (dest.type) {
        case D3DSPR_TEMP:
            if (dest.number < kVpTempRegisters) target = &m_r[dest.number];
            break;
        case D3DSPR_ADDR:
            if (dest.writeMask & 1u) m_a0 = VpAddressFromFloat(value[0]);
            return;
        case D3DSPR_RASTOUT:
            if (dest.number == D3DSRO_POSITION) target = &m_oPos;
            else if (dest.number == D3DSRO_FOG) target = &m_oFog;
            else if (dest.number == D3DSRO_POINT_SIZE) target = &m_oPts;
            break;
        case D3DSPR_ATTROUT:
            if (dest.number < kVpColorOutputs) target = &m_oD[dest.number];
            break;
        case D3DSPR_TEXCRDOUT:
            if (dest.number < kVpTexCoordOutputs) target = &m_oT[dest.number];
            break;
        default: break;
        }
        if (!target) return;
        const DWORD mask = dest.writeMask & resultMask;
        for (int k = 0; k < 4; ++k)
            if (mask & (1u << k)) (*target)[k] = value[k];
    }

    const VertexProgram& m_Program;
    std::span<const VpVector, kVpConstRegisters> m_Constants;
    const std::array<VpVector, kVpInputRegisters>& m_Inputs;
    std::array<VpVector, kVpTempRegisters> m_r{};
    int m_a0 = 0;
    VpVector m_oPos{};
    std::array<VpVector, kVpColorOutputs> m_oD{};
    std::array<VpVector, kVpTexCoordOutputs> m_oT{};
    VpVector m_oFog{};
    VpVector m_oPts{};
};

}  // namespace

int VpAddressFromFloat(float x) {
    const float f = std::floor(x);
    if (f >= -static_cast<float>(kAddressLimit) && f <= static_cast<float>(kAddressLimit)) return static_cast<int>(f);
    return -kAddressLimit;
}

void ExecuteVertexProgram(const VertexProgram& program, std::span<const VpVector, kVpConstRegisters> constants,
                          const std::array<VpVector, kVpInputRegisters>& inputs, VertexProgramOutputs& out) {
    Machine machine(program, constants, inputs);
    machine.Run();
    machine.Store(out);
}
