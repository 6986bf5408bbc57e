// Vertex programs, versions 1.0 and 1.1: Direct3D 8's token format and the
// decoded instruction form.
//
// A program is a stream of 32-bit tokens: the version token (0xFFFE0100 for
// vs.1.0, 0xFFFE0101 for vs.1.1), then instructions, comments and constant
// definitions, then the end token 0x0000FFFF. An instruction token carries the
// opcode in its low 16 bits and is followed by one destination parameter token
// and its source parameter tokens (none for nop). A comment token (0xFFFE in
// the low word, its length in DWORDs in bits 16-30) is followed by that many
// DWORDs of free text. A constant definition (def) is followed by a
// destination token naming a constant register and four raw floats.
//
// DecodeVertexProgram checks every token and turns the stream into a
// VertexProgram: a list of VpInstruction records in which every operand is
// spelled out (register file, number, swizzle, negation, relative address).
// The assembler produces it, and the CPU interpreter (VertexProgramInterp.h)
// and the GLSL translator (VertexProgramGlsl.h) both walk it with one handler
// per opcode, so the two execution paths read exactly the same program.
//
// Register files: inputs v0-v15, temporaries r0-r11, constants c0-c95, the
// address register a0 (x only, vs.1.1 only), and the write-only outputs oPos,
// oFog, oPts, oD0, oD1, oT0-oT7. A program has at most 128 instructions, each
// counted once as written (a matrix operation is one), def not counted.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <span>
#include <vector>

#include "gfx/D3D8Types.h"
#include "platform/Win32Types.h"

// ---------------------------------------------------------------------------
// Token format

enum D3DSHADER_INSTRUCTION_OPCODE_TYPE : DWORD {
    D3DSIO_NOP = 0,
    D3DSIO_MOV = 1,
    D3DSIO_ADD = 2,
    D3DSIO_SUB = 3,
    D3DSIO_MAD = 4,
    D3DSIO_MUL = 5,
    D3DSIO_RCP = 6,
    D3DSIO_RSQ = 7,
    D3DSIO_DP3 = 8,
    D3DSIO_DP4 = 9,
    D3DSIO_MIN = 10,
    D3DSIO_MAX = 11,
    D3DSIO_SLT = 12,
    D3DSIO_SGE = 13,
    D3DSIO_EXP = 14,
    D3DSIO_LOG = 15,
    D3DSIO_LIT = 16,
    D3DSIO_DST = 17,
    D3DSIO_FRC = 19,
    D3DSIO_M4x4 = 20,
    D3DSIO_M4x3 = 21,
    D3DSIO_M3x4 = 22,
    D3DSIO_M3x3 = 23,
    D3DSIO_M3x2 = 24,
    D3DSIO_EXPP = 78,
    D3DSIO_LOGP = 79,
    D3DSIO_DEF = 81,
    D3DSIO_COMMENT = 0xFFFE,
    D3DSIO_END = 0xFFFF,
};

enum D3DSHADER_PARAM_REGISTER_TYPE : DWORD {
    D3DSPR_TEMP = 0,
    D3DSPR_INPUT = 1,
    D3DSPR_CONST = 2,
    D3DSPR_ADDR = 3,
    D3DSPR_RASTOUT = 4,
    D3DSPR_ATTROUT = 5,
    D3DSPR_TEXCRDOUT = 6,
};

// Register numbers of the D3DSPR_RASTOUT file.
enum D3DVS_RASTOUT_OFFSETS : DWORD {
    D3DSRO_POSITION = 0,
    D3DSRO_FOG = 1,
    D3DSRO_POINT_SIZE = 2,
};

constexpr DWORD D3DSI_OPCODE_MASK = 0x0000FFFFu;
constexpr DWORD D3DSI_COMMENTSIZE_SHIFT = 16;
constexpr DWORD D3DSI_COMMENTSIZE_MASK = 0x7FFF0000u;

constexpr DWORD D3DSP_TOKEN_BIT = 0x80000000u;  // set on every parameter token
constexpr DWORD D3DSP_REGNUM_MASK = 0x000007FFu;
constexpr DWORD D3DSP_REGTYPE_SHIFT = 28;
constexpr DWORD D3DSP_REGTYPE_MASK = 0x70000000u;

constexpr DWORD D3DSP_WRITEMASK_0 = 0x00010000u;  // x
constexpr DWORD D3DSP_WRITEMASK_1 = 0x00020000u;  // y
constexpr DWORD D3DSP_WRITEMASK_2 = 0x00040000u;  // z
constexpr DWORD D3DSP_WRITEMASK_3 = 0x00080000u;  // w
constexpr DWORD D3DSP_WRITEMASK_ALL = 0x000F0000u;
constexpr DWORD D3DSP_WRITEMASK_SHIFT = 16;

constexpr DWORD D3DVS_SWIZZLE_SHIFT = 16;
constexpr DWORD D3DVS_SWIZZLE_MASK = 0x00FF0000u;
constexpr DWORD D3DVS_NOSWIZZLE = 0x00E40000u;  // .xyzw

constexpr DWORD D3DSP_SRCMOD_SHIFT = 24;
constexpr DWORD D3DSP_SRCMOD_MASK = 0x0F000000u;
constexpr DWORD D3DSPSM_NONE = 0x00000000u;
constexpr DWORD D3DSPSM_NEG = 0x01000000u;

constexpr DWORD D3DVS_ADDRMODE_RELATIVE = 0x00002000u;  // c[a0.x + n]

constexpr DWORD D3DVS_END() { return 0x0000FFFFu; }
constexpr DWORD D3DSHADER_COMMENT(DWORD dwords) {
    return ((dwords << D3DSI_COMMENTSIZE_SHIFT) & D3DSI_COMMENTSIZE_MASK) | D3DSIO_COMMENT;
}

// ---------------------------------------------------------------------------
// Limits

constexpr DWORD kVpMaxInstructions = 128;
constexpr DWORD kVpInputRegisters = 16;
constexpr DWORD kVpTempRegisters = 12;
constexpr DWORD kVpConstRegisters = 96;
constexpr DWORD kVpColorOutputs = 2;
constexpr DWORD kVpTexCoordOutputs = 8;

// ---------------------------------------------------------------------------
// Decoded form

using VpVector = std::array<float, 4>;

struct VpDestParam {
    D3DSHADER_PARAM_REGISTER_TYPE type = D3DSPR_TEMP;
    DWORD number = 0;
    DWORD writeMask = 0xF;  // bit 0 = x ... bit 3 = w
};

struct VpSourceParam {
    D3DSHADER_PARAM_REGISTER_TYPE type = D3DSPR_TEMP;
    DWORD number = 0;  // with relative addressing: the offset n of c[a0.x + n]
    std::array<BYTE, 4> swizzle{0, 1, 2, 3};  // component read into x, y, z, w
    bool negate = false;
    bool relative = false;
};

struct VpInstruction {
    D3DSHADER_INSTRUCTION_OPCODE_TYPE opcode = D3DSIO_NOP;
    VpDestParam dest;
    std::array<VpSourceParam, 3> src{};
    VpVector value{};  // def only: the four constants
};

// What an opcode takes and gives. Scalar operations (rcp, rsq, exp, log,
// expp, logp) read the component that the source swizzle selects for w (the
// one component of a replicate swizzle such as .x). Matrix operations take
// their rows from `matrixRows` consecutive registers starting at source 1,
// each a dot product over `matrixColumns` components.
struct VpOpcodeInfo {
    D3DSHADER_INSTRUCTION_OPCODE_TYPE opcode;
    const char* name;  // assembler mnemonic
    BYTE sources;
    bool hasDest;
    bool scalar;
    BYTE matrixRows;     // 0 unless a matrix operation
    BYTE matrixColumns;  // 3 or 4 for matrix operations
    DWORD resultMask;    // components the operation produces (bit 0 = x)
};

// Null for an opcode that vs.1.x does not have (comment and end included).
const VpOpcodeInfo* VpFindOpcode(DWORD opcode);
// The table of every instruction, def included, in opcode order.
std::span<const VpOpcodeInfo> VpOpcodeTable();

// Output registers as bits of VertexProgram::outputsWritten.
enum VpOutput : DWORD {
    kVpOutPosition = 0,
    kVpOutFog = 1,
    kVpOutPointSize = 2,
    kVpOutDiffuse = 3,   // oD0
    kVpOutSpecular = 4,  // oD1
    kVpOutTexCoord0 = 5, // oT0 .. oT7 are 5 .. 12
};

struct VertexProgram {
    DWORD version = 0;                        // 0xFFFE0100 or 0xFFFE0101
    std::vector<VpInstruction> instructions;  // in program order, def excluded
    // Constants fixed by def: they take the place of the device's constants of
    // the same registers while this program runs.
    std::array<VpVector, kVpConstRegisters> definedConstants{};
    std::bitset<kVpConstRegisters> defined;
    DWORD inputsRead = 0;       // bit n: vn is read (matrix rows included)
    DWORD tempsUsed = 0;        // bit n: rn is read or written
    DWORD outputsWritten = 0;   // bits of VpOutput
    bool usesAddressRegister = false;
};

// Checks the rules that a single instruction must meet beyond its token
// syntax: which registers it may read and write, a0 only as a0.x written by
// mov (and only in vs.1.1, relative addressing too), at most one constant and
// one input register read (Direct3D 8 hardware has one read port for each),
// matrix rows within their register file with no swizzle or negation on the
// matrix operand. Returns null when the instruction is valid, otherwise a
// message for the user. Shared by the decoder and the assembler.
const char* VpCheckInstruction(const VpInstruction& instruction, DWORD version);

// Parameter tokens of the decoded form (the instruction token is the opcode).
DWORD VpEncodeDest(const VpDestParam& dest);
DWORD VpEncodeSource(const VpSourceParam& src);

// Decodes a whole token stream, up to and including its end token. Tokens
// after the end token are ignored. Every token is checked; a malformed stream
// (unknown version or opcode, bad register file or number, bad modifiers,
// truncated parameters, more than 128 instructions, no end token within the
// span, or an instruction that breaks VpCheckInstruction) gives
// D3DERR_INVALIDCALL and leaves `out` empty. Never reads past the span.
HRESULT DecodeVertexProgram(std::span<const DWORD> tokens, VertexProgram& out);

// Number of DWORDs of the program that starts at `function`, end token
// included, found by walking its tokens without reading beyond `maxTokens`
// DWORDs; 0 when no well-formed walk reaches an end token. For callers that
// are given a bare pointer, as Direct3D's CreateVertexShader is.
std::size_t VertexProgramLength(const DWORD* function, std::size_t maxTokens);
