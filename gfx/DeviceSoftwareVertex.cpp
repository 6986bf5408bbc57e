// Software vertex processing: the device runs a draw's vertex program on the
// CPU with the interpreter, over the vertices the draw names, and hands the
// results to OpenGL through a scratch buffer and a pass-through program that
// feeds the same fragment programs as translated vertex programs do.
#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <utility>

#include "gfx/Device.h"
#include "gfx/DeviceInternal.h"
#include "gfx/DeviceResources.h"
#include "gfx/PipelineGlsl.h"
#include "gfx/VertexFormat.h"
#include "gfx/VertexProgramInterp.h"

namespace {

// Where each output sits in a scratch vertex, in floats; -1 when the
// fragment program does not read it. Position and diffuse always come first.
struct ScratchFormat {
    int specular = -1;
    int fog = -1;
    std::array<int, kVpTexCoordOutputs> texCoord{};
    int floats = 8;

    explicit ScratchFormat(std::uint32_t varyings) {
        if (varyings & kVaryingSpecular) specular = std::exchange(floats, floats + 4);
        for (DWORD t = 0; t < kVpTexCoordOutputs; ++t)
            texCoord[t] = (varyings & (kVaryingTexCoord0 << t)) ? std::exchange(floats, floats + 4) : -1;
        if (varyings & kVaryingFog) fog = std::exchange(floats, floats + 1);
    }
};

// One input register filled from the stream.
struct Fetch {
    DWORD reg;
    ElementType type;
    UINT offset;
};

float ReadFloat(const BYTE* p) {
    float f;
    std::memcpy(&f, p, sizeof f);
    return f;
}

float ReadShort(const BYTE* p) {
    std::int16_t v;
    std::memcpy(&v, p, sizeof v);
    return static_cast<float>(v);
}

// An element as the GPU path reads it: components the element lacks are 0,
// and w is 1.
VpVector ReadElement(ElementType type, const BYTE* p) {
    switch (type) {
        case ElementType::Float1: return {ReadFloat(p), 0.0f, 0.0f, 1.0f};
        case ElementType::Float2: return {ReadFloat(p), ReadFloat(p + 4), 0.0f, 1.0f};
        case ElementType::Float3: return {ReadFloat(p), ReadFloat(p + 4), ReadFloat(p + 8), 1.0f};
        case ElementType::Float4: return {ReadFloat(p), ReadFloat(p + 4), ReadFloat(p + 8), ReadFloat(p + 12)};
        // A colour's bytes are B, G, R, A.
        case ElementType::Color:
            return {p[2] / 255.0f, p[1] / 255.0f, p[0] / 255.0f, p[3] / 255.0f};
        case ElementType::UByte4:
            return {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]),
                    static_cast<float>(p[3])};
        case ElementType::Short2: return {ReadShort(p), ReadShort(p + 2), 0.0f, 1.0f};
        case ElementType::Short4: return {ReadShort(p), ReadShort(p + 2), ReadShort(p + 4), ReadShort(p + 6)};
        case ElementType::None: break;
    }
    return {0.0f, 0.0f, 0.0f, 1.0f};
}

float* Put(float* dst, const VpVector& v) {
    std::memcpy(dst, v.data(), sizeof v);
    return dst + 4;
}

}  // namespace

unsigned Direct3DDevice8::SoftwareVertexShader(std::uint32_t varyings) {
    auto it = m_SoftwareVertexShaders.find(varyings);
    if (it != m_SoftwareVertexShaders.end()) return it->second;
    const unsigned shader = CompileStage(GL_VERTEX_SHADER, SoftwareVertexGlsl(varyings));
    m_SoftwareVertexShaders.emplace(varyings, shader);
    return shader;
}

bool Direct3DDevice8::IndicesWithin(UINT startIndex, UINT count, UINT minIndex, UINT numVertices) const {
    const std::uint64_t end = std::uint64_t{minIndex} + numVertices;
    auto within = [&](auto index) { return index >= minIndex && index < end; };
    const BYTE* data = m_pIndices->Data();
    if (m_pIndices->Format() == D3DFMT_INDEX32) {
        for (UINT i = 0; i < count; ++i) {
            DWORD index;
            std::memcpy(&index, data + (std::size_t{startIndex} + i) * 4, 4);
            if (!within(index)) return false;
        }
    } else {
        for (UINT i = 0; i < count; ++i) {
            std::uint16_t index;
            std::memcpy(&index, data + (std::size_t{startIndex} + i) * 2, 2);
            if (!within(DWORD{index})) return false;
        }
    }
    return true;
}

void Direct3DDevice8::ProcessVerticesInSoftware(UINT first, UINT count) {
    const VertexShaderObject& shader = *m_pSoftwareShader;
    const VertexProgram& program = shader.program;

    // Only the registers the program reads are fetched; the others keep the
    // (0, 0, 0, 1) of a register the declaration leaves out.
    std::array<Fetch, kVpInputRegisters> fetches{};
    std::size_t fetchCount = 0;
    std::array<VpVector, kVpInputRegisters> inputs;
    inputs.fill({0.0f, 0.0f, 0.0f, 1.0f});
    for (DWORD r = 0; r < kVpInputRegisters; ++r) {
        const VertexElement& e = shader.layout.elements[r];
        if ((program.inputsRead & (1u << r)) && e.type != ElementType::None) fetches[fetchCount++] = {r, e.type, e.offset};
    }

    const ScratchFormat format(m_nSoftwareVaryings);
    const std::size_t floats = std::size_t{count} * static_cast<std::size_t>(format.floats);
    if (m_SoftwareVertices.size() < floats) m_SoftwareVertices.resize(floats);

    const std::span<const VpVector, kVpConstRegisters> constants(m_Constants);
    const BYTE* vertex = m_pStream->Data() + std::size_t{first} * m_nStreamStride;
    VertexProgramOutputs out;
    float* dst = m_SoftwareVertices.data();
    for (UINT i = 0; i < count; ++i, vertex += m_nStreamStride, dst += format.floats) {
        for (std::size_t f = 0; f < fetchCount; ++f)
            inputs[fetches[f].reg] = ReadElement(fetches[f].type, vertex + fetches[f].offset);
        ExecuteVertexProgram(program, constants, inputs, out);
        Put(Put(dst, out.oPos), out.oD[0]);
        if (format.specular >= 0) Put(dst + format.specular, out.oD[1]);
        for (DWORD t = 0; t < kVpTexCoordOutputs; ++t)
            if (format.texCoord[t] >= 0) Put(dst + format.texCoord[t], out.oT[t]);
        if (format.fog >= 0) dst[format.fog] = out.oFog;
    }
    m_nSoftwareVertices += count;

    // The scratch buffer only grows; once it holds a frame's largest draw,
    // drawing allocates nothing.
    const std::size_t bytes = floats * sizeof(float);
    m_Gl.ArrayBuffer(m_glSoftwareBuffer);
    if (bytes > m_nSoftwareBufferBytes) {
        m_nSoftwareBufferBytes = std::max(bytes, m_nSoftwareBufferBytes * 2);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_nSoftwareBufferBytes), nullptr, GL_STREAM_DRAW);
    }
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes), m_SoftwareVertices.data());
    ++m_Stats.dataUploads;
    m_Stats.dataBytes += bytes;

    const auto stride = static_cast<int>(format.floats * sizeof(float));
    auto attribute = [&](GLuint location, int offset, GLint size) {
        if (offset < 0) {
            m_Gl.DisableAttribute(location);
            return;
        }
        m_Gl.EnableAttribute(location, GlState::Attribute{m_glSoftwareBuffer, size, GL_FLOAT, false, stride,
                                                          static_cast<std::uintptr_t>(offset) * sizeof(float)});
    };
    attribute(0, 0, 4);
    attribute(1, 4, 4);
    attribute(2, format.specular, 4);
    attribute(3, format.fog, 1);
    for (DWORD t = 0; t < kVpTexCoordOutputs; ++t) attribute(4 + t, format.texCoord[t], 4);
}

void Direct3DDevice8::DestroySoftwareVertexObjects() {
    for (auto& [key, shader] : m_SoftwareVertexShaders) glDeleteShader(shader);
    m_SoftwareVertexShaders.clear();
    if (m_glSoftwareBuffer) glDeleteBuffers(1, &m_glSoftwareBuffer);
    if (m_glSoftwareVertexArray) glDeleteVertexArrays(1, &m_glSoftwareVertexArray);
    m_Gl.Forget();
    m_glSoftwareBuffer = m_glSoftwareVertexArray = 0;
    m_nSoftwareBufferBytes = 0;
}
