#include "app/SettingsDialog.h"

#include <cstdio>

int ShowSettingsDialog(HWND) {
    std::fputs("glimmerwing: the settings dialog is not available in this build\n", stderr);
    return kDialogFailed;
}
