#include "gfx/VertexProgram.h"

#include <algorithm>
#include <bit>

namespace {

constexpr DWORD kVersion10 = D3DVS_VERSION(1, 0);
constexpr DWORD kVersion11 = D3DVS_VERSION(1, 1);

// name, sources, dest, scalar, matrix rows, matrix columns, result mask
constexpr VpOpcodeInfo kOpcodes[] = {
    {D3DSIO_NOP, "nop", 0, false, false, 0, 0, 0x0},
    {D3DSIO_MOV, "mov", 1, true, false, 0, 0, 0xF},
    {D3DSIO_ADD, "add", 2, true, false, 0, 0, 0xF},
    {D3DSIO_SUB, "sub", 2, true, false, 0, 0, 0xF},
    {D3DSIO_MAD, "mad", 3, true, false, 0, 0, 0xF},
    {D3DSIO_MUL, "mul", 2, true, false, 0, 0, 0xF},
    {D3DSIO_RCP, "rcp", 1, true, true, 0, 0, 0xF},
    {D3DSIO_RSQ, "rsq", 1, true, true, 0, 0, 0xF},
    {D3DSIO_DP3, "dp3", 2, true, false, 0, 0, 0xF},
    {D3DSIO_DP4, "dp4", 2, true, false, 0, 0, 0xF},
    {D3DSIO_MIN, "min", 2, true, false, 0, 0, 0xF},
    {D3DSIO_MAX, "max", 2, true, false, 0, 0, 0xF},
    {D3DSIO_SLT, "slt", 2, true, false, 0, 0, 0xF},
    {D3DSIO_SGE, "sge", 2, true, false, 0, 0, 0xF},
    {D3DSIO_EXP, "exp", 1, true, true, 0, 0, 0xF},
    {D3DSIO_LOG, "log", 1, true, true, 0, 0, 0xF},
    {D3DSIO_LIT, "lit", 1, true, false, 0, 0, 0xF},
    {D3DSIO_DST, "dst", 2, true, false, 0, 0, 0xF},
    {D3DSIO_FRC, "frc", 1, true, false, 0, 0, 0x3},
    {D3DSIO_M4x4, "m4x4", 2, true, false, 4, 4, 0xF},
    {D3DSIO_M4x3, "m4x3", 2, true, false, 3, 4, 0x7},
    {D3DSIO_M3x4, "m3x4", 2, true, false, 4, 3, 0xF},
    {D3DSIO_M3x3, "m3x3", 2, true, false, 3, 3, 0x7},
    {D3DSIO_M3x2, "m3x2", 2, true, false, 2, 3, 0x3},
    {D3DSIO_EXPP, "expp", 1, true, true, 0, 0, 0xF},
    {D3DSIO_LOGP, "logp", 1, true, true, 0, 0, 0xF},
    {D3DSIO_DEF, "def", 0, true, false, 0, 0, 0xF},
};

// Registers in a readable file, or 0 when the file cannot be read.
DWORD ReadableCount(D3DSHADER_PARAM_REGISTER_TYPE type) {
    switch (type) {
    case D3DSPR_TEMP: return kVpTempRegisters;
    case D3DSPR_INPUT: return kVpInputRegisters;
    case D3DSPR_CONST: return kVpConstRegisters;
    default: return 0;
    }
}

// Registers in a writable file, or 0 when the file cannot be written.
DWORD WritableCount(D3DSHADER_PARAM_REGISTER_TYPE type) {
    switch (type) {
    case D3DSPR_TEMP: return kVpTempRegisters;
    case D3DSPR_ADDR: return 1;
    case D3DSPR_RASTOUT: return 3;
    case D3DSPR_ATTROUT: return kVpColorOutputs;
    case D3DSPR_TEXCRDOUT: return kVpTexCoordOutputs;
    default: return 0;
    }
}

bool IsOutput(D3DSHADER_PARAM_REGISTER_TYPE type) {
    return type == D3DSPR_RASTOUT || type == D3DSPR_ATTROUT || type == D3DSPR_TEXCRDOUT;
}

bool SameRegister(const VpSourceParam& a, const VpSourceParam& b) {
    return a.type == b.type && a.number == b.number && a.relative == b.relative;
}

bool IdentitySwizzle(const VpSourceParam& s) {
    return s.swizzle[0] == 0 && s.swizzle[1] == 1 && s.swizzle[2] == 2 && s.swizzle[3] == 3;
}

bool DecodeDest(DWORD token, VpDestParam& dest) {
    // Bit 31 set; no relative addressing, result modifier or shift on a
    // vs.1.x destination.
    if ((token & D3DSP_TOKEN_BIT) == 0) return false;
    if ((token & 0x0FF0F800u) != 0) return false;
    dest.type = static_cast<D3DSHADER_PARAM_REGISTER_TYPE>((token & D3DSP_REGTYPE_MASK) >> D3DSP_REGTYPE_SHIFT);
    dest.number = token & D3DSP_REGNUM_MASK;
    dest.writeMask = (token & D3DSP_WRITEMASK_ALL) >> D3DSP_WRITEMASK_SHIFT;
    return dest.type <= D3DSPR_TEXCRDOUT;
}

bool DecodeSource(DWORD token, VpSourceParam& src) {
    if ((token & D3DSP_TOKEN_BIT) == 0) return false;
    if ((token & 0x0000D800u) != 0) return false;  // bits 11, 12, 14, 15
    DWORD modifier = token & D3DSP_SRCMOD_MASK;
    if (modifier != D3DSPSM_NONE && modifier != D3DSPSM_NEG) return false;
    src.type = static_cast<D3DSHADER_PARAM_REGISTER_TYPE>((token & D3DSP_REGTYPE_MASK) >> D3DSP_REGTYPE_SHIFT);
    src.number = token & D3DSP_REGNUM_MASK;
    DWORD swizzle = (token & D3DVS_SWIZZLE_MASK) >> D3DVS_SWIZZLE_SHIFT;
    for (int i = 0; i < 4; ++i) src.swizzle[i] = static_cast<BYTE>((swizzle >> (2 * i)) & 3u);
    src.negate = modifier == D3DSPSM_NEG;
    src.relative = (token & D3DVS_ADDRMODE_RELATIVE) != 0;
    return src.type <= D3DSPR_TEXCRDOUT;
}

// Tokens that follow an instruction token: its parameters (and a def's values).
DWORD ParameterCount(const VpOpcodeInfo& info) {
    if (info.opcode == D3DSIO_DEF) return 5;
    return (info.hasDest ? 1u : 0u) + info.sources;
}

DWORD OutputBit(const VpDestParam& dest) {
    switch (dest.type) {
    case D3DSPR_RASTOUT: return 1u << dest.number;  // position, fog, point size
    case D3DSPR_ATTROUT: return 1u << (kVpOutDiffuse + dest.number);
    case D3DSPR_TEXCRDOUT: return 1u << (kVpOutTexCoord0 + dest.number);
    default: return 0;
    }
}

// Opcode -> index into kOpcodes (-1 for none), for a lookup in constant time:
// the interpreter asks once per instruction and vertex.
constexpr std::size_t kOpcodeIndexSize = D3DSIO_DEF + 1;
constexpr std::array<signed char, kOpcodeIndexSize> MakeOpcodeIndex() {
    std::array<signed char, kOpcodeIndexSize> index{};
    for (auto& i : index) i = -1;
    for (std::size_t i = 0; i < std::size(kOpcodes); ++i) index[kOpcodes[i].opcode] = static_cast<signed char>(i);
    return index;
}
constexpr auto kOpcodeIndex = MakeOpcodeIndex();

}  // namespace

const VpOpcodeInfo* VpFindOpcode(DWORD opcode) {
    if (opcode >= kOpcodeIndexSize || kOpcodeIndex[opcode] < 0) return nullptr;
    return &kOpcodes[static_cast<std::size_t>(kOpcodeIndex[opcode])];
}

std::span<const VpOpcodeInfo> VpOpcodeTable() { return kOpcodes; }

const char* VpCheckInstruction(const VpInstruction& ins, DWORD version) {
    const VpOpcodeInfo* info = VpFindOpcode(ins.opcode);
    if (!info) return "unknown instruction";
    const bool v11 = version == kVersion11;

    if (ins.opcode == D3DSIO_DEF) {
        if (ins.dest.type != D3DSPR_CONST || ins.dest.number >= kVpConstRegisters)
            return "def needs a constant register c0..c95";
        if (ins.dest.writeMask != 0xF) return "def defines all four components";
        return nullptr;
    }

    if (info->hasDest) {
        const VpDestParam& d = ins.dest;
        if (d.type == D3DSPR_INPUT) return "input registers cannot be written";
        if (d.type == D3DSPR_CONST) return "constant registers cannot be written";
        DWORD count = WritableCount(d.type);
        if (count == 0) return "invalid destination register";
        if (d.number >= count) return "destination register number out of range";
        if (d.writeMask == 0 || d.writeMask > 0xF) return "invalid write mask";
        if (d.type == D3DSPR_ADDR) {
            if (!v11) return "the address register needs vs.1.1";
            if (ins.opcode != D3DSIO_MOV) return "only mov can write the address register";
            if (d.writeMask != 0x1) return "the address register is written as a0.x";
        }
    }

    int constIndex = -1;
    int inputIndex = -1;
    for (int i = 0; i < info->sources; ++i) {
        const VpSourceParam& s = ins.src[i];
        if (IsOutput(s.type)) return "output registers cannot be read";
        if (s.type == D3DSPR_ADDR) return "the address register can only be read as c[a0.x + n]";
        DWORD count = ReadableCount(s.type);
        if (count == 0) return "invalid source register";
        if (s.relative) {
            if (s.type != D3DSPR_CONST) return "relative addressing applies to constant registers only";
            if (!v11) return "relative addressing needs vs.1.1";
        }
        if (s.number >= count) return "source register number out of range";
        for (int k = 0; k < 4; ++k)
            if (s.swizzle[k] > 3) return "invalid swizzle";
        const bool matrixOperand = info->matrixRows != 0 && i == 1;
        if (matrixOperand) {
            if (s.negate || !IdentitySwizzle(s)) return "the matrix operand takes no swizzle or negation";
            if (!s.relative && s.number + info->matrixRows > count)
                return "the matrix rows run past the last register";
        }
        if (s.type == D3DSPR_CONST) {
            if (constIndex >= 0 && !SameRegister(ins.src[constIndex], s))
                return "only one constant register can be read per instruction";
            constIndex = i;
        }
        if (s.type == D3DSPR_INPUT) {
            if (inputIndex >= 0 && !SameRegister(ins.src[inputIndex], s))
                return "only one input register can be read per instruction";
            inputIndex = i;
        }
    }
    return nullptr;
}

DWORD VpEncodeDest(const VpDestParam& dest) {
    return D3DSP_TOKEN_BIT | ((static_cast<DWORD>(dest.type) << D3DSP_REGTYPE_SHIFT) & D3DSP_REGTYPE_MASK) |
           ((dest.writeMask << D3DSP_WRITEMASK_SHIFT) & D3DSP_WRITEMASK_ALL) | (dest.number & D3DSP_REGNUM_MASK);
}

DWORD VpEncodeSource(const VpSourceParam& src) {
    DWORD swizzle = 0;
    for (int i = 0; i < 4; ++i) swizzle |= static_cast<DWORD>(src.swizzle[i] & 3u) << (2 * i);
    return D3DSP_TOKEN_BIT | ((static_cast<DWORD>(src.type) << D3DSP_REGTYPE_SHIFT) & D3DSP_REGTYPE_MASK) |
           (swizzle << D3DVS_SWIZZLE_SHIFT) | (src.negate ? D3DSPSM_NEG : D3DSPSM_NONE) |
           (src.relative ? D3DVS_ADDRMODE_RELATIVE : 0u) | (src.number & D3DSP_REGNUM_MASK);
}

HRESULT DecodeVertexProgram(std::span<const DWORD> tokens, VertexProgram& out) {
    out = VertexProgram{};
    VertexProgram program;
    auto fail = [&out]() {
        out = VertexProgram{};
        return D3DERR_INVALIDCALL;
    };

    if (tokens.empty()) return fail();
    program.version = tokens[0];
    if (program.version != kVersion10 && program.version != kVersion11) return fail();

    std::size_t pos = 1;
    for (;;) {
        if (pos >= tokens.size()) return fail();  // no end token
        const DWORD token = tokens[pos++];
        if (token == D3DVS_END()) break;
        if ((token & D3DSI_OPCODE_MASK) == D3DSIO_COMMENT) {
            if ((token & 0x80000000u) != 0) return fail();
            const std::size_t length = (token & D3DSI_COMMENTSIZE_MASK) >> D3DSI_COMMENTSIZE_SHIFT;
            if (length > tokens.size() - pos) return fail();
            pos += length;
            continue;
        }
        if ((token & ~D3DSI_OPCODE_MASK) != 0) return fail();
        const VpOpcodeInfo* info = VpFindOpcode(token);
        if (!info) return fail();
        if (ParameterCount(*info) > tokens.size() - pos) return fail();

        VpInstruction ins;
        ins.opcode = info->opcode;
        if (info->hasDest && !DecodeDest(tokens[pos++], ins.dest)) return fail();
        if (info->opcode == D3DSIO_DEF) {
            for (int k = 0; k < 4; ++k) ins.value[k] = std::bit_cast<float>(tokens[pos++]);
        } else {
            for (int i = 0; i < info->sources; ++i)
                if (!DecodeSource(tokens[pos++], ins.src[i])) return fail();
        }
        if (VpCheckInstruction(ins, program.version) != nullptr) return fail();

        if (info->opcode == D3DSIO_DEF) {
            program.definedConstants[ins.dest.number] = ins.value;
            program.defined.set(ins.dest.number);
            continue;
        }
        if (program.instructions.size() >= kVpMaxInstructions) return fail();

        // What the program touches, for the translator's declarations.
        for (int i = 0; i < info->sources; ++i) {
            const VpSourceParam& s = ins.src[i];
            const DWORD rows = (info->matrixRows != 0 && i == 1) ? info->matrixRows : 1u;
            for (DWORD r = 0; r < rows; ++r) {
                if (s.type == D3DSPR_INPUT) program.inputsRead |= 1u << (s.number + r);
                if (s.type == D3DSPR_TEMP) program.tempsUsed |= 1u << (s.number + r);
            }
            if (s.relative) program.usesAddressRegister = true;
        }
        if (info->hasDest) {
            if (ins.dest.type == D3DSPR_TEMP) program.tempsUsed |= 1u << ins.dest.number;
            if (ins.dest.type == D3DSPR_ADDR) program.usesAddressRegister = true;
            program.outputsWritten |= OutputBit(ins.dest);
        }
        program.instructions.push_back(ins);
    }
    out = std::move(program);
    return S_OK;
}

std::size_t VertexProgramLength(const DWORD* function, std::size_t maxTokens) {
    if (function == nullptr || maxTokens == 0) return 0;
    std::size_t pos = 1;  // the version token
    while (pos < maxTokens) {
        const DWORD token = function[pos++];
        if (token == D3DVS_END()) return pos;
        if ((token & D3DSI_OPCODE_MASK) == D3DSIO_COMMENT) {
            const std::size_t length = (token & D3DSI_COMMENTSIZE_MASK) >> D3DSI_COMMENTSIZE_SHIFT;
            if (length > maxTokens - pos) return 0;
            pos += length;
            continue;
        }
        const VpOpcodeInfo* info = (token & ~D3DSI_OPCODE_MASK) == 0 ? VpFindOpcode(token) : nullptr;
        if (!info) return 0;
        const std::size_t params = ParameterCount(*info);
        if (params > maxTokens - pos) return 0;
        pos += params;
    }
    return 0;
}
