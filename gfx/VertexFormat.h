// Vertex layouts: flexible vertex format codes and vertex declarations, both
// turned into one form: for each vertex input register v0..v15, where its
// data sits in a vertex of stream 0 and how it is read.
//
// The fixed-function path uses Direct3D's own register numbering of the
// vertex elements (position v0, blend weights v1, blend indices v2, normal v3,
// point size v4, diffuse v5, specular v6, texture coordinates v7 and up), so
// a layout made from a format code and one made from a declaration are read
// the same way.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "gfx/D3D8Types.h"

// Flexible vertex format bits.
constexpr DWORD D3DFVF_RESERVED0 = 0x001;
constexpr DWORD D3DFVF_POSITION_MASK = 0x00E;
constexpr DWORD D3DFVF_XYZ = 0x002;
constexpr DWORD D3DFVF_XYZRHW = 0x004;
constexpr DWORD D3DFVF_XYZB1 = 0x006;
constexpr DWORD D3DFVF_XYZB2 = 0x008;
constexpr DWORD D3DFVF_XYZB3 = 0x00A;
constexpr DWORD D3DFVF_XYZB4 = 0x00C;
constexpr DWORD D3DFVF_XYZB5 = 0x00E;
constexpr DWORD D3DFVF_NORMAL = 0x010;
constexpr DWORD D3DFVF_PSIZE = 0x020;
constexpr DWORD D3DFVF_DIFFUSE = 0x040;
constexpr DWORD D3DFVF_SPECULAR = 0x080;
constexpr DWORD D3DFVF_TEXCOUNT_MASK = 0xF00;
constexpr DWORD D3DFVF_TEXCOUNT_SHIFT = 8;
constexpr DWORD D3DFVF_TEX0 = 0x000;
constexpr DWORD D3DFVF_TEX1 = 0x100;
constexpr DWORD D3DFVF_TEX2 = 0x200;
constexpr DWORD D3DFVF_TEX3 = 0x300;
constexpr DWORD D3DFVF_TEX4 = 0x400;
constexpr DWORD D3DFVF_LASTBETA_UBYTE4 = 0x1000;

// Vertex declaration tokens.
enum D3DVSDT_TYPE : DWORD {
    D3DVSDT_FLOAT1 = 0,
    D3DVSDT_FLOAT2 = 1,
    D3DVSDT_FLOAT3 = 2,
    D3DVSDT_FLOAT4 = 3,
    D3DVSDT_D3DCOLOR = 4,
    D3DVSDT_UBYTE4 = 5,
    D3DVSDT_SHORT2 = 6,
    D3DVSDT_SHORT4 = 7,
};
constexpr DWORD D3DVSD_END() { return 0xFFFFFFFFu; }
constexpr DWORD D3DVSD_STREAM(DWORD stream) { return (1u << 29) | stream; }
constexpr DWORD D3DVSD_REG(DWORD reg, DWORD type) { return (2u << 29) | (type << 16) | reg; }
constexpr DWORD D3DVSD_SKIP(DWORD dwords) { return (2u << 29) | (1u << 28) | (dwords << 16); }
constexpr DWORD D3DVSD_CONST(DWORD reg, DWORD count) { return (4u << 29) | (count << 25) | reg; }
constexpr DWORD D3DVSD_NOP() { return 0; }

// Direct3D's register numbers of the vertex elements.
constexpr DWORD D3DVSDE_POSITION = 0;
constexpr DWORD D3DVSDE_BLENDWEIGHT = 1;
constexpr DWORD D3DVSDE_BLENDINDICES = 2;
constexpr DWORD D3DVSDE_NORMAL = 3;
constexpr DWORD D3DVSDE_PSIZE = 4;
constexpr DWORD D3DVSDE_DIFFUSE = 5;
constexpr DWORD D3DVSDE_SPECULAR = 6;
constexpr DWORD D3DVSDE_TEXCOORD0 = 7;

constexpr std::size_t kVertexRegisters = 16;

enum class ElementType : std::uint8_t { None, Float1, Float2, Float3, Float4, Color, UByte4, Short2, Short4 };

struct VertexElement {
    ElementType type = ElementType::None;
    UINT offset = 0;
};

struct VertexLayout {
    std::array<VertexElement, kVertexRegisters> elements{};
    UINT stride = 0;     // bytes of one vertex as the layout reads it
    DWORD fvf = 0;       // the format code it was made from, 0 for a declaration
    bool operator==(const VertexLayout&) const = default;
};

UINT ElementSize(ElementType type);

// Size in bytes of one vertex of a format; 0 for an invalid code.
UINT D3DXGetFVFVertexSize(DWORD fvf);

// False for codes the device cannot draw (pre-transformed positions, more
// than eight texture sets, reserved bits).
bool LayoutFromFVF(DWORD fvf, VertexLayout& layout);

// Reads a declaration up to its end token: stream 0's registers and the
// constants it loads. False for anything malformed or for other streams.
struct DeclarationConstant {
    DWORD reg;
    std::array<float, 4> value;
};
bool LayoutFromDeclaration(std::span<const DWORD> declaration, VertexLayout& layout,
                           std::vector<DeclarationConstant>& constants, std::size_t& tokenCount);
