#include "platform/Dialog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/DialogModel.h"
#include "platform/Resources.h"

namespace platform::dialog {
namespace {

// Every dialog that is open, innermost last; handles are checked against it.
std::vector<DialogWindow*>& OpenDialogs() {
    static std::vector<DialogWindow*> open;
    return open;
}

bool SameClass(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

ControlKind KindOf(const DialogItemTemplate& item) {
    if (SameClass(item.className, WC_BUTTON)) {
        switch (item.style & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE: return ControlKind::CheckBox;
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON: return ControlKind::RadioButton;
        case BS_GROUPBOX: return ControlKind::GroupBox;
        default: return ControlKind::PushButton;
        }
    }
    if (SameClass(item.className, WC_STATIC)) return ControlKind::Static;
    if (SameClass(item.className, WC_LISTBOX)) return ControlKind::ListBox;
    if (SameClass(item.className, TRACKBAR_CLASS)) return ControlKind::TrackBar;
    return ControlKind::Other;
}

// Copies `text` into a caller's buffer of `size` bytes with a terminating
// NUL; returns the bytes copied.
LRESULT CopyOut(const std::string& text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return 0;
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<LRESULT>(n);
}

int Clamp(int value, int low, int high) { return value < low ? low : (value > high ? high : value); }

} // namespace

bool Control::IsAuto() const {
    const DWORD type = ButtonType();
    return type == BS_AUTOCHECKBOX || type == BS_AUTO3STATE || type == BS_AUTORADIOBUTTON;
}

int Control::HighestCheck() const {
    const DWORD type = ButtonType();
    return (type == BS_3STATE || type == BS_AUTO3STATE) ? static_cast<int>(BST_INDETERMINATE)
                                                        : static_cast<int>(BST_CHECKED);
}

DialogWindow::DialogWindow(DialogTemplate dialogTemplate, DLGPROC proc, HWND owner)
    : m_template(std::move(dialogTemplate)), m_proc(proc), m_owner(owner) {
    for (const DialogItemTemplate& item : m_template.items) {
        auto control = std::make_unique<Control>();
        control->item = item;
        control->kind = KindOf(item);
        control->text = item.text;
        m_controls.push_back(std::move(control));
    }
    OpenDialogs().push_back(this);
}

DialogWindow::~DialogWindow() {
    auto& open = OpenDialogs();
    open.erase(std::remove(open.begin(), open.end(), this), open.end());
}

DialogWindow* DialogWindow::FromHandle(HWND dialog) {
    for (DialogWindow* d : OpenDialogs()) {
        if (d->Handle() == dialog) return d;
    }
    return nullptr;
}

Control* DialogWindow::ControlFromHandle(HWND control, DialogWindow** owner) {
    for (DialogWindow* d : OpenDialogs()) {
        for (auto& c : d->m_controls) {
            if (HandleOf(*c) == control) {
                if (owner) *owner = d;
                return c.get();
            }
        }
    }
    return nullptr;
}

Control* DialogWindow::Find(int id) {
    for (auto& c : m_controls) {
        if (c->item.id == id) return c.get();
    }
    return nullptr;
}

void DialogWindow::Initialise(LPARAM initParam) {
    // wParam names the control that would take the focus: the first one that
    // is visible, enabled and a tab stop.
    HWND focus = nullptr;
    for (auto& c : m_controls) {
        if ((c->item.style & (WS_TABSTOP | WS_VISIBLE)) == (WS_TABSTOP | WS_VISIBLE) && c->Enabled()) {
            focus = HandleOf(*c);
            break;
        }
    }
    CallProc(WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), initParam);
}

INT_PTR DialogWindow::CallProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return m_proc ? m_proc(Handle(), message, wParam, lParam) : 0;
}

void DialogWindow::End(INT_PTR result) {
    if (m_ended) return;
    m_ended = true;
    m_result = result;
    if (m_view) m_view->Ended();
}

void DialogWindow::SetCheck(Control& control, WPARAM state) {
    const int highest = control.HighestCheck();
    const int value = state > static_cast<WPARAM>(highest) ? highest : static_cast<int>(state);
    if (control.check == value) return;
    control.check = value;
    if (m_view) m_view->CheckChanged(control);
}

void DialogWindow::SetTrackBar(Control& control, int low, int high, int position) {
    control.rangeMin = low;
    control.rangeMax = high;
    control.position = Clamp(position, low, std::max(low, high));
    if (m_view) m_view->TrackBarChanged(control);
}

void DialogWindow::Command(int id, WORD code) {
    Control* control = Find(id);
    CallProc(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), code),
             control ? reinterpret_cast<LPARAM>(HandleOf(*control)) : 0);
}

LRESULT DialogWindow::Send(Control& c, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* textIn = reinterpret_cast<const char*>(lParam);
    switch (message) {
    case WM_SETTEXT:
        c.text = textIn ? textIn : "";
        if (m_view) m_view->TextChanged(c);
        return TRUE;
    case WM_GETTEXT: return CopyOut(c.text, reinterpret_cast<char*>(lParam), wParam);
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(c.text.size());
    default: break;
    }

    if (c.kind == ControlKind::CheckBox || c.kind == ControlKind::RadioButton) {
        switch (message) {
        case BM_GETCHECK: return c.check;
        case BM_SETCHECK: SetCheck(c, wParam); return 0;
        default: break;
        }
    }
    if (message == BM_CLICK && (c.kind == ControlKind::PushButton || c.kind == ControlKind::CheckBox ||
                                c.kind == ControlKind::RadioButton)) {
        Click(c);
        return 0;
    }

    if (c.kind == ControlKind::TrackBar) {
        const auto low16 = static_cast<SHORT>(LOWORD(static_cast<std::uintptr_t>(lParam)));
        const auto high16 = static_cast<SHORT>(HIWORD(static_cast<std::uintptr_t>(lParam)));
        const auto value = static_cast<int>(static_cast<LONG>(lParam));
        switch (message) {
        case TBM_GETPOS: return c.position;
        case TBM_GETRANGEMIN: return c.rangeMin;
        case TBM_GETRANGEMAX: return c.rangeMax;
        case TBM_SETPOS: SetTrackBar(c, c.rangeMin, c.rangeMax, value); return 0;
        case TBM_SETRANGE: SetTrackBar(c, low16, high16, c.position); return 0;
        case TBM_SETRANGEMIN: SetTrackBar(c, value, c.rangeMax, c.position); return 0;
        case TBM_SETRANGEMAX: SetTrackBar(c, c.rangeMin, value, c.position); return 0;
        default: return 0;
        }
    }

    if (c.kind == ControlKind::ListBox) {
        const auto count = static_cast<int>(c.items.size());
        const auto index = static_cast<int>(static_cast<LONG>(wParam));
        switch (message) {
        case LB_ADDSTRING:
        case LB_INSERTSTRING: {
            if (!textIn) return LB_ERR;
            int at = count;
            if (message == LB_INSERTSTRING) {
                if (index > count) return LB_ERR;
                if (index >= 0) at = index;
            } else if (c.item.style & LBS_SORT) {
                at = static_cast<int>(std::upper_bound(c.items.begin(), c.items.end(), std::string(textIn)) -
                                      c.items.begin());
            }
            c.items.insert(c.items.begin() + at, textIn);
            if (c.selection >= at) ++c.selection;
            if (m_view) m_view->ListChanged(c);
            return at;
        }
        case LB_DELETESTRING:
            if (index < 0 || index >= count) return LB_ERR;
            c.items.erase(c.items.begin() + index);
            if (c.selection == index) c.selection = -1;
            else if (c.selection > index) --c.selection;
            if (m_view) m_view->ListChanged(c);
            return count - 1;
        case LB_RESETCONTENT:
            c.items.clear();
            c.selection = -1;
            if (m_view) m_view->ListChanged(c);
            return 0;
        case LB_SETCURSEL: {
            const bool inside = index >= 0 && index < count;
            c.selection = inside ? index : -1;
            if (m_view) m_view->ListChanged(c);
            return inside ? index : LB_ERR;
        }
        case LB_GETCURSEL: return c.selection >= 0 ? c.selection : LB_ERR;
        case LB_GETCOUNT: return count;
        case LB_GETTEXTLEN:
            return (index >= 0 && index < count) ? static_cast<LRESULT>(c.items[index].size()) : LB_ERR;
        case LB_GETTEXT:
            if (index < 0 || index >= count || lParam == 0) return LB_ERR;
            // The caller's buffer holds at least LB_GETTEXTLEN + 1 bytes.
            return CopyOut(c.items[index], reinterpret_cast<char*>(lParam), c.items[index].size() + 1);
        default: return 0;
        }
    }
    return 0;
}

void DialogWindow::Click(Control& c) {
    if (!c.Enabled() || m_ended) return;
    if (c.kind == ControlKind::CheckBox && c.IsAuto()) {
        int next = c.check + 1;
        if (next > c.HighestCheck()) next = 0;
        SetCheck(c, static_cast<WPARAM>(next));
    } else if (c.kind == ControlKind::RadioButton && c.IsAuto()) {
        // The group: from the last WS_GROUP control at or before this one up
        // to the next WS_GROUP control.
        auto self = std::find_if(m_controls.begin(), m_controls.end(),
                                 [&](const auto& p) { return p.get() == &c; });
        auto first = self;
        while (first != m_controls.begin() && !((*first)->item.style & WS_GROUP)) --first;
        auto last = self + 1;
        while (last != m_controls.end() && !((*last)->item.style & WS_GROUP)) ++last;
        for (auto it = first; it != last; ++it) {
            if ((*it)->kind == ControlKind::RadioButton && it->get() != &c) SetCheck(**it, BST_UNCHECKED);
        }
        SetCheck(c, BST_CHECKED);
    } else if (c.kind != ControlKind::PushButton && c.kind != ControlKind::CheckBox &&
               c.kind != ControlKind::RadioButton) {
        return;
    }
    CallProc(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(c.item.id), BN_CLICKED),
             reinterpret_cast<LPARAM>(HandleOf(c)));
}

void DialogWindow::MoveTrackBar(Control& c, int position) {
    if (c.kind != ControlKind::TrackBar || !c.Enabled() || m_ended) return;
    SetTrackBar(c, c.rangeMin, c.rangeMax, position);
    CallProc(WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, static_cast<WORD>(c.position)),
             reinterpret_cast<LPARAM>(HandleOf(c)));
}

void DialogWindow::SelectItem(Control& c, int index) {
    if (c.kind != ControlKind::ListBox || !c.Enabled() || m_ended) return;
    const bool inside = index >= 0 && index < static_cast<int>(c.items.size());
    const int selection = inside ? index : -1;
    if (selection == c.selection) return;
    c.selection = selection;
    if (m_view) m_view->ListChanged(c);
    if (c.item.style & LBS_NOTIFY) {
        CallProc(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(c.item.id), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(HandleOf(c)));
    }
}

void DialogWindow::Cancel() {
    if (!m_ended) Command(IDCANCEL, BN_CLICKED);
}

void DialogWindow::Enter() {
    if (m_ended) return;
    int id = IDOK;
    for (auto& c : m_controls) {
        if (c->kind == ControlKind::PushButton && c->ButtonType() == BS_DEFPUSHBUTTON) {
            id = c->item.id;
            break;
        }
    }
    Command(id, BN_CLICKED);
}

} // namespace platform::dialog

using platform::dialog::Control;
using platform::dialog::DialogWindow;

namespace {

platform::DialogScript& MemoryScript() {
    static platform::DialogScript script;
    return script;
}

// The in-memory back end: the script plays the user.
INT_PTR RunMemoryDialog(DialogWindow& dialog) {
    if (!dialog.Ended()) MemoryScript()(dialog.Handle());
    if (!dialog.Ended()) dialog.Cancel();
    return dialog.Ended() ? dialog.Result() : -1;
}

Control* ControlOf(HWND dialog, int id, DialogWindow** owner = nullptr) {
    DialogWindow* d = DialogWindow::FromHandle(dialog);
    if (owner) *owner = d;
    return d ? d->Find(id) : nullptr;
}

} // namespace

namespace platform {

bool LoadDialogTemplate(HINSTANCE instance, const char* templateName, DialogTemplate& out) {
    HRSRC found = FindResourceA(instance, templateName, RT_DIALOG);
    if (!found) return false;
    HGLOBAL loaded = LoadResource(instance, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return false;
    return DecodeDialogTemplate({static_cast<const unsigned char*>(data), SizeofResource(instance, found)}, out);
}

void UseMemoryDialogsForTesting(DialogScript script) { MemoryScript() = std::move(script); }

const DialogTemplate* DialogTemplateOf(HWND dialog) {
    DialogWindow* d = DialogWindow::FromHandle(dialog);
    return d ? &d->Template() : nullptr;
}

bool ClickDlgItemForTesting(HWND dialog, int id) {
    DialogWindow* d = nullptr;
    Control* c = ControlOf(dialog, id, &d);
    if (!c) return false;
    d->Click(*c);
    return true;
}

bool DragTrackBarForTesting(HWND dialog, int id, int position) {
    DialogWindow* d = nullptr;
    Control* c = ControlOf(dialog, id, &d);
    if (!c || c->kind != dialog::ControlKind::TrackBar) return false;
    d->MoveTrackBar(*c, position);
    return true;
}

bool SelectListItemForTesting(HWND dialog, int id, int index) {
    DialogWindow* d = nullptr;
    Control* c = ControlOf(dialog, id, &d);
    if (!c || c->kind != dialog::ControlKind::ListBox) return false;
    d->SelectItem(*c, index);
    return true;
}

bool PressEscapeForTesting(HWND dialog) {
    DialogWindow* d = DialogWindow::FromHandle(dialog);
    if (d) d->Cancel();
    return d != nullptr;
}

bool PressEnterForTesting(HWND dialog) {
    DialogWindow* d = DialogWindow::FromHandle(dialog);
    if (d) d->Enter();
    return d != nullptr;
}

bool CloseBoxForTesting(HWND dialog) { return PressEscapeForTesting(dialog); }

} // namespace platform

INT_PTR DialogBoxParamA(HINSTANCE instance, const char* templateName, HWND owner, DLGPROC dialogProc,
                        LPARAM initParam) {
    DialogTemplate dialogTemplate;
    if (!platform::LoadDialogTemplate(instance, templateName, dialogTemplate)) {
        std::fputs("glimmerwing: the dialog resource is missing or damaged\n", stderr);
        return -1;
    }
    DialogWindow dialog(std::move(dialogTemplate), dialogProc, owner);
    if (MemoryScript()) {
        dialog.Initialise(initParam);
        return RunMemoryDialog(dialog);
    }
    if (!platform::dialog::RunGtkDialog(dialog, initParam)) return -1;
    return dialog.Result();
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    DialogWindow* d = DialogWindow::FromHandle(dialog);
    if (!d) return FALSE;
    d->End(result);
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
    Control* c = ControlOf(dialog, id);
    return c ? DialogWindow::HandleOf(*c) : nullptr;
}

int GetDlgCtrlID(HWND control) {
    Control* c = DialogWindow::ControlFromHandle(control);
    return c ? c->item.id : 0;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogWindow* d = nullptr;
    Control* c = ControlOf(dialog, id, &d);
    return c ? d->Send(*c, message, wParam, lParam) : 0;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    DialogWindow* d = nullptr;
    Control* c = ControlOf(dialog, id, &d);
    if (!c) return FALSE;
    d->Send(*c, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    return static_cast<UINT>(SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0));
}

BOOL SetDlgItemTextA(HWND dialog, int id, const char* text) {
    DialogWindow* d = nullptr;
    Control* c = ControlOf(dialog, id, &d);
    if (!c) return FALSE;
    return static_cast<BOOL>(d->Send(*c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

UINT GetDlgItemTextA(HWND dialog, int id, char* text, int size) {
    if (text && size > 0) text[0] = '\0';
    if (size <= 0) return 0;
    return static_cast<UINT>(
        SendDlgItemMessageA(dialog, id, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(text)));
}
