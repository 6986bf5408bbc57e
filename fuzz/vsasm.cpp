// Vertex program assembly text: assembled, the token stream decoded again,
// run by the interpreter on a fixed vertex and translated to GLSL. A stream
// of raw tokens (input of a whole number of words that does not assemble)
// goes through the decoder and the interpreter too.
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "gfx/VertexProgram.h"
#include "gfx/VertexProgramAsm.h"
#include "gfx/VertexProgramGlsl.h"
#include "gfx/VertexProgramInterp.h"

namespace {

void Run(const VertexProgram& program) {
    std::array<VpVector, kVpConstRegisters> constants{};
    for (DWORD i = 0; i < kVpConstRegisters; ++i) {
        const float f = static_cast<float>(i);
        constants[i] = VpVector{f * 0.5f, 1.0f - f, f * f * 0.01f, i % 3 == 0 ? 0.0f : 1.0f};
    }
    std::array<VpVector, kVpInputRegisters> inputs{};
    for (DWORD i = 0; i < kVpInputRegisters; ++i) {
        const float f = static_cast<float>(i);
        inputs[i] = VpVector{0.25f * f, -1.5f, 2.0f + f, 1.0f};
    }
    VertexProgramOutputs out;
    ExecuteVertexProgram(program, constants, inputs, out);
    for (const VpVector& colour : out.oD)
        for (float c : colour) fuzzing::Check(!(c < 0.0f) && !(c > 1.0f), "colours leave clamped to 0..1");
    const std::string glsl = TranslateVertexProgramToGlsl(program);
    fuzzing::Check(!glsl.empty(), "a decoded program translates");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    D3DXBuffer* code = nullptr;
    D3DXBuffer* constants = nullptr;
    D3DXBuffer* errors = nullptr;
    const HRESULT hr =
        D3DXAssembleShader(data, static_cast<UINT>(size), 0, &constants, &code, &errors);
    if (SUCCEEDED(hr)) {
        fuzzing::Check(code && !errors, "an assembled program has code and no messages");
        const std::span<const DWORD> tokens(static_cast<const DWORD*>(code->GetBufferPointer()),
                                            code->GetBufferSize() / sizeof(DWORD));
        VertexProgram program;
        fuzzing::Check(SUCCEEDED(DecodeVertexProgram(tokens, program)), "what the assembler writes decodes");
        Run(program);
    } else {
        fuzzing::Check(!code && !constants, "a failed assembly hands out no code");
        if (size % sizeof(DWORD) == 0 && size > 0) {
            std::vector<DWORD> tokens(size / sizeof(DWORD));
            std::memcpy(tokens.data(), data, size);
            VertexProgram program;
            if (SUCCEEDED(DecodeVertexProgram(tokens, program))) Run(program);
        }
    }
    for (D3DXBuffer* b : {code, constants, errors})
        if (b) b->Release();
    return 0;
}
