// The state of an open dialog and its controls, shared by the dialog back
// ends (platform/Dialog.cpp keeps it and answers the messages; a back end
// shows it and reports the user's actions). Not for use outside platform/.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Dialog.h"

namespace platform::dialog {

enum class ControlKind { PushButton, CheckBox, RadioButton, GroupBox, Static, ListBox, TrackBar, Other };

class DialogWindow;

struct Control {
    DialogItemTemplate item;
    ControlKind kind = ControlKind::Other;
    std::string text;
    int check = 0;                   // buttons: BST_...
    int rangeMin = 0, rangeMax = 100; // track bars
    int position = 0;
    std::vector<std::string> items;  // list boxes
    int selection = -1;
    void* face = nullptr;            // the back end's widget, if any

    DWORD ButtonType() const { return item.style & BS_TYPEMASK; }
    bool IsAuto() const;
    int HighestCheck() const;
    bool Enabled() const { return (item.style & WS_DISABLED) == 0; }
};

// What a back end shows of the state; told after each change.
class DialogView {
public:
    virtual ~DialogView() = default;
    virtual void TextChanged(Control& control) = 0;
    virtual void CheckChanged(Control& control) = 0;
    virtual void TrackBarChanged(Control& control) = 0;
    virtual void ListChanged(Control& control) = 0;
    virtual void Ended() = 0;
};

class DialogWindow {
public:
    DialogWindow(DialogTemplate dialogTemplate, DLGPROC proc, HWND owner);
    ~DialogWindow();
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    HWND Handle() { return reinterpret_cast<HWND>(this); }
    static HWND HandleOf(Control& control) { return reinterpret_cast<HWND>(&control); }
    // The open dialog behind a handle, or null.
    static DialogWindow* FromHandle(HWND dialog);
    // The control behind a handle and its dialog, or null.
    static Control* ControlFromHandle(HWND control, DialogWindow** owner = nullptr);

    const DialogTemplate& Template() const { return m_template; }
    HWND Owner() const { return m_owner; }
    std::vector<std::unique_ptr<Control>>& Controls() { return m_controls; }
    Control* Find(int id);
    void SetView(DialogView* view) { m_view = view; }

    // Sends WM_INITDIALOG.
    void Initialise(LPARAM initParam);
    INT_PTR CallProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Send(Control& control, UINT message, WPARAM wParam, LPARAM lParam);

    void End(INT_PTR result);
    bool Ended() const { return m_ended; }
    INT_PTR Result() const { return m_result; }

    // The user's actions.
    void Click(Control& control);
    void MoveTrackBar(Control& control, int position);
    void SelectItem(Control& control, int index);
    void Cancel(); // Escape, close box
    void Enter();

private:
    void SetCheck(Control& control, WPARAM state);
    void SetTrackBar(Control& control, int low, int high, int position);
    void Command(int id, WORD code);

    DialogTemplate m_template;
    DLGPROC m_proc;
    HWND m_owner;
    std::vector<std::unique_ptr<Control>> m_controls;
    DialogView* m_view = nullptr;
    bool m_ended = false;
    INT_PTR m_result = 0;
};

// The GTK back end: shows the dialog, sends WM_INITDIALOG and runs it until
// it ends. False when it cannot be shown (no display).
bool RunGtkDialog(DialogWindow& dialog, LPARAM initParam);

} // namespace platform::dialog
