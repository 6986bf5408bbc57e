// The promise of the hive reader and writer, checked on any bytes: write the
// settings into whatever a file held, read the result back, and
// - every value written is read back as written;
// - every other value reads as before;
// - every line the reader kept (whatever it did not understand, and the
//   values not written) is still there, in order, with its line end, and
//   read the same way;
// - the settings key is there once (or as often as it was);
// - writing the same values again changes nothing.
// No test framework here, so that a fuzz target can call it too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Registry.h"
#include "platform/RegistryText.h"

namespace testing_support {

namespace hive_round_trip {

inline constexpr std::string_view kSection = "HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0";

inline bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

// What the program writes at the end of a run, plus a string and a binary
// value as the registry layer can write them.
inline std::vector<std::pair<std::string, platform::RegValue>> Writes() {
    std::vector<std::pair<std::string, platform::RegValue>> writes;
    const char* names[] = {"intChkFPS",    "intChkCol",    "intDisMod",    "intAspMod",   "intChkAnim",
                           "intChkLoop",   "intMode",      "intBakGnd",    "intBrdNumCur", "intPtlSizCur",
                           "intPtlLngLif", "intPtlTexIdx", "intPtlRndCol"};
    BYTE n = 0x11;
    for (const char* name : names) writes.emplace_back(name, platform::RegValue{REG_DWORD, {n++, 0, 0, 0x80}});
    writes.emplace_back("text", platform::RegValue{REG_SZ, {'a', '\\', '"', 0}});
    writes.emplace_back("blob", platform::RegValue{REG_BINARY, {0xAB, 0x00, 0x5C}});
    return writes;
}

inline bool IsWritten(std::string_view section, std::string_view name) {
    if (!SameNoCase(section, kSection)) return false;
    for (const auto& [written, value] : Writes()) {
        if (SameNoCase(written, name)) return true;
    }
    return false;
}

inline platform::HiveText Write(std::string_view bytes) {
    platform::HiveText hive = platform::HiveText::Parse(bytes);
    hive.AddSection(kSection);
    for (const auto& [name, value] : Writes()) hive.Set(kSection, name, value);
    return hive;
}

// A line as read: what it is, its text and its line end. A line without an
// end (the last of its file) may gain one.
struct Line {
    platform::HiveEntry::Kind kind;
    platform::HiveLine line;
    bool Matches(platform::HiveEntry::Kind k, const platform::HiveLine& l) const {
        return kind == k && line.text == l.text && (line.end == l.end || !line.end.ends_with('\n'));
    }
};

// Calls fn(section, entry) for every entry, with the section it is in.
template <typename Fn>
void Walk(const platform::HiveText& hive, Fn&& fn) {
    std::string section;
    bool inSection = false;
    for (const platform::HiveEntry& e : hive.Entries()) {
        if (e.kind == platform::HiveEntry::Kind::Section) {
            section = e.name;
            inSection = true;
        }
        fn(inSection ? std::string_view(section) : std::string_view(), e);
    }
}

inline int CountSections(const platform::HiveText& hive) {
    int n = 0;
    for (const auto& e : hive.Entries()) {
        n += e.kind == platform::HiveEntry::Kind::Section && SameNoCase(e.name, kSection);
    }
    return n;
}

}  // namespace hive_round_trip

// Empty when every promise holds for these bytes, else what broke.
inline std::string HiveRoundTripFault(std::string_view bytes) {
    using namespace hive_round_trip;
    using Kind = platform::HiveEntry::Kind;
    const platform::HiveText before = platform::HiveText::Parse(bytes);
    const std::string text = Write(bytes).Serialize();
    const platform::HiveText after = platform::HiveText::Parse(text);

    for (const auto& [name, value] : Writes()) {
        const platform::RegValue* read = after.Find(kSection, name);
        if (!read || !(*read == value)) return "the value \"" + name + "\" written is not read back";
    }

    std::vector<Line> kept;
    std::string fault;
    Walk(before, [&](std::string_view section, const platform::HiveEntry& e) {
        const bool named = e.kind == Kind::Value || e.kind == Kind::Removed || e.kind == Kind::Unreadable;
        if (named && IsWritten(section, e.name)) return;
        for (const platform::HiveLine& line : e.lines) kept.push_back({e.kind, line});
        if (e.kind == Kind::Value && fault.empty()) {
            const platform::RegValue* now = after.Find(section, e.name);
            const platform::RegValue* was = before.Find(section, e.name);
            if ((now == nullptr) != (was == nullptr) || (now && !(*now == *was))) {
                fault = "the value \"" + e.name + "\" that was not written reads differently";
            }
        }
    });
    if (!fault.empty()) return fault;

    std::size_t next = 0;
    for (const platform::HiveEntry& e : after.Entries()) {
        for (const platform::HiveLine& line : e.lines) {
            if (next < kept.size() && kept[next].Matches(e.kind, line)) ++next;
        }
    }
    if (next < kept.size()) return "the kept line \"" + kept[next].line.text + "\" is lost or changed";

    const int sections = CountSections(before);
    if (CountSections(after) != (sections ? sections : 1)) return "the settings key is not there once";

    if (Write(text).Serialize() != text) return "writing the same values again changes the file";
    return {};
}

}  // namespace testing_support
