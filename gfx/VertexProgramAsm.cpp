#include "gfx/VertexProgramAsm.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gfx/D3D8Types.h"
#include "gfx/VertexProgram.h"

namespace {

constexpr HRESULT kInvalidData = static_cast<HRESULT>(0x88760B59u);  // D3DXERR_INVALIDDATA
constexpr DWORD kDeclarationEnd = 0xFFFFFFFFu;                      // D3DVSD_END
constexpr DWORD DeclarationConstant(DWORD reg) { return (4u << 29) | (1u << 25) | reg; }  // D3DVSD_CONST(reg, 1)
constexpr int kMaxErrors = 100;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::string LowerCopy(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = Lower(c);
    return out;
}

// Decimal register number of at most 4 digits; nullopt otherwise.
std::optional<DWORD> ParseNumber(std::string_view s) {
    if (s.empty() || s.size() > 4) return std::nullopt;
    DWORD n = 0;
    for (char c : s) {
        if (!IsDigit(c)) return std::nullopt;
        n = n * 10 + static_cast<DWORD>(c - '0');
    }
    return n;
}

// The text with every comment blanked out, line breaks kept, so that line
// numbers stay those of the source.
std::string StripComments(std::string_view text) {
    std::string out(text);
    bool block = false;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (block) {
            if (out[i] == '*' && i + 1 < out.size() && out[i + 1] == '/') {
                out[i] = out[i + 1] = ' ';
                ++i;
                block = false;
            } else if (out[i] != '\n') {
                out[i] = ' ';
            }
            continue;
        }
        const bool lineComment = out[i] == ';' || (out[i] == '/' && i + 1 < out.size() && out[i + 1] == '/');
        if (lineComment) {
            while (i < out.size() && out[i] != '\n') out[i++] = ' ';
            continue;
        }
        if (out[i] == '/' && i + 1 < out.size() && out[i + 1] == '*') {
            out[i] = out[i + 1] = ' ';
            ++i;
            block = true;
        }
    }
    return out;
}

struct Register {
    D3DSHADER_PARAM_REGISTER_TYPE type = D3DSPR_TEMP;
    DWORD number = 0;
    bool relative = false;
    bool hasSuffix = false;
    std::string_view suffix;  // the text after '.', mask or swizzle
};

class Assembler {
public:
    HRESULT Run(std::string_view text) {
        const std::string clean = StripComments(text);
        std::size_t start = 0;
        int line = 1;
        while (start <= clean.size() && m_nErrors < kMaxErrors) {
            std::size_t end = clean.find('\n', start);
            if (end == std::string::npos) end = clean.size();
            Statement(line, Trim(std::string_view(clean).substr(start, end - start)));
            if (m_bStop) break;
            start = end + 1;
            ++line;
        }
        if (m_nErrors == 0 && m_dwVersion == 0) Error(1, "vs.1.0 or vs.1.1 expected before the first instruction");
        if (m_nErrors > 0) return kInvalidData;

        m_Tokens.insert(m_Tokens.begin(), m_dwVersion);
        m_Tokens.push_back(D3DVS_END());
        VertexProgram check;
        if (FAILED(DecodeVertexProgram(m_Tokens, check))) {
            Error(line, "the assembled program does not decode");
            return kInvalidData;
        }
        m_Constants.push_back(kDeclarationEnd);
        return S_OK;
    }

    const std::vector<DWORD>& Tokens() const { return m_Tokens; }
    const std::vector<DWORD>& Constants() const { return m_Constants; }
    const std::string& Errors() const { return m_Errors; }

private:
    void Error(int line, std::string_view message) {
        if (m_nErrors >= kMaxErrors) return;
        m_Errors += "(" + std::to_string(line) + "): error: ";
        m_Errors += message;
        m_Errors += '\n';
        if (++m_nErrors == kMaxErrors) m_Errors += "(" + std::to_string(line) + "): error: too many errors\n";
    }

    static std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

    void Statement(int line, std::string_view statement) {
        if (statement.empty()) return;
        std::size_t split = 0;
        while (split < statement.size() && !IsSpace(statement[split])) ++split;
        const std::string mnemonic = LowerCopy(statement.substr(0, split));
        const std::string_view rest = Trim(statement.substr(split));

        if (mnemonic == "vs.1.0" || mnemonic == "vs.1.1") {
            if (m_dwVersion != 0 || m_nInstructions > 0) return Error(line, "the version is given more than once");
            if (!rest.empty()) return Error(line, "unexpected text after the version: " + Quoted(rest));
            m_dwVersion = mnemonic == "vs.1.0" ? D3DVS_VERSION(1, 0) : D3DVS_VERSION(1, 1);
            return;
        }
        if (m_dwVersion == 0) {
            Error(line, "vs.1.0 or vs.1.1 expected before the first instruction");
            m_bStop = true;  // nothing after this can be read in a known version
            return;
        }

        const VpOpcodeInfo* info = nullptr;
        for (const VpOpcodeInfo& candidate : VpOpcodeTable())
            if (mnemonic == candidate.name) info = &candidate;
        if (!info) return Error(line, "unknown instruction " + Quoted(statement.substr(0, split)));

        std::vector<std::string_view> operands;
        if (!rest.empty()) {
            std::size_t from = 0;
            for (;;) {
                const std::size_t comma = rest.find(',', from);
                operands.push_back(Trim(rest.substr(from, comma == std::string_view::npos ? rest.npos : comma - from)));
                if (comma == std::string_view::npos) break;
                from = comma + 1;
            }
        }
        const std::size_t expected = info->opcode == D3DSIO_DEF ? 5 : (info->hasDest ? 1u : 0u) + info->sources;
        if (operands.size() != expected)
            return Error(line, std::string(info->name) + " takes " + std::to_string(expected) + " operand" +
                                   (expected == 1 ? "" : "s") + ", " + std::to_string(operands.size()) + " given");
        for (std::string_view operand : operands)
            if (operand.empty()) return Error(line, "missing operand");

        VpInstruction ins;
        ins.opcode = info->opcode;
        std::size_t next = 0;
        if (info->hasDest && !ParseDest(line, operands[next++], *info, ins.dest)) return;
        if (info->opcode == D3DSIO_DEF) {
            if (ins.dest.type != D3DSPR_CONST)
                return Error(line, "def needs a constant register c0..c95");
            for (int k = 0; k < 4; ++k)
                if (!ParseFloat(line, operands[next++], ins.value[k])) return;
        } else {
            for (int i = 0; i < info->sources; ++i)
                if (!ParseSource(line, operands[next++], ins.src[i])) return;
        }
        if (const char* message = VpCheckInstruction(ins, m_dwVersion)) return Error(line, message);

        if (info->opcode != D3DSIO_DEF && ++m_nInstructions > kVpMaxInstructions) {
            if (m_nInstructions == kVpMaxInstructions + 1)
                Error(line, "too many instructions: a program has at most 128");
            return;
        }
        m_Tokens.push_back(info->opcode);
        if (info->hasDest) m_Tokens.push_back(VpEncodeDest(ins.dest));
        if (info->opcode == D3DSIO_DEF) {
            for (float f : ins.value) m_Tokens.push_back(std::bit_cast<DWORD>(f));
            m_Constants.push_back(DeclarationConstant(ins.dest.number));
            for (float f : ins.value) m_Constants.push_back(std::bit_cast<DWORD>(f));
        } else {
            for (int i = 0; i < info->sources; ++i) m_Tokens.push_back(VpEncodeSource(ins.src[i]));
        }
    }

    // A register name with an optional ".suffix".
    bool ParseRegister(int line, std::string_view text, Register& reg) {
        const std::string_view original = text;
        auto bad = [&]() {
            Error(line, "invalid register " + Quoted(original));
            return false;
        };
        std::size_t i = 0;
        while (i < text.size() && IsLetter(text[i])) ++i;
        const std::string name = LowerCopy(text.substr(0, i));
        std::size_t digitsEnd = i;
        while (digitsEnd < text.size() && IsDigit(text[digitsEnd])) ++digitsEnd;
        const std::string_view digits = text.substr(i, digitsEnd - i);
        std::size_t pos = digitsEnd;

        if (name == "c" && digits.empty() && pos < text.size() && text[pos] == '[') {
            const std::size_t close = text.find(']', pos);
            if (close == std::string_view::npos) return bad();
            if (!ParseAddress(text.substr(pos + 1, close - pos - 1), reg)) {
                Error(line, "invalid relative address " + Quoted(original));
                return false;
            }
            reg.type = D3DSPR_CONST;
            pos = close + 1;
        } else {
            std::optional<DWORD> number = ParseNumber(digits);
            const bool numbered = name == "r" || name == "v" || name == "c" || name == "a" || name == "od" ||
                                  name == "ot";
            if (numbered && !number) return bad();
            if (!numbered && !digits.empty()) return bad();
            if (name == "r") reg.type = D3DSPR_TEMP;
            else if (name == "v") reg.type = D3DSPR_INPUT;
            else if (name == "c") reg.type = D3DSPR_CONST;
            else if (name == "a") reg.type = D3DSPR_ADDR;
            else if (name == "od") reg.type = D3DSPR_ATTROUT;
            else if (name == "ot") reg.type = D3DSPR_TEXCRDOUT;
            else if (name == "opos") reg.type = D3DSPR_RASTOUT, number = D3DSRO_POSITION;
            else if (name == "ofog") reg.type = D3DSPR_RASTOUT, number = D3DSRO_FOG;
            else if (name == "opts") reg.type = D3DSPR_RASTOUT, number = D3DSRO_POINT_SIZE;
            else return bad();
            reg.number = *number;
            if (!RegisterNumberInRange(reg)) {
                Error(line, "register number out of range " + Quoted(original));
                return false;
            }
        }
        if (pos < text.size()) {
            if (text[pos] != '.') return bad();
            reg.hasSuffix = true;
            reg.suffix = text.substr(pos + 1);
        }
        return true;
    }

    static bool RegisterNumberInRange(const Register& reg) {
        switch (reg.type) {
        case D3DSPR_TEMP: return reg.number < kVpTempRegisters;
        case D3DSPR_INPUT: return reg.number < kVpInputRegisters;
        case D3DSPR_CONST: return reg.number < kVpConstRegisters;
        case D3DSPR_ADDR: return reg.number == 0;
        case D3DSPR_ATTROUT: return reg.number < kVpColorOutputs;
        case D3DSPR_TEXCRDOUT: return reg.number < kVpTexCoordOutputs;
        default: return true;
        }
    }

    // The inside of c[...]: "a0.x", "a0.x + n", "n + a0.x" or "n".
    static bool ParseAddress(std::string_view inside, Register& reg) {
        std::string s;
        for (char c : inside)
            if (!IsSpace(c)) s += Lower(c);
        const std::string a0 = "a0.x";
        std::optional<DWORD> offset;
        if (s == a0) {
            offset = 0;
            reg.relative = true;
        } else if (s.starts_with(a0 + "+")) {
            offset = ParseNumber(std::string_view(s).substr(a0.size() + 1));
            reg.relative = true;
        } else if (s.ends_with("+" + a0)) {
            offset = ParseNumber(std::string_view(s).substr(0, s.size() - a0.size() - 1));
            reg.relative = true;
        } else {
            offset = ParseNumber(s);
        }
        if (!offset || *offset >= kVpConstRegisters) return false;
        reg.number = *offset;
        return true;
    }

    bool ParseDest(int line, std::string_view text, const VpOpcodeInfo& info, VpDestParam& dest) {
        if (!text.empty() && text.front() == '-') {
            Error(line, "a destination cannot be negated");
            return false;
        }
        Register reg;
        if (!ParseRegister(line, text, reg)) return false;
        if (reg.relative) {
            Error(line, "a destination cannot be addressed relatively " + Quoted(text));
            return false;
        }
        dest.type = reg.type;
        dest.number = reg.number;
        if (!reg.hasSuffix) {
            if (reg.type == D3DSPR_ADDR) {
                Error(line, "the address register is written as a0.x");
                return false;
            }
            dest.writeMask = info.opcode == D3DSIO_DEF ? 0xFu : info.resultMask;
            return true;
        }
        DWORD mask = 0;
        int last = -1;
        for (char c : reg.suffix) {
            const char* at = std::strchr("xyzw", Lower(c));
            const int k = (at && c != '\0') ? static_cast<int>(at - "xyzw") : -1;
            if (k <= last) {
                Error(line, "invalid write mask " + Quoted(text));
                return false;
            }
            mask |= 1u << k;
            last = k;
        }
        if (mask == 0) {
            Error(line, "invalid write mask " + Quoted(text));
            return false;
        }
        if (info.opcode == D3DSIO_DEF) {
            Error(line, "def takes no write mask");
            return false;
        }
        if ((mask & ~info.resultMask) != 0) {
            Error(line, std::string(info.name) + " cannot write the components of " + Quoted(text));
            return false;
        }
        dest.writeMask = mask;
        return true;
    }

    bool ParseSource(int line, std::string_view text, VpSourceParam& src) {
        const std::string_view original = text;
        if (!text.empty() && text.front() == '-') {
            src.negate = true;
            text = Trim(text.substr(1));
        }
        Register reg;
        if (!ParseRegister(line, text, reg)) return false;
        src.type = reg.type;
        src.number = reg.number;
        src.relative = reg.relative;
        if (reg.hasSuffix) {
            if (reg.suffix.empty() || reg.suffix.size() > 4) {
                Error(line, "invalid swizzle " + Quoted(original));
                return false;
            }
            for (std::size_t k = 0; k < 4; ++k) {
                const char c = Lower(reg.suffix[std::min(k, reg.suffix.size() - 1)]);
                const char* at = std::strchr("xyzw", c);
                if (!at || c == '\0') {
                    Error(line, "invalid swizzle " + Quoted(original));
                    return false;
                }
                src.swizzle[k] = static_cast<BYTE>(at - "xyzw");
            }
        }
        return true;
    }

    bool ParseFloat(int line, std::string_view text, float& value) {
        std::string_view s = text;
        if (!s.empty() && s.front() == '+') s.remove_prefix(1);
        float f = 0.0f;
        auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), f);
        if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(f)) {
            Error(line, "invalid number " + Quoted(text));
            return false;
        }
        value = f;
        return true;
    }

    DWORD m_dwVersion = 0;
    DWORD m_nInstructions = 0;
    int m_nErrors = 0;
    bool m_bStop = false;
    std::vector<DWORD> m_Tokens;     // without the version and end tokens until Run ends
    std::vector<DWORD> m_Constants;  // the def declaration
    std::string m_Errors;
};

HRESULT MakeBuffer(const void* data, std::size_t size, D3DXBuffer** buffer) {
    if (size > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    HRESULT hr = D3DXCreateBuffer(static_cast<DWORD>(size), buffer);
    if (FAILED(hr)) return hr;
    if (size) std::memcpy((*buffer)->GetBufferPointer(), data, size);
    return S_OK;
}

}  // namespace

DWORD D3DXBuffer::Release() {
    const DWORD refs = --m_dwRefs;
    if (refs == 0) delete this;
    return refs;
}

HRESULT D3DXCreateBuffer(DWORD size, D3DXBuffer** buffer) {
    if (!buffer) return E_INVALIDARG;
    *buffer = nullptr;
    D3DXBuffer* created = new (std::nothrow) D3DXBuffer;
    if (!created) return E_OUTOFMEMORY;
    // Whole DWORDs, at least one, so that the pointer is never null.
    const std::size_t dwords = (static_cast<std::size_t>(size) + 3) / 4;
    created->m_pData.reset(new (std::nothrow) DWORD[dwords == 0 ? 1 : dwords]());
    if (!created->m_pData) {
        created->Release();
        return E_OUTOFMEMORY;
    }
    created->m_dwSize = size;
    *buffer = created;
    return S_OK;
}

HRESULT D3DXAssembleShader(const void* src, UINT length, DWORD /*flags*/, D3DXBuffer** constants,
                           D3DXBuffer** code, D3DXBuffer** errors) {
    if (constants) *constants = nullptr;
    if (code) *code = nullptr;
    if (errors) *errors = nullptr;
    if (!src && length != 0) return D3DERR_INVALIDCALL;

    std::string_view text;
    if (src) {
        text = std::string_view(static_cast<const char*>(src), length);
        text = text.substr(0, text.find('\0'));
    }

    Assembler assembler;
    HRESULT hr = assembler.Run(text);
    if (FAILED(hr)) {
        if (errors) {
            const std::string& message = assembler.Errors();
            HRESULT made = MakeBuffer(message.c_str(), message.size() + 1, errors);
            if (FAILED(made)) return made;
        }
        return hr;
    }

    D3DXBuffer* codeBuffer = nullptr;
    D3DXBuffer* constantBuffer = nullptr;
    if (code) {
        hr = MakeBuffer(assembler.Tokens().data(), assembler.Tokens().size() * sizeof(DWORD), &codeBuffer);
        if (FAILED(hr)) return hr;
    }
    if (constants) {
        hr = MakeBuffer(assembler.Constants().data(), assembler.Constants().size() * sizeof(DWORD), &constantBuffer);
        if (FAILED(hr)) {
            if (codeBuffer) codeBuffer->Release();
            return hr;
        }
    }
    if (code) *code = codeBuffer;
    if (constants) *constants = constantBuffer;
    return S_OK;
}

HRESULT D3DXAssembleShaderFromResourceA(HMODULE module, const char* resource, DWORD flags, D3DXBuffer** constants,
                                        D3DXBuffer** code, D3DXBuffer** errors) {
    if (constants) *constants = nullptr;
    if (code) *code = nullptr;
    if (errors) *errors = nullptr;
    if (!resource) return D3DERR_INVALIDCALL;
    HRSRC found = FindResourceA(module, resource, RT_RCDATA);
    if (!found) return D3DERR_NOTFOUND;
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return D3DERR_NOTFOUND;
    const DWORD size = SizeofResource(module, found);
    return D3DXAssembleShader(data, size, flags, constants, code, errors);
}
