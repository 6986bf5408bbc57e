#include "tools/rc/ResourceScript.h"

#include "platform/DialogTemplate.h"
#include "tools/rc/DialogSymbols.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace rc {
namespace {

// ---------------------------------------------------------------------------
// Text helpers

std::string Upper(std::string_view s) {
    std::string r(s);
    for (char& c : r) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return r;
}

// A resource number as the script may write it: decimal or 0x hex, with an
// optional L suffix. Returns nothing when the word is not a number.
std::optional<unsigned long> ParseNumber(std::string_view word) {
    if (!word.empty() && (word.back() == 'L' || word.back() == 'l')) {
        word.remove_suffix(1);
    }
    if (word.empty()) {
        return std::nullopt;
    }
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        base = 16;
        word.remove_prefix(2);
    }
    unsigned long value = 0;
    for (char c : word) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = value * static_cast<unsigned long>(base) + static_cast<unsigned long>(digit);
        if (value > 0xFFFFFFFFul) {
            return value; // out of range, reported by the caller
        }
    }
    return value;
}

// The key under which two resources count as the same one: type and name
// without regard to case, numbers in one spelling.
std::string IdentityKey(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && digits[0] == '#') {
        digits.remove_prefix(1);
    }
    if (!digits.empty() && std::all_of(digits.begin(), digits.end(),
                                       [](char c) { return c >= '0' && c <= '9'; })) {
        if (auto n = ParseNumber(digits)) {
            return "#" + std::to_string(*n);
        }
    }
    return Upper(text);
}

// ---------------------------------------------------------------------------
// Lexer

enum class TokenKind { Word, String, Punct, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text; // a word, the string's value, or the punctuation character
    std::string raw;  // a string's characters between its quotes, as written
    int line = 0;
};

bool IsPunct(char c) {
    return c == ',' || c == '{' || c == '}' || c == '(' || c == ')' || c == '|';
}

class Lexer {
public:
    explicit Lexer(std::string_view text) : m_text(text) {}

    // Next token; sets `error` (and returns End) on a lexical error.
    Token Next(std::string& error) {
        SkipSpaceAndComments(error);
        Token tok;
        tok.line = m_line;
        if (!error.empty() || m_pos >= m_text.size()) {
            return tok;
        }
        char c = m_text[m_pos];
        if (c == '"') {
            tok.kind = TokenKind::String;
            ReadString(tok, error);
            return tok;
        }
        if (IsPunct(c)) {
            tok.kind = TokenKind::Punct;
            tok.text = std::string(1, c);
            ++m_pos;
            return tok;
        }
        tok.kind = TokenKind::Word;
        while (m_pos < m_text.size()) {
            char d = m_text[m_pos];
            if (std::isspace(static_cast<unsigned char>(d)) || d == '"' || IsPunct(d) ||
                StartsComment()) {
                break;
            }
            tok.text.push_back(d);
            ++m_pos;
        }
        return tok;
    }

    int line() const { return m_line; }

private:
    bool StartsComment() const {
        return m_pos + 1 < m_text.size() && m_text[m_pos] == '/' &&
               (m_text[m_pos + 1] == '/' || m_text[m_pos + 1] == '*');
    }

    void SkipSpaceAndComments(std::string& error) {
        while (m_pos < m_text.size()) {
            char c = m_text[m_pos];
            if (c == '\n') {
                ++m_line;
                ++m_pos;
                m_atLineStart = true;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++m_pos;
            } else if (c == '#' && m_atLineStart) {
                // Preprocessor lines (#pragma code_page, #include ...) are skipped.
                while (m_pos < m_text.size() && m_text[m_pos] != '\n') {
                    ++m_pos;
                }
            } else if (StartsComment() && m_text[m_pos + 1] == '/') {
                while (m_pos < m_text.size() && m_text[m_pos] != '\n') {
                    ++m_pos;
                }
            } else if (StartsComment()) {
                int startLine = m_line;
                m_pos += 2;
                bool closed = false;
                while (m_pos < m_text.size()) {
                    if (m_text[m_pos] == '*' && m_pos + 1 < m_text.size() &&
                        m_text[m_pos + 1] == '/') {
                        m_pos += 2;
                        closed = true;
                        break;
                    }
                    if (m_text[m_pos] == '\n') {
                        ++m_line;
                    }
                    ++m_pos;
                }
                if (!closed) {
                    m_line = startLine;
                    error = "unterminated /* comment";
                    return;
                }
            } else {
                m_atLineStart = false;
                return;
            }
        }
    }

    // A quoted string: "" and \" stand for a quote, \\ for a backslash; any
    // other backslash is kept. Strings end on their line.
    void ReadString(Token& tok, std::string& error) {
        ++m_pos; // opening quote
        const std::size_t start = m_pos;
        while (m_pos < m_text.size()) {
            char c = m_text[m_pos];
            if (c == '\n' || c == '\r') {
                break;
            }
            if (c == '"') {
                if (m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '"') {
                    tok.text.push_back('"');
                    m_pos += 2;
                    continue;
                }
                tok.raw = std::string(m_text.substr(start, m_pos - start));
                ++m_pos;
                return;
            }
            if (c == '\\' && m_pos + 1 < m_text.size() &&
                (m_text[m_pos + 1] == '\\' || m_text[m_pos + 1] == '"')) {
                tok.text.push_back(m_text[m_pos + 1]);
                m_pos += 2;
                continue;
            }
            tok.text.push_back(c);
            ++m_pos;
        }
        error = "unterminated string";
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    int m_line = 1;
    bool m_atLineStart = true;
};

// ---------------------------------------------------------------------------
// Parser

class Parser {
public:
    Parser(std::string_view text, const fs::path& scriptPath, ResourceScript& out,
           std::vector<std::string>& errors)
        : m_lexer(text), m_scriptPath(scriptPath), m_out(out), m_errors(errors) {
        m_baseDir = fs::absolute(scriptPath).lexically_normal().parent_path();
    }

    bool Run() {
        m_out.path = fs::absolute(m_scriptPath).lexically_normal();
        m_out.resources.clear();
        std::size_t errorsBefore = m_errors.size();
        Advance();
        while (m_ok && m_tok.kind != TokenKind::End) {
            ParseStatement();
        }
        return m_errors.size() == errorsBefore;
    }

private:
    using Handler = void (Parser::*)(const Token& name, const Token& type);

    // Block statements of the resource compiler: DIALOG and DIALOGEX are
    // compiled, the others are reported as unsupported.
    static const std::map<std::string, Handler>& TypeHandlers() {
        static const std::map<std::string, Handler> handlers = {
            {"DIALOG", &Parser::ParseDialog},
            {"DIALOGEX", &Parser::ParseDialog},
            {"MENU", &Parser::RejectBlockStatement},
            {"MENUEX", &Parser::RejectBlockStatement},
            {"ACCELERATORS", &Parser::RejectBlockStatement},
            {"VERSIONINFO", &Parser::RejectBlockStatement},
            {"TEXTINCLUDE", &Parser::RejectBlockStatement},
            {"DLGINIT", &Parser::RejectBlockStatement},
            {"TOOLBAR", &Parser::RejectBlockStatement},
            {"DESIGNINFO", &Parser::RejectBlockStatement},
        };
        return handlers;
    }

    void Advance() {
        std::string error;
        m_tok = m_lexer.Next(error);
        if (!error.empty()) {
            Fail(m_lexer.line(), error);
        }
    }

    // A syntax error: reported, and parsing stops.
    void Fail(int line, const std::string& message) {
        Report(line, message);
        m_ok = false;
    }

    // A problem after which parsing can go on (missing file, duplicate).
    void Report(int line, const std::string& message) {
        m_errors.push_back(m_scriptPath.string() + ":" + std::to_string(line) + ": " + message);
    }

    static std::string Describe(const Token& tok) {
        switch (tok.kind) {
        case TokenKind::End: return "end of file";
        case TokenKind::String: return "string \"" + tok.text + "\"";
        default: return "'" + tok.text + "'";
        }
    }

    void ParseStatement() {
        Token first = m_tok;
        if (first.kind == TokenKind::Word) {
            std::string upper = Upper(first.text);
            if (upper == "LANGUAGE") {
                ParseLanguage();
                return;
            }
            if (upper == "STRINGTABLE" || upper == "BEGIN" || upper == "END") {
                Fail(first.line, upper + " statements are not supported");
                return;
            }
        } else if (first.kind != TokenKind::String) {
            Fail(first.line, "expected a resource name, found " + Describe(first));
            return;
        }
        Advance();
        if (!m_ok) {
            return;
        }
        Token type = m_tok;
        if (type.kind != TokenKind::Word) {
            Fail(type.line, "expected a resource type after " + Describe(first) + ", found " +
                                Describe(type));
            return;
        }
        Advance();
        if (!m_ok) {
            return;
        }
        const auto& handlers = TypeHandlers();
        auto it = handlers.find(Upper(type.text));
        Handler handler = it != handlers.end() ? it->second : &Parser::ParseFileResource;
        (this->*handler)(first, type);
    }

    // LANGUAGE <primary>, <sub>: the language of the following resources;
    // there is only one language here, so it is ignored.
    void ParseLanguage() {
        int line = m_tok.line;
        Advance();
        if (m_ok && m_tok.kind == TokenKind::Word) {
            Advance();
            if (m_ok && m_tok.kind == TokenKind::Punct && m_tok.text == ",") {
                Advance();
                if (m_ok && m_tok.kind == TokenKind::Word) {
                    Advance();
                    return;
                }
            }
        }
        if (m_ok) {
            Fail(line, "LANGUAGE needs two values: LANGUAGE <primary>, <sublanguage>");
        }
    }

    void RejectBlockStatement(const Token& name, const Token& type) {
        Fail(name.line, Upper(type.text) + " resources are not supported (" + name.text + ")");
    }

    static bool IsLoadFlag(const std::string& upper) {
        static const std::set<std::string> flags = {"PRELOAD",     "LOADONCALL", "FIXED",
                                                    "MOVEABLE",    "DISCARDABLE", "PURE",
                                                    "IMPURE",      "SHARED",      "NONSHARED"};
        return flags.count(upper) != 0;
    }

    // The text stored for a name or type: numbers as "#<decimal>".
    bool StoredId(const Token& tok, const char* what, std::string& stored) {
        if (tok.kind == TokenKind::String) {
            if (tok.text.empty()) {
                Report(tok.line, std::string("empty resource ") + what);
                return false;
            }
            stored = tok.text;
            return true;
        }
        auto number = ParseNumber(tok.text);
        if (number && !tok.text.empty() && std::isdigit(static_cast<unsigned char>(tok.text[0]))) {
            if (*number < 1 || *number > 0xFFFF) {
                Report(tok.line, std::string("resource ") + what + " " + tok.text +
                                     " is out of range (1 to 65535)");
                return false;
            }
            stored = "#" + std::to_string(*number);
            return true;
        }
        stored = tok.text;
        return true;
    }

    // NAME TYPE [flags] "file"
    void ParseFileResource(const Token& name, const Token& type) {
        while (m_tok.kind == TokenKind::Word && IsLoadFlag(Upper(m_tok.text))) {
            Advance();
            if (!m_ok) {
                return;
            }
        }
        Token file = m_tok;
        if ((file.kind == TokenKind::Word && Upper(file.text) == "BEGIN") ||
            (file.kind == TokenKind::Punct && file.text == "{")) {
            Fail(file.line, "inline data for " + name.text + " " + type.text +
                                " is not supported; name a file instead");
            return;
        }
        if (file.kind != TokenKind::String && file.kind != TokenKind::Word) {
            Fail(file.line, "expected a file name after " + name.text + " " + type.text +
                                ", found " + Describe(file));
            return;
        }
        Advance();

        ScriptResource res;
        res.line = name.line;
        bool good = StoredId(name, "name", res.name);
        good = StoredId(type, "type", res.type) && good;

        if (file.text.empty()) {
            Report(file.line, "empty file name for " + name.text + " " + type.text);
            return;
        }
        // Scripts written on Windows separate folders with backslashes.
        std::string fileText = file.text;
        std::replace(fileText.begin(), fileText.end(), '\\', '/');
        fs::path path = fs::path(fileText);
        if (path.is_relative()) {
            path = m_baseDir / path;
        }
        res.file = path.lexically_normal();
        std::error_code ec;
        if (!fs::exists(res.file, ec)) {
            Report(file.line, "file \"" + file.text + "\" not found (looked for " +
                                  res.file.string() + ")");
            good = false;
        } else if (!fs::is_regular_file(res.file, ec)) {
            Report(file.line, "\"" + file.text + "\" is not a regular file");
            good = false;
        }
        if (!good) {
            return;
        }
        AddResource(std::move(res), name, type);
    }

    // Adds a parsed resource unless the script already has one of that type
    // and name.
    void AddResource(ScriptResource res, const Token& name, const Token& type) {
        std::string key = IdentityKey(res.type) + "\n" + IdentityKey(res.name);
        auto [it, inserted] = m_seen.emplace(key, res.line);
        if (!inserted) {
            Report(res.line, "duplicate resource " + name.text + " " + type.text +
                                 " (first defined on line " + std::to_string(it->second) + ")");
            return;
        }
        m_out.resources.push_back(std::move(res));
    }

    // -----------------------------------------------------------------------
    // DIALOG and DIALOGEX:
    //
    //   NAME DIALOG[EX] [load flags] x, y, cx, cy [, help id]
    //   [STYLE expr] [EXSTYLE expr] [CAPTION "text"]
    //   [FONT points, "face" [, weight [, italic [, charset]]]]
    //   [LANGUAGE a, b] [CHARACTERISTICS n] [VERSION n]
    //   BEGIN (or {)
    //     KEYWORD ["text",] id, x, y, cx, cy [, style [, exstyle [, help id]]]
    //     CONTROL "text", id, class, style, x, y, cx, cy [, exstyle [, help id]]
    //   END (or })
    //
    // Style expressions join terms with |; NOT removes bits from the
    // statement's default style. Strings take the compiler's escapes.

    bool AtPunct(const char* p) const { return m_tok.kind == TokenKind::Punct && m_tok.text == p; }

    bool AtWord(const char* upper) const {
        return m_tok.kind == TokenKind::Word && Upper(m_tok.text) == upper;
    }

    bool AtBlockStart() const { return AtPunct("{") || AtWord("BEGIN"); }
    bool AtBlockEnd() const { return AtPunct("}") || AtWord("END"); }

    bool Expect(const char* punct, const std::string& where) {
        if (AtPunct(punct)) {
            Advance();
            return m_ok;
        }
        Fail(m_tok.line, std::string("expected '") + punct + "' " + where + ", found " + Describe(m_tok));
        return false;
    }

    // A number (decimal or 0x hex, an optional sign and L suffix) or a
    // predefined id.
    bool SignedNumber(const std::string& what, long long low, long long high, long long& value) {
        if (m_tok.kind != TokenKind::Word) {
            Fail(m_tok.line, "expected " + what + ", found " + Describe(m_tok));
            return false;
        }
        std::string_view word = m_tok.text;
        bool negative = false;
        if (!word.empty() && (word[0] == '-' || word[0] == '+')) {
            negative = word[0] == '-';
            word.remove_prefix(1);
        }
        if (auto n = ParseNumber(word)) {
            value = negative ? -static_cast<long long>(*n) : static_cast<long long>(*n);
        } else if (auto id = PredefinedId(m_tok.text)) {
            value = *id;
        } else {
            Fail(m_tok.line, "expected " + what + ", found " + Describe(m_tok));
            return false;
        }
        if (value < low || value > high) {
            Fail(m_tok.line, what + " " + m_tok.text + " is out of range (" + std::to_string(low) + " to " +
                                 std::to_string(high) + ")");
            return false;
        }
        Advance();
        return m_ok;
    }

    bool Coordinate(const char* what, std::int16_t& out) {
        long long v = 0;
        if (!SignedNumber(what, -32768, 32767, v)) {
            return false;
        }
        out = static_cast<std::int16_t>(v);
        return true;
    }

    // x, y, cx, cy
    bool Rectangle(std::int16_t& x, std::int16_t& y, std::int16_t& cx, std::int16_t& cy) {
        return Coordinate("x", x) && Expect(",", "after x") && Coordinate("y", y) &&
               Expect(",", "after y") && Coordinate("width", cx) && Expect(",", "after the width") &&
               Coordinate("height", cy);
    }

    bool Text(const std::string& what, std::string& out) {
        if (m_tok.kind != TokenKind::String) {
            Fail(m_tok.line, "expected " + what + " (a quoted string), found " + Describe(m_tok));
            return false;
        }
        out = DecodeEscapes(m_tok.raw);
        Advance();
        return m_ok;
    }

    // The escapes of the resource compiler's strings: \n \r \t \\ \" and "".
    static std::string DecodeEscapes(std::string_view raw) {
        std::string out;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            char c = raw[i];
            if (c == '"' && i + 1 < raw.size() && raw[i + 1] == '"') {
                out.push_back('"');
                ++i;
            } else if (c == '\\' && i + 1 < raw.size()) {
                char e = raw[++i];
                switch (e) {
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                case 't': out.push_back('\t'); break;
                case '\\':
                case '"': out.push_back(e); break;
                default:
                    out.push_back('\\');
                    out.push_back(e);
                    break;
                }
            } else {
                out.push_back(c);
            }
        }
        return out;
    }

    // One style value: a number or a style name.
    bool StyleTerm(std::uint32_t& value) {
        if (AtPunct("(")) {
            Advance();
            value = 0;
            return m_ok && StyleExpression(value) && Expect(")", "to close the style expression");
        }
        if (m_tok.kind != TokenKind::Word) {
            Fail(m_tok.line, "expected a style, found " + Describe(m_tok));
            return false;
        }
        if (auto n = ParseNumber(m_tok.text); n && *n <= 0xFFFFFFFFul) {
            value = static_cast<std::uint32_t>(*n);
        } else if (auto s = StyleValue(m_tok.text)) {
            value = *s;
        } else {
            Fail(m_tok.line, "unknown style " + m_tok.text);
            return false;
        }
        Advance();
        return m_ok;
    }

    // [NOT] term { | [NOT] term }, applied to `value`.
    bool StyleExpression(std::uint32_t& value) {
        for (;;) {
            bool negate = false;
            if (AtWord("NOT")) {
                negate = true;
                Advance();
                if (!m_ok) {
                    return false;
                }
            }
            std::uint32_t term = 0;
            if (!StyleTerm(term)) {
                return false;
            }
            value = negate ? (value & ~term) : (value | term);
            if (!AtPunct("|")) {
                return true;
            }
            Advance();
            if (!m_ok) {
                return false;
            }
        }
    }

    // The optional trailing values of a control: [, style [, exstyle [, help id]]]
    // (`withStyle` false: the style was given already).
    bool ControlTail(DialogItemTemplate& item, bool withStyle, bool ex) {
        if (withStyle && AtPunct(",")) {
            Advance();
            if (!m_ok || !StyleExpression(item.style)) {
                return false;
            }
        }
        if (AtPunct(",")) {
            Advance();
            if (!m_ok || !StyleExpression(item.exStyle)) {
                return false;
            }
            if (ex && AtPunct(",")) {
                long long helpId = 0;
                Advance();
                if (!m_ok || !SignedNumber("a help id", INT32_MIN, UINT32_MAX, helpId)) {
                    return false;
                }
            }
        }
        return true;
    }

    bool ParseControl(DialogTemplate& dialog, bool ex) {
        const int line = m_tok.line;
        const std::string keyword = m_tok.kind == TokenKind::Word ? Upper(m_tok.text) : std::string();
        DialogItemTemplate item;
        long long id = 0;
        const long long idLow = ex ? INT32_MIN : -32768;
        const long long idHigh = ex ? static_cast<long long>(UINT32_MAX) : 65535;
        if (keyword == "CONTROL") {
            Advance();
            if (!m_ok || !Text("the control's text", item.text) || !Expect(",", "after the text") ||
                !SignedNumber("a control id", idLow, idHigh, id) || !Expect(",", "after the id")) {
                return false;
            }
            if (m_tok.kind == TokenKind::String) {
                item.className = m_tok.text;
            } else if (auto cls = m_tok.kind == TokenKind::Word ? ClassMacro(m_tok.text) : std::nullopt) {
                item.className = std::string(*cls);
            } else {
                Fail(m_tok.line, "expected a window class, found " + Describe(m_tok));
                return false;
            }
            if (item.className.empty()) {
                Fail(m_tok.line, "empty window class");
                return false;
            }
            Advance();
            item.style = WS_CHILD | WS_VISIBLE;
            if (!m_ok || !Expect(",", "after the class") || !StyleExpression(item.style) ||
                !Expect(",", "after the style") || !Rectangle(item.x, item.y, item.cx, item.cy) ||
                !ControlTail(item, false, ex)) {
                return false;
            }
        } else if (const ControlForm* form = FindControlForm(keyword)) {
            Advance();
            if (!m_ok) {
                return false;
            }
            if (form->hasText && (!Text("the control's text", item.text) || !Expect(",", "after the text"))) {
                return false;
            }
            item.className = std::string(form->className);
            item.style = WS_CHILD | WS_VISIBLE | form->defaultStyle;
            if (!SignedNumber("a control id", idLow, idHigh, id) || !Expect(",", "after the id") ||
                !Rectangle(item.x, item.y, item.cx, item.cy) || !ControlTail(item, true, ex)) {
                return false;
            }
        } else {
            Fail(line, "expected a control statement or END, found " + Describe(m_tok));
            return false;
        }
        item.id = static_cast<std::int32_t>(static_cast<std::uint32_t>(id & 0xFFFFFFFF));
        if (dialog.items.size() >= 0xFFFF) {
            Fail(line, "too many controls in one dialog");
            return false;
        }
        dialog.items.push_back(std::move(item));
        return true;
    }

    void ParseDialog(const Token& name, const Token& type) {
        const bool ex = Upper(type.text) == "DIALOGEX";
        while (m_ok && m_tok.kind == TokenKind::Word && IsLoadFlag(Upper(m_tok.text))) {
            Advance();
        }
        DialogTemplate dialog;
        if (!m_ok || !Rectangle(dialog.x, dialog.y, dialog.cx, dialog.cy)) {
            return;
        }
        if (ex && AtPunct(",")) {
            long long helpId = 0;
            Advance();
            if (!m_ok || !SignedNumber("a help id", INT32_MIN, UINT32_MAX, helpId)) {
                return;
            }
        }

        bool styleGiven = false;
        std::uint32_t style = 0;
        while (m_ok && !AtBlockStart()) {
            const int line = m_tok.line;
            if (AtWord("STYLE")) {
                Advance();
                style = 0;
                styleGiven = true;
                if (!m_ok || !StyleExpression(style)) {
                    return;
                }
            } else if (AtWord("EXSTYLE")) {
                Advance();
                dialog.exStyle = 0;
                if (!m_ok || !StyleExpression(dialog.exStyle)) {
                    return;
                }
            } else if (AtWord("CAPTION")) {
                Advance();
                if (!m_ok || !Text("the caption", dialog.caption)) {
                    return;
                }
                style |= WS_CAPTION;
            } else if (AtWord("FONT")) {
                Advance();
                long long points = 0;
                if (!m_ok || !SignedNumber("a point size", 1, 0xFFFF, points) ||
                    !Expect(",", "after the point size") || !Text("the font face", dialog.fontFace)) {
                    return;
                }
                dialog.pointSize = static_cast<std::uint16_t>(points);
                long long extra[3] = {0, 0, 0};
                const char* names[3] = {"a font weight", "an italic flag", "a character set"};
                const long long highs[3] = {1000, 1, 255};
                for (int i = 0; i < 3 && AtPunct(","); ++i) {
                    Advance();
                    if (!m_ok || !SignedNumber(names[i], 0, highs[i], extra[i])) {
                        return;
                    }
                }
                dialog.weight = static_cast<std::uint16_t>(extra[0]);
                dialog.italic = static_cast<std::uint8_t>(extra[1]);
                dialog.charset = static_cast<std::uint8_t>(extra[2]);
                style |= DS_SETFONT;
                if (dialog.fontFace.empty()) {
                    Fail(line, "empty font face");
                    return;
                }
            } else if (AtWord("LANGUAGE")) {
                ParseLanguage();
            } else if (AtWord("CHARACTERISTICS") || AtWord("VERSION")) {
                Advance();
                long long ignored = 0;
                if (!m_ok || !SignedNumber("a number", 0, UINT32_MAX, ignored)) {
                    return;
                }
            } else if (AtWord("MENU") || AtWord("CLASS")) {
                Fail(line, "dialog " + Upper(m_tok.text) + " statements are not supported");
                return;
            } else {
                Fail(line, "expected a dialog option or BEGIN, found " + Describe(m_tok));
                return;
            }
        }
        if (!m_ok) {
            return;
        }
        if (!styleGiven) {
            style |= WS_POPUP | WS_BORDER | WS_SYSMENU;
        }
        dialog.style = style;

        Advance(); // BEGIN or {
        while (m_ok && !AtBlockEnd()) {
            if (m_tok.kind == TokenKind::End) {
                Fail(m_tok.line, "END missing: the dialog " + name.text + " is not closed");
                return;
            }
            if (!ParseControl(dialog, ex)) {
                return;
            }
        }
        if (!m_ok) {
            return;
        }
        Advance(); // END or }

        ScriptResource res;
        res.line = name.line;
        res.type = "DIALOG";
        if (!StoredId(name, "name", res.name)) {
            return;
        }
        if (!EncodeDialogTemplate(dialog, res.inlineData)) {
            Report(name.line, "dialog " + name.text + " is too large to store");
            return;
        }
        AddResource(std::move(res), name, type);
    }

    Lexer m_lexer;
    fs::path m_scriptPath;
    fs::path m_baseDir;
    ResourceScript& m_out;
    std::vector<std::string>& m_errors;
    Token m_tok;
    bool m_ok = true;
    std::map<std::string, int> m_seen;
};

// ---------------------------------------------------------------------------
// Output helpers

// A C string literal; bytes outside printable ASCII as three-digit octal.
std::string CppString(std::string_view s) {
    std::string r = "\"";
    for (char ch : s) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            r.push_back('\\');
            r.push_back(ch);
        } else if (c < 0x20 || c >= 0x7F || c == '?') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", c);
            r += buf;
        } else {
            r.push_back(ch);
        }
    }
    r.push_back('"');
    return r;
}

// A string for the assembler's .incbin.
std::string AsmString(std::string_view s) {
    std::string r = "\"";
    for (char ch : s) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            r.push_back('\\');
            r.push_back(ch);
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", c);
            r += buf;
        } else {
            r.push_back(ch);
        }
    }
    r.push_back('"');
    return r;
}

// A path in a Make-style depfile.
std::string DepPath(const std::string& s) {
    std::string r;
    for (char c : s) {
        if (c == ' ' || c == '#' || c == '\\') {
            r.push_back('\\');
        } else if (c == '$') {
            r.push_back('$');
        }
        r.push_back(c);
    }
    return r;
}

// A comment-safe description for generated files.
std::string CommentSafe(std::string s) {
    for (std::size_t i = 0; i + 1 < s.size(); ++i) {
        if ((s[i] == '*' && s[i + 1] == '/') || (s[i] == '/' && s[i + 1] == '*')) {
            s[i] = '_';
        }
    }
    for (char& c : s) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return s;
}

std::uint64_t Fnv1a64(std::span<const unsigned char> bytes) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char b : bytes) {
        h ^= b;
        h *= 0x100000001b3ull;
    }
    return h;
}

bool ReadWholeFile(const fs::path& path, std::vector<unsigned char>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

} // namespace

bool ParseResourceScript(std::string_view text, const fs::path& scriptPath, ResourceScript& out,
                         std::vector<std::string>& errors) {
    Parser parser(text, scriptPath, out, errors);
    return parser.Run();
}

bool LoadResourceScript(const fs::path& scriptPath, ResourceScript& out,
                        std::vector<std::string>& errors) {
    std::vector<unsigned char> bytes;
    std::error_code ec;
    if (!fs::is_regular_file(scriptPath, ec) || !ReadWholeFile(scriptPath, bytes)) {
        errors.push_back(scriptPath.string() + ": cannot read the resource script");
        return false;
    }
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    // A UTF-8 byte order mark is not part of the first statement.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    return ParseResourceScript(text, scriptPath, out, errors);
}

bool CompileResourceScript(const ResourceScript& script, const fs::path& tablePath,
                           CompiledOutputs& out, std::vector<std::string>& errors) {
    std::size_t errorsBefore = errors.size();
    std::ostringstream table;
    std::ostringstream data;
    std::ostringstream dep;
    const std::string source = CommentSafe(script.path.string());

    table << "// Generated by glimmerwing-rc from " << source << "; do not edit.\n"
          << "#include \"platform/Resources.h\"\n\n";
    data << "/* Generated by glimmerwing-rc from " << source << "; do not edit. */\n"
         << "    .section .rodata\n";
    dep << DepPath(tablePath.string()) << ": " << DepPath(script.path.string());

    std::vector<std::string> entries;
    for (std::size_t i = 0; i < script.resources.size(); ++i) {
        const ScriptResource& res = script.resources[i];
        const std::string symbol = "glimmerwing_resource_" + std::to_string(i);
        std::vector<unsigned char> bytes;
        if (!res.file.empty()) {
            if (!ReadWholeFile(res.file, bytes)) {
                errors.push_back(script.path.string() + ":" + std::to_string(res.line) +
                                 ": cannot read " + res.file.string());
                continue;
            }
            dep << " \\\n  " << DepPath(res.file.string());
        } else {
            bytes = res.inlineData;
        }
        if (bytes.size() >= 0xFFFFFFFFull) {
            errors.push_back(script.path.string() + ":" + std::to_string(res.line) +
                             ": resource is too large");
            continue;
        }
        char hash[32];
        std::snprintf(hash, sizeof hash, "%016llx",
                      static_cast<unsigned long long>(Fnv1a64(bytes)));

        data << "\n/* " << i << ": " << bytes.size() << " bytes, fnv1a64 " << hash << " */\n"
             << "    .balign 16\n"
             << "    .globl " << symbol << "\n"
             << "    .hidden " << symbol << "\n"
             << "    .type " << symbol << ", %object\n"
             << symbol << ":\n";
        if (!res.file.empty() && !bytes.empty()) {
            // The byte count keeps the blob and the table's size in step: a
            // file that shrank since makes the assembler fail instead.
            data << "    .incbin " << AsmString(res.file.string()) << ", 0, " << bytes.size()
                 << "\n";
        } else {
            for (std::size_t k = 0; k < bytes.size(); k += 16) {
                data << "    .byte ";
                for (std::size_t j = k; j < std::min(bytes.size(), k + 16); ++j) {
                    data << (j > k ? "," : "") << static_cast<unsigned>(bytes[j]);
                }
                data << "\n";
            }
        }
        // A NUL after every blob, outside its size: text resources end there.
        data << "    .byte 0\n"
             << "    .size " << symbol << ", " << bytes.size() + 1 << "\n";

        table << "extern \"C\" __attribute__((visibility(\"hidden\"))) const unsigned char "
              << symbol << "[];\n";
        entries.push_back("    {" + CppString(res.type) + ", " + CppString(res.name) + ", " +
                          symbol + ", " + std::to_string(bytes.size()) + "u},\n");
    }
    if (errors.size() != errorsBefore) {
        return false;
    }

    data << "\n    .section .note.GNU-stack,\"\",%progbits\n";
    if (entries.empty()) {
        table << "\nstd::span<const ResourceEntry> CompiledResourceTable() {\n"
              << "    return {};\n}\n";
    } else {
        table << "\nnamespace {\nconst ResourceEntry kResources[] = {\n";
        for (const auto& e : entries) {
            table << e;
        }
        table << "};\n} // namespace\n\n"
              << "std::span<const ResourceEntry> CompiledResourceTable() {\n"
              << "    return kResources;\n}\n";
    }
    dep << "\n";

    out.tableCpp = table.str();
    out.dataAsm = data.str();
    out.depfile = dep.str();
    return true;
}

bool WriteFileIfChanged(const fs::path& path, std::string_view content, bool& changed,
                        std::string& error) {
    changed = false;
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
        std::vector<unsigned char> existing;
        if (ReadWholeFile(path, existing) && existing.size() == content.size() &&
            std::equal(existing.begin(), existing.end(),
                       reinterpret_cast<const unsigned char*>(content.data()))) {
            return true;
        }
    }
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path(), ec);
        if (ec) {
            error = path.parent_path().string() + ": cannot create folder: " + ec.message();
            return false;
        }
    }
    fs::path temp = path;
    temp += ".tmp" + std::to_string(::getpid());
    {
        std::ofstream outFile(temp, std::ios::binary | std::ios::trunc);
        if (!outFile) {
            error = temp.string() + ": cannot write";
            return false;
        }
        outFile.write(content.data(), static_cast<std::streamsize>(content.size()));
        outFile.close();
        if (!outFile) {
            fs::remove(temp, ec);
            error = temp.string() + ": write failed";
            return false;
        }
    }
    fs::rename(temp, path, ec);
    if (ec) {
        fs::remove(temp, ec);
        error = path.string() + ": cannot replace: " + ec.message();
        return false;
    }
    changed = true;
    return true;
}

int RunResourceCompiler(const std::vector<std::string>& args, std::vector<std::string>& errors) {
    if (args.size() != 4) {
        errors.push_back(
            "usage: glimmerwing-rc <script.rc> <out_table.cpp> <out_data.S> <out_depfile>");
        return 2;
    }
    ResourceScript script;
    if (!LoadResourceScript(args[0], script, errors)) {
        return 1;
    }
    CompiledOutputs outputs;
    if (!CompileResourceScript(script, args[1], outputs, errors)) {
        return 1;
    }
    const std::array<std::pair<const std::string*, const std::string*>, 3> files = {{
        {&args[2], &outputs.dataAsm},
        {&args[1], &outputs.tableCpp},
        {&args[3], &outputs.depfile},
    }};
    for (const auto& [path, content] : files) {
        bool changed = false;
        std::string error;
        if (!WriteFileIfChanged(*path, *content, changed, error)) {
            errors.push_back(error);
            return 1;
        }
    }
    return 0;
}

} // namespace rc
