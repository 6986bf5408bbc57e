#include "platform/Resources.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace {

// The program's module handle: a fixed token, never dereferenced.
HINSTANCE__* const kProgramModule = reinterpret_cast<HINSTANCE__*>(std::uintptr_t{0x400000});

std::span<const ResourceEntry> g_testTable;
bool g_useTestTable = false;

std::span<const ResourceEntry> ActiveTable() {
    return g_useTestTable ? g_testTable : CompiledResourceTable();
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// The number a script name or type stands for: "#156" or "156".
std::optional<unsigned> NumberOf(std::string_view text) {
    if (!text.empty() && text[0] == '#') {
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<unsigned>(value);
}

// The predefined type numbers that a script keyword stands for.
bool KeywordIsType(std::string_view keyword, unsigned id) {
    switch (id) {
    case 3:  // RT_ICON
    case 14: // RT_GROUP_ICON
        return EqualNoCase(keyword, "ICON");
    case 5: // RT_DIALOG
        return EqualNoCase(keyword, "DIALOG") || EqualNoCase(keyword, "DIALOGEX");
    case 10: // RT_RCDATA
        return EqualNoCase(keyword, "RCDATA");
    default:
        return false;
    }
}

// A looked-up name or type: a number (MAKEINTRESOURCEA or "#156") or text.
struct Key {
    std::optional<unsigned> number;
    std::string_view text;
};

Key MakeKey(const char* p) {
    if (IS_INTRESOURCE(p)) {
        return {static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p)), {}};
    }
    std::string_view text(p);
    if (!text.empty() && text[0] == '#') {
        if (auto n = NumberOf(text)) {
            return {n, {}};
        }
    }
    return {std::nullopt, text};
}

bool NameMatches(const Key& key, const char* entryName) {
    if (entryName == nullptr) {
        return false;
    }
    if (key.number) {
        auto n = NumberOf(entryName);
        return n && *n == *key.number;
    }
    return EqualNoCase(key.text, entryName);
}

bool TypeMatches(const Key& key, const char* entryType) {
    if (entryType == nullptr) {
        return false;
    }
    if (key.number) {
        auto n = NumberOf(entryType);
        return (n && *n == *key.number) || KeywordIsType(entryType, *key.number);
    }
    return EqualNoCase(key.text, entryType);
}

// The table entry behind a handle, or null when the handle is not one of
// the current table's entries.
const ResourceEntry* EntryFromHandle(const void* handle) {
    if (handle == nullptr) {
        return nullptr;
    }
    auto table = ActiveTable();
    if (table.empty()) {
        return nullptr;
    }
    std::less<const void*> before;
    const void* first = table.data();
    const void* end = table.data() + table.size();
    if (before(handle, first) || !before(handle, end)) {
        return nullptr;
    }
    auto offset = reinterpret_cast<std::uintptr_t>(handle) -
                  reinterpret_cast<std::uintptr_t>(first);
    if (offset % sizeof(ResourceEntry) != 0) {
        return nullptr;
    }
    return &table[offset / sizeof(ResourceEntry)];
}

} // namespace

void SetResourceTableForTesting(std::span<const ResourceEntry> table) {
    g_testTable = table;
    g_useTestTable = !table.empty();
}

HINSTANCE GetModuleHandleA(const char* moduleName) {
    // Only the program itself is loaded; no other module can be named.
    return moduleName == nullptr ? kProgramModule : nullptr;
}

// A null module is the program itself, as in Win32; any other module is unknown.
static bool IsProgramModule(HMODULE module) { return module == nullptr || module == kProgramModule; }

HRSRC FindResourceA(HMODULE module, const char* name, const char* type) {
    if (!IsProgramModule(module) || name == nullptr || type == nullptr) {
        return nullptr;
    }
    Key nameKey = MakeKey(name);
    Key typeKey = MakeKey(type);
    for (const ResourceEntry& entry : ActiveTable()) {
        if (NameMatches(nameKey, entry.name) && TypeMatches(typeKey, entry.type)) {
            return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(&entry));
        }
    }
    return nullptr;
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
    if (!IsProgramModule(module)) {
        return nullptr;
    }
    const ResourceEntry* entry = EntryFromHandle(resource);
    if (entry == nullptr || entry->data == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<HGLOBAL>(const_cast<ResourceEntry*>(entry));
}

const void* LockResource(HGLOBAL data) {
    const ResourceEntry* entry = EntryFromHandle(data);
    return entry != nullptr ? entry->data : nullptr;
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    if (!IsProgramModule(module)) {
        return 0;
    }
    const ResourceEntry* entry = EntryFromHandle(resource);
    if (entry == nullptr) {
        return 0;
    }
    return entry->size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(entry->size);
}
