// The settings dialog (dialog resource 176): shows twelve of the thirteen
// settings, stores all thirteen on OK and nothing on Cancel.
#pragma once

#include "app/BuildConfig.h"  // kMakerWebPage, opened by the "詳しくはこちら" button
#include "platform/Dialog.h"
#include "platform/Win32Types.h"

constexpr int kDialogFailed = -1;

// Shows the dialog owned by `owner` (may be null): 1 after OK, 2 after Cancel,
// -1 when the dialog cannot be shown.
int ShowSettingsDialog(HWND owner);

// The dialog procedure; always 0, the default handling does the rest.
INT_PTR SettingsDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
