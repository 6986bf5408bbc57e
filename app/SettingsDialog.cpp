#include "app/SettingsDialog.h"

#include <cstdio>

#include "app/Entry.h"
#include "app/Settings.h"
#include "platform/Shell.h"

namespace {

constexpr int kDialogResource = 176;

// Control ids of dialog 176.
constexpr int IDC_LOOP = 1051;
constexpr int IDC_LONGLIFE = 1052;
constexpr int IDC_ANIMATION = 1054;
constexpr int IDC_MODE_AUTO = 1055;
constexpr int IDC_MODE_USER = 1056;
constexpr int IDC_RANDOMCOLOR = 1057;
constexpr int IDC_RES_640 = 1058;
constexpr int IDC_RES_800 = 1059;
constexpr int IDC_RES_1024 = 1060;
constexpr int IDC_BIRDS = 1061;
constexpr int IDC_BIRDS_TEXT = 1062;
constexpr int IDC_PARTICLESIZE = 1063;
constexpr int IDC_WIDE = 1064;
constexpr int IDC_PARTICLESIZE_TEXT = 1065;
constexpr int IDC_TEXTURE = 1066;
constexpr int IDC_BACKGROUND = 1067;
constexpr int IDC_COLOR = 1068;
constexpr int IDC_WEBPAGE = 1069;

// The particle textures in resource order.
constexpr const char* kTextureNames[] = {"丸", "Shine", "十文字", "シャボン玉", "雪", "音符", "円"};

// Writes the track bar's position into its value text.
void ShowTrackBarValue(HWND hDlg, int trackBar, int text) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d",
                  static_cast<int>(SendDlgItemMessageA(hDlg, trackBar, TBM_GETPOS, 0, 0)));
    SetDlgItemTextA(hDlg, text, buffer);
}

int Checked(HWND hDlg, int id) { return IsDlgButtonChecked(hDlg, id) == BST_CHECKED ? 1 : 0; }

void InitDialog(HWND hDlg) {
    g_Settings.Load();

    // The stored value itself is the check state.
    const struct {
        int id;
        int value;
    } checks[] = {
        {IDC_COLOR, g_Settings.intChkCol},      {IDC_LOOP, g_Settings.intChkLoop},
        {IDC_ANIMATION, g_Settings.intChkAnim}, {IDC_WIDE, g_Settings.intAspMod},
        {IDC_BACKGROUND, g_Settings.intBakGnd}, {IDC_LONGLIFE, g_Settings.intPtlLngLif},
        {IDC_RANDOMCOLOR, g_Settings.intPtlRndCol},
    };
    for (const auto& check : checks) {
        SendDlgItemMessageA(hDlg, check.id, BM_SETCHECK, static_cast<WPARAM>(check.value), 0);
    }

    SendDlgItemMessageA(hDlg, g_Settings.intMode == 1 ? IDC_MODE_USER : IDC_MODE_AUTO, BM_SETCHECK, BST_CHECKED, 0);

    int resolution = IDC_RES_640;
    if (g_Settings.intDisMod == 2) resolution = IDC_RES_800;
    if (g_Settings.intDisMod == 3) resolution = IDC_RES_1024;
    SendDlgItemMessageA(hDlg, resolution, BM_SETCHECK, BST_CHECKED, 0);

    SendDlgItemMessageA(hDlg, IDC_BIRDS, TBM_SETRANGE, TRUE, MAKELPARAM(5, 50));
    SendDlgItemMessageA(hDlg, IDC_BIRDS, TBM_SETPOS, TRUE, g_Settings.intBrdNumCur);
    ShowTrackBarValue(hDlg, IDC_BIRDS, IDC_BIRDS_TEXT);

    SendDlgItemMessageA(hDlg, IDC_PARTICLESIZE, TBM_SETRANGE, TRUE, MAKELPARAM(1, 100));
    SendDlgItemMessageA(hDlg, IDC_PARTICLESIZE, TBM_SETPOS, TRUE, g_Settings.intPtlSizCur);
    ShowTrackBarValue(hDlg, IDC_PARTICLESIZE, IDC_PARTICLESIZE_TEXT);

    for (const char* name : kTextureNames) {
        SendDlgItemMessageA(hDlg, IDC_TEXTURE, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
    SendDlgItemMessageA(hDlg, IDC_TEXTURE, LB_SETCURSEL, static_cast<WPARAM>(g_Settings.intPtlTexIdx), 0);
}

void StoreAndClose(HWND hDlg) {
    g_Settings.intChkCol = Checked(hDlg, IDC_COLOR);
    g_Settings.intChkLoop = Checked(hDlg, IDC_LOOP);
    g_Settings.intChkAnim = Checked(hDlg, IDC_ANIMATION);
    g_Settings.intAspMod = Checked(hDlg, IDC_WIDE);
    g_Settings.intBakGnd = Checked(hDlg, IDC_BACKGROUND);
    g_Settings.intPtlLngLif = Checked(hDlg, IDC_LONGLIFE);
    g_Settings.intPtlRndCol = Checked(hDlg, IDC_RANDOMCOLOR);

    if (Checked(hDlg, IDC_MODE_AUTO)) {
        g_Settings.intMode = 0;
    } else if (Checked(hDlg, IDC_MODE_USER)) {
        g_Settings.intMode = 1;
    } else {
        g_Settings.intMode = 0;
    }

    if (Checked(hDlg, IDC_RES_640)) {
        g_Settings.intDisMod = 1;
    } else if (Checked(hDlg, IDC_RES_800)) {
        g_Settings.intDisMod = 2;
    } else if (Checked(hDlg, IDC_RES_1024)) {
        g_Settings.intDisMod = 3;
    } else {
        g_Settings.intDisMod = 1;
    }

    g_Settings.intBrdNumCur = static_cast<int>(SendDlgItemMessageA(hDlg, IDC_BIRDS, TBM_GETPOS, 0, 0));
    g_Settings.intPtlSizCur = static_cast<int>(SendDlgItemMessageA(hDlg, IDC_PARTICLESIZE, TBM_GETPOS, 0, 0));
    g_Settings.intPtlTexIdx = static_cast<int>(SendDlgItemMessageA(hDlg, IDC_TEXTURE, LB_GETCURSEL, 0, 0));

    g_Settings.Save();
    EndDialog(hDlg, IDOK);
}

}  // namespace

int ShowSettingsDialog(HWND owner) {
    return static_cast<int>(
        DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(kDialogResource), owner, SettingsDialogProc, 0));
}

INT_PTR SettingsDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            InitDialog(hDlg);
            break;
        case WM_HSCROLL: {
            const auto control = reinterpret_cast<HWND>(lParam);
            if (control == GetDlgItem(hDlg, IDC_BIRDS)) ShowTrackBarValue(hDlg, IDC_BIRDS, IDC_BIRDS_TEXT);
            if (control == GetDlgItem(hDlg, IDC_PARTICLESIZE))
                ShowTrackBarValue(hDlg, IDC_PARTICLESIZE, IDC_PARTICLESIZE_TEXT);
            break;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    StoreAndClose(hDlg);
                    break;
                case IDCANCEL:
                    EndDialog(hDlg, IDCANCEL);
                    break;
                case IDC_WEBPAGE:
                    ShellExecuteA(hDlg, "open", kMakerWebPage, nullptr, nullptr, SW_SHOWNORMAL);
                    break;
                default:
                    break;
            }
            break;
        default:
            break;
    }
    return FALSE;
}
