#include "gfx/VertexFormat.h"

#include <cstring>

UINT ElementSize(ElementType type) {
    switch (type) {
        case ElementType::Float1: return 4;
        case ElementType::Float2: return 8;
        case ElementType::Float3: return 12;
        case ElementType::Float4: return 16;
        case ElementType::Color:
        case ElementType::UByte4:
        case ElementType::Short2: return 4;
        case ElementType::Short4: return 8;
        case ElementType::None: return 0;
    }
    return 0;
}

namespace {

ElementType FloatElement(UINT count) {
    switch (count) {
        case 1: return ElementType::Float1;
        case 2: return ElementType::Float2;
        case 3: return ElementType::Float3;
        case 4: return ElementType::Float4;
        default: return ElementType::None;
    }
}

// Components of texture set i: D3DFVF_TEXCOORDSIZEn bits, 0 = two floats.
UINT TexCoordComponents(DWORD fvf, UINT set) {
    switch ((fvf >> (16 + set * 2)) & 3u) {
        case 0: return 2;
        case 1: return 3;
        case 2: return 4;
        default: return 1;
    }
}

}  // namespace

bool LayoutFromFVF(DWORD fvf, VertexLayout& layout) {
    layout = VertexLayout{};
    if (fvf & D3DFVF_RESERVED0) return false;
    const DWORD known = D3DFVF_POSITION_MASK | D3DFVF_NORMAL | D3DFVF_PSIZE | D3DFVF_DIFFUSE | D3DFVF_SPECULAR |
                        D3DFVF_TEXCOUNT_MASK | D3DFVF_LASTBETA_UBYTE4 | 0xFFFF0000u;
    if (fvf & ~known) return false;
    const DWORD position = fvf & D3DFVF_POSITION_MASK;
    if (position == 0 || position == D3DFVF_XYZRHW) return false;
    const UINT texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (texCount > 8) return false;

    UINT offset = 0;
    auto put = [&](DWORD reg, ElementType type) {
        layout.elements[reg] = VertexElement{type, offset};
        offset += ElementSize(type);
    };
    put(D3DVSDE_POSITION, ElementType::Float3);
    const UINT betas = position == D3DFVF_XYZ ? 0 : (position - D3DFVF_XYZRHW) / 2;
    if (betas > 0) {
        const bool lastIsIndices = (fvf & D3DFVF_LASTBETA_UBYTE4) != 0;
        const UINT weights = lastIsIndices ? betas - 1 : betas;
        if (weights > 4) return false;  // a vertex register holds four weights at most
        if (weights > 0) put(D3DVSDE_BLENDWEIGHT, FloatElement(weights));
        if (lastIsIndices) put(D3DVSDE_BLENDINDICES, ElementType::UByte4);
    }
    if (fvf & D3DFVF_NORMAL) put(D3DVSDE_NORMAL, ElementType::Float3);
    if (fvf & D3DFVF_PSIZE) put(D3DVSDE_PSIZE, ElementType::Float1);
    if (fvf & D3DFVF_DIFFUSE) put(D3DVSDE_DIFFUSE, ElementType::Color);
    if (fvf & D3DFVF_SPECULAR) put(D3DVSDE_SPECULAR, ElementType::Color);
    for (UINT i = 0; i < texCount; ++i) put(D3DVSDE_TEXCOORD0 + i, FloatElement(TexCoordComponents(fvf, i)));
    layout.stride = offset;
    layout.fvf = fvf;
    return true;
}

UINT D3DXGetFVFVertexSize(DWORD fvf) {
    VertexLayout layout;
    return LayoutFromFVF(fvf, layout) ? layout.stride : 0;
}

bool LayoutFromDeclaration(std::span<const DWORD> declaration, VertexLayout& layout,
                           std::vector<DeclarationConstant>& constants, std::size_t& tokenCount) {
    layout = VertexLayout{};
    constants.clear();
    tokenCount = 0;
    bool stream0 = false;
    UINT offset = 0;
    for (std::size_t i = 0; i < declaration.size();) {
        const DWORD token = declaration[i];
        const DWORD kind = token >> 29;
        if (token == D3DVSD_END()) {
            tokenCount = i + 1;
            layout.stride = offset;
            return stream0;
        }
        switch (kind) {
            case 0:  // nop
                ++i;
                break;
            case 1:  // stream selector: only stream 0 is drawn from
                if ((token & 0x0FFFFFFFu) != 0 || stream0) return false;
                stream0 = true;
                ++i;
                break;
            case 2: {  // stream data: a register or a skip
                if (!stream0) return false;
                if (token & (1u << 28)) {
                    offset += ((token >> 16) & 0xFu) * 4;
                } else {
                    const DWORD reg = token & 0x1Fu;
                    const DWORD type = (token >> 16) & 0xFu;
                    if (reg >= kVertexRegisters || type > D3DVSDT_SHORT4) return false;
                    static constexpr ElementType kTypes[] = {ElementType::Float1, ElementType::Float2,
                                                             ElementType::Float3, ElementType::Float4,
                                                             ElementType::Color,  ElementType::UByte4,
                                                             ElementType::Short2, ElementType::Short4};
                    if (layout.elements[reg].type != ElementType::None) return false;
                    layout.elements[reg] = VertexElement{kTypes[type], offset};
                    offset += ElementSize(kTypes[type]);
                }
                ++i;
                break;
            }
            case 4: {  // constants loaded with the program
                const DWORD reg = token & 0x7Fu;
                const DWORD count = (token >> 25) & 0xFu;
                if (i + 1 + count * 4 > declaration.size() || reg + count > 96) return false;
                for (DWORD c = 0; c < count; ++c) {
                    DeclarationConstant k{reg + c, {}};
                    std::memcpy(k.value.data(), &declaration[i + 1 + c * 4], sizeof k.value);
                    constants.push_back(k);
                }
                i += 1 + count * 4;
                break;
            }
            default:
                return false;  // tessellator and extension tokens are not drawn
        }
    }
    return false;  // no end token
}
