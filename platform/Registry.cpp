#include "platform/Registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderRegedit4 = "REGEDIT4";
constexpr std::string_view kRootName = "HKEY_CURRENT_USER";
// A settings hive is a few hundred bytes; anything this large is not ours to
// read or to replace.
constexpr std::uintmax_t kMaxHiveSize = 16u << 20;

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

// The registry editor exports UTF-16LE; a broken surrogate becomes U+FFFD.
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
        AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? U'\uFFFD' : static_cast<char32_t>(u));
    }
    return out;
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
// The hive model

struct Value {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

std::optional<Value> ParseData(std::string_view data) {
    Value v;
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

std::string FormatValueLine(std::string_view name, const Value& v) {
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

// One logical line of the file: a section header, a value (a hex value may be
// continued over several physical lines with a trailing "\"), the removal of
// a value ("name"=-), or anything else, which is kept as it is.
struct Entry {
    enum class Kind { Other, Section, Value, Removed };
    Kind kind = Kind::Other;
    std::vector<std::string> lines;  // as read, without line ends
    std::string name;                // section path or value name
    Value value;
};

class Hive {
public:
    static Hive Parse(std::string_view bytes);
    std::string Serialize() const;

    bool HasSection(std::string_view section) const;
    const Value* Find(std::string_view section, std::string_view name) const;
    void AddSection(std::string_view section);
    void Set(std::string_view section, std::string_view name, const Value& value);

private:
    // Calls fn(index, entry) for every entry inside a section named section.
    template <typename Fn>
    void ForEachInSection(std::string_view section, Fn&& fn) const {
        bool inside = false;
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            const Entry& e = m_entries[i];
            if (e.kind == Entry::Kind::Section) {
                inside = EqualNoCase(e.name, section);
            } else if (inside) {
                fn(i, e);
            }
        }
    }

    std::vector<Entry> m_entries;
    bool m_bHeader = false;
    bool m_bBom = false;
    bool m_bCrLf = false;
};

Hive Hive::Parse(std::string_view bytes) {
    Hive hive;
    std::string decoded;
    if (bytes.starts_with("\xFF\xFE")) {
        decoded = Utf16LeToUtf8(bytes.substr(2));
        bytes = decoded;
    } else if (bytes.starts_with("\xEF\xBB\xBF")) {
        hive.m_bBom = true;
        bytes.remove_prefix(3);
    }

    std::vector<std::string_view> lines;
    while (!bytes.empty()) {
        const auto nl = bytes.find('\n');
        std::string_view line = bytes.substr(0, nl);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
            if (lines.empty()) hive.m_bCrLf = true;
        }
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        bytes.remove_prefix(nl + 1);
    }

    if (!lines.empty()) {
        const std::string_view first = Trim(lines.front());
        hive.m_bHeader = first == kHeader || first == kHeaderRegedit4;
    }

    for (std::size_t i = 0; i < lines.size(); ++i) {
        Entry e;
        e.lines.emplace_back(lines[i]);
        const std::string_view t = Trim(lines[i]);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            e.kind = Entry::Kind::Section;
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
                // Long hex values are wrapped: ",\" at the end, the rest on the next lines.
                if (StartsWithNoCase(data, "hex")) {
                    while (!data.empty() && data.back() == '\\' && i + 1 < lines.size()) {
                        data.pop_back();
                        data += Trim(lines[++i]);
                        e.lines.emplace_back(lines[i]);
                    }
                }
                if (Trim(data) == "-") {
                    e.kind = Entry::Kind::Removed;
                    e.name = *name;
                } else if (auto value = ParseData(data)) {
                    e.kind = Entry::Kind::Value;
                    e.name = *name;
                    e.value = std::move(*value);
                }
            }
        }
        hive.m_entries.push_back(std::move(e));
    }
    return hive;
}

std::string Hive::Serialize() const {
    const std::string_view eol = m_bCrLf ? "\r\n" : "\n";
    std::string out;
    if (m_bBom) out += "\xEF\xBB\xBF";
    if (!m_bHeader) {
        out += kHeader;
        out += eol;
        out += eol;
    }
    for (const Entry& e : m_entries) {
        for (const std::string& line : e.lines) {
            out += line;
            out += eol;
        }
    }
    return out;
}

bool Hive::HasSection(std::string_view section) const {
    for (const Entry& e : m_entries) {
        if (e.kind == Entry::Kind::Section && EqualNoCase(e.name, section)) return true;
    }
    return false;
}

// As on import, a later line for the same value overrides an earlier one.
const Value* Hive::Find(std::string_view section, std::string_view name) const {
    const Entry* found = nullptr;
    ForEachInSection(section, [&](std::size_t, const Entry& e) {
        if ((e.kind == Entry::Kind::Value || e.kind == Entry::Kind::Removed) && EqualNoCase(e.name, name)) {
            found = &e;
        }
    });
    return (found && found->kind == Entry::Kind::Value) ? &found->value : nullptr;
}

void Hive::AddSection(std::string_view section) {
    if (HasSection(section)) return;
    if (!m_entries.empty() && !IsBlankLine(m_entries.back().lines.back())) {
        m_entries.push_back(Entry{Entry::Kind::Other, {std::string()}, {}, {}});
    }
    m_entries.push_back(Entry{Entry::Kind::Section, {"[" + std::string(section) + "]"}, std::string(section), {}});
    m_entries.push_back(Entry{Entry::Kind::Other, {std::string()}, {}, {}});
}

void Hive::Set(std::string_view section, std::string_view name, const Value& value) {
    std::vector<std::size_t> matches;
    std::optional<std::size_t> lastContent;
    ForEachInSection(section, [&](std::size_t i, const Entry& e) {
        if ((e.kind == Entry::Kind::Value || e.kind == Entry::Kind::Removed) && EqualNoCase(e.name, name)) {
            matches.push_back(i);
        }
    });
    // Every line of the value is replaced, so that no earlier or later copy
    // can override the new one; the name keeps the case it had in the file.
    for (std::size_t i : matches) {
        Entry& e = m_entries[i];
        e.kind = Entry::Kind::Value;
        e.value = value;
        e.lines = {FormatValueLine(e.name, value)};
    }
    if (!matches.empty()) return;

    AddSection(section);
    // A new value goes after the last non-blank line of the (last) section.
    bool inside = false;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        if (e.kind == Entry::Kind::Section) {
            inside = EqualNoCase(e.name, section);
            if (inside) lastContent = i;
        } else if (inside && !IsBlankLine(e.lines.back())) {
            lastContent = i;
        }
    }
    Entry e{Entry::Kind::Value, {FormatValueLine(name, value)}, std::string(name), value};
    m_entries.insert(m_entries.begin() + static_cast<std::ptrdiff_t>(*lastContent + 1), std::move(e));
}

// ---------------------------------------------------------------------------
// The hive file

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { Close(); }
    int Get() const { return m_fd; }
    void Reset(int fd) {
        Close();
        m_fd = fd;
    }
    bool Close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

enum class ReadResult { Ok, Missing, Unreadable };

ReadResult ReadHiveFile(const fs::path& path, std::string& text) {
    text.clear();
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Unreadable;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return ReadResult::Unreadable;
    if (static_cast<std::uintmax_t>(st.st_size) > kMaxHiveSize) return ReadResult::Unreadable;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ReadResult::Unreadable;
        }
        if (n == 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > kMaxHiveSize) return ReadResult::Unreadable;
    }
    return ReadResult::Ok;
}

// A hive that is a symbolic link (a dotfile kept elsewhere) is written through
// the link, not replaced by a plain file.
fs::path ResolveLinks(fs::path path) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(path, ec); ++hops) {
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

LONG WriteHiveFile(const fs::path& hivePath, std::string_view text) {
    const fs::path path = ResolveLinks(hivePath);
    const fs::path dir = path.parent_path();
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return ERROR_ACCESS_DENIED;

    struct stat old {};
    const bool hadFile = ::stat(path.c_str(), &old) == 0;

    static unsigned s_counter = 0;
    fs::path temp;
    FileDescriptor fd;
    for (int attempt = 0; attempt < 100 && fd.Get() < 0; ++attempt) {
        temp = dir / ("." + path.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                      std::to_string(s_counter++));
        fd.Reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.Get() < 0 && errno != EEXIST) return ERROR_ACCESS_DENIED;
    }
    if (fd.Get() < 0) return ERROR_ACCESS_DENIED;

    bool ok = true;
    if (hadFile) ok = ::fchmod(fd.Get(), old.st_mode & 07777) == 0;
    ok = ok && WriteAll(fd.Get(), text) && ::fsync(fd.Get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return ERROR_ACCESS_DENIED;
    }
    FileDescriptor dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() >= 0) ::fsync(dirFd.Get());
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Open keys

struct OpenKey {
    fs::path hivePath;
    std::string section;  // HKEY_CURRENT_USER\...
    Hive snapshot;        // the file as read, with this handle's changes
    bool bCreated = false;
    std::vector<std::pair<std::string, Value>> sets;
};

std::mutex g_keyMutex;
std::vector<std::unique_ptr<OpenKey>> g_openKeys;

OpenKey* FindKey(HKEY key) {
    for (const auto& k : g_openKeys) {
        if (reinterpret_cast<HKEY>(k.get()) == key) return k.get();
    }
    return nullptr;
}

bool IsValidSubKey(std::string_view subKey) {
    if (subKey.empty()) return true;
    if (subKey.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) return false;
    std::size_t start = 0;
    for (;;) {
        const auto sep = subKey.find('\\', start);
        if (sep == start) return false;  // an empty component
        if (sep == std::string_view::npos) return true;
        start = sep + 1;
        if (start == subKey.size()) return false;
    }
}

bool IsValidValueName(std::string_view name) {
    return name.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

}  // namespace

fs::path RegistryHivePath() {
    fs::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && fs::path(xdg).is_absolute()) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* pw = ::getpwuid(::getuid());
            home = pw ? pw->pw_dir : nullptr;
        }
        if (!home || !*home) return {};
        base = fs::path(home) / ".config";
    }
    return base / "glimmerwing" / "user.reg";
}

LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD /*reserved*/, const char* /*cls*/, DWORD /*options*/,
                     DWORD /*samDesired*/, const void* /*security*/, HKEY* result, DWORD* disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    const std::string_view sub = subKey ? subKey : "";
    if (!IsValidSubKey(sub)) return ERROR_INVALID_PARAMETER;

    std::lock_guard lock(g_keyMutex);
    auto key = std::make_unique<OpenKey>();
    if (root == HKEY_CURRENT_USER) {
        key->section = kRootName;
        key->hivePath = RegistryHivePath();
    } else if (const OpenKey* parent = FindKey(root)) {
        key->section = parent->section;
        key->hivePath = parent->hivePath;
    } else {
        return ERROR_INVALID_HANDLE;
    }
    if (!sub.empty()) {
        key->section += '\\';
        key->section += sub;
    }
    if (key->hivePath.empty()) return ERROR_ACCESS_DENIED;

    std::string text;
    if (ReadHiveFile(key->hivePath, text) == ReadResult::Unreadable) return ERROR_ACCESS_DENIED;
    key->snapshot = Hive::Parse(text);
    const bool exists = key->snapshot.HasSection(key->section);
    if (!exists) {
        key->bCreated = true;
        key->snapshot.AddSection(key->section);
    }
    if (disposition) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = reinterpret_cast<HKEY>(key.get());
    g_openKeys.push_back(std::move(key));
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* cbData) {
    if (reserved || (data && !cbData)) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(g_keyMutex);
    const OpenKey* key = FindKey(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    const Value* value = key->snapshot.Find(key->section, name ? name : "");
    if (!value) return ERROR_FILE_NOT_FOUND;

    const auto size = static_cast<DWORD>(value->bytes.size());
    if (type) *type = value->type;
    if (!cbData) return ERROR_SUCCESS;
    if (data && *cbData < size) {
        *cbData = size;
        return ERROR_MORE_DATA;
    }
    if (data && size) std::memcpy(data, value->bytes.data(), size);
    *cbData = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, const char* name, DWORD /*reserved*/, DWORD type, const BYTE* data, DWORD cbData) {
    const std::string_view valueName = name ? name : "";
    if (!IsValidValueName(valueName) || (!data && cbData)) return ERROR_INVALID_PARAMETER;
    if (type == REG_DWORD && cbData != sizeof(DWORD)) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(g_keyMutex);
    OpenKey* key = FindKey(hKey);
    if (!key) return ERROR_INVALID_HANDLE;

    Value value;
    value.type = type;
    if (cbData) value.bytes.assign(data, data + cbData);
    key->snapshot.Set(key->section, valueName, value);
    key->sets.emplace_back(std::string(valueName), std::move(value));
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    std::unique_ptr<OpenKey> key;
    std::lock_guard lock(g_keyMutex);
    for (auto it = g_openKeys.begin(); it != g_openKeys.end(); ++it) {
        if (reinterpret_cast<HKEY>(it->get()) == hKey) {
            key = std::move(*it);
            g_openKeys.erase(it);
            break;
        }
    }
    if (!key) return ERROR_INVALID_HANDLE;
    if (!key->bCreated && key->sets.empty()) return ERROR_SUCCESS;

    // Apply the changes to the file as it is now, so that whatever else
    // changed in it since the key was opened is kept.
    std::string text;
    if (ReadHiveFile(key->hivePath, text) == ReadResult::Unreadable) return ERROR_ACCESS_DENIED;
    Hive hive = Hive::Parse(text);
    hive.AddSection(key->section);
    for (const auto& [name, value] : key->sets) hive.Set(key->section, name, value);
    return WriteHiveFile(key->hivePath, hive.Serialize());
}
