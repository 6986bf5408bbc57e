#include "gfx/D3DXFont.h"

#include <epoxy/gl.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/Device.h"
#include "platform/Gdi.h"

namespace {

// A font of height 0 gets the mapper's default size: a 16-pixel cell.
constexpr int kDefaultCellHeight = 16;
constexpr int kAtlasWidth = 512;

const char* const kVertexSource = R"(#version 330 core
layout(location = 0) in vec2 aPos;
layout(location = 1) in vec2 aUV;
uniform vec2 uViewport;
out vec2 vUV;
void main() {
    vUV = aUV;
    gl_Position = vec4(aPos.x / uViewport.x * 2.0 - 1.0, 1.0 - aPos.y / uViewport.y * 2.0, 0.0, 1.0);
}
)";

const char* const kFragmentSource = R"(#version 330 core
in vec2 vUV;
uniform sampler2D uAtlas;
uniform vec4 uColor;
out vec4 oColor;
void main() {
    oColor = vec4(uColor.rgb, uColor.a * texture(uAtlas, vUV).r);
}
)";

unsigned CompileProgram() {
    auto stage = [](GLenum type, const char* source) {
        GLuint s = glCreateShader(type);
        glShaderSource(s, 1, &source, nullptr);
        glCompileShader(s);
        GLint ok = 0;
        glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
        if (!ok) {
            glDeleteShader(s);
            return 0u;
        }
        return s;
    };
    GLuint vs = stage(GL_VERTEX_SHADER, kVertexSource);
    GLuint fs = stage(GL_FRAGMENT_SHADER, kFragmentSource);
    GLuint program = 0;
    if (vs && fs) {
        program = glCreateProgram();
        glAttachShader(program, vs);
        glAttachShader(program, fs);
        glLinkProgram(program);
        GLint ok = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &ok);
        if (!ok) {
            glDeleteProgram(program);
            program = 0;
        }
    }
    if (vs) glDeleteShader(vs);
    if (fs) glDeleteShader(fs);
    return program;
}

// FreeType library and face, released on every path out of font creation.
struct FreeTypeFace {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    ~FreeTypeFace() {
        if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
    }
};

}  // namespace

HRESULT D3DXCreateFont(Direct3DDevice8* device, HFONT font, D3DXFont** result) {
    if (!result) return D3DERR_INVALIDCALL;
    *result = nullptr;
    if (!device || !font) return D3DERR_INVALIDCALL;
    auto* created = new D3DXFont();  // handed to the caller, or released below
    const HRESULT hr = created->Create(device, font);
    if (FAILED(hr)) {
        created->Release();
        return hr;
    }
    *result = created;
    return D3D_OK;
}

DWORD D3DXFont::Release() {
    const DWORD refs = --m_dwRefs;
    if (refs == 0) delete this;
    return refs;
}

D3DXFont::~D3DXFont() {
    if (m_glBuffer) glDeleteBuffers(1, &m_glBuffer);
    if (m_glVertexArray) glDeleteVertexArrays(1, &m_glVertexArray);
    if (m_glProgram) glDeleteProgram(m_glProgram);
    if (m_glTexture) glDeleteTextures(1, &m_glTexture);
}

HRESULT D3DXFont::Create(Direct3DDevice8* device, HFONT font) {
    const FontDescription* desc = DescribeFont(font);
    if (!desc) return D3DERR_INVALIDCALL;
    m_pDevice = device;
    m_bUnderline = desc->underline;

    FreeTypeFace ft;
    if (FT_Init_FreeType(&ft.library) != 0) return E_FAIL;
    if (FT_New_Face(ft.library, desc->file.c_str(), desc->faceIndex, &ft.face) != 0) return E_FAIL;
    FT_Face face = ft.face;

    // GDI heights: positive is the cell height, negative the character height.
    FT_Size_RequestRec request{};
    request.type = desc->height < 0 ? FT_SIZE_REQUEST_TYPE_REAL_DIM : FT_SIZE_REQUEST_TYPE_CELL;
    const int pixels = desc->height == 0 ? kDefaultCellHeight : std::abs(desc->height);
    request.height = static_cast<FT_Long>(pixels) * 64;
    if (FT_Request_Size(face, &request) != 0) return E_FAIL;

    m_nAscent = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
    const int descent = static_cast<int>((-face->size->metrics.descender + 63) >> 6);
    m_nLineHeight = std::max(1, m_nAscent + descent);
    if (FT_IS_SCALABLE(face)) {
        const FT_Fixed scale = face->size->metrics.y_scale;
        m_nUnderlineOffset = std::max(1, static_cast<int>(std::lround(-FT_MulFix(face->underline_position, scale) / 64.0)));
        m_nUnderlineThickness =
            std::max(1, static_cast<int>(std::lround(FT_MulFix(face->underline_thickness, scale) / 64.0)));
    } else {
        m_nUnderlineOffset = std::max(1, descent / 2);
        m_nUnderlineThickness = 1;
    }

    // Rasterise the glyphs in rows; the first texels are a covered block for
    // drawing the underline.
    struct Bitmap {
        std::vector<unsigned char> pixels;
        int width = 0, height = 0;
    };
    std::vector<Bitmap> bitmaps(m_Glyphs.size());
    int penX = 4, penY = 0, rowHeight = 2;
    std::vector<std::pair<int, int>> positions(m_Glyphs.size());
    for (int c = kFirstChar; c <= kLastChar; ++c) {
        const auto i = static_cast<std::size_t>(c - kFirstChar);
        if (FT_Load_Char(face, static_cast<FT_ULong>(c), FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL | FT_LOAD_NO_BITMAP) != 0)
            continue;
        FT_GlyphSlot slot = face->glyph;
        if (slot->bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) continue;  // only 8-bit coverage is copied
        Glyph& g = m_Glyphs[i];
        g.width = static_cast<int>(slot->bitmap.width);
        g.height = static_cast<int>(slot->bitmap.rows);
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
        Bitmap& b = bitmaps[i];
        b.width = g.width;
        b.height = g.height;
        b.pixels.resize(static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height));
        for (int y = 0; y < g.height; ++y)
            std::memcpy(&b.pixels[static_cast<std::size_t>(y * g.width)],
                        slot->bitmap.buffer + static_cast<std::ptrdiff_t>(y) * slot->bitmap.pitch,
                        static_cast<std::size_t>(g.width));
        if (penX + g.width + 1 > kAtlasWidth) {
            penX = 0;
            penY += rowHeight + 1;
            rowHeight = 0;
        }
        positions[i] = {penX, penY};
        penX += g.width + 1;
        rowHeight = std::max(rowHeight, g.height);
    }
    int atlasHeight = 1;
    while (atlasHeight < penY + rowHeight + 1) atlasHeight *= 2;
    std::vector<unsigned char> atlas(static_cast<std::size_t>(kAtlasWidth * atlasHeight), 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) atlas[static_cast<std::size_t>(y * kAtlasWidth + x)] = 255;
    m_fWhiteU = 1.0f / kAtlasWidth;
    m_fWhiteV = 1.0f / static_cast<float>(atlasHeight);
    for (std::size_t i = 0; i < m_Glyphs.size(); ++i) {
        const Bitmap& b = bitmaps[i];
        const auto [ox, oy] = positions[i];
        for (int y = 0; y < b.height; ++y)
            std::memcpy(&atlas[static_cast<std::size_t>((oy + y) * kAtlasWidth + ox)],
                        &b.pixels[static_cast<std::size_t>(y * b.width)], static_cast<std::size_t>(b.width));
        Glyph& g = m_Glyphs[i];
        g.u0 = static_cast<float>(ox) / kAtlasWidth;
        g.v0 = static_cast<float>(oy) / static_cast<float>(atlasHeight);
        g.u1 = static_cast<float>(ox + b.width) / kAtlasWidth;
        g.v1 = static_cast<float>(oy + b.height) / static_cast<float>(atlasHeight);
    }

    m_glProgram = CompileProgram();
    if (!m_glProgram) return E_FAIL;
    m_locViewport = glGetUniformLocation(m_glProgram, "uViewport");
    m_locColor = glGetUniformLocation(m_glProgram, "uColor");

    glGenTextures(1, &m_glTexture);
    glBindTexture(GL_TEXTURE_2D, m_glTexture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, kAtlasWidth, atlasHeight, 0, GL_RED, GL_UNSIGNED_BYTE, atlas.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);

    glGenVertexArrays(1, &m_glVertexArray);
    glBindVertexArray(m_glVertexArray);
    glGenBuffers(1, &m_glBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, m_glBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(sizeof(m_Vertices)), nullptr, GL_STREAM_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<const void*>(2 * sizeof(float)));
    glBindVertexArray(0);
    // The bindings above are not the device's: it sets its own again.
    m_pDevice->BindBackBuffer();
    return glGetError() == GL_NO_ERROR ? D3D_OK : E_FAIL;
}

int D3DXFont::MeasureLine(const char* text, int count) const {
    int width = 0;
    for (int i = 0; i < count; ++i) {
        const int c = static_cast<unsigned char>(text[i]);
        if (c >= kFirstChar && c <= kLastChar) width += m_Glyphs[static_cast<std::size_t>(c - kFirstChar)].advance;
        else width += m_Glyphs[0].advance;  // characters without a glyph take a blank's room
    }
    return width;
}

void D3DXFont::AddQuad(int& quads, float x0, float y0, float x1, float y1, float u0, float v0, float u1, float v1) {
    if (quads >= kMaxQuads) return;
    Vertex* v = &m_Vertices[static_cast<std::size_t>(quads) * 6];
    v[0] = {x0, y0, u0, v0};
    v[1] = {x1, y0, u1, v0};
    v[2] = {x0, y1, u0, v1};
    v[3] = {x1, y0, u1, v0};
    v[4] = {x1, y1, u1, v1};
    v[5] = {x0, y1, u0, v1};
    ++quads;
}

int D3DXFont::DrawTextA(const char* text, int count, RECT* rect, DWORD format, D3DCOLOR color) {
    if (!text || !rect) return 0;
    const int length = count < 0 ? static_cast<int>(std::strlen(text)) : count;

    // Split into lines (one line with DT_SINGLELINE, where breaks are ignored).
    struct Line {
        int start, length;
    };
    std::array<Line, 64> lines{};
    int lineCount = 0;
    int start = 0;
    for (int i = 0; i <= length && lineCount < static_cast<int>(lines.size()); ++i) {
        const bool end = i == length;
        const bool breakHere = !end && !(format & DT_SINGLELINE) && text[i] == '\n';
        if (end || breakHere) {
            int len = i - start;
            if (len > 0 && text[start + len - 1] == '\r') --len;
            lines[static_cast<std::size_t>(lineCount++)] = Line{start, len};
            start = i + 1;
        }
    }
    int maxWidth = 0;
    for (int l = 0; l < lineCount; ++l)
        maxWidth = std::max(maxWidth, MeasureLine(text + lines[static_cast<std::size_t>(l)].start,
                                                  lines[static_cast<std::size_t>(l)].length));
    const int textHeight = lineCount * m_nLineHeight;

    if (format & DT_CALCRECT) {
        rect->right = rect->left + maxWidth;
        rect->bottom = rect->top + textHeight;
        return textHeight;
    }

    const int rectW = rect->right - rect->left, rectH = rect->bottom - rect->top;
    int y = rect->top;
    if (format & DT_BOTTOM) y = rect->bottom - textHeight;
    else if (format & DT_VCENTER) y = rect->top + (rectH - textHeight) / 2;

    int quads = 0;
    for (int l = 0; l < lineCount; ++l, y += m_nLineHeight) {
        const Line& line = lines[static_cast<std::size_t>(l)];
        const int width = MeasureLine(text + line.start, line.length);
        int x = rect->left;
        if (format & DT_RIGHT) x = rect->right - width;
        else if (format & DT_CENTER) x = rect->left + (rectW - width) / 2;
        const int baseline = y + m_nAscent;
        const int lineStartX = x;
        for (int i = 0; i < line.length; ++i) {
            const int c = static_cast<unsigned char>(text[line.start + i]);
            const Glyph& g = m_Glyphs[static_cast<std::size_t>(c >= kFirstChar && c <= kLastChar ? c - kFirstChar : 0)];
            if (g.width > 0 && g.height > 0) {
                const float x0 = static_cast<float>(x + g.left), y0 = static_cast<float>(baseline - g.top);
                AddQuad(quads, x0, y0, x0 + static_cast<float>(g.width), y0 + static_cast<float>(g.height), g.u0,
                        g.v0, g.u1, g.v1);
            }
            x += g.advance;
        }
        if (m_bUnderline && width > 0) {
            const float uy = static_cast<float>(baseline + m_nUnderlineOffset);
            AddQuad(quads, static_cast<float>(lineStartX), uy, static_cast<float>(lineStartX + width),
                    uy + static_cast<float>(m_nUnderlineThickness), m_fWhiteU * 0.5f, m_fWhiteV * 0.5f,
                    m_fWhiteU * 1.5f, m_fWhiteV * 1.5f);
        }
    }

    if (quads > 0 && m_pDevice->OpenGlDrawing()) {
        m_pDevice->BindBackBuffer();
        const auto bbW = static_cast<float>(m_pDevice->BackBufferWidth());
        const auto bbH = static_cast<float>(m_pDevice->BackBufferHeight());
        if (format & DT_NOCLIP) {
            glDisable(GL_SCISSOR_TEST);
        } else {
            glEnable(GL_SCISSOR_TEST);
            glScissor(rect->left, static_cast<GLint>(bbH) - rect->bottom, std::max(0, rectW), std::max(0, rectH));
        }
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        glDepthMask(GL_FALSE);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glEnable(GL_BLEND);
        glBlendEquation(GL_FUNC_ADD);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glUseProgram(m_glProgram);
        glUniform2f(m_locViewport, bbW, bbH);
        glUniform4f(m_locColor, static_cast<float>((color >> 16) & 0xFF) / 255.0f,
                    static_cast<float>((color >> 8) & 0xFF) / 255.0f, static_cast<float>(color & 0xFF) / 255.0f,
                    static_cast<float>((color >> 24) & 0xFF) / 255.0f);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, m_glTexture);
        glBindSampler(0, 0);  // the atlas's own filtering, not a stage's sampler
        glBindVertexArray(m_glVertexArray);
        glBindBuffer(GL_ARRAY_BUFFER, m_glBuffer);
        glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(sizeof(Vertex) * 6 * static_cast<std::size_t>(quads)),
                        m_Vertices.data());
        glDrawArrays(GL_TRIANGLES, 0, quads * 6);
        glBindVertexArray(0);
        glUseProgram(0);
        glDisable(GL_BLEND);
        glDisable(GL_SCISSOR_TEST);
        glDepthMask(GL_TRUE);
    }
    return textHeight;
}
