#include "gfx/GlState.h"

#include <epoxy/gl.h>

#include <algorithm>

namespace {

std::size_t CapabilityIndex(unsigned capability) {
    switch (capability) {
        case GL_DEPTH_TEST: return 0;
        case GL_BLEND: return 1;
        case GL_CULL_FACE: return 2;
        default: return 3;  // GL_SCISSOR_TEST
    }
}

}  // namespace

void GlState::Forget() {
    const std::uint64_t calls = m_nCalls;
    // The vertex arrays keep their places (and the vector its storage: the
    // text font makes the device forget once a frame).
    std::vector<VertexArrayRecord> arrays = std::move(m_VertexArrays);
    for (VertexArrayRecord& r : arrays) r = VertexArrayRecord{r.vertexArray, {}, {}};
    *this = GlState();
    m_VertexArrays = std::move(arrays);
    m_nCalls = calls;
}

void GlState::Enable(unsigned capability, bool on) {
    if (Changes(m_Enabled[CapabilityIndex(capability)], on)) on ? glEnable(capability) : glDisable(capability);
}

void GlState::DepthFunc(unsigned func) {
    if (Changes(m_DepthFunc, func)) glDepthFunc(func);
}

void GlState::DepthMask(bool write) {
    if (Changes(m_DepthMask, write)) glDepthMask(write ? GL_TRUE : GL_FALSE);
}

void GlState::DepthRange(double nearZ, double farZ) {
    if (Changes(m_DepthRange, std::array<double, 2>{nearZ, farZ})) glDepthRange(nearZ, farZ);
}

void GlState::BlendFunc(unsigned source, unsigned destination) {
    if (Changes(m_BlendFunc, std::array<unsigned, 2>{source, destination})) glBlendFunc(source, destination);
}

void GlState::BlendEquation(unsigned equation) {
    if (Changes(m_BlendEquation, equation)) glBlendEquation(equation);
}

void GlState::CullFace(unsigned face) {
    if (Changes(m_CullFace, face)) glCullFace(face);
}

void GlState::FrontFace(unsigned face) {
    if (Changes(m_FrontFace, face)) glFrontFace(face);
}

void GlState::ColorMask(bool r, bool g, bool b, bool a) {
    if (Changes(m_ColorMask, std::array<bool, 4>{r, g, b, a})) glColorMask(r, g, b, a);
}

void GlState::PolygonMode(unsigned mode) {
    if (Changes(m_PolygonMode, mode)) glPolygonMode(GL_FRONT_AND_BACK, mode);
}

void GlState::Viewport(int x, int y, int width, int height) {
    if (Changes(m_Viewport, std::array<int, 4>{x, y, width, height})) glViewport(x, y, width, height);
}

void GlState::Scissor(int x, int y, int width, int height) {
    if (Changes(m_Scissor, std::array<int, 4>{x, y, width, height})) glScissor(x, y, width, height);
}

void GlState::ClearColor(float r, float g, float b, float a) {
    if (Changes(m_ClearColor, std::array<float, 4>{r, g, b, a})) glClearColor(r, g, b, a);
}

void GlState::ClearDepth(double depth) {
    if (Changes(m_ClearDepth, depth)) glClearDepth(depth);
}

void GlState::Framebuffer(unsigned framebuffer) {
    if (Changes(m_Framebuffer, framebuffer)) glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
}

void GlState::Program(unsigned program) {
    if (Changes(m_Program, program)) glUseProgram(program);
}

void GlState::VertexArray(unsigned vertexArray) {
    if (Changes(m_VertexArray, vertexArray)) glBindVertexArray(vertexArray);
}

void GlState::ArrayBuffer(unsigned buffer) {
    if (Changes(m_ArrayBuffer, buffer)) glBindBuffer(GL_ARRAY_BUFFER, buffer);
}

GlState::VertexArrayRecord& GlState::Bound() {
    const unsigned vertexArray = m_VertexArray.value_or(0);
    auto it = std::find_if(m_VertexArrays.begin(), m_VertexArrays.end(),
                           [&](const VertexArrayRecord& r) { return r.vertexArray == vertexArray; });
    if (it != m_VertexArrays.end()) return *it;
    m_VertexArrays.push_back(VertexArrayRecord{vertexArray, {}, {}});
    return m_VertexArrays.back();
}

void GlState::ElementBuffer(unsigned buffer) {
    if (Changes(Bound().elementBuffer, buffer)) glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer);
}

void GlState::ActiveUnit(unsigned unit) {
    if (Changes(m_ActiveUnit, unit)) glActiveTexture(GL_TEXTURE0 + unit);
}

void GlState::Texture(unsigned unit, unsigned texture) {
    if (m_Textures[unit] == texture) return;
    ActiveUnit(unit);
    m_Textures[unit] = texture;
    ++m_nCalls;
    glBindTexture(GL_TEXTURE_2D, texture);
}

void GlState::Sampler(unsigned unit, unsigned sampler) {
    if (Changes(m_Samplers[unit], sampler)) glBindSampler(unit, sampler);
}

void GlState::EnableAttribute(unsigned location, const Attribute& a) {
    std::optional<Attribute>& known = Bound().attributes[location];
    if (known && *known == a) return;
    if (!known || known->buffer == 0) {
        glEnableVertexAttribArray(location);
        ++m_nCalls;
    }
    ArrayBuffer(a.buffer);
    glVertexAttribPointer(location, a.components, a.type, a.normalized ? GL_TRUE : GL_FALSE, a.stride,
                          reinterpret_cast<const void*>(a.offset));
    ++m_nCalls;
    known = a;
}

void GlState::DisableAttribute(unsigned location) {
    std::optional<Attribute>& known = Bound().attributes[location];
    if (!known || known->buffer != 0) {
        glDisableVertexAttribArray(location);
        ++m_nCalls;
        known = Attribute{};
    }
    if (Changes(m_DefaultAttribute[location], true)) glVertexAttrib4f(location, 0.0f, 0.0f, 0.0f, 1.0f);
}
