// Dialog templates: the window styles and control classes a dialog resource
// is written with, and the binary form in which the resource compiler
// (tools/rc) stores a DIALOG / DIALOGEX statement in the program.
//
// The resource is stored under the type RT_DIALOG (the table names it
// "DIALOG") with this layout, all numbers little-endian:
//
//   offset  size  field
//   0       4     magic "GWDT"
//   4       2     layout version, 1
//   6       2     number of controls
//   8       4     dialog style (WS_..., DS_...)
//   12      4     extended style (WS_EX_...)
//   16      8     x, y, cx, cy: four signed 16-bit values in dialog units
//   24      2     font size in points (0 when the script names no font)
//   26      2     font weight (0 = normal)
//   28      1     italic (0 or 1)
//   29      1     character set
//   30            caption, then font face: each a string (see below)
//   then, per control, in the script's order (which is the tab and z order):
//           4     id (signed; -1 for IDC_STATIC)
//           4     style (WS_CHILD, WS_VISIBLE and the class's own bits)
//           4     extended style
//           8     x, y, cx, cy: four signed 16-bit values in dialog units
//                 the class name, then the caption: each a string
//
// A string is a 16-bit byte count followed by that many bytes of UTF-8, no
// terminating NUL. Class names are the Win32 window class names: "BUTTON",
// "STATIC", "LISTBOX", "EDIT", "COMBOBOX", "SCROLLBAR", "msctls_trackbar32",
// compared without regard to case. Bytes after the last control are an error.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Win32Types.h"

// ---------------------------------------------------------------------------
// Window styles used by dialogs and controls (the rest are in Win32Types.h).
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_HSCROLL = 0x00100000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;

constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001;
constexpr DWORD WS_EX_NOPARENTNOTIFY = 0x00000004;
constexpr DWORD WS_EX_TRANSPARENT = 0x00000020;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_WINDOWEDGE = 0x00000100;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;
constexpr DWORD WS_EX_CONTROLPARENT = 0x00010000;
constexpr DWORD WS_EX_STATICEDGE = 0x00020000;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;

// Dialog styles.
constexpr DWORD DS_ABSALIGN = 0x0001;
constexpr DWORD DS_SYSMODAL = 0x0002;
constexpr DWORD DS_3DLOOK = 0x0004;
constexpr DWORD DS_FIXEDSYS = 0x0008;
constexpr DWORD DS_NOFAILCREATE = 0x0010;
constexpr DWORD DS_LOCALEDIT = 0x0020;
constexpr DWORD DS_SETFONT = 0x0040;
constexpr DWORD DS_MODALFRAME = 0x0080;
constexpr DWORD DS_NOIDLEMSG = 0x0100;
constexpr DWORD DS_SETFOREGROUND = 0x0200;
constexpr DWORD DS_CONTROL = 0x0400;
constexpr DWORD DS_CENTER = 0x0800;
constexpr DWORD DS_CENTERMOUSE = 0x1000;
constexpr DWORD DS_CONTEXTHELP = 0x2000;
constexpr DWORD DS_SHELLFONT = DS_SETFONT | DS_FIXEDSYS;

// Button styles.
constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
constexpr DWORD BS_CHECKBOX = 0x0002;
constexpr DWORD BS_AUTOCHECKBOX = 0x0003;
constexpr DWORD BS_RADIOBUTTON = 0x0004;
constexpr DWORD BS_3STATE = 0x0005;
constexpr DWORD BS_AUTO3STATE = 0x0006;
constexpr DWORD BS_GROUPBOX = 0x0007;
constexpr DWORD BS_USERBUTTON = 0x0008;
constexpr DWORD BS_AUTORADIOBUTTON = 0x0009;
constexpr DWORD BS_PUSHBOX = 0x000A;
constexpr DWORD BS_OWNERDRAW = 0x000B;
constexpr DWORD BS_TYPEMASK = 0x000F;
constexpr DWORD BS_LEFTTEXT = 0x0020;
constexpr DWORD BS_TEXT = 0x0000;
constexpr DWORD BS_LEFT = 0x0100;
constexpr DWORD BS_RIGHT = 0x0200;
constexpr DWORD BS_CENTER = 0x0300;
constexpr DWORD BS_TOP = 0x0400;
constexpr DWORD BS_BOTTOM = 0x0800;
constexpr DWORD BS_VCENTER = 0x0C00;
constexpr DWORD BS_PUSHLIKE = 0x1000;
constexpr DWORD BS_MULTILINE = 0x2000;
constexpr DWORD BS_NOTIFY = 0x4000;
constexpr DWORD BS_FLAT = 0x8000;

// Static styles.
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;
constexpr DWORD SS_SIMPLE = 0x000B;
constexpr DWORD SS_LEFTNOWORDWRAP = 0x000C;
constexpr DWORD SS_TYPEMASK = 0x001F;
constexpr DWORD SS_NOPREFIX = 0x0080;
constexpr DWORD SS_NOTIFY = 0x0100;
constexpr DWORD SS_CENTERIMAGE = 0x0200;
constexpr DWORD SS_SUNKEN = 0x1000;

// List box styles.
constexpr DWORD LBS_NOTIFY = 0x0001;
constexpr DWORD LBS_SORT = 0x0002;
constexpr DWORD LBS_NOREDRAW = 0x0004;
constexpr DWORD LBS_MULTIPLESEL = 0x0008;
constexpr DWORD LBS_HASSTRINGS = 0x0040;
constexpr DWORD LBS_USETABSTOPS = 0x0080;
constexpr DWORD LBS_NOINTEGRALHEIGHT = 0x0100;
constexpr DWORD LBS_WANTKEYBOARDINPUT = 0x0400;
constexpr DWORD LBS_EXTENDEDSEL = 0x0800;
constexpr DWORD LBS_DISABLENOSCROLL = 0x1000;
constexpr DWORD LBS_NOSEL = 0x4000;
constexpr DWORD LBS_STANDARD = LBS_NOTIFY | LBS_SORT | WS_VSCROLL | WS_BORDER;

// Track bar styles.
constexpr DWORD TBS_AUTOTICKS = 0x0001;
constexpr DWORD TBS_VERT = 0x0002;
constexpr DWORD TBS_HORZ = 0x0000;
constexpr DWORD TBS_TOP = 0x0004;
constexpr DWORD TBS_BOTTOM = 0x0000;
constexpr DWORD TBS_LEFT = 0x0004;
constexpr DWORD TBS_RIGHT = 0x0000;
constexpr DWORD TBS_BOTH = 0x0008;
constexpr DWORD TBS_NOTICKS = 0x0010;
constexpr DWORD TBS_ENABLESELRANGE = 0x0020;
constexpr DWORD TBS_FIXEDLENGTH = 0x0040;
constexpr DWORD TBS_NOTHUMB = 0x0080;
constexpr DWORD TBS_TOOLTIPS = 0x0100;
constexpr DWORD TBS_REVERSED = 0x0200;
constexpr DWORD TBS_DOWNISLEFT = 0x0400;

// Edit, combo box and scroll bar styles (accepted in scripts; these
// controls are not shown by the dialog layer).
constexpr DWORD ES_LEFT = 0x0000;
constexpr DWORD ES_CENTER = 0x0001;
constexpr DWORD ES_RIGHT = 0x0002;
constexpr DWORD ES_MULTILINE = 0x0004;
constexpr DWORD ES_AUTOVSCROLL = 0x0040;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_READONLY = 0x0800;
constexpr DWORD ES_NUMBER = 0x2000;
constexpr DWORD CBS_SIMPLE = 0x0001;
constexpr DWORD CBS_DROPDOWN = 0x0002;
constexpr DWORD CBS_DROPDOWNLIST = 0x0003;
constexpr DWORD SBS_HORZ = 0x0000;
constexpr DWORD SBS_VERT = 0x0001;

// Predefined control ids.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDCLOSE = 8;
constexpr int IDHELP = 9;
constexpr int IDC_STATIC = -1;

// Window class names of the controls.
inline constexpr const char* WC_BUTTON = "BUTTON";
inline constexpr const char* WC_STATIC = "STATIC";
inline constexpr const char* WC_LISTBOX = "LISTBOX";
inline constexpr const char* WC_EDIT = "EDIT";
inline constexpr const char* WC_COMBOBOX = "COMBOBOX";
inline constexpr const char* WC_SCROLLBAR = "SCROLLBAR";
inline constexpr const char* TRACKBAR_CLASS = "msctls_trackbar32";

// ---------------------------------------------------------------------------
// The template in memory.

struct DialogItemTemplate {
    std::int32_t id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::string className; // a window class name as listed above
    std::string text;      // UTF-8
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;       // UTF-8
    std::uint16_t pointSize = 0; // 0: no font named
    std::uint16_t weight = 0;
    std::uint8_t italic = 0;
    std::uint8_t charset = 0;
    std::string fontFace;      // UTF-8
    std::vector<DialogItemTemplate> items;
};

inline constexpr char kDialogTemplateMagic[4] = {'G', 'W', 'D', 'T'};
constexpr std::uint16_t kDialogTemplateVersion = 1;

namespace dialog_template_detail {

inline void Put16(std::vector<unsigned char>& out, std::uint32_t v) {
    out.push_back(static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}
inline void Put32(std::vector<unsigned char>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
inline bool PutString(std::vector<unsigned char>& out, std::string_view s) {
    if (s.size() > 0xFFFF) return false;
    Put16(out, static_cast<std::uint32_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
    return true;
}
inline void PutRect(std::vector<unsigned char>& out, std::int16_t x, std::int16_t y, std::int16_t cx,
                    std::int16_t cy) {
    for (std::int16_t v : {x, y, cx, cy}) Put16(out, static_cast<std::uint16_t>(v));
}

} // namespace dialog_template_detail

// The stored form of a template. False when it cannot be stored (more than
// 65535 controls, a string longer than 65535 bytes).
inline bool EncodeDialogTemplate(const DialogTemplate& t, std::vector<unsigned char>& out) {
    using namespace dialog_template_detail;
    out.clear();
    if (t.items.size() > 0xFFFF) return false;
    out.insert(out.end(), std::begin(kDialogTemplateMagic), std::end(kDialogTemplateMagic));
    Put16(out, kDialogTemplateVersion);
    Put16(out, static_cast<std::uint32_t>(t.items.size()));
    Put32(out, t.style);
    Put32(out, t.exStyle);
    PutRect(out, t.x, t.y, t.cx, t.cy);
    Put16(out, t.pointSize);
    Put16(out, t.weight);
    out.push_back(t.italic);
    out.push_back(t.charset);
    if (!PutString(out, t.caption) || !PutString(out, t.fontFace)) return false;
    for (const DialogItemTemplate& item : t.items) {
        Put32(out, static_cast<std::uint32_t>(item.id));
        Put32(out, item.style);
        Put32(out, item.exStyle);
        PutRect(out, item.x, item.y, item.cx, item.cy);
        if (!PutString(out, item.className) || !PutString(out, item.text)) return false;
    }
    return true;
}

// Reads a stored template. False, with `out` cleared, when the bytes are not
// a complete template of this layout (wrong magic or version, a count or
// string running past the end, bytes left over).
bool DecodeDialogTemplate(std::span<const unsigned char> bytes, DialogTemplate& out);
