// The OpenGL state the device sets, as it last set it.
//
// Every setter compares with what it last sent and calls OpenGL only for a
// change, counting the calls it makes, so a frame that draws the same thing
// twice sends its states once. What this record does not know (at the start,
// or after other code has used OpenGL: the text font, a read-back) it sends
// unconditionally: Forget() marks everything unknown.
//
// Vertex attribute arrays and the index buffer binding belong to the bound
// vertex array object; the record keeps them for each of the device's own
// vertex arrays.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class GlState {
public:
    void Forget();

    // OpenGL calls made (the statistics count them).
    std::uint64_t Calls() const { return m_nCalls; }

    void Enable(unsigned capability, bool on);  // GL_DEPTH_TEST, GL_BLEND, GL_CULL_FACE, GL_SCISSOR_TEST
    void DepthFunc(unsigned func);
    void DepthMask(bool write);
    void DepthRange(double nearZ, double farZ);
    void BlendFunc(unsigned source, unsigned destination);
    void BlendEquation(unsigned equation);
    void CullFace(unsigned face);
    void FrontFace(unsigned face);
    void ColorMask(bool r, bool g, bool b, bool a);
    void PolygonMode(unsigned mode);
    void Viewport(int x, int y, int width, int height);
    void Scissor(int x, int y, int width, int height);
    void ClearColor(float r, float g, float b, float a);
    void ClearDepth(double depth);
    void Framebuffer(unsigned framebuffer);  // GL_FRAMEBUFFER: drawing and reading
    void Program(unsigned program);
    void VertexArray(unsigned vertexArray);
    void ArrayBuffer(unsigned buffer);
    void ElementBuffer(unsigned buffer);  // of the bound vertex array
    void Texture(unsigned unit, unsigned texture);
    void ActiveUnit(unsigned unit);  // where texture uploads go
    void Sampler(unsigned unit, unsigned sampler);

    // A float vertex attribute of the bound vertex array reading `buffer`
    // (the array buffer is bound for it); `components` of GL_BGRA reads a
    // colour's bytes.
    struct Attribute {
        unsigned buffer = 0;
        int components = 0;
        unsigned type = 0;
        bool normalized = false;
        int stride = 0;
        std::uintptr_t offset = 0;
        bool operator==(const Attribute&) const = default;
    };
    void EnableAttribute(unsigned location, const Attribute& attribute);
    // An attribute the layout does not feed: it reads (0, 0, 0, 1).
    void DisableAttribute(unsigned location);

private:
    template <class T>
    bool Changes(std::optional<T>& known, const T& value) {
        if (known && *known == value) return false;
        known = value;
        ++m_nCalls;
        return true;
    }

    struct VertexArrayRecord {
        unsigned vertexArray = 0;
        std::optional<unsigned> elementBuffer;
        std::array<std::optional<Attribute>, 16> attributes;  // disengaged: unknown; buffer 0: disabled
    };
    VertexArrayRecord& Bound();

    std::uint64_t m_nCalls = 0;
    std::array<std::optional<bool>, 4> m_Enabled;
    std::optional<unsigned> m_DepthFunc;
    std::optional<bool> m_DepthMask;
    std::optional<std::array<double, 2>> m_DepthRange;
    std::optional<std::array<unsigned, 2>> m_BlendFunc;
    std::optional<unsigned> m_BlendEquation;
    std::optional<unsigned> m_CullFace;
    std::optional<unsigned> m_FrontFace;
    std::optional<std::array<bool, 4>> m_ColorMask;
    std::optional<unsigned> m_PolygonMode;
    std::optional<std::array<int, 4>> m_Viewport;
    std::optional<std::array<int, 4>> m_Scissor;
    std::optional<std::array<float, 4>> m_ClearColor;
    std::optional<double> m_ClearDepth;
    std::optional<unsigned> m_Framebuffer;
    std::optional<unsigned> m_Program;
    std::optional<unsigned> m_VertexArray;
    std::optional<unsigned> m_ArrayBuffer;
    std::optional<unsigned> m_ActiveUnit;
    std::array<std::optional<unsigned>, 8> m_Textures;
    std::array<std::optional<unsigned>, 8> m_Samplers;
    std::array<std::optional<bool>, 16> m_DefaultAttribute;  // (0, 0, 0, 1) set as the attribute's value
    std::vector<VertexArrayRecord> m_VertexArrays;
};
