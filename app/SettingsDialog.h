// The settings dialog (dialog resource 176): shows twelve of the thirteen
// settings, stores all thirteen on OK and nothing on Cancel.
#pragma once

#include "platform/Dialog.h"
#include "platform/Win32Types.h"

constexpr int kDialogFailed = -1;

// The maker's web page, opened by the dialog's "詳しくはこちら" button.
inline constexpr const char* kMakerWebPage = "https://varen-ot-u.example/glimmerwing/";

// Shows the dialog owned by `owner` (may be null): 1 after OK, 2 after Cancel,
// -1 when the dialog cannot be shown.
int ShowSettingsDialog(HWND owner);

// The dialog procedure; always 0, the default handling does the rest.
INT_PTR SettingsDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
