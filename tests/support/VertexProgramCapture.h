// Runs a vertex program's GLSL translation on the GPU through transform
// feedback and holds every output against the CPU interpreter. The vertices
// are raw bytes read through a vertex layout, with the attribute formats the
// device uses (a colour is four normalised bytes in BGRA order), and the
// interpreter is fed the same bytes the same way, so the comparison covers
// how the inputs arrive as well as what the program computes.
#pragma once

#include <gtest/gtest.h>

#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "gfx/VertexFormat.h"
#include "gfx/VertexProgram.h"
#include "gfx/VertexProgramGlsl.h"
#include "gfx/VertexProgramInterp.h"

namespace testing_support {

using VpConstants = std::array<VpVector, kVpConstRegisters>;
using VpInputs = std::array<VpVector, kVpInputRegisters>;

// The input registers of one vertex as the device delivers them: a register
// the layout leaves out, and the components an element does not fill, read
// as (0, 0, 0, 1); a colour's bytes 0, 1, 2, 3 arrive in z, y, x, w as
// byte / 255.
inline VpInputs FetchVertex(const VertexLayout& layout, const BYTE* vertex) {
    VpInputs in;
    in.fill({0.0f, 0.0f, 0.0f, 1.0f});
    for (std::size_t r = 0; r < kVertexRegisters; ++r) {
        const VertexElement& e = layout.elements[r];
        const BYTE* p = vertex + e.offset;
        auto floats = [&](int count) { std::memcpy(in[r].data(), p, sizeof(float) * static_cast<std::size_t>(count)); };
        auto shorts = [&](int count) {
            for (int i = 0; i < count; ++i) {
                std::int16_t s;
                std::memcpy(&s, p + 2 * i, sizeof s);
                in[r][static_cast<std::size_t>(i)] = s;
            }
        };
        switch (e.type) {
            case ElementType::None: break;
            case ElementType::Float1: floats(1); break;
            case ElementType::Float2: floats(2); break;
            case ElementType::Float3: floats(3); break;
            case ElementType::Float4: floats(4); break;
            case ElementType::Color:
                in[r] = {p[2] / 255.0f, p[1] / 255.0f, p[0] / 255.0f, p[3] / 255.0f};
                break;
            case ElementType::UByte4: in[r] = {float(p[0]), float(p[1]), float(p[2]), float(p[3])}; break;
            case ElementType::Short2: shorts(2); break;
            case ElementType::Short4: shorts(4); break;
        }
    }
    return in;
}

class VertexProgramCapture {
public:
    // A hidden window with a GL 3.3 core context; false when there is no display.
    bool Create() {
        // SDL's video stays up for the rest of the run: shutting it down would
        // unload the GL driver with the allocations it keeps.
        static const bool video = [] {
            SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,wayland");
            return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        }();
        if (!video) return false;
        SDL_GL_ResetAttributes();
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
        m_pWindow = SDL_CreateWindow("vertex programs", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (!m_pWindow) return false;
        m_Context = SDL_GL_CreateContext(m_pWindow);
        if (!m_Context || SDL_GL_MakeCurrent(m_pWindow, m_Context) != 0) return false;
        return epoxy_gl_version() >= 33;
    }

    VertexProgramCapture() = default;
    VertexProgramCapture(const VertexProgramCapture&) = delete;
    VertexProgramCapture& operator=(const VertexProgramCapture&) = delete;
    ~VertexProgramCapture() {
        if (m_Context) SDL_GL_DeleteContext(m_Context);
        if (m_pWindow) SDL_DestroyWindow(m_pWindow);
    }

    // Holds the GPU's outputs for every vertex of `vertices` (layout.stride
    // bytes each) against the interpreter's, with OpenGL's and with the 0..1
    // clip depth. Reports at most ten differences.
    void Compare(const VertexProgram& program, const VpConstants& constants, std::span<const BYTE> vertices,
                 const VertexLayout& layout) {
        ASSERT_GT(layout.stride, 0u);
        const std::size_t count = vertices.size() / layout.stride;
        for (bool clipControl : {false, true}) {
            const std::vector<float> captured = Capture(program, constants, vertices, layout, count, clipControl);
            if (captured.empty()) return;
            int failures = 0;
            for (std::size_t v = 0; v < count && failures < 10; ++v) {
                VertexProgramOutputs cpu;
                ExecuteVertexProgram(program, constants, FetchVertex(layout, &vertices[v * layout.stride]), cpu);
                // The interpreter keeps Direct3D's depth; the shader gives OpenGL's.
                VpVector position = cpu.oPos;
                if (!clipControl) position[2] = 2.0f * cpu.oPos[2] - cpu.oPos[3];
                std::vector<float> expected(position.begin(), position.end());
                for (const VpVector& d : cpu.oD) expected.insert(expected.end(), d.begin(), d.end());
                for (const VpVector& t : cpu.oT) expected.insert(expected.end(), t.begin(), t.end());
                expected.push_back(cpu.oFog);
                const float* gpu = &captured[v * kCapturedFloats];
                for (int i = 0; i < kCapturedFloats; ++i) {
                    const float scale = i == 2 ? std::fabs(cpu.oPos[3]) : 0.0f;
                    const float want = expected[static_cast<std::size_t>(i)];
                    if (!Close(gpu[i], want, scale)) {
                        ADD_FAILURE() << "vertex " << v << " value " << i << " (" << kVaryings[std::min(i / 4, 11)]
                                      << "): gpu " << gpu[i] << " cpu " << want;
                        ++failures;
                    }
                }
            }
        }
    }

    // The same for vertices that hold every input register as four floats.
    void Compare(const VertexProgram& program, const VpConstants& constants, std::span<const VpInputs> vertices) {
        static_assert(kVertexRegisters == kVpInputRegisters);
        VertexLayout layout;
        layout.stride = static_cast<UINT>(sizeof(VpInputs));
        for (std::size_t r = 0; r < kVertexRegisters; ++r)
            layout.elements[r] = {ElementType::Float4, static_cast<UINT>(r * sizeof(VpVector))};
        const std::span<const BYTE> bytes(reinterpret_cast<const BYTE*>(vertices.data()), vertices.size_bytes());
        Compare(program, constants, bytes, layout);
    }

    // Compiles and links the translation of `program` for capture; 0 with
    // the compiler's or linker's log and the source in `log` on a failure.
    static GLuint Link(const VertexProgram& program, std::string& log) {
        const std::string source = TranslateVertexProgramToGlsl(program);
        const char* text = source.c_str();
        const GLuint shader = glCreateShader(GL_VERTEX_SHADER);
        glShaderSource(shader, 1, &text, nullptr);
        glCompileShader(shader);
        GLint ok = 0;
        glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
        char info[4096] = {};
        if (!ok) {
            glGetShaderInfoLog(shader, sizeof info, nullptr, info);
            log = std::string(info) + "\n" + source;
            glDeleteShader(shader);
            return 0;
        }
        const GLuint linked = glCreateProgram();
        glAttachShader(linked, shader);
        glTransformFeedbackVaryings(linked, 12, kVaryings, GL_INTERLEAVED_ATTRIBS);
        glLinkProgram(linked);
        glDeleteShader(shader);
        glGetProgramiv(linked, GL_LINK_STATUS, &ok);
        if (!ok) {
            glGetProgramInfoLog(linked, sizeof info, nullptr, info);
            log = std::string(info) + "\n" + source;
            glDeleteProgram(linked);
            return 0;
        }
        return linked;
    }

private:
    static constexpr const char* kVaryings[] = {"gl_Position", "vsD0", "vsD1", "vsT0", "vsT1", "vsT2",
                                                "vsT3",        "vsT4", "vsT5", "vsT6", "vsT7", "vsFog"};
    static constexpr int kCapturedFloats = 11 * 4 + 1;

    static bool Close(float gpu, float cpu, float scale) {
        if (std::isnan(gpu) || std::isnan(cpu)) return std::isnan(gpu) && std::isnan(cpu);
        if (std::isinf(gpu) || std::isinf(cpu)) return gpu == cpu;
        const float size = std::max({std::fabs(gpu), std::fabs(cpu), scale, 0.1f});
        return std::fabs(gpu - cpu) <= 1e-4f * size;
    }

    // Attribute formats as the device sets them for each element type.
    static void Attribute(GLuint reg, const VertexElement& e, GLsizei stride) {
        const void* offset = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(e.offset));
        switch (e.type) {
            case ElementType::Float1: glVertexAttribPointer(reg, 1, GL_FLOAT, GL_FALSE, stride, offset); break;
            case ElementType::Float2: glVertexAttribPointer(reg, 2, GL_FLOAT, GL_FALSE, stride, offset); break;
            case ElementType::Float3: glVertexAttribPointer(reg, 3, GL_FLOAT, GL_FALSE, stride, offset); break;
            case ElementType::Float4: glVertexAttribPointer(reg, 4, GL_FLOAT, GL_FALSE, stride, offset); break;
            case ElementType::Color: glVertexAttribPointer(reg, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride, offset); break;
            case ElementType::UByte4: glVertexAttribPointer(reg, 4, GL_UNSIGNED_BYTE, GL_FALSE, stride, offset); break;
            case ElementType::Short2: glVertexAttribPointer(reg, 2, GL_SHORT, GL_FALSE, stride, offset); break;
            case ElementType::Short4: glVertexAttribPointer(reg, 4, GL_SHORT, GL_FALSE, stride, offset); break;
            case ElementType::None: return;
        }
        glEnableVertexAttribArray(reg);
    }

    std::vector<float> Capture(const VertexProgram& program, const VpConstants& constants,
                               std::span<const BYTE> vertices, const VertexLayout& layout, std::size_t count,
                               bool clipControl) {
        std::string log;
        const GLuint linked = Link(program, log);
        EXPECT_NE(linked, 0u) << log;
        if (!linked) return {};
        glUseProgram(linked);
        glUniform4fv(glGetUniformLocation(linked, "c"), kVpConstRegisters, constants[0].data());
        glUniform1i(glGetUniformLocation(linked, "uClipControl"), clipControl ? 1 : 0);

        GLuint vao = 0, input = 0, output = 0;
        glGenVertexArrays(1, &vao);
        glBindVertexArray(vao);
        glGenBuffers(1, &input);
        glBindBuffer(GL_ARRAY_BUFFER, input);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size()), vertices.data(), GL_STATIC_DRAW);
        for (GLuint r = 0; r < kVertexRegisters; ++r)
            if (program.inputsRead & (1u << r)) Attribute(r, layout.elements[r], static_cast<GLsizei>(layout.stride));
        glGenBuffers(1, &output);
        glBindBuffer(GL_TRANSFORM_FEEDBACK_BUFFER, output);
        const auto bytes = static_cast<GLsizeiptr>(count * kCapturedFloats * sizeof(float));
        glBufferData(GL_TRANSFORM_FEEDBACK_BUFFER, bytes, nullptr, GL_STATIC_READ);
        glBindBufferBase(GL_TRANSFORM_FEEDBACK_BUFFER, 0, output);

        glEnable(GL_RASTERIZER_DISCARD);
        glBeginTransformFeedback(GL_POINTS);
        glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(count));
        glEndTransformFeedback();
        glDisable(GL_RASTERIZER_DISCARD);

        std::vector<float> captured(count * kCapturedFloats);
        glGetBufferSubData(GL_TRANSFORM_FEEDBACK_BUFFER, 0, bytes, captured.data());
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

        glDeleteBuffers(1, &output);
        glDeleteBuffers(1, &input);
        glDeleteVertexArrays(1, &vao);
        glUseProgram(0);
        glDeleteProgram(linked);
        return captured;
    }

    SDL_Window* m_pWindow = nullptr;
    SDL_GLContext m_Context = nullptr;
};

}  // namespace testing_support
