// The device's drawing: resources, bindings, vertex programs, and the draw
// calls that turn the Direct3D state into OpenGL state and programs.
#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "gfx/Device.h"
#include "gfx/DeviceInternal.h"
#include "gfx/DeviceResources.h"
#include "gfx/PipelineGlsl.h"
#include "gfx/VertexFormat.h"
#include "gfx/VertexProgram.h"
#include "gfx/VertexProgramGlsl.h"

namespace {

// Vertex program handles are odd, so they never look like a format code.
constexpr DWORD kShaderHandleBase = 0x10001;
constexpr std::size_t kMaxProgramTokens = 16384;

DWORD HandleOf(std::size_t index) { return kShaderHandleBase + static_cast<DWORD>(index) * 2; }

bool IsShaderHandle(DWORD handle) { return handle >= kShaderHandleBase && (handle & 1u); }

GLenum GlCompare(DWORD f) {
    switch (f) {
        case D3DCMP_NEVER: return GL_NEVER;
        case D3DCMP_LESS: return GL_LESS;
        case D3DCMP_EQUAL: return GL_EQUAL;
        case D3DCMP_LESSEQUAL: return GL_LEQUAL;
        case D3DCMP_GREATER: return GL_GREATER;
        case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
        case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
        default: return GL_ALWAYS;
    }
}

GLenum GlBlend(DWORD b, bool source) {
    switch (b) {
        case D3DBLEND_ZERO: return GL_ZERO;
        case D3DBLEND_ONE: return GL_ONE;
        case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
        case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
        case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
        case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
        case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
        case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
        case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
        case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
        case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
        case D3DBLEND_BOTHSRCALPHA: return source ? GL_SRC_ALPHA : GL_ONE_MINUS_SRC_ALPHA;
        case D3DBLEND_BOTHINVSRCALPHA: return source ? GL_ONE_MINUS_SRC_ALPHA : GL_SRC_ALPHA;
        default: return source ? GL_ONE : GL_ZERO;
    }
}

GLenum GlBlendEquation(DWORD op) {
    switch (op) {
        case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
        case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
        case D3DBLENDOP_MIN: return GL_MIN;
        case D3DBLENDOP_MAX: return GL_MAX;
        default: return GL_FUNC_ADD;
    }
}

GLenum GlAddress(DWORD a) {
    switch (a) {
        case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
        case D3DTADDRESS_CLAMP:
        case D3DTADDRESS_MIRRORONCE: return GL_CLAMP_TO_EDGE;
        case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
        default: return GL_REPEAT;
    }
}

bool PrimitiveVertices(D3DPRIMITIVETYPE type, UINT primitives, GLenum& mode, GLsizei& count) {
    std::uint64_t n = primitives;
    switch (type) {
        case D3DPT_POINTLIST: mode = GL_POINTS; break;
        case D3DPT_LINELIST: mode = GL_LINES; n *= 2; break;
        case D3DPT_LINESTRIP: mode = GL_LINE_STRIP; n += 1; break;
        case D3DPT_TRIANGLELIST: mode = GL_TRIANGLES; n *= 3; break;
        case D3DPT_TRIANGLESTRIP: mode = GL_TRIANGLE_STRIP; n += 2; break;
        case D3DPT_TRIANGLEFAN: mode = GL_TRIANGLE_FAN; n += 2; break;
        default: return false;
    }
    if (n > 0x7FFFFFFFu) return false;
    count = static_cast<GLsizei>(n);
    return true;
}

std::function<void(std::string&)>& GlslFilter() {
    static std::function<void(std::string&)> filter;
    return filter;
}

// The source with its line numbers, as the driver's log counts them.
std::string NumberedLines(const std::string& source) {
    std::string out;
    int line = 1;
    std::size_t begin = 0;
    while (begin < source.size()) {
        std::size_t end = source.find('\n', begin);
        if (end == std::string::npos) end = source.size();
        char number[16];
        std::snprintf(number, sizeof number, "%4d  ", line++);
        out += number;
        out.append(source, begin, end - begin);
        out += '\n';
        begin = end + 1;
    }
    return out;
}

template <class T>
void SetBinding(T*& slot, T* value) {
    if (slot == value) return;
    if (value) value->AddRef();
    if (slot) slot->Release();
    slot = value;
}

}  // namespace

void SetGlslFilterForTesting(std::function<void(std::string& source)> filter) { GlslFilter() = std::move(filter); }

namespace {

struct ResourceFailure {
    int created = 0;
    int failAt = 0;
};

ResourceFailure& InjectedFailure() {
    static ResourceFailure failure;
    return failure;
}

// True when this creation is the one a test asked to fail.
bool InjectedFailureNow() {
    ResourceFailure& f = InjectedFailure();
    return ++f.created == f.failAt;
}

}  // namespace

int InjectResourceFailureForTesting(int failAt) {
    ResourceFailure& f = InjectedFailure();
    const int counted = f.created;
    f = ResourceFailure{0, failAt};
    return counted;
}

// ---------------------------------------------------------------------------
// Resources

HRESULT Direct3DDevice8::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                            Direct3DVertexBuffer8** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || (fvf != 0 && D3DXGetFVFVertexSize(fvf) == 0)) return D3DERR_INVALIDCALL;
    if (InjectedFailureNow()) return D3DERR_OUTOFVIDEOMEMORY;
    auto* vb = new Direct3DVertexBuffer8();  // handed to the caller, or released below
    vb->m_dwFVF = fvf;
    vb->m_Pool = pool;
    if (!vb->Create(length, usage, m_Gl)) {
        vb->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *buffer = vb;
    return D3D_OK;
}

HRESULT Direct3DDevice8::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                           Direct3DIndexBuffer8** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32)) return D3DERR_INVALIDCALL;
    if (InjectedFailureNow()) return D3DERR_OUTOFVIDEOMEMORY;
    auto* ib = new Direct3DIndexBuffer8();  // handed to the caller, or released below
    ib->m_Format = format;
    ib->m_Pool = pool;
    if (!ib->Create(length, usage, m_Gl)) {
        ib->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *buffer = ib;
    return D3D_OK;
}

HRESULT Direct3DDevice8::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                       D3DPOOL pool, Direct3DTexture8** texture) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (InjectedFailureNow()) return D3DERR_OUTOFVIDEOMEMORY;
    auto* tex = new Direct3DTexture8();  // handed to the caller, or released below
    const HRESULT hr = tex->Create(width, height, levels, usage, format, pool);
    if (FAILED(hr)) {
        tex->Release();
        return hr;
    }
    *texture = tex;
    return D3D_OK;
}

HRESULT Direct3DDevice8::CreateTextureFromPixels(UINT width, UINT height, D3DFORMAT format,
                                                 std::vector<std::vector<BYTE>>& pixels, Direct3DTexture8** texture) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (InjectedFailureNow()) return D3DERR_OUTOFVIDEOMEMORY;
    auto* tex = new Direct3DTexture8();  // handed to the caller, or released below
    const HRESULT hr = tex->Adopt(width, height, 0, format, D3DPOOL_MANAGED, pixels);
    if (FAILED(hr)) {
        tex->Release();
        return hr;
    }
    *texture = tex;
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Bindings

HRESULT Direct3DDevice8::SetStreamSource(UINT stream, Direct3DVertexBuffer8* buffer, UINT stride) {
    if (stream >= 16) return D3DERR_INVALIDCALL;
    if (stream != 0) return buffer ? D3DERR_INVALIDCALL : D3D_OK;  // one stream is drawn from
    SetBinding(m_pStream, buffer);
    m_nStreamStride = stride;
    return D3D_OK;
}

HRESULT Direct3DDevice8::SetIndices(Direct3DIndexBuffer8* buffer, UINT baseVertexIndex) {
    SetBinding(m_pIndices, buffer);
    m_nBaseVertex = baseVertexIndex;
    return D3D_OK;
}

HRESULT Direct3DDevice8::SetTexture(DWORD stage, Direct3DTexture8* texture) {
    if (stage >= kMaxTextureStages) return D3DERR_INVALIDCALL;
    SetBinding(m_Textures[stage], texture);
    return D3D_OK;
}

HRESULT Direct3DDevice8::GetTexture(DWORD stage, Direct3DTexture8** texture) {
    if (stage >= kMaxTextureStages || !texture) return D3DERR_INVALIDCALL;
    *texture = m_Textures[stage];
    if (*texture) (*texture)->AddRef();
    return D3D_OK;
}

void Direct3DDevice8::ReleaseBindings() {
    SetBinding<Direct3DVertexBuffer8>(m_pStream, nullptr);
    SetBinding<Direct3DIndexBuffer8>(m_pIndices, nullptr);
    for (auto& t : m_Textures) SetBinding<Direct3DTexture8>(t, nullptr);
    m_dwShader = 0;
}

// ---------------------------------------------------------------------------
// Vertex programs

Direct3DDevice8::VertexShaderObject* Direct3DDevice8::ShaderFromHandle(DWORD handle) {
    if (!IsShaderHandle(handle)) return nullptr;
    const std::size_t index = (handle - kShaderHandleBase) / 2;
    return index < m_Shaders.size() ? m_Shaders[index].get() : nullptr;
}

HRESULT Direct3DDevice8::CreateVertexShader(const DWORD* declaration, const DWORD* function, DWORD* handle,
                                            DWORD) {
    if (!declaration || !handle) return D3DERR_INVALIDCALL;
    *handle = 0xFFFFFFFF;
    auto shader = std::make_unique<VertexShaderObject>();
    std::size_t declTokens = 0;
    // A declaration is read up to its end token; the bound keeps a malformed
    // one from running on.
    if (!LayoutFromDeclaration(std::span<const DWORD>(declaration, kMaxProgramTokens), shader->layout,
                               shader->constants, declTokens))
        return D3DERR_INVALIDCALL;

    if (function) {
        // Direct3D hands the program over without its length: it runs to its
        // end token.
        const std::size_t length = VertexProgramLength(function, kMaxProgramTokens);
        VertexProgram program;
        if (length == 0 || FAILED(DecodeVertexProgram(std::span<const DWORD>(function, length), program)))
            return D3DERR_INVALIDCALL;
        // Translated even on a device that processes vertices in software:
        // the render state may switch between the two paths at any draw.
        shader->glShader = CompileStage(GL_VERTEX_SHADER, TranslateVertexProgramToGlsl(program));
        if (!shader->glShader) return D3DERR_DRIVERINTERNALERROR;
        shader->program = std::move(program);
        shader->hasProgram = true;
    }

    // Reuse a free slot, so handles stay small over a long run.
    std::size_t index = 0;
    while (index < m_Shaders.size() && m_Shaders[index]) ++index;
    shader->slot = static_cast<std::uint32_t>(index);
    if (index == m_Shaders.size()) m_Shaders.push_back(std::move(shader));
    else m_Shaders[index] = std::move(shader);
    *handle = HandleOf(index);
    return D3D_OK;
}

HRESULT Direct3DDevice8::DeleteVertexShader(DWORD handle) {
    VertexShaderObject* shader = ShaderFromHandle(handle);
    if (!shader) return D3DERR_INVALIDCALL;
    // Programs linked with it go too: its slot may name another program later.
    std::erase_if(m_Programs, [&](const auto& entry) {
        const ProgramKey& key = entry.first;
        if (key.vertex != ProgramKey::Vertex::Program || key.id != shader->slot) return false;
        if (entry.second) {
            glDeleteProgram(entry.second->glProgram);
            CountGlObjectDeletion();
        }
        return true;
    });
    if (shader->glShader) glDeleteShader(shader->glShader);
    m_Shaders[(handle - kShaderHandleBase) / 2].reset();
    if (m_dwShader == handle) m_dwShader = 0;
    return D3D_OK;
}

HRESULT Direct3DDevice8::SetVertexShader(DWORD handle) {
    if (IsShaderHandle(handle)) {
        VertexShaderObject* shader = ShaderFromHandle(handle);
        if (!shader) return D3DERR_INVALIDCALL;
        for (const DeclarationConstant& c : shader->constants) m_Constants[c.reg] = c.value;
        if (!shader->constants.empty()) ++m_nConstantsVersion;
    } else {
        VertexLayout layout;
        if (!LayoutFromFVF(handle, layout)) return D3DERR_INVALIDCALL;
    }
    m_dwShader = handle;
    return D3D_OK;
}

HRESULT Direct3DDevice8::GetVertexShader(DWORD* handle) {
    if (!handle) return D3DERR_INVALIDCALL;
    *handle = m_dwShader;
    return D3D_OK;
}

HRESULT Direct3DDevice8::SetVertexShaderConstant(DWORD reg, const void* data, DWORD count) {
    if (!data || reg >= m_Constants.size() || count > m_Constants.size() - reg) return D3DERR_INVALIDCALL;
    std::memcpy(&m_Constants[reg], data, count * sizeof(m_Constants[0]));
    ++m_nConstantsVersion;
    return D3D_OK;
}

HRESULT Direct3DDevice8::GetVertexShaderConstant(DWORD reg, void* data, DWORD count) {
    if (!data || reg >= m_Constants.size() || count > m_Constants.size() - reg) return D3DERR_INVALIDCALL;
    std::memcpy(data, &m_Constants[reg], count * sizeof(m_Constants[0]));
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Programs

std::size_t Direct3DDevice8::ProgramCount() const {
    return static_cast<std::size_t>(
        std::count_if(m_Programs.begin(), m_Programs.end(), [](const auto& entry) { return entry.second != nullptr; }));
}

void Direct3DDevice8::CollideProgramKeysForTesting() {
    const ProgramKeyHash collide{true};
    m_FixedVertexShaders = decltype(m_FixedVertexShaders)(0, collide);
    m_FragmentShaders = decltype(m_FragmentShaders)(0, collide);
    m_Programs = decltype(m_Programs)(0, collide);
}

void Direct3DDevice8::ReportProgramFailure(const char* what, const std::string& log, const std::string& source) {
    m_sProgramError = log + "\n" + source;
    std::fprintf(stderr, "glimmerwing: OpenGL refused %s:\n%s\n--- its source:\n%s", what, log.c_str(),
                 NumberedLines(source).c_str());
    if (!m_ProgramLog) return;
    m_ProgramLog(std::string("OpenGL refused ") + what + ":");
    std::size_t begin = 0;
    while (begin < log.size()) {
        std::size_t end = log.find('\n', begin);
        if (end == std::string::npos) end = log.size();
        if (end > begin) m_ProgramLog(log.substr(begin, end - begin));
        begin = end + 1;
    }
}

unsigned Direct3DDevice8::CompileStage(unsigned type, std::string source) {
    if (GlslFilter()) GlslFilter()(source);
    GLuint s = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(s, 1, &text, nullptr);
    glCompileShader(s);
    GLint ok = 0;
    glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (ok) return s;
    char log[4096] = {};
    glGetShaderInfoLog(s, sizeof log, nullptr, log);
    glDeleteShader(s);
    ReportProgramFailure(type == GL_VERTEX_SHADER ? "a vertex shader" : "a fragment shader", log, source);
    return 0;
}

unsigned Direct3DDevice8::FixedVertexShader(const FixedVertexKey& key) {
    auto it = m_FixedVertexShaders.find(key);
    if (it != m_FixedVertexShaders.end()) return it->second;
    const unsigned shader = CompileStage(GL_VERTEX_SHADER, FixedFunctionVertexGlsl(key));
    m_FixedVertexShaders.emplace(key, shader);
    return shader;
}

Direct3DDevice8::Program* Direct3DDevice8::FindProgram(unsigned vertexShader, const ProgramKey& key) {
    auto it = m_Programs.find(key);
    if (it != m_Programs.end()) return it->second.get();

    unsigned fragmentShader = 0;
    auto f = m_FragmentShaders.find(key.fragment);
    if (f != m_FragmentShaders.end()) {
        fragmentShader = f->second;
    } else {
        fragmentShader = CompileStage(GL_FRAGMENT_SHADER, FragmentGlsl(key.fragment));
        m_FragmentShaders.emplace(key.fragment, fragmentShader);
    }
    if (!fragmentShader) {
        m_Programs.emplace(key, nullptr);
        return nullptr;
    }

    GLuint program = glCreateProgram();
    glAttachShader(program, vertexShader);
    glAttachShader(program, fragmentShader);
    glLinkProgram(program);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[4096] = {};
        glGetProgramInfoLog(program, sizeof log, nullptr, log);
        glDeleteProgram(program);
        ReportProgramFailure("to link a program", log, FragmentGlsl(key.fragment));
        m_Programs.emplace(key, nullptr);
        return nullptr;
    }
    auto p = std::make_unique<Program>();
    p->glProgram = program;
    auto loc = [&](const char* name) { return glGetUniformLocation(program, name); };
    p->locC = loc("c");
    p->locClip = loc("uClipControl");
    p->locWorld = loc("uWorld");
    p->locView = loc("uView");
    p->locProj = loc("uProj");
    p->locFogStart = loc("uFogStart");
    p->locFogEnd = loc("uFogEnd");
    p->locMatDiffuse = loc("uMatDiffuse");
    p->locMatAmbient = loc("uMatAmbient");
    p->locMatEmissive = loc("uMatEmissive");
    p->locAmbient = loc("uAmbient");
    p->locTFactor = loc("uTFactor");
    p->locFogColor = loc("uFogColor");
    p->locAlphaRef = loc("uAlphaRef");
    for (std::size_t i = 0; i < p->locConstant.size(); ++i)
        p->locConstant[i] = p->locC >= 0 ? loc(("c[" + std::to_string(i) + "]").c_str()) : -1;
    m_Gl.Program(program);
    for (int i = 0; i < static_cast<int>(kMaxTextureStages); ++i) {
        const std::string name = "uTex" + std::to_string(i);
        const GLint l = loc(name.c_str());
        if (l >= 0) glUniform1i(l, i);
    }
    if (p->locClip >= 0) glUniform1i(p->locClip, m_bClipControl ? 1 : 0);
    Program* result = p.get();
    m_Programs.emplace(key, std::move(p));
    return result;
}

void Direct3DDevice8::BuildFragmentKey(FragmentKey& key) const {
    key = FragmentKey{};
    for (DWORD stage = 0; stage < kMaxTextureStages; ++stage) {
        const auto& s = m_StageStates[stage];
        const DWORD op = s[D3DTSS_COLOROP];
        if (op == D3DTOP_DISABLE || op == 0) break;
        // A stage whose first argument is a missing texture passes the current
        // colour on, and so do the stages after it.
        if ((s[D3DTSS_COLORARG1] & D3DTA_SELECTMASK) == D3DTA_TEXTURE && !m_Textures[stage]) break;
        StageKey& k = key.stages[stage];
        k.colorOp = static_cast<std::uint8_t>(op);
        k.colorArg1 = static_cast<std::uint8_t>(s[D3DTSS_COLORARG1]);
        k.colorArg2 = static_cast<std::uint8_t>(s[D3DTSS_COLORARG2]);
        k.alphaOp = static_cast<std::uint8_t>(s[D3DTSS_ALPHAOP]);
        k.alphaArg1 = static_cast<std::uint8_t>(s[D3DTSS_ALPHAARG1]);
        k.alphaArg2 = static_cast<std::uint8_t>(s[D3DTSS_ALPHAARG2]);
        if ((k.alphaArg1 & D3DTA_SELECTMASK) == D3DTA_TEXTURE && !m_Textures[stage] &&
            k.alphaOp == D3DTOP_SELECTARG1)
            k.alphaOp = D3DTOP_DISABLE;
        k.texCoordIndex = static_cast<std::uint8_t>(s[D3DTSS_TEXCOORDINDEX] & 7u);
        k.resultTemp = s[D3DTSS_RESULTARG] == D3DTA_TEMP ? 1 : 0;
        key.stageCount = static_cast<std::uint8_t>(stage + 1);
    }
    key.specular = m_RenderStates[D3DRS_SPECULARENABLE] ? 1 : 0;
    key.fog = m_RenderStates[D3DRS_FOGENABLE] ? 1 : 0;
    key.alphaFunc = m_RenderStates[D3DRS_ALPHATESTENABLE]
                        ? static_cast<std::uint8_t>(std::clamp<DWORD>(m_RenderStates[D3DRS_ALPHAFUNC], 1, 8))
                        : static_cast<std::uint8_t>(D3DCMP_ALWAYS);
}

// ---------------------------------------------------------------------------
// State

unsigned Direct3DDevice8::Sampler(DWORD stage) {
    const auto& s = m_StageStates[stage];
    const std::uint32_t key = (s[D3DTSS_MINFILTER] & 3u) | ((s[D3DTSS_MAGFILTER] & 3u) << 2) |
                              ((s[D3DTSS_MIPFILTER] & 3u) << 4) | ((s[D3DTSS_ADDRESSU] & 7u) << 6) |
                              ((s[D3DTSS_ADDRESSV] & 7u) << 9);
    auto it = m_Samplers.find(key);
    if (it != m_Samplers.end()) return it->second;
    GLuint sampler = 0;
    glGenSamplers(1, &sampler);
    const bool linearMin = s[D3DTSS_MINFILTER] >= D3DTEXF_LINEAR;
    GLenum minFilter = linearMin ? GL_LINEAR : GL_NEAREST;
    if (s[D3DTSS_MIPFILTER] == D3DTEXF_POINT) minFilter = linearMin ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    if (s[D3DTSS_MIPFILTER] >= D3DTEXF_LINEAR) minFilter = linearMin ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(minFilter));
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, s[D3DTSS_MAGFILTER] >= D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST);
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, static_cast<GLint>(GlAddress(s[D3DTSS_ADDRESSU])));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, static_cast<GLint>(GlAddress(s[D3DTSS_ADDRESSV])));
    m_Samplers.emplace(key, sampler);
    return sampler;
}

void Direct3DDevice8::ApplyTextures(const FragmentKey& key) {
    for (DWORD stage = 0; stage < key.stageCount; ++stage) {
        if (m_Textures[stage]) {
            const std::size_t bytes = m_Textures[stage]->Upload(m_Gl, stage);
            if (bytes) {
                ++m_Stats.dataUploads;
                m_Stats.dataBytes += bytes;
            }
            m_Gl.Sampler(stage, Sampler(stage));
        } else {
            m_Gl.Texture(stage, 0);
            m_Gl.Sampler(stage, 0);
        }
    }
}

void Direct3DDevice8::ApplyRenderStates() {
    const auto& rs = m_RenderStates;
    if (rs[D3DRS_ZENABLE] != D3DZB_FALSE && m_bDepthBuffer) {
        m_Gl.Enable(GL_DEPTH_TEST, true);
        m_Gl.DepthFunc(GlCompare(rs[D3DRS_ZFUNC]));
        m_Gl.DepthMask(rs[D3DRS_ZWRITEENABLE] != 0);
    } else {
        m_Gl.Enable(GL_DEPTH_TEST, false);
    }
    if (rs[D3DRS_ALPHABLENDENABLE]) {
        m_Gl.Enable(GL_BLEND, true);
        m_Gl.BlendFunc(GlBlend(rs[D3DRS_SRCBLEND], true), GlBlend(rs[D3DRS_DESTBLEND], false));
        m_Gl.BlendEquation(GlBlendEquation(rs[D3DRS_BLENDOP]));
    } else {
        m_Gl.Enable(GL_BLEND, false);
    }
    // Direct3D culls by the winding seen on screen; so does OpenGL, whose
    // picture we present unflipped.
    if (rs[D3DRS_CULLMODE] == D3DCULL_NONE) {
        m_Gl.Enable(GL_CULL_FACE, false);
    } else {
        m_Gl.Enable(GL_CULL_FACE, true);
        m_Gl.FrontFace(GL_CCW);
        m_Gl.CullFace(rs[D3DRS_CULLMODE] == D3DCULL_CCW ? GL_FRONT : GL_BACK);
    }
    const DWORD mask = rs[D3DRS_COLORWRITEENABLE];
    m_Gl.ColorMask((mask & 1u) != 0, (mask & 2u) != 0, (mask & 4u) != 0, (mask & 8u) != 0);
    m_Gl.PolygonMode(rs[D3DRS_FILLMODE] == D3DFILL_WIREFRAME ? GL_LINE
                     : rs[D3DRS_FILLMODE] == D3DFILL_POINT   ? GL_POINT
                                                             : GL_FILL);
    m_Gl.Enable(GL_SCISSOR_TEST, false);
    m_Gl.Viewport(static_cast<GLint>(m_Viewport.X),
                  static_cast<GLint>(m_nBackHeight) - static_cast<GLint>(m_Viewport.Y + m_Viewport.Height),
                  static_cast<GLsizei>(m_Viewport.Width), static_cast<GLsizei>(m_Viewport.Height));
    m_Gl.DepthRange(static_cast<double>(m_Viewport.MinZ), static_cast<double>(m_Viewport.MaxZ));
}

void Direct3DDevice8::ApplyVertexLayout(const VertexLayout& layout) {
    const unsigned buffer = m_pStream->GlBuffer();
    const auto stride = static_cast<GLsizei>(m_nStreamStride);
    for (GLuint r = 0; r < kVertexRegisters; ++r) {
        const VertexElement& e = layout.elements[r];
        GlState::Attribute a{buffer, 0, GL_FLOAT, false, stride, e.offset};
        switch (e.type) {
            case ElementType::None: m_Gl.DisableAttribute(r); continue;
            case ElementType::Float1: a.components = 1; break;
            case ElementType::Float2: a.components = 2; break;
            case ElementType::Float3: a.components = 3; break;
            case ElementType::Float4: a.components = 4; break;
            // A colour's bytes are B, G, R, A; it reads as (r, g, b, a) in 0..1.
            case ElementType::Color: a = {buffer, GL_BGRA, GL_UNSIGNED_BYTE, true, stride, e.offset}; break;
            case ElementType::UByte4: a = {buffer, 4, GL_UNSIGNED_BYTE, false, stride, e.offset}; break;
            case ElementType::Short2: a = {buffer, 2, GL_SHORT, false, stride, e.offset}; break;
            case ElementType::Short4: a = {buffer, 4, GL_SHORT, false, stride, e.offset}; break;
        }
        m_Gl.EnableAttribute(r, a);
    }
}

bool Direct3DDevice8::Program::Send(int uniform, int location, const float* value, std::size_t floats) {
    if (location < 0) return false;
    Held& h = held[static_cast<std::size_t>(uniform)];
    if (h.known && std::memcmp(h.value.data(), value, floats * sizeof(float)) == 0) return false;
    std::memcpy(h.value.data(), value, floats * sizeof(float));
    h.known = true;
    if (floats == 16) glUniformMatrix4fv(location, 1, GL_FALSE, value);
    else if (floats == 4) glUniform4fv(location, 1, value);
    else glUniform1f(location, value[0]);
    return true;
}

namespace {

std::array<float, 4> Colour(const D3DCOLORVALUE& c) { return {c.r, c.g, c.b, c.a}; }

std::array<float, 4> Colour(DWORD argb) {
    return {static_cast<float>((argb >> 16) & 0xFF) / 255.0f, static_cast<float>((argb >> 8) & 0xFF) / 255.0f,
            static_cast<float>(argb & 0xFF) / 255.0f, static_cast<float>((argb >> 24) & 0xFF) / 255.0f};
}

}  // namespace

void Direct3DDevice8::UploadUniforms(Program& p, bool fixedFunction) {
    std::size_t uploads = 0, floats = 0;
    auto uniform = [&](int which, int location, const float* value, std::size_t count) {
        if (p.Send(which, location, value, count)) {
            ++uploads;
            floats += count;
        }
    };
    if (!fixedFunction && p.constantsVersion != m_nConstantsVersion && p.locC >= 0) {
        // Only the registers from the first to the last one that changed,
        // leaving out those at the end that the program does not read (they
        // have no location; the others sit in one array from c[0] up).
        std::size_t first = 0, last = m_Constants.size();
        while (last > 0 && p.locConstant[last - 1] < 0) --last;
        if (p.constantsKnown) {
            while (first < last && p.constants[first] == m_Constants[first]) ++first;
            while (last > first && p.constants[last - 1] == m_Constants[last - 1]) --last;
        }
        if (first < last) {
            glUniform4fv(p.locConstant[first], static_cast<GLsizei>(last - first), m_Constants[first].data());
            std::copy(m_Constants.begin() + static_cast<std::ptrdiff_t>(first),
                      m_Constants.begin() + static_cast<std::ptrdiff_t>(last),
                      p.constants.begin() + static_cast<std::ptrdiff_t>(first));
            ++uploads;
            floats += (last - first) * 4;
        }
        p.constantsKnown = true;
        p.constantsVersion = m_nConstantsVersion;
    }
    if (fixedFunction && p.transformsVersion != m_nTransformsVersion) {
        uniform(Program::kWorld, p.locWorld, &m_Transforms[D3DTS_WORLD].m[0][0], 16);
        uniform(Program::kView, p.locView, &m_Transforms[D3DTS_VIEW].m[0][0], 16);
        uniform(Program::kProj, p.locProj, &m_Transforms[D3DTS_PROJECTION].m[0][0], 16);
        p.transformsVersion = m_nTransformsVersion;
    }
    if (fixedFunction && p.materialVersion != m_nMaterialVersion) {
        uniform(Program::kMatDiffuse, p.locMatDiffuse, Colour(m_Material.Diffuse).data(), 4);
        uniform(Program::kMatAmbient, p.locMatAmbient, Colour(m_Material.Ambient).data(), 4);
        uniform(Program::kMatEmissive, p.locMatEmissive, Colour(m_Material.Emissive).data(), 4);
        p.materialVersion = m_nMaterialVersion;
    }
    if (p.stateVersion != m_nRenderStateVersion) {
        uniform(Program::kTFactor, p.locTFactor, Colour(m_RenderStates[D3DRS_TEXTUREFACTOR]).data(), 4);
        uniform(Program::kFogColor, p.locFogColor, Colour(m_RenderStates[D3DRS_FOGCOLOR]).data(), 4);
        uniform(Program::kAmbient, p.locAmbient, Colour(m_RenderStates[D3DRS_AMBIENT]).data(), 4);
        const float alphaRef = static_cast<float>(m_RenderStates[D3DRS_ALPHAREF] & 0xFF) / 255.0f;
        const float fogStart = DwordToFloat(m_RenderStates[D3DRS_FOGSTART]);
        const float fogEnd = DwordToFloat(m_RenderStates[D3DRS_FOGEND]);
        uniform(Program::kAlphaRef, p.locAlphaRef, &alphaRef, 1);
        uniform(Program::kFogStart, p.locFogStart, &fogStart, 1);
        uniform(Program::kFogEnd, p.locFogEnd, &fogEnd, 1);
        p.stateVersion = m_nRenderStateVersion;
    }
    m_Stats.uniformUploads += uploads;
    m_Stats.uniformBytes += floats * sizeof(float);
}

void Direct3DDevice8::UploadStreamRange(std::uint64_t firstVertex, std::uint64_t vertices) {
    // What the draw reads of the stream: from its first vertex to the end of
    // its last one.
    const std::uint64_t begin = firstVertex * m_nStreamStride;
    const std::uint64_t end = vertices == 0 ? begin : begin + (vertices - 1) * m_nStreamStride + m_nDrawStride;
    const std::size_t bytes = m_pStream->Upload(m_Gl, GL_ARRAY_BUFFER, static_cast<UINT>(begin),
                                                static_cast<UINT>(std::min<std::uint64_t>(end, m_pStream->Size())));
    if (bytes) {
        ++m_Stats.dataUploads;
        m_Stats.dataBytes += bytes;
    }
}

void Direct3DDevice8::ForgetGlStateIfObjectsWentAway() {
    if (GlObjectDeletions() != m_nObjectDeletionsSeen) {
        m_nObjectDeletionsSeen = GlObjectDeletions();
        m_Gl.Forget();
    }
}

HRESULT Direct3DDevice8::PrepareDraw(bool indexed) {
    if (!m_bInScene) return D3DERR_INVALIDCALL;
    if (!m_pStream || m_nStreamStride == 0) return D3DERR_INVALIDCALL;
    if (indexed && !m_pIndices) return D3DERR_INVALIDCALL;

    const VertexLayout* layout = nullptr;
    VertexLayout fvfLayout;
    unsigned vertexShader = 0;
    ProgramKey key;
    bool fixedFunction = true;
    m_pSoftwareShader = nullptr;
    if (VertexShaderObject* shader = ShaderFromHandle(m_dwShader)) {
        layout = &shader->layout;
        if (!shader->hasProgram) return D3DERR_INVALIDCALL;  // a declaration alone is not drawn by this device
        fixedFunction = false;
        // In software vertex processing the CPU runs the program (the draw
        // does that once it knows its vertices); fixed-function draws are
        // generated programs either way and stay on the GPU.
        if (m_RenderStates[D3DRS_SOFTWAREVERTEXPROCESSING]) {
            m_pSoftwareShader = shader;
        } else {
            vertexShader = shader->glShader;
            key.vertex = ProgramKey::Vertex::Program;
            key.id = shader->slot;
        }
    } else {
        if (!LayoutFromFVF(m_dwShader, fvfLayout)) return D3DERR_INVALIDCALL;
        layout = &fvfLayout;
        FixedVertexKey& fixed = key.fixed;
        fixed.fvf = m_dwShader;
        fixed.lighting = m_RenderStates[D3DRS_LIGHTING] ? 1 : 0;
        fixed.colorVertex = m_RenderStates[D3DRS_COLORVERTEX] ? 1 : 0;
        fixed.diffuseSource = static_cast<std::uint8_t>(m_RenderStates[D3DRS_DIFFUSEMATERIALSOURCE]);
        fixed.ambientSource = static_cast<std::uint8_t>(m_RenderStates[D3DRS_AMBIENTMATERIALSOURCE]);
        fixed.emissiveSource = static_cast<std::uint8_t>(m_RenderStates[D3DRS_EMISSIVEMATERIALSOURCE]);
        fixed.fogLinear = m_RenderStates[D3DRS_FOGVERTEXMODE] == D3DFOG_LINEAR ? 1 : 0;
        key.vertex = ProgramKey::Vertex::FixedFunction;
        vertexShader = FixedVertexShader(fixed);
        if (!vertexShader) return D3DERR_DRIVERINTERNALERROR;
    }

    BuildFragmentKey(key.fragment);
    if (m_pSoftwareShader) {
        m_nSoftwareVaryings = FragmentVaryings(key.fragment);
        vertexShader = SoftwareVertexShader(m_nSoftwareVaryings);
        if (!vertexShader) return D3DERR_DRIVERINTERNALERROR;
        key.vertex = ProgramKey::Vertex::Software;
        key.id = m_nSoftwareVaryings;
    }
    Program* program = FindProgram(vertexShader, key);
    if (!program) return D3DERR_DRIVERINTERNALERROR;

    // A stride shorter than the layout's vertex would read past the buffer.
    if (m_nStreamStride < layout->stride) return D3DERR_INVALIDCALL;
    m_nDrawVertices = m_pStream->Size() < layout->stride ? 0 : (m_pStream->Size() - layout->stride) / m_nStreamStride + 1;
    m_nDrawStride = layout->stride;
    m_pDrawProgram = program;
    m_pDrawLayout = layout == &fvfLayout ? &(m_DrawFvfLayout = fvfLayout) : layout;
    m_bDrawFixedFunction = fixedFunction;
    m_DrawFragment = key.fragment;
    return D3D_OK;
}

void Direct3DDevice8::SendDrawState(bool indexed, std::uint64_t firstVertex, std::uint64_t vertices) {
    ForgetGlStateIfObjectsWentAway();
    TargetBackBuffer();
    ApplyRenderStates();
    m_Gl.Program(m_pDrawProgram->glProgram);
    UploadUniforms(*m_pDrawProgram, m_bDrawFixedFunction);
    ApplyTextures(m_DrawFragment);
    if (m_pSoftwareShader) {
        m_Gl.VertexArray(m_glSoftwareVertexArray);
    } else {
        m_Gl.VertexArray(m_glVertexArray);
        UploadStreamRange(firstVertex, vertices);
        ApplyVertexLayout(*m_pDrawLayout);
    }
    if (indexed) {
        const std::size_t bytes = m_pIndices->Upload(m_Gl, GL_ELEMENT_ARRAY_BUFFER, 0, m_pIndices->Size());
        if (bytes) {
            ++m_Stats.dataUploads;
            m_Stats.dataBytes += bytes;
        }
    }
}

HRESULT Direct3DDevice8::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    GLenum mode = 0;
    GLsizei count = 0;
    if (!PrimitiveVertices(type, primitiveCount, mode, count)) return D3DERR_INVALIDCALL;
    if (primitiveCount == 0) return D3D_OK;
    const HRESULT hr = PrepareDraw(false);
    if (FAILED(hr)) return hr;
    const UINT vertices = m_nDrawVertices;
    if (startVertex > vertices || static_cast<UINT>(count) > vertices - startVertex) return D3DERR_INVALIDCALL;
    if (!m_bOpenGl) return D3D_OK;
    SendDrawState(false, startVertex, static_cast<UINT>(count));
    if (m_pSoftwareShader) {
        ProcessVerticesInSoftware(startVertex, static_cast<UINT>(count));
        glDrawArrays(mode, 0, count);
    } else {
        glDrawArrays(mode, static_cast<GLint>(startVertex), count);
    }
    ++m_Stats.draws;
    return D3D_OK;
}

HRESULT Direct3DDevice8::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices,
                                              UINT startIndex, UINT primitiveCount) {
    GLenum mode = 0;
    GLsizei count = 0;
    if (!PrimitiveVertices(type, primitiveCount, mode, count)) return D3DERR_INVALIDCALL;
    if (primitiveCount == 0) return D3D_OK;
    const HRESULT hr = PrepareDraw(true);
    if (FAILED(hr)) return hr;
    const UINT indexSize = m_pIndices->Format() == D3DFMT_INDEX32 ? 4 : 2;
    const UINT indices = m_pIndices->Size() / indexSize;
    if (startIndex > indices || static_cast<UINT>(count) > indices - startIndex) return D3DERR_INVALIDCALL;
    const GLenum indexType = indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
    const auto* indexOffset = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(startIndex) * indexSize);
    const std::uint64_t first = std::uint64_t{m_nBaseVertex} + minIndex;
    if (m_pSoftwareShader) {
        // Only the vertices the draw names are processed: minIndex ..
        // minIndex + numVertices - 1 after the base vertex. They go to the
        // scratch buffer from its start, where the indices find them moved
        // down by minIndex.
        if (first + numVertices > m_nDrawVertices || minIndex > 0x7FFFFFFFu) return D3DERR_INVALIDCALL;
        if (!IndicesWithin(startIndex, static_cast<UINT>(count), minIndex, numVertices)) return D3DERR_INVALIDCALL;
        if (!m_bOpenGl) return D3D_OK;
        SendDrawState(true, first, numVertices);
        ProcessVerticesInSoftware(static_cast<UINT>(first), numVertices);
        glDrawElementsBaseVertex(mode, count, indexType, indexOffset, -static_cast<GLint>(minIndex));
        ++m_Stats.draws;
        return D3D_OK;
    }
    // Every index, moved by the base vertex, must name a vertex of the stream.
    if (std::uint64_t{m_nBaseVertex} + m_pIndices->MaxIndex() >= m_nDrawVertices) return D3DERR_INVALIDCALL;
    if (!m_bOpenGl) return D3D_OK;
    // The vertices the draw names are the ones it reads (minIndex and
    // numVertices say so); those are what it uploads of the stream.
    SendDrawState(true, first, numVertices);
    glDrawElementsBaseVertex(mode, count, indexType, indexOffset, static_cast<GLint>(m_nBaseVertex));
    ++m_Stats.draws;
    return D3D_OK;
}
