// Vertex layouts: the sizes and element places of the format codes the
// saver draws with, and vertex declarations, well-formed and malformed.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "gfx/VertexFormat.h"

namespace {

DWORD Bits(float f) {
    DWORD d = 0;
    std::memcpy(&d, &f, 4);
    return d;
}

// The toon program's stream: position, normal, colour, two texture pairs.
const DWORD kToonDeclaration[] = {
    D3DVSD_STREAM(0),
    D3DVSD_REG(0, D3DVSDT_FLOAT3),
    D3DVSD_REG(3, D3DVSDT_FLOAT3),
    D3DVSD_REG(5, D3DVSDT_D3DCOLOR),
    D3DVSD_REG(7, D3DVSDT_FLOAT2),
    D3DVSD_REG(8, D3DVSDT_FLOAT2),
    D3DVSD_END(),
};

bool Read(std::span<const DWORD> tokens, VertexLayout& layout, std::vector<DeclarationConstant>& constants,
          std::size_t& count) {
    return LayoutFromDeclaration(tokens, layout, constants, count);
}

TEST(DeviceDrawFormat, VertexSizesOfTheFormatsInUse) {
    EXPECT_EQ(D3DXGetFVFVertexSize(0x142), 24u);  // particles: position, colour, one pair
    EXPECT_EQ(D3DXGetFVFVertexSize(0x252), 44u);  // toon meshes: position, normal, colour, two pairs
    EXPECT_EQ(D3DXGetFVFVertexSize(0x112), 32u);  // loaded meshes: position, normal, one pair

    // Texture coordinate sizes: one to four floats per set.
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZ | D3DFVF_TEX1 | (3u << 16)), 16u);  // one float
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZ | D3DFVF_TEX2 | (2u << 18)), 12u + 8u + 16u);
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZ | D3DFVF_SPECULAR | D3DFVF_PSIZE), 20u);
}

TEST(DeviceDrawFormat, ElementsSitWhereDirect3DPutsThem) {
    VertexLayout layout;
    ASSERT_TRUE(LayoutFromFVF(0x252, layout));
    EXPECT_EQ(layout.elements[D3DVSDE_POSITION].type, ElementType::Float3);
    EXPECT_EQ(layout.elements[D3DVSDE_NORMAL].offset, 12u);
    EXPECT_EQ(layout.elements[D3DVSDE_DIFFUSE].type, ElementType::Color);
    EXPECT_EQ(layout.elements[D3DVSDE_DIFFUSE].offset, 24u);
    EXPECT_EQ(layout.elements[D3DVSDE_TEXCOORD0].offset, 28u);
    EXPECT_EQ(layout.elements[D3DVSDE_TEXCOORD0 + 1].offset, 36u);
    EXPECT_EQ(layout.elements[D3DVSDE_BLENDWEIGHT].type, ElementType::None);
    EXPECT_EQ(layout.elements[D3DVSDE_SPECULAR].type, ElementType::None);
    EXPECT_EQ(layout.fvf, 0x252u);

    // The toon declaration reads a 0x252 vertex the same way as the format code.
    VertexLayout fromCode;
    ASSERT_TRUE(LayoutFromFVF(0x252, fromCode));
    std::vector<DeclarationConstant> constants;
    std::size_t count = 0;
    ASSERT_TRUE(Read(kToonDeclaration, layout, constants, count));
    for (std::size_t r = 0; r < kVertexRegisters; ++r) {
        EXPECT_EQ(layout.elements[r].type, fromCode.elements[r].type) << r;
        EXPECT_EQ(layout.elements[r].offset, fromCode.elements[r].offset) << r;
    }
    EXPECT_EQ(layout.stride, 44u);
    EXPECT_EQ(count, std::size(kToonDeclaration));
    EXPECT_TRUE(constants.empty());
}

TEST(DeviceDrawFormat, BlendFormatsCountTheirBetas) {
    // Skinned meshes: position, two weights, four index bytes, normal, colour, two pairs.
    const DWORD skin = D3DFVF_XYZB3 | D3DFVF_LASTBETA_UBYTE4 | 0x250;
    EXPECT_EQ(D3DXGetFVFVertexSize(skin), 12u + 8u + 4u + 12u + 4u + 16u);
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZB1), 16u);
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZB2), 20u);
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZB4), 28u);
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZB1 | D3DFVF_LASTBETA_UBYTE4), 16u);  // indices only

    VertexLayout layout;
    ASSERT_TRUE(LayoutFromFVF(D3DFVF_XYZB3 | D3DFVF_LASTBETA_UBYTE4 | 0x250, layout));
    EXPECT_EQ(layout.elements[D3DVSDE_POSITION].type, ElementType::Float3);
    EXPECT_EQ(layout.elements[D3DVSDE_BLENDWEIGHT].type, ElementType::Float2);
    EXPECT_EQ(layout.elements[D3DVSDE_BLENDWEIGHT].offset, 12u);
    EXPECT_EQ(layout.elements[D3DVSDE_BLENDINDICES].type, ElementType::UByte4);
    EXPECT_EQ(layout.elements[D3DVSDE_BLENDINDICES].offset, 20u);
    EXPECT_EQ(layout.elements[D3DVSDE_NORMAL].offset, 24u);
    EXPECT_EQ(layout.elements[D3DVSDE_DIFFUSE].type, ElementType::Color);
    EXPECT_EQ(layout.elements[D3DVSDE_DIFFUSE].offset, 36u);
    EXPECT_EQ(layout.elements[D3DVSDE_TEXCOORD0].offset, 40u);
    EXPECT_EQ(layout.elements[D3DVSDE_TEXCOORD0 + 1].offset, 48u);
    EXPECT_EQ(layout.elements[D3DVSDE_SPECULAR].type, ElementType::None);
    EXPECT_EQ(layout.stride, 56u);

    // Three weights without index bytes: all three are weights.
    ASSERT_TRUE(LayoutFromFVF(D3DFVF_XYZB3, layout));
    EXPECT_EQ(layout.elements[D3DVSDE_BLENDWEIGHT].type, ElementType::Float3);
    EXPECT_EQ(layout.elements[D3DVSDE_BLENDINDICES].type, ElementType::None);
    EXPECT_EQ(layout.stride, 24u);
}

TEST(DeviceDrawFormat, CodesTheDeviceCannotDrawHaveNoSize) {
    EXPECT_EQ(D3DXGetFVFVertexSize(0), 0u);                                 // no position
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_DIFFUSE | D3DFVF_TEX1), 0u);      // no position either
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZ | D3DFVF_RESERVED0), 0u);     // reserved bit
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZ | 0x900), 0u);                // nine texture sets
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZ | 0xF00), 0u);
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZ | 0x2000), 0u);               // unknown flag bits
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZ | 0x8000), 0u);
    VertexLayout layout;
    EXPECT_FALSE(LayoutFromFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE, layout));   // pre-transformed
    EXPECT_FALSE(LayoutFromFVF(0xFFFFFFFF, layout));
}

TEST(DeviceDrawFormat, FiveBlendWeightsAreCountedOrRefused) {
    // Position and five floats are 32 bytes; a layout that cannot hold five
    // weights in one register may refuse the code, but never undercount it.
    const UINT size = D3DXGetFVFVertexSize(D3DFVF_XYZB5);
    EXPECT_TRUE(size == 32u || size == 0u) << size;
    const UINT withNormal = D3DXGetFVFVertexSize(D3DFVF_XYZB5 | D3DFVF_NORMAL);
    EXPECT_TRUE(withNormal == 44u || withNormal == 0u) << withNormal;
}

TEST(DeviceDrawFormat, DeclarationConstantsAndSkipsAreRead) {
    const DWORD declaration[] = {
        D3DVSD_STREAM(0),
        D3DVSD_REG(0, D3DVSDT_FLOAT3),
        D3DVSD_SKIP(2),
        D3DVSD_NOP(),
        D3DVSD_REG(2, D3DVSDT_UBYTE4),
        D3DVSD_REG(9, D3DVSDT_SHORT2),
        D3DVSD_CONST(10, 2),
        Bits(1.0f), Bits(2.0f), Bits(3.0f), Bits(4.0f),
        Bits(-1.0f), Bits(0.5f), Bits(0.0f), Bits(8.0f),
        D3DVSD_END(),
        0xDEADBEEF,  // after the end: not read
    };
    VertexLayout layout;
    std::vector<DeclarationConstant> constants;
    std::size_t count = 0;
    ASSERT_TRUE(Read(declaration, layout, constants, count));
    EXPECT_EQ(count, std::size(declaration) - 1);
    EXPECT_EQ(layout.elements[0].offset, 0u);
    EXPECT_EQ(layout.elements[2].type, ElementType::UByte4);
    EXPECT_EQ(layout.elements[2].offset, 20u);  // after 12 bytes of position and 8 skipped
    EXPECT_EQ(layout.elements[9].type, ElementType::Short2);
    EXPECT_EQ(layout.elements[9].offset, 24u);
    EXPECT_EQ(layout.stride, 28u);
    ASSERT_EQ(constants.size(), 2u);
    EXPECT_EQ(constants[0].reg, 10u);
    EXPECT_EQ(constants[0].value, (std::array<float, 4>{1.0f, 2.0f, 3.0f, 4.0f}));
    EXPECT_EQ(constants[1].reg, 11u);
    EXPECT_EQ(constants[1].value, (std::array<float, 4>{-1.0f, 0.5f, 0.0f, 8.0f}));

    // Constants may come before the stream, and a declaration of constants
    // alone has nothing to draw from.
    const DWORD constantsFirst[] = {D3DVSD_CONST(95, 1), 0, 0, 0, 0, D3DVSD_STREAM(0),
                                    D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_END()};
    EXPECT_TRUE(Read(constantsFirst, layout, constants, count));
    const DWORD constantsOnly[] = {D3DVSD_CONST(0, 1), 0, 0, 0, 0, D3DVSD_END()};
    EXPECT_FALSE(Read(constantsOnly, layout, constants, count));
}

TEST(DeviceDrawFormat, MalformedDeclarationsAreRefused) {
    VertexLayout layout;
    std::vector<DeclarationConstant> constants;
    std::size_t count = 0;
    auto refused = [&](std::vector<DWORD> tokens, const char* what) {
        EXPECT_FALSE(Read(tokens, layout, constants, count)) << what;
    };

    // No end token within the span: every prefix of the toon declaration.
    for (std::size_t n = 0; n + 1 < std::size(kToonDeclaration); ++n)
        refused(std::vector<DWORD>(kToonDeclaration, kToonDeclaration + n), "cut short");

    refused({D3DVSD_STREAM(0), D3DVSD_REG(16, D3DVSDT_FLOAT3), D3DVSD_END()}, "register 16");
    refused({D3DVSD_STREAM(0), D3DVSD_REG(31, D3DVSDT_FLOAT3), D3DVSD_END()}, "register 31");
    refused({D3DVSD_STREAM(0), D3DVSD_REG(0, 8), D3DVSD_END()}, "unknown data type");
    refused({D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_REG(0, D3DVSDT_FLOAT2), D3DVSD_END()},
            "register loaded twice");
    refused({D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_STREAM(1), D3DVSD_REG(3, D3DVSDT_FLOAT3),
             D3DVSD_END()},
            "two streams");
    refused({D3DVSD_STREAM(1), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_END()}, "stream 1 only");
    refused({D3DVSD_STREAM(0), D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_END()}, "stream 0 twice");
    refused({D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_END()}, "data before any stream");
    refused({D3DVSD_END()}, "nothing at all");
    refused({D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_CONST(0, 2), 0, 0, 0, 0, 0, 0, 0},
            "constants running past the span");
    refused({D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_CONST(95, 2), 0, 0, 0, 0, 0, 0, 0, 0,
             D3DVSD_END()},
            "constants past c95");
    refused({D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), 3u << 29, D3DVSD_END()}, "tessellator token");
    refused({D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), 5u << 29, D3DVSD_END()}, "extension token");
    refused({D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), 0xEFFFFFFF}, "end-like token");
}

}  // namespace
