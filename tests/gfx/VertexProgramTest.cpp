// Vertex program text to tokens and tokens to the decoded form: the exact
// Direct3D 8 tokens of the assembler, its error lines, the decoder's checks of
// malformed streams, garbage of every kind, the D3DXBuffer and the resource
// entry point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gfx/VertexProgram.h"
#include "gfx/VertexProgramAsm.h"
#include "platform/Resources.h"

namespace {

constexpr HRESULT kInvalidData = static_cast<HRESULT>(0x88760B59u);

struct Assembled {
    HRESULT hr = E_FAIL;
    std::vector<DWORD> code;
    std::vector<DWORD> constants;
    std::string errors;
};

Assembled Assemble(const std::string& text) {
    Assembled result;
    D3DXBuffer* code = nullptr;
    D3DXBuffer* constants = nullptr;
    D3DXBuffer* errors = nullptr;
    result.hr = D3DXAssembleShader(text.data(), static_cast<UINT>(text.size()), 0, &constants, &code, &errors);
    if (code) {
        const DWORD* p = static_cast<const DWORD*>(code->GetBufferPointer());
        result.code.assign(p, p + code->GetBufferSize() / sizeof(DWORD));
        code->Release();
    }
    if (constants) {
        const DWORD* p = static_cast<const DWORD*>(constants->GetBufferPointer());
        result.constants.assign(p, p + constants->GetBufferSize() / sizeof(DWORD));
        constants->Release();
    }
    if (errors) {
        const char* p = static_cast<const char*>(errors->GetBufferPointer());
        EXPECT_EQ(p[errors->GetBufferSize() - 1], '\0');
        result.errors = p;
        errors->Release();
    }
    return result;
}

// Tokens of a one-instruction program without its version and end tokens.
std::vector<DWORD> Body(const std::string& text) {
    Assembled a = Assemble(text);
    EXPECT_EQ(a.hr, S_OK) << a.errors;
    if (a.code.size() < 2) return {};
    return std::vector<DWORD>(a.code.begin() + 1, a.code.end() - 1);
}

// A program that uses every instruction and every operand form.
const char* const kEveryForm = R"(vs.1.1
/* every instruction,
   every operand form */
def c90, 1.0, -2.5, 0, 1e3
nop
mov a0.x, r1.y          ; address register
MOV r0, c[a0.x + 9]     // relative, spaced
mov r1, c[A0.X+9]
mov r2, c[9 + a0.x]
mov r3, c[a0.x]
mov r4.xz, -v15.wzyx
add r5.xyw, r0.x, -v1.xy
sub r6.w, r0.xyz, c95
mad oPos, v0, c0, r1
mul r7, v2.zyxw, c0.wwww
rcp r8.x, v0.x
rsq r8.y, v0
dp3 r9.z, r0, c1
dp4 oFog.x, v0, c2
dp4 oPts.x, v0, c2
min oD0, r0, c3
max oD1, r0, c3
slt oT0, r0, v0
sge oT7.xyzw, r0, v0
exp r10.x, r0.w
log r10.y, r0.x
lit r11, r0
dst r11, r0, r1
frc r10.xy, r0
frc r10.y, v1
m4x4 oT1, v0, c4
m4x3 r2, v0, c[a0.x + 9]
m3x4 oT2, r0, c8
m3x3 r3, v0, r4
m3x2 oT3, v0, c12
expp r9, r0.z
logp r9, c1.w
mov oT4, c90
)";

const char* const kToon = R"(vs.1.0
dp4 oPos.x, v0, c0
dp4 oPos.y, v0, c1
dp4 oPos.z, v0, c2
dp4 oPos.w, v0, c3
dp3 r0.w, v3, v3
rsq r0.w, r0.w
mul r0.xyz, v3, r0.w
dp3 r1.x, r0, c13
add r1.x, r1.x, c12.z
mul oT0.x, r1.x, c12.y
mov oT1, v8
mov oD0, v5
dp4 r2.x, v0, c6
mad oFog.x, r2.x, c14.x, c14.y
)";

// ---------------------------------------------------------------------------

TEST(VertexProgramAssembler, ProducesDirect3DTokens) {
    Assembled every = Assemble(kEveryForm);
    ASSERT_EQ(every.hr, S_OK) << every.errors;
    EXPECT_EQ(every.code.front(), 0xFFFE0101u);
    EXPECT_EQ(every.code.back(), 0x0000FFFFu);

    const std::string v11 = "vs.1.1\n";
    EXPECT_EQ(Body(v11 + "mov oPos, v0"), (std::vector<DWORD>{0x00000001, 0xC00F0000, 0x90E40000}));
    EXPECT_EQ(Body(v11 + "dp4 oPos.x, v0, c0"), (std::vector<DWORD>{0x00000009, 0xC0010000, 0x90E40000, 0xA0E40000}));
    // No mask on m4x3: the three components it produces.
    EXPECT_EQ(Body(v11 + "m4x3 r4, v0, c[a0.x + 9]"),
              (std::vector<DWORD>{0x00000015, 0x80070004, 0x90E40000, 0xA0E42009}));
    EXPECT_EQ(Body(v11 + "mul r1, v2.zyxw, c0.wwww"),
              (std::vector<DWORD>{0x00000005, 0x800F0001, 0x90C60002, 0xA0FF0000}));
    EXPECT_EQ(Body(v11 + "mad oFog.x, r2.x, c14.x, -c14.y"),
              (std::vector<DWORD>{0x00000004, 0xC0010001, 0x80000002, 0xA000000E, 0xA155000E}));
    EXPECT_EQ(Body(v11 + "mov a0.x, r1.y"), (std::vector<DWORD>{0x00000001, 0xB0010000, 0x80550001}));
    // A short swizzle repeats its last component: .xy = .xyyy.
    EXPECT_EQ(Body(v11 + "rcp r0.w, r0.xy"), (std::vector<DWORD>{0x00000006, 0x80080000, 0x80540000}));
    EXPECT_EQ(Body(v11 + "mov oT1, v8"), (std::vector<DWORD>{0x00000001, 0xE00F0001, 0x90E40008}));
    EXPECT_EQ(Body(v11 + "mov oD0, v5"), (std::vector<DWORD>{0x00000001, 0xD00F0000, 0x90E40005}));
    EXPECT_EQ(Body(v11 + "nop"), (std::vector<DWORD>{0x00000000}));
    EXPECT_EQ(Body(v11 + "  EXPP  R3 ,  V1.X  "), (std::vector<DWORD>{0x0000004E, 0x800F0003, 0x90000001}));

    Assembled def = Assemble(v11 + "def c5, 1.0, -2.5, 0, 1e3\n");
    ASSERT_EQ(def.hr, S_OK) << def.errors;
    EXPECT_EQ(def.code, (std::vector<DWORD>{0xFFFE0101, 0x00000051, 0xA00F0005, 0x3F800000, 0xC0200000, 0x00000000,
                                            0x447A0000, 0x0000FFFF}));
    // The def also comes back as a constant declaration: D3DVSD_CONST(5, 1), values, D3DVSD_END.
    EXPECT_EQ(def.constants,
              (std::vector<DWORD>{0x82000005, 0x3F800000, 0xC0200000, 0x00000000, 0x447A0000, 0xFFFFFFFF}));

    Assembled toon = Assemble(kToon);
    ASSERT_EQ(toon.hr, S_OK) << toon.errors;
    EXPECT_EQ(toon.code.front(), 0xFFFE0100u);
    EXPECT_EQ(toon.constants, (std::vector<DWORD>{0xFFFFFFFF}));
    VertexProgram program;
    ASSERT_EQ(DecodeVertexProgram(toon.code, program), S_OK);
    EXPECT_EQ(program.instructions.size(), 14u);
    EXPECT_EQ(program.inputsRead, (1u << 0) | (1u << 3) | (1u << 5) | (1u << 8));
}

TEST(VertexProgramAssembler, DecodedFormMatchesTheText) {
    Assembled every = Assemble(kEveryForm);
    ASSERT_EQ(every.hr, S_OK) << every.errors;
    VertexProgram program;
    ASSERT_EQ(DecodeVertexProgram(every.code, program), S_OK);
    for (const VpOpcodeInfo& info : VpOpcodeTable()) {
        if (info.opcode == D3DSIO_DEF) continue;
        EXPECT_TRUE(std::any_of(program.instructions.begin(), program.instructions.end(),
                                [&](const VpInstruction& i) { return i.opcode == info.opcode; }))
            << info.name;
    }
    EXPECT_EQ(program.definedConstants[90], (VpVector{1.0f, -2.5f, 0.0f, 1000.0f}));
    EXPECT_EQ(program.tempsUsed & 0x70u, 0x70u);  // m3x3 r3, v0, r4 reads r4..r6
    EXPECT_TRUE(program.outputsWritten & (1u << kVpOutPointSize));
    const VpInstruction& negated = program.instructions[6];  // mov r4.xz, -v15.wzyx
    EXPECT_EQ(negated.dest.writeMask, 0x5u);
    EXPECT_TRUE(negated.src[0].negate);
    EXPECT_EQ(negated.src[0].swizzle, (std::array<BYTE, 4>{3, 2, 1, 0}));
}

TEST(VertexProgramAssembler, ErrorsNameTheLine) {
    struct Case {
        const char* text;
        const char* line;
    };
    const Case cases[] = {
        {"vs.1.1\n\nfoo r0, v0\n", "(3): error: unknown instruction 'foo'"},
        {"vs.1.1\nmov r0, q0\n", "(2): error: invalid register 'q0'"},
        {"vs.1.1\nmov r12, v0\n", "(2): error: register number out of range 'r12'"},
        {"vs.1.1\nmov r0, c96\n", "(2): error: register number out of range 'c96'"},
        {"vs.1.1\nmov oT8, v0\n", "(2): error: register number out of range 'oT8'"},
        {"vs.1.1\nmov r0, v\n", "(2): error: invalid register 'v'"},
        {"vs.1.1\nmov r0, c[a0.y + 1]\n", "(2): error: invalid relative address 'c[a0.y + 1]'"},
        {"vs.1.1\nmov r0, c[a0.x + 96]\n", "(2): error: invalid relative address"},
        {"vs.1.1\nmov r0.yx, v0\n", "(2): error: invalid write mask 'r0.yx'"},
        {"vs.1.1\nmov r0.xq, v0\n", "(2): error: invalid write mask"},
        {"vs.1.1\nmov r0, v0.xyzwx\n", "(2): error: invalid swizzle 'v0.xyzwx'"},
        {"vs.1.1\nmov r0, -r1.\n", "(2): error: invalid swizzle"},
        {"vs.1.1\nadd r0, c0, c1\n", "(2): error: only one constant register can be read per instruction"},
        {"vs.1.1\nm4x4 oPos, c0, c4\n", "(2): error: only one constant register"},
        {"vs.1.1\nadd r0, v0, v1\n", "(2): error: only one input register can be read per instruction"},
        {"vs.1.1\nmov v0, r0\n", "(2): error: input registers cannot be written"},
        {"vs.1.1\nmov c0, r0\n", "(2): error: constant registers cannot be written"},
        {"vs.1.1\nmov r0, oPos\n", "(2): error: output registers cannot be read"},
        {"vs.1.1\nmov -r0, v0\n", "(2): error: a destination cannot be negated"},
        {"vs.1.1\nmov a0, r0.x\n", "(2): error: the address register is written as a0.x"},
        {"vs.1.1\nadd a0.x, r0, r1\n", "(2): error: only mov can write the address register"},
        {"vs.1.1\nmov r0, a0.x\n", "(2): error: the address register can only be read as c[a0.x + n]"},
        {"vs.1.0\nmov a0.x, r0.x\n", "(2): error: the address register needs vs.1.1"},
        {"vs.1.0\nmov r0, c[a0.x + 1]\n", "(2): error: relative addressing needs vs.1.1"},
        {"vs.1.1\nmov r0\n", "(2): error: mov takes 2 operands, 1 given"},
        {"vs.1.1\nadd r0, v0\n", "(2): error: add takes 3 operands, 2 given"},
        {"vs.1.1\nmov r0,, v0\n", "(2): error: mov takes 2 operands, 3 given"},
        {"vs.1.1\nmov r0, \n", "(2): error: missing operand"},
        {"vs.1.1\nm4x3 r0.w, v0, c0\n", "(2): error: m4x3 cannot write the components of 'r0.w'"},
        {"vs.1.1\nfrc r0.z, v0\n", "(2): error: frc cannot write the components"},
        {"vs.1.1\nm4x4 r0, v0, c93\n", "(2): error: the matrix rows run past the last register"},
        {"vs.1.1\nm4x4 r0, v0, -c0\n", "(2): error: the matrix operand takes no swizzle or negation"},
        {"vs.1.1\ndef c0, 1, 2, x, 4\n", "(2): error: invalid number 'x'"},
        {"vs.1.1\ndef r0, 1, 2, 3, 4\n", "(2): error: def needs a constant register c0..c95"},
        {"vs.1.1\ndef c0.x, 1, 2, 3, 4\n", "(2): error: def takes no write mask"},
        {"mov r0, v0\n", "(1): error: vs.1.0 or vs.1.1 expected before the first instruction"},
        {"; header\n\n  mov oPos, v0\n", "(3): error: vs.1.0 or vs.1.1 expected"},
        {"vs.2.0\nmov oPos, v0\n", "(1): error: vs.1.0 or vs.1.1 expected"},
        {"vs.1.1\nvs.1.1\n", "(2): error: the version is given more than once"},
        {"vs.1.1 mov r0, v0\n", "(1): error: unexpected text after the version"},
    };
    for (const Case& c : cases) {
        Assembled a = Assemble(c.text);
        EXPECT_EQ(a.hr, kInvalidData) << c.text;
        EXPECT_NE(a.errors.find(c.line), std::string::npos) << c.text << "\n gave: " << a.errors;
        EXPECT_TRUE(a.code.empty() && a.constants.empty()) << c.text;
    }
}

TEST(VertexProgramAssembler, AcceptsWhatTheRulesAllow) {
    const char* good[] = {
        "vs.1.1\nmad oFog.x, r2.x, c14.x, c14.y\n",  // one constant read twice
        "vs.1.1\ndp3 r0, v3, v3\n",                  // one input read twice
        "vs.1.1\nadd r0, c[a0.x + 3], -c[a0.x+3].x\n",
        "vs.1.1\nm3x3 r0, v0, r9\n",
        "vs.1.1\nm4x4 oPos, v0, c92\n",
        "vs.1.1\nfrc r0.xy, v0\n",
        "VS.1.1\r\nMov oPos, V0 ; trailing comment\r\n",
        "// leading comment\n/* block\n comment */ vs.1.0\nmov oPos, v0 /* inline */ // and more\n",
        "vs.1.1\nmov oPos, v0;\n",
        "vs.1.1\ndef c0, +1, -0.5, .25, 3e-2\n",
    };
    for (const char* text : good) {
        Assembled a = Assemble(text);
        EXPECT_EQ(a.hr, S_OK) << text << a.errors;
    }
}

TEST(VertexProgramAssembler, ReportsEveryBadLineAndCountsInstructions) {
    Assembled a = Assemble("vs.1.1\nfoo\nmov r0, v0\nmov r99, v0\nbar\n");
    EXPECT_EQ(a.hr, kInvalidData);
    EXPECT_NE(a.errors.find("(2): error:"), std::string::npos);
    EXPECT_EQ(a.errors.find("(3): error:"), std::string::npos);
    EXPECT_NE(a.errors.find("(4): error:"), std::string::npos);
    EXPECT_NE(a.errors.find("(5): error:"), std::string::npos);

    std::string text = "vs.1.1\n";
    for (int i = 0; i < 128; ++i) text += "mov r0, v0\n";
    text += "def c1, 1, 2, 3, 4\n";  // a def is no instruction
    Assembled full = Assemble(text);
    EXPECT_EQ(full.hr, S_OK) << full.errors;
    text += "add r0, r0, v0\n";
    Assembled over = Assemble(text);
    EXPECT_EQ(over.hr, kInvalidData);
    EXPECT_NE(over.errors.find("(131): error: too many instructions"), std::string::npos) << over.errors;

    // A flood of bad lines gives a bounded message.
    std::string flood = "vs.1.1\n";
    for (int i = 0; i < 10000; ++i) flood += "bad\n";
    Assembled many = Assemble(flood);
    EXPECT_EQ(many.hr, kInvalidData);
    EXPECT_LT(many.errors.size(), 10000u);
}

TEST(VertexProgramAssembler, OutputPointersAreOptional) {
    const std::string text = "vs.1.1\nmov oPos, v0\n";
    EXPECT_EQ(D3DXAssembleShader(text.data(), static_cast<UINT>(text.size()), 0, nullptr, nullptr, nullptr), S_OK);
    const std::string bad = "vs.1.1\nmov oPos, v99\n";
    EXPECT_EQ(D3DXAssembleShader(bad.data(), static_cast<UINT>(bad.size()), 0, nullptr, nullptr, nullptr),
              kInvalidData);
    D3DXBuffer* code = reinterpret_cast<D3DXBuffer*>(1);
    EXPECT_EQ(D3DXAssembleShader(nullptr, 4, 0, nullptr, &code, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(code, nullptr);
    // Text ends at a NUL byte even when the length runs on.
    const char withNul[] = "vs.1.1\nmov oPos, v0\n\0garbage here";
    D3DXBuffer* errors = nullptr;
    EXPECT_EQ(D3DXAssembleShader(withNul, sizeof withNul, 0, nullptr, &code, &errors), S_OK);
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(code->GetBufferSize(), 5 * sizeof(DWORD));
    EXPECT_EQ(errors, nullptr);
    code->Release();
}

TEST(VertexProgramAssembler, GarbageNeverCrashes) {
    std::mt19937 random(20240601);
    const std::string alphabet = "vs.1mov aodp34xyzw,;/*-+[]c0123456789 \n\trR.oPosFgTD";
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 200);
        const bool bytes = round % 2 == 0;
        for (int i = 0; i < length; ++i)
            text += bytes ? static_cast<char>(random() & 0xFF) : alphabet[random() % alphabet.size()];
        if (round % 3 == 0) text = "vs.1.1\n" + text;
        Assembled a = Assemble(text);
        if (SUCCEEDED(a.hr)) {
            VertexProgram program;
            EXPECT_EQ(DecodeVertexProgram(a.code, program), S_OK);
        } else {
            EXPECT_EQ(a.errors.rfind("(", 0), 0u) << a.errors;
        }
    }
    // Mutations of a valid program.
    const std::string every = kEveryForm;
    for (int round = 0; round < 2000; ++round) {
        std::string text = every;
        for (int k = 0; k < 3; ++k) text[random() % text.size()] = alphabet[random() % alphabet.size()];
        Assembled a = Assemble(text);
        if (SUCCEEDED(a.hr)) {
            VertexProgram program;
            EXPECT_EQ(DecodeVertexProgram(a.code, program), S_OK) << text;
        }
    }
}

// ---------------------------------------------------------------------------

TEST(VertexProgramDecoder, RejectsMalformedStreams) {
    const std::vector<DWORD> good{0xFFFE0101, 0x00000001, 0xC00F0000, 0x90E40000, 0x0000FFFF};
    VertexProgram program;
    ASSERT_EQ(DecodeVertexProgram(good, program), S_OK);
    ASSERT_EQ(program.instructions.size(), 1u);

    auto rejects = [](std::vector<DWORD> tokens) {
        VertexProgram p;
        p.instructions.resize(3);
        const HRESULT hr = DecodeVertexProgram(tokens, p);
        return FAILED(hr) && p.instructions.empty() && p.version == 0;
    };
    EXPECT_TRUE(rejects({}));
    for (std::size_t cut = 0; cut < good.size(); ++cut)  // truncated anywhere: no end token
        EXPECT_TRUE(rejects(std::vector<DWORD>(good.begin(), good.begin() + static_cast<long>(cut)))) << cut;
    auto with = [&](std::size_t index, DWORD value) {
        std::vector<DWORD> t = good;
        t[index] = value;
        return t;
    };
    EXPECT_TRUE(rejects(with(0, 0xFFFE0200)));  // vs.2.0
    EXPECT_TRUE(rejects(with(1, 18)));          // no opcode 18
    EXPECT_TRUE(rejects(with(1, 80)));
    EXPECT_TRUE(rejects(with(1, 0x40000001)));  // bits beyond the opcode
    EXPECT_TRUE(rejects(with(2, 0x400F0000)));  // parameter token without bit 31
    EXPECT_TRUE(rejects(with(2, 0xF00F0000)));  // register file 7
    EXPECT_TRUE(rejects(with(2, 0x900F0000)));  // writes an input
    EXPECT_TRUE(rejects(with(2, 0xA00F0000)));  // writes a constant
    EXPECT_TRUE(rejects(with(2, 0x800F000C)));  // r12
    EXPECT_TRUE(rejects(with(2, 0x80000000)));  // empty write mask
    EXPECT_TRUE(rejects(with(2, 0x801F0000)));  // saturate modifier
    EXPECT_TRUE(rejects(with(2, 0x800F2000)));  // relative destination
    EXPECT_TRUE(rejects(with(2, 0xB00F0000)));  // a0.xyzw
    EXPECT_TRUE(rejects(with(3, 0x90E40010)));  // v16
    EXPECT_TRUE(rejects(with(3, 0xA0E40060)));  // c96
    EXPECT_TRUE(rejects(with(3, 0x90E42000)));  // relative input
    EXPECT_TRUE(rejects(with(3, 0x92E40000)));  // source modifier 2
    EXPECT_TRUE(rejects(with(3, 0xC0E40000)));  // reads oPos
    EXPECT_TRUE(rejects(with(3, 0x90E40800)));  // reserved bit 11
    EXPECT_TRUE(rejects({0xFFFE0100, 0x00000001, 0xB0010000, 0x80000000, 0x0000FFFF}));  // a0 in vs.1.0
    EXPECT_TRUE(rejects({0xFFFE0100, 0x00000001, 0x800F0000, 0xA0E42000, 0x0000FFFF}));  // c[a0.x] in vs.1.0
    EXPECT_TRUE(rejects({0xFFFE0101, 0x00000002, 0x800F0000, 0xA0E40000, 0xA0E40001, 0x0000FFFF}));  // c0 + c1
    EXPECT_TRUE(rejects({0xFFFE0101, 0x00000014, 0x800F0000, 0x90E40000, 0xA0E4005D, 0x0000FFFF}));  // m4x4 c93
    EXPECT_TRUE(rejects({0xFFFE0101, D3DSHADER_COMMENT(4), 1, 2, 0x0000FFFF}));  // comment runs past the end
    EXPECT_TRUE(rejects({0xFFFE0101, 0x00000051, 0x800F0000, 0, 0, 0, 0, 0x0000FFFF}));  // def r0
    EXPECT_TRUE(rejects({0xFFFE0101, 0x00000051, 0xA00F0000, 0, 0, 0x0000FFFF}));        // def cut short

    std::vector<DWORD> tooLong{0xFFFE0101};
    for (int i = 0; i < 129; ++i) tooLong.push_back(0);  // nop
    tooLong.push_back(0x0000FFFF);
    EXPECT_TRUE(rejects(tooLong));
    tooLong.erase(tooLong.begin() + 1);
    EXPECT_EQ(DecodeVertexProgram(tooLong, program), S_OK);
}

TEST(VertexProgramDecoder, SkipsCommentsAndStopsAtTheEnd) {
    // A comment whose words look like an end token and an opcode is skipped
    // whole; tokens after the end token are not read.
    const std::vector<DWORD> tokens{0xFFFE0101, D3DSHADER_COMMENT(2), 0x0000FFFF, 0x00000001, 0x00000001,
                                    0xC00F0000, 0x90E40000, 0x0000FFFF, 0xDEADBEEF};
    VertexProgram program;
    ASSERT_EQ(DecodeVertexProgram(tokens, program), S_OK);
    ASSERT_EQ(program.instructions.size(), 1u);
    EXPECT_EQ(program.instructions[0].opcode, D3DSIO_MOV);
    EXPECT_EQ(VertexProgramLength(tokens.data(), tokens.size()), 8u);
    EXPECT_EQ(VertexProgramLength(tokens.data(), 7), 0u);
    EXPECT_EQ(VertexProgramLength(nullptr, 100), 0u);
}

TEST(VertexProgramDecoder, GarbageNeverCrashes) {
    std::mt19937 random(77);
    Assembled every = Assemble(kEveryForm);
    ASSERT_EQ(every.hr, S_OK);
    VertexProgram program;
    for (int round = 0; round < 20000; ++round) {
        std::vector<DWORD> tokens;
        if (round % 2 == 0) {
            tokens = every.code;
            const int flips = 1 + static_cast<int>(random() % 3);
            for (int k = 0; k < flips; ++k) tokens[random() % tokens.size()] ^= 1u << (random() % 32);
            tokens.resize(random() % (tokens.size() + 1));
        } else {
            tokens.resize(random() % 40);
            for (DWORD& t : tokens) t = random();
            if (!tokens.empty()) tokens[0] = 0xFFFE0101;
        }
        // Exact-size heap copy, so that reading past the span shows up.
        std::unique_ptr<DWORD[]> copy(new DWORD[tokens.size() + 1]);
        std::copy(tokens.begin(), tokens.end(), copy.get());
        const std::span<const DWORD> span(copy.get(), tokens.size());
        if (SUCCEEDED(DecodeVertexProgram(span, program))) {
            EXPECT_LE(program.instructions.size(), kVpMaxInstructions);
            for (const VpInstruction& ins : program.instructions)
                EXPECT_EQ(VpCheckInstruction(ins, program.version), nullptr);
        }
        const std::size_t length = VertexProgramLength(span.data(), span.size());
        EXPECT_LE(length, span.size());
    }
}

// ---------------------------------------------------------------------------

TEST(AssemblerBuffers, HoldBytesAndCountsReferences) {
    D3DXBuffer* buffer = nullptr;
    ASSERT_EQ(D3DXCreateBuffer(10, &buffer), S_OK);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->GetBufferSize(), 10u);
    ASSERT_NE(buffer->GetBufferPointer(), nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer->GetBufferPointer()) % alignof(DWORD), 0u);
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer->GetBufferPointer());
    EXPECT_TRUE(std::all_of(bytes, bytes + 10, [](unsigned char b) { return b == 0; }));
    std::memset(buffer->GetBufferPointer(), 0xAB, 10);
    EXPECT_EQ(buffer->AddRef(), 2u);
    EXPECT_EQ(buffer->Release(), 1u);
    EXPECT_EQ(buffer->Release(), 0u);

    ASSERT_EQ(D3DXCreateBuffer(0, &buffer), S_OK);
    EXPECT_EQ(buffer->GetBufferSize(), 0u);
    EXPECT_NE(buffer->GetBufferPointer(), nullptr);
    buffer->Release();
    EXPECT_EQ(D3DXCreateBuffer(4, nullptr), E_INVALIDARG);
}

// ---------------------------------------------------------------------------

class AssembleFromResource : public ::testing::Test {
protected:
    void TearDown() override { SetResourceTableForTesting({}); }

    void Use(std::vector<ResourceEntry> entries) {
        m_Entries = std::move(entries);
        SetResourceTableForTesting(m_Entries);
    }

    static ResourceEntry Text(const char* type, const char* name, const std::string& text) {
        return {type, name, reinterpret_cast<const unsigned char*>(text.data()), text.size()};
    }

    std::vector<ResourceEntry> m_Entries;
};

TEST_F(AssembleFromResource, FindsTheProgramByNameWithoutCase) {
    const std::string toon = std::string(kToon) + '\0';  // resources carry a NUL
    const std::string cut = "vs.1.1\nmov oPos, v";    // ends mid-operand
    const std::string other = "vs.1.1\nmov oPos, v0\n";
    Use({Text("RCDATA", "TOON.VSH", toon), Text("RCDATA", "CUT.VSH", cut), Text("MISC", "OTHER.VSH", other)});

    D3DXBuffer* code = nullptr;
    D3DXBuffer* errors = nullptr;
    ASSERT_EQ(D3DXAssembleShaderFromResourceA(nullptr, "Toon.vsh", 0, nullptr, &code, &errors), S_OK);
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(errors, nullptr);
    std::vector<DWORD> tokens(static_cast<const DWORD*>(code->GetBufferPointer()),
                              static_cast<const DWORD*>(code->GetBufferPointer()) + code->GetBufferSize() / 4);
    EXPECT_EQ(tokens, Assemble(kToon).code);
    code->Release();

    ASSERT_EQ(D3DXAssembleShaderFromResourceA(GetModuleHandleA(nullptr), "cut.vsh", 0, nullptr, &code, &errors),
              kInvalidData);
    EXPECT_EQ(code, nullptr);
    ASSERT_NE(errors, nullptr);
    EXPECT_NE(std::string(static_cast<const char*>(errors->GetBufferPointer())).find("(2): error: invalid register 'v'"),
              std::string::npos);
    errors->Release();

    // Wrong type, unknown name, null name: not found.
    EXPECT_EQ(D3DXAssembleShaderFromResourceA(nullptr, "OTHER.VSH", 0, nullptr, &code, nullptr), D3DERR_NOTFOUND);
    EXPECT_EQ(D3DXAssembleShaderFromResourceA(nullptr, "MISSING.VSH", 0, nullptr, &code, &errors), D3DERR_NOTFOUND);
    EXPECT_EQ(code, nullptr);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(D3DXAssembleShaderFromResourceA(nullptr, nullptr, 0, nullptr, &code, nullptr), D3DERR_INVALIDCALL);
}

}  // namespace
