// Modal dialogs built from a dialog resource, in the Win32 shape: a dialog
// procedure receives WM_INITDIALOG, WM_COMMAND and WM_HSCROLL, and talks to
// its controls with SendDlgItemMessageA and the helpers around it.
//
// Controls shown (by window class and style):
//   BUTTON   push buttons (BS_PUSHBUTTON, BS_DEFPUSHBUTTON), check boxes
//            (BS_CHECKBOX, BS_AUTOCHECKBOX, BS_3STATE, BS_AUTO3STATE), radio
//            buttons (BS_RADIOBUTTON, BS_AUTORADIOBUTTON) and group boxes
//   STATIC   text, aligned by SS_LEFT / SS_CENTER / SS_RIGHT, centred
//            vertically with SS_CENTERIMAGE, framed with SS_SUNKEN
//   LISTBOX  a single-selection list of texts
//   msctls_trackbar32  a horizontal track bar
// Other classes are kept as controls without a face (their text can be set
// and read).
//
// The control state lives in the dialog layer, so both back ends answer the
// messages alike:
//   BM_SETCHECK  a state above the button's highest one (1, or 2 for the
//                three-state kinds) is taken as that highest state
//   BM_CLICK     acts as a click of the user (see below)
//   TBM_SETRANGE / TBM_SETRANGEMIN / TBM_SETRANGEMAX keep the position
//                inside the range; TBM_SETPOS clamps into it
//   LB_SETCURSEL an index outside the items (and -1) selects nothing and
//                returns LB_ERR
// A user's click on an auto check box toggles it; on an auto radio button it
// checks that button and unchecks the other radio buttons of its group (the
// controls from the last WS_GROUP one up to the next); every button click
// then sends WM_COMMAND (BN_CLICKED, id) with the button's handle. Moving a
// track bar sends WM_HSCROLL (TB_THUMBTRACK with the position in the high
// word) with the track bar's handle; choosing a list item sends WM_COMMAND
// (LBN_SELCHANGE, id) when the list has LBS_NOTIFY. Escape and the close box
// send WM_COMMAND (BN_CLICKED, IDCANCEL); Enter sends the default push
// button's command (IDOK when there is none). Only EndDialog ends a dialog.
//
// Back ends: GTK 3 on the desktop, started only when a dialog is shown (the
// saver's own run never loads it), and an in-memory one for tests, in which
// a script takes the user's part. Without a display DialogBoxParamA returns
// -1 at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/DialogTemplate.h"
#include "platform/Win32Types.h"

using INT_PTR = std::intptr_t;
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

// Messages.
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_USER = 0x0400;

constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_CLICK = 0x00F5;
constexpr WPARAM BST_UNCHECKED = 0;
constexpr WPARAM BST_CHECKED = 1;
constexpr WPARAM BST_INDETERMINATE = 2;
constexpr WORD BN_CLICKED = 0;

constexpr UINT TBM_GETPOS = WM_USER;
constexpr UINT TBM_GETRANGEMIN = WM_USER + 1;
constexpr UINT TBM_GETRANGEMAX = WM_USER + 2;
constexpr UINT TBM_SETPOS = WM_USER + 5;
constexpr UINT TBM_SETRANGE = WM_USER + 6;
constexpr UINT TBM_SETRANGEMIN = WM_USER + 7;
constexpr UINT TBM_SETRANGEMAX = WM_USER + 8;
// WM_HSCROLL notification codes of a track bar.
constexpr WORD TB_LINEUP = 0;
constexpr WORD TB_LINEDOWN = 1;
constexpr WORD TB_PAGEUP = 2;
constexpr WORD TB_PAGEDOWN = 3;
constexpr WORD TB_THUMBPOSITION = 4;
constexpr WORD TB_THUMBTRACK = 5;
constexpr WORD TB_TOP = 6;
constexpr WORD TB_BOTTOM = 7;
constexpr WORD TB_ENDTRACK = 8;

constexpr UINT LB_ADDSTRING = 0x0180;
constexpr UINT LB_INSERTSTRING = 0x0181;
constexpr UINT LB_DELETESTRING = 0x0182;
constexpr UINT LB_RESETCONTENT = 0x0184;
constexpr UINT LB_SETCURSEL = 0x0186;
constexpr UINT LB_GETCURSEL = 0x0188;
constexpr UINT LB_GETTEXT = 0x0189;
constexpr UINT LB_GETTEXTLEN = 0x018A;
constexpr UINT LB_GETCOUNT = 0x018B;
constexpr LRESULT LB_ERR = -1;
constexpr WORD LBN_SELCHANGE = 1;

inline WPARAM MAKEWPARAM(WORD low, WORD high) {
    return static_cast<WPARAM>(low) | (static_cast<WPARAM>(high) << 16);
}
inline LPARAM MAKELPARAM(WORD low, WORD high) {
    return static_cast<LPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}

// Shows the dialog resource `templateName` (RT_DIALOG) of the program as a
// modal dialog and returns the value given to EndDialog, or -1 when the
// template is missing or unreadable, or the dialog cannot be shown.
// `initParam` is WM_INITDIALOG's lParam. `owner` may be null; the desktop
// back end cannot tie a GTK window to another program's window, so the
// dialog is shown centred on the screen either way.
INT_PTR DialogBoxParamA(HINSTANCE instance, const char* templateName, HWND owner, DLGPROC dialogProc,
                        LPARAM initParam);
inline INT_PTR DialogBoxA(HINSTANCE instance, const char* templateName, HWND owner, DLGPROC dialogProc) {
    return DialogBoxParamA(instance, templateName, owner, dialogProc, 0);
}

// Marks the dialog to end with `result` once the current message is handled.
BOOL EndDialog(HWND dialog, INT_PTR result);

HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
BOOL SetDlgItemTextA(HWND dialog, int id, const char* text);
// Copies the text with a terminating NUL, cut to `size` - 1 bytes; returns the
// bytes copied.
UINT GetDlgItemTextA(HWND dialog, int id, char* text, int size);

namespace platform {

// A stand-in for the user of an in-memory dialog: called once after
// WM_INITDIALOG, while the dialog is "on screen". It acts through the Win32
// calls above and the ...ForTesting actions below. If it returns without the
// dialog having ended, the dialog is closed through its close box; a dialog
// that still does not end gives -1.
using DialogScript = std::function<void(HWND dialog)>;

// Shows every following dialog in memory, played by `script` (each dialog is
// given to it). An empty function goes back to the desktop back end.
void UseMemoryDialogsForTesting(DialogScript script);

// User actions on an open dialog (either back end's model; tests use them
// with the in-memory one). False when the handle or the control is not there.
bool ClickDlgItemForTesting(HWND dialog, int id);                 // as BM_CLICK
bool DragTrackBarForTesting(HWND dialog, int id, int position);   // clamped, then WM_HSCROLL
bool SelectListItemForTesting(HWND dialog, int id, int index);    // then LBN_SELCHANGE
bool PressEscapeForTesting(HWND dialog);
bool PressEnterForTesting(HWND dialog);
bool CloseBoxForTesting(HWND dialog);

// What a dialog on the desktop shows, read back from its widgets once GTK
// has laid it out; rectangles in pixels of the dialog's client area.
struct ShownControl {
    int id = 0;
    std::string text;  // the caption, empty for none
    RECT control{};    // where the control's widget lies
    RECT caption{};    // where the caption's lines lie (their logical extents)
    std::string fonts; // the faces the caption is drawn in, each followed by "\n"
};
struct ShownDialog {
    int width = 0, height = 0;
    double scaleX = 1.0, scaleY = 1.0; // the stretch of the dialog units
    std::vector<ShownControl> controls; // every control of the template, in its order
};

// Every following desktop dialog is handed to `inspect` once it is on the
// screen and laid out, then closed through its close box. An empty function
// goes back to plain desktop dialogs.
void InspectDesktopDialogsForTesting(std::function<void(const ShownDialog&)> inspect);

// The template of an open dialog (null for an unknown handle).
const DialogTemplate* DialogTemplateOf(HWND dialog);

// Reads the program's dialog resource into `out`. False when it is missing
// or not a valid template.
bool LoadDialogTemplate(HINSTANCE instance, const char* templateName, DialogTemplate& out);

} // namespace platform
