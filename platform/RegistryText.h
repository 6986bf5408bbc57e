// The text of a registry hive file (the registry editor's export format, see
// platform/Registry.h) as a list of entries, read from bytes and written back
// as bytes. Nothing here touches the disk, so the whole reader can be run on
// any buffer.
//
// Reading never fails: every line it does not understand is kept as it is,
// in its place, and written back unchanged. Changing a value rewrites only
// that value's line; a new value goes at the end of its section, a new
// section at the end of the file. So whatever a file held, the lines the
// reader kept survive a write, and a value written is what the next read
// finds.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Win32Types.h"

namespace platform {

struct RegValue {
    DWORD type = 0;  // REG_NONE
    std::vector<BYTE> bytes;
    bool operator==(const RegValue&) const = default;
};

// One physical line: its text and the line end it had ("\n", "\r\n", or
// nothing for the last line of a file that ends without one).
struct HiveLine {
    std::string text;
    std::string end;
    bool operator==(const HiveLine&) const = default;
};

// One logical line of the file. A hex value may be wrapped over several
// physical lines: a "\" at the end of a line continues it on the next line
// when that line carries more of its bytes (hex digits and commas, indented
// by the export); anything else (a blank line, a section, another value, the
// end of the file) ends the value there.
struct HiveEntry {
    enum class Kind {
        Other,       // not understood: kept as it is
        Section,     // [path]
        Value,       // "name"=data
        Removed,     // "name"=-
        Unreadable,  // "name"=data whose data cannot be read: kept until the name is set
    };
    Kind kind = Kind::Other;
    std::vector<HiveLine> lines;  // as read
    std::string name;             // section path or value name
    RegValue value;               // for Value
    // A later line of a name that was set: left out when the text is
    // written, unless that would join a wrapped hex line before it with hex
    // bytes after it.
    bool redundant = false;
};

class HiveText {
public:
    // Reads a file's bytes: UTF-8 with or without a byte order mark, or
    // UTF-16LE (as the registry editor exports it: with a byte order mark,
    // or without one but starting with the header); LF or CRLF line ends.
    static HiveText Parse(std::string_view bytes);
    // The text to store: the export header first (added when the file had
    // none), every line with the line end it had (new lines with those of
    // the file's first line), in the encoding the file had (UTF-8 for a new
    // file), with the byte order mark when the file had one.
    std::string Serialize() const;

    // Section paths and value names compare without regard to case.
    bool HasSection(std::string_view section) const;
    // The value as an import would leave it: a later line for the same name
    // overrides an earlier one, "name"=- removes it. Lines that cannot be
    // read do not count.
    const RegValue* Find(std::string_view section, std::string_view name) const;
    // Appends the section at the end of the file unless it is there.
    void AddSection(std::string_view section);
    // Writes the value into the line of the first entry of that name in the
    // section (readable or not), or after the section's last line when it has
    // none. The later lines of that name are left out of the text, so that
    // the key keeps one line per name.
    void Set(std::string_view section, std::string_view name, const RegValue& value);

    const std::vector<HiveEntry>& Entries() const { return m_entries; }

private:
    HiveLine NewLine(std::string text) const { return {std::move(text), m_bCrLf ? "\r\n" : "\n"}; }

    std::vector<HiveEntry> m_entries;
    bool m_bHeader = false;
    bool m_bBom = false;
    bool m_bUtf16 = false;
    bool m_bCrLf = false;
};

}  // namespace platform
