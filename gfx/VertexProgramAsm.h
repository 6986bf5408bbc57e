// The extension library's vertex program assembler: vs.1.0 / vs.1.1 assembly
// text in, Direct3D 8 tokens out (VertexProgram.h), in the library's shape:
// results come back in reference-counted D3DXBuffer objects.
//
// The text: the first statement is "vs.1.0" or "vs.1.1"; then one instruction
// per line, "mnemonic dest, src0, src1, src2". Comments run from ";" or "//"
// to the end of the line, or between "/*" and "*/". Mnemonics and register
// names are case-insensitive: r0-r11, v0-v15, c0-c95, c[a0.x + n] (also
// c[a0.x+n], c[n + a0.x], c[a0.x], c[n]), a0.x, oPos, oFog, oPts, oD0, oD1,
// oT0-oT7. A destination takes a write mask (.x, .xy, .xyz, .w, any subset of
// xyzw in that order); without one, it is written in every component that the
// instruction produces (xyz for m4x3 and m3x3, xy for m3x2 and frc). A source
// takes "-" for negation and a swizzle of one to four components, a short one
// repeating its last component (.x = .xxxx, .xy = .xyyy). "def c0, 1, 2, 3, 4"
// fixes a constant register for the program.
//
// The checks of the Direct3D 8 assembler apply: operand counts, register
// files and numbers, masks and swizzles, inputs and constants not written,
// outputs not read, a0 only as a0.x written by mov (vs.1.1), relative
// addressing only for constants (vs.1.1), at most one constant and one input
// register read per instruction, at most 128 instructions.
//
// Failures give D3DXERR_INVALIDDATA (0x88760B59, named in gfx/ImageDecode.h)
// with an error buffer of lines "(<line>): error: <message>\n" (line numbers
// from 1), NUL-terminated.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/Resources.h"
#include "platform/Win32Types.h"

// A block of bytes handed out by the extension library, reference counted as
// in COM: Release frees it with the last reference. The bytes are aligned for
// DWORDs.
class D3DXBuffer {
public:
    DWORD AddRef() { return ++m_dwRefs; }
    DWORD Release();

    void* GetBufferPointer() { return m_pData.get(); }
    DWORD GetBufferSize() const { return m_dwSize; }

private:
    friend HRESULT D3DXCreateBuffer(DWORD size, D3DXBuffer** buffer);
    D3DXBuffer() = default;
    ~D3DXBuffer() = default;

    DWORD m_dwRefs = 1;
    DWORD m_dwSize = 0;
    std::unique_ptr<DWORD[]> m_pData;
};

// A zero-filled buffer of `size` bytes with one reference. E_INVALIDARG for a
// null result pointer, E_OUTOFMEMORY when the memory cannot be had.
HRESULT D3DXCreateBuffer(DWORD size, D3DXBuffer** buffer);

// Assembles `length` bytes of text (it ends early at a NUL byte). On success
// `code` receives the token stream; `constants` receives the constant
// declaration of the program's def statements (D3DVSD_CONST(reg, 1) tokens,
// each followed by its four values, then D3DVSD_END), and `errors` null. On
// failure `code` and `constants` are null and `errors` holds the messages.
// Every output pointer may be null; flags are accepted and ignored.
// D3DERR_INVALIDCALL for null text with a non-zero length.
HRESULT D3DXAssembleShader(const void* src, UINT length, DWORD flags, D3DXBuffer** constants, D3DXBuffer** code,
                           D3DXBuffer** errors);

// Assembles the text of the RT_RCDATA resource `resource` of `module` (null:
// the program). D3DERR_NOTFOUND when there is no such resource.
HRESULT D3DXAssembleShaderFromResourceA(HMODULE module, const char* resource, DWORD flags, D3DXBuffer** constants,
                                        D3DXBuffer** code, D3DXBuffer** errors);
