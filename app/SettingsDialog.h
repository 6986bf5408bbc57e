// The settings dialog (dialog resource 176): 1 after OK, 2 after Cancel, -1
// when the dialog cannot be shown.
#pragma once

#include "platform/Win32Types.h"

constexpr int kDialogFailed = -1;

int ShowSettingsDialog(HWND owner);
