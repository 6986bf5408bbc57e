#include "platform/RegistryText.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <utility>

#include "platform/Registry.h"

namespace platform {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderRegedit4 = "REGEDIT4";

// ---------------------------------------------------------------------------
// Text helpers

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsBlankChar(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlankChar(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlankChar(s.back())) s.remove_suffix(1);
    return s;
}

bool IsBlankLine(std::string_view s) { return Trim(s).empty(); }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = FoldCase(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Parses 1 to 8 hex digits filling the whole of s.
std::optional<DWORD> ParseHex32(std::string_view s) {
    if (s.empty() || s.size() > 8) return std::nullopt;
    DWORD v = 0;
    for (char c : s) {
        const int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        v = (v << 4) | static_cast<DWORD>(d);
    }
    return v;
}

// A physical line that carries more bytes of a wrapped hex value: hex digits
// and commas, perhaps ending in the "\" of a further line.
bool IsHexContinuation(std::string_view line) {
    std::string_view t = Trim(line);
    if (!t.empty() && t.back() == '\\') t = Trim(t.substr(0, t.size() - 1));
    bool digits = false;
    for (char c : t) {
        if (HexDigit(c) >= 0) {
            digits = true;
        } else if (c != ',' && !IsBlankChar(c)) {
            return false;
        }
    }
    return digits;
}

bool EndsInBackslash(std::string_view line) {
    const std::string_view t = Trim(line);
    return !t.empty() && t.back() == '\\';
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The registry editor exports UTF-16LE. Every code unit is kept: a surrogate
// without its partner becomes the three bytes UTF-8 would give its number, so
// that writing the text back gives the same units. An odd last byte (half a
// unit of a cut file) is dropped.
std::string Utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
            const char16_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(out, u);
    }
    return out;
}

void AppendUtf16Le(std::string& out, char32_t cp) {
    auto unit = [&](char32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>((u >> 8) & 0xFF);
    };
    if (cp < 0x10000) {
        unit(cp);
    } else {
        unit(0xD800 + ((cp - 0x10000) >> 10));
        unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
}

// The way back. A byte that starts no complete UTF-8 sequence (text a caller
// set in another encoding) is taken as the character of that number.
std::string Utf8ToUtf16Le(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x06 ? 2
                                   : (lead >> 4) == 0x0E ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        char32_t cp = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool whole = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; whole && k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            whole = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms and numbers past U+10FFFF are not what the decoder writes.
        static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!whole || cp < kLeast[length] || cp > 0x10FFFF) {
            AppendUtf16Le(out, lead);
            ++i;
            continue;
        }
        AppendUtf16Le(out, cp);
        i += length;
    }
    return out;
}

bool StartsWithUtf16Le(std::string_view bytes, std::string_view ascii) {
    if (bytes.size() < ascii.size() * 2) return false;
    for (std::size_t i = 0; i < ascii.size(); ++i) {
        if (bytes[2 * i] != ascii[i] || bytes[2 * i + 1] != '\0') return false;
    }
    return true;
}

// Quoted names and strings of the export format escape only \ and ".
std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// Reads a quoted text starting at s[pos] == '"'; on success pos is past the
// closing quote.
std::optional<std::string> ParseQuoted(std::string_view s, std::size_t& pos) {
    if (pos >= s.size() || s[pos] != '"') return std::nullopt;
    std::string out;
    for (std::size_t i = pos + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            pos = i + 1;
            return out;
        }
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out += s[++i];
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Values

std::optional<RegValue> ParseData(std::string_view data) {
    RegValue v;
    if (StartsWithNoCase(data, "dword:")) {
        const auto n = ParseHex32(Trim(data.substr(6)));
        if (!n) return std::nullopt;
        v.type = REG_DWORD;
        v.bytes.resize(sizeof(DWORD));
        std::memcpy(v.bytes.data(), &*n, sizeof(DWORD));
        return v;
    }
    if (!data.empty() && data.front() == '"') {
        std::size_t pos = 0;
        auto text = ParseQuoted(data, pos);
        if (!text || !Trim(data.substr(pos)).empty()) return std::nullopt;
        v.type = REG_SZ;
        v.bytes.assign(text->begin(), text->end());
        v.bytes.push_back(0);
        return v;
    }
    if (StartsWithNoCase(data, "hex")) {
        std::string_view rest = data.substr(3);
        if (!rest.empty() && rest.front() == ':') {
            v.type = REG_BINARY;
            rest.remove_prefix(1);
        } else if (!rest.empty() && rest.front() == '(') {
            const auto close = rest.find(')');
            if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
                return std::nullopt;
            }
            const auto type = ParseHex32(rest.substr(1, close - 1));
            if (!type) return std::nullopt;
            v.type = *type;
            rest.remove_prefix(close + 2);
        } else {
            return std::nullopt;
        }
        rest = Trim(rest);
        while (!rest.empty()) {
            const auto comma = rest.find(',');
            const std::string_view item = Trim(rest.substr(0, comma));
            if (item.size() > 2) return std::nullopt;
            const auto byte = ParseHex32(item);
            if (!byte) return std::nullopt;
            v.bytes.push_back(static_cast<BYTE>(*byte));
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
            if (Trim(rest).empty()) return std::nullopt;  // a trailing comma
        }
        // hex(4) lists a number's bytes as Windows stores them, lowest first;
        // a REG_DWORD is held in the host's order, as dword: gives it.
        if (v.type == REG_DWORD && v.bytes.size() == sizeof(DWORD) && std::endian::native == std::endian::big) {
            std::reverse(v.bytes.begin(), v.bytes.end());
        }
        return v;
    }
    return std::nullopt;
}

std::string FormatHexBytes(std::span<const BYTE> bytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", bytes[i]);
        out += buf;
    }
    return out;
}

std::string FormatValueLine(std::string_view name, const RegValue& v) {
    std::string line = name.empty() ? std::string("@") : Quote(name);
    line += '=';
    char buf[32];
    if (v.type == REG_DWORD && v.bytes.size() == sizeof(DWORD)) {
        DWORD n = 0;
        std::memcpy(&n, v.bytes.data(), sizeof n);
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(n));
        line += buf;
        return line;
    }
    if (v.type == REG_SZ) {
        std::string_view text(reinterpret_cast<const char*>(v.bytes.data()), v.bytes.size());
        while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
        if (text.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos) {
            line += Quote(text);
            return line;
        }
    }
    if (v.type == REG_BINARY) {
        line += "hex:";
    } else {
        std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
        line += buf;
    }
    line += FormatHexBytes(v.bytes);
    return line;
}

bool IsNamedValue(const HiveEntry& e) {
    return e.kind == HiveEntry::Kind::Value || e.kind == HiveEntry::Kind::Removed ||
           e.kind == HiveEntry::Kind::Unreadable;
}

// Calls fn(index) for every entry inside a section named section.
template <typename Fn>
void ForEachInSection(const std::vector<HiveEntry>& entries, std::string_view section, Fn&& fn) {
    bool inside = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].kind == HiveEntry::Kind::Section) {
            inside = EqualNoCase(entries[i].name, section);
        } else if (inside) {
            fn(i);
        }
    }
}

}  // namespace

HiveText HiveText::Parse(std::string_view bytes) {
    HiveText hive;
    std::string decoded;
    // The registry editor's exports start with a byte order mark; without
    // one, the header says it.
    if (bytes.starts_with("\xFF\xFE") || StartsWithUtf16Le(bytes, kHeader)) {
        hive.m_bUtf16 = true;
        hive.m_bBom = bytes.starts_with("\xFF\xFE");
        decoded = Utf16LeToUtf8(bytes.substr(hive.m_bBom ? 2 : 0));
        bytes = decoded;
    } else if (bytes.starts_with("\xEF\xBB\xBF")) {
        hive.m_bBom = true;
        bytes.remove_prefix(3);
    }

    struct RawLine {
        std::string_view text;
        std::string_view end;
    };
    std::vector<RawLine> lines;
    lines.reserve(static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1);
    while (!bytes.empty()) {
        const auto nl = bytes.find('\n');
        std::string_view text = bytes.substr(0, nl);
        std::string_view end = nl == std::string_view::npos ? std::string_view() : bytes.substr(nl, 1);
        if (!text.empty() && text.back() == '\r') {
            end = bytes.substr(text.size() - 1, end.size() + 1);
            text.remove_suffix(1);
        }
        if (lines.empty()) hive.m_bCrLf = end.starts_with('\r');
        lines.push_back({text, end});
        if (nl == std::string_view::npos) break;
        bytes.remove_prefix(nl + 1);
    }

    if (!lines.empty()) {
        const std::string_view first = Trim(lines.front().text);
        hive.m_bHeader = first == kHeader || first == kHeaderRegedit4;
    }

    hive.m_entries.reserve(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        HiveEntry e;
        e.lines.push_back({std::string(lines[i].text), std::string(lines[i].end)});
        const std::string_view t = Trim(lines[i].text);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            e.kind = HiveEntry::Kind::Section;
            e.name = t.substr(1, t.size() - 2);
        } else if (!t.empty() && (t.front() == '"' || t.front() == '@')) {
            std::optional<std::string> name;
            std::size_t pos = 0;
            if (t.front() == '@') {
                name = std::string();
                pos = 1;
            } else {
                name = ParseQuoted(t, pos);
            }
            while (pos < t.size() && IsBlankChar(t[pos])) ++pos;
            if (name && pos < t.size() && t[pos] == '=') {
                std::string data(Trim(t.substr(pos + 1)));
                // Long hex values are wrapped: ",\" at the end, the rest on
                // the next lines. A "\" that no such line follows ends the value.
                if (StartsWithNoCase(data, "hex")) {
                    while (!data.empty() && data.back() == '\\') {
                        data.pop_back();
                        if (i + 1 >= lines.size() || !IsHexContinuation(lines[i + 1].text)) break;
                        ++i;
                        data += Trim(lines[i].text);
                        e.lines.push_back({std::string(lines[i].text), std::string(lines[i].end)});
                    }
                }
                e.name = std::move(*name);
                if (Trim(data) == "-") {
                    e.kind = HiveEntry::Kind::Removed;
                } else if (auto value = ParseData(data)) {
                    e.kind = HiveEntry::Kind::Value;
                    e.value = std::move(*value);
                } else {
                    e.kind = HiveEntry::Kind::Unreadable;
                }
            }
        }
        hive.m_entries.push_back(std::move(e));
    }
    return hive;
}

std::string HiveText::Serialize() const {
    std::string out;
    if (m_bBom && !m_bUtf16) out += "\xEF\xBB\xBF";
    if (!m_bHeader) {
        const HiveLine header = NewLine(std::string(kHeader));
        out += header.text + header.end + header.end;
    }
    const HiveLine* last = m_entries.empty() ? nullptr : &m_entries.back().lines.back();
    const HiveLine* previous = nullptr;
    auto emit = [&](const HiveEntry& e) {
        for (const HiveLine& line : e.lines) {
            out += line.text;
            out += line.end;
            // A file that ended without a line end (or was cut between the
            // two characters of one) gets one where lines follow.
            if (!line.end.ends_with('\n') && &line != last) out += line.end.empty() ? NewLine({}).end : "\n";
            previous = &line;
        }
    };
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (!m_entries[i].redundant) {
            emit(m_entries[i]);
            continue;
        }
        // A run of left-out lines stays in, as its first line (a value line,
        // which never ends in "\"), only where leaving it out would join a
        // wrapped hex line before it with hex bytes after it.
        std::size_t next = i + 1;
        while (next < m_entries.size() && m_entries[next].redundant) ++next;
        const bool joins = previous && EndsInBackslash(previous->text) && next < m_entries.size() &&
                           IsHexContinuation(m_entries[next].lines.front().text);
        if (joins) emit(m_entries[i]);
        i = next - 1;
    }
    if (!m_bUtf16) return out;
    return (m_bBom ? std::string("\xFF\xFE") : std::string()) + Utf8ToUtf16Le(out);
}

bool HiveText::HasSection(std::string_view section) const {
    for (const HiveEntry& e : m_entries) {
        if (e.kind == HiveEntry::Kind::Section && EqualNoCase(e.name, section)) return true;
    }
    return false;
}

const RegValue* HiveText::Find(std::string_view section, std::string_view name) const {
    const HiveEntry* found = nullptr;
    ForEachInSection(m_entries, section, [&](std::size_t i) {
        const HiveEntry& e = m_entries[i];
        if ((e.kind == HiveEntry::Kind::Value || e.kind == HiveEntry::Kind::Removed) && EqualNoCase(e.name, name)) {
            found = &e;
        }
    });
    return (found && found->kind == HiveEntry::Kind::Value) ? &found->value : nullptr;
}

void HiveText::AddSection(std::string_view section) {
    if (HasSection(section)) return;
    if (!m_entries.empty() && !IsBlankLine(m_entries.back().lines.back().text)) {
        m_entries.push_back(HiveEntry{HiveEntry::Kind::Other, {NewLine({})}, {}, {}});
    }
    m_entries.push_back(
        HiveEntry{HiveEntry::Kind::Section, {NewLine("[" + std::string(section) + "]")}, std::string(section), {}});
    m_entries.push_back(HiveEntry{HiveEntry::Kind::Other, {NewLine({})}, {}, {}});
}

void HiveText::Set(std::string_view section, std::string_view name, const RegValue& value) {
    std::vector<std::size_t> matches;
    ForEachInSection(m_entries, section, [&](std::size_t i) {
        if (IsNamedValue(m_entries[i]) && EqualNoCase(m_entries[i].name, name)) matches.push_back(i);
    });
    auto rewrite = [&](HiveEntry& e) {
        e.kind = HiveEntry::Kind::Value;
        e.value = value;
        // The name keeps the case it had in the file, the line its line end.
        const std::string end = e.lines.back().end;
        e.lines = {{FormatValueLine(e.name, value), end}};
    };
    if (!matches.empty()) {
        rewrite(m_entries[matches.front()]);
        for (std::size_t k = 1; k < matches.size(); ++k) {
            rewrite(m_entries[matches[k]]);
            m_entries[matches[k]].redundant = true;
        }
        return;
    }

    AddSection(section);
    // A new value goes after the last non-blank line of the (last) section.
    std::size_t lastContent = 0;
    bool inside = false;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const HiveEntry& e = m_entries[i];
        if (e.kind == HiveEntry::Kind::Section) {
            inside = EqualNoCase(e.name, section);
            if (inside) lastContent = i;
        } else if (inside && !IsBlankLine(e.lines.back().text)) {
            lastContent = i;
        }
    }
    HiveEntry e{HiveEntry::Kind::Value, {NewLine(FormatValueLine(name, value))}, std::string(name), value};
    m_entries.insert(m_entries.begin() + static_cast<std::ptrdiff_t>(lastContent + 1), std::move(e));
}

}  // namespace platform
