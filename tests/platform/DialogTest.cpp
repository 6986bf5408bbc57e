#include <gtest/gtest.h>
#include <strings.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/Dialog.h"
#include "platform/DialogLayout.h"
#include "platform/Resources.h"

namespace {

// ---------------------------------------------------------------------------
// The settings dialog as the program carries it.

TEST(DialogTemplateTest, TheProgramsSettingsDialogHasEveryControlOfItsLayout) {
    DialogTemplate t;
    ASSERT_TRUE(platform::LoadDialogTemplate(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(176), t));
    EXPECT_EQ(t.caption, "Glimmerwing");
    EXPECT_EQ(t.fontFace, "ＭＳ Ｐゴシック");
    EXPECT_EQ(t.pointSize, 9);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 211);
    EXPECT_EQ(t.cy, 332);
    const DWORD frame = DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | WS_POPUP;
    EXPECT_EQ(t.style & frame, frame);

    struct Expected {
        int id;
        const char* cls;
        DWORD style; // bits that must be set (besides WS_CHILD | WS_VISIBLE)
        const char* text;
        int x, y, cx, cy;
    };
    const DWORD check = BS_AUTOCHECKBOX;
    const DWORD radio = BS_AUTORADIOBUTTON;
    const DWORD track = TBS_NOTICKS | TBS_BOTH | WS_TABSTOP;
    const DWORD centred = SS_CENTER | SS_CENTERIMAGE | WS_GROUP;
    const Expected expected[] = {
        {IDOK, WC_BUTTON, BS_DEFPUSHBUTTON, "OK", 138, 7, 50, 14},
        {IDCANCEL, WC_BUTTON, BS_PUSHBUTTON, "Cancel", 138, 24, 50, 14},
        {1053, WC_STATIC, centred | SS_SUNKEN, nullptr, 11, 8, 119, 32},
        {-1, WC_BUTTON, BS_GROUPBOX, "動作", 9, 45, 121, 80},
        {1055, WC_BUTTON, radio | WS_GROUP, "自動モード", 16, 58, 45, 15},
        {1056, WC_BUTTON, radio, "ユーザー操作", 68, 58, 52, 15},
        {1051, WC_BUTTON, check, "宙返り", 16, 76, 35, 10},
        {1067, WC_BUTTON, check, "背景オブジェクト", 68, 78, 64, 10},
        {1054, WC_BUTTON, check, "アニメーション（高負荷）", 16, 92, 85, 10},
        {1068, WC_BUTTON, check, "おまけ", 16, 109, 37, 10},
        {-1, WC_BUTTON, BS_GROUPBOX, "解像度", 135, 45, 55, 79},
        {1058, WC_BUTTON, radio | BS_VCENTER | WS_GROUP, "640*480", 140, 53, 45, 20},
        {1059, WC_BUTTON, radio | BS_VCENTER, "800*600", 140, 70, 45, 20},
        {1060, WC_BUTTON, radio | BS_VCENTER, "1024*768", 140, 86, 45, 20},
        {1064, WC_BUTTON, check, "ワイド対応", 140, 107, 46, 10},
        {-1, WC_BUTTON, BS_GROUPBOX, "鳥の数（数が多いほど高負荷）", 9, 133, 181, 45},
        {1061, TRACKBAR_CLASS, track, "", 15, 149, 130, 20},
        {1062, WC_STATIC, centred, nullptr, 149, 144, 25, 25},
        {-1, WC_BUTTON, BS_GROUPBOX, "パーティクル", 9, 184, 181, 119},
        {-1, WC_STATIC, SS_LEFT | WS_GROUP, "テクスチャー", 15, 197, 51, 10},
        {1066, WC_LISTBOX, LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER, "", 14, 210, 102, 42},
        {1052, WC_BUTTON, check, "寿命を長くする（高負荷）", 118, 209, 86, 10},
        {1057, WC_BUTTON, check, "ランダムな色", 119, 225, 54, 10},
        {-1, WC_BUTTON, BS_GROUPBOX, "パーティクルのサイズ（大きくするほど高負荷）", 13, 258, 169, 35},
        {1063, TRACKBAR_CLASS, track, "", 15, 269, 129, 19},
        {1065, WC_STATIC, centred, nullptr, 149, 263, 25, 25},
        {-1, WC_STATIC, centred, "一口１００円からカンパを受け付けています。", 7, 306, 134, 19},
        {1069, WC_BUTTON, BS_PUSHBUTTON, "詳しくはこちら", 145, 307, 45, 14},
    };
    ASSERT_EQ(t.items.size(), std::size(expected));
    for (std::size_t i = 0; i < t.items.size(); ++i) {
        const DialogItemTemplate& item = t.items[i];
        const Expected& e = expected[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(e.id) + ")");
        EXPECT_EQ(item.id, e.id);
        EXPECT_EQ(strcasecmp(item.className.c_str(), e.cls), 0) << item.className;
        EXPECT_EQ(item.style & (e.style | WS_CHILD | WS_VISIBLE), e.style | WS_CHILD | WS_VISIBLE);
        if (std::strcmp(e.cls, WC_BUTTON) == 0) {
            EXPECT_EQ(item.style & BS_TYPEMASK, e.style & BS_TYPEMASK);
        }
        if (std::strcmp(e.cls, WC_STATIC) == 0) {
            EXPECT_EQ(item.style & SS_TYPEMASK, e.style & SS_TYPEMASK);
        }
        if (e.text) {
            EXPECT_EQ(item.text, e.text);
        }
        EXPECT_EQ(item.x, e.x);
        EXPECT_EQ(item.y, e.y);
        EXPECT_EQ(item.cx, e.cx);
        EXPECT_EQ(item.cy, e.cy);
        // Only the first radio button of each group starts one.
        if (e.id == 1056 || e.id == 1059 || e.id == 1060) {
            EXPECT_EQ(item.style & WS_GROUP, 0u);
        }
    }
}

TEST(DialogTemplateTest, UnitsStretchJustEnoughForTheWidestCaptionAndTallerOnlyWhereStillNeeded) {
    using platform::dialog::DialogUnits;
    DialogTemplate t;
    t.cx = 200;
    t.cy = 100;
    auto add = [&](const char* cls, DWORD style, std::int16_t x, std::int16_t y, std::int16_t cx, std::int16_t cy) {
        DialogItemTemplate item;
        item.className = cls;
        item.style = style;
        item.x = x, item.y = y, item.cx = cx, item.cy = cy;
        t.items.push_back(item);
    };
    add(WC_BUTTON, BS_GROUPBOX, 0, 0, 100, 50);
    add(WC_BUTTON, BS_AUTOCHECKBOX, 10, 10, 120, 10); // runs past its group: 89 units of room
    add(WC_STATIC, SS_LEFT, 110, 10, 40, 10);         // two lines when 60 pixels wide, one from 90
    add(WC_STATIC, SS_LEFT, 110, 30, 0, 10);          // no room at all: cannot be meant to fit
    const std::vector<int> widths{0, 178, 20, 30};
    auto heightAt = [](std::size_t item, int width) { return item == 2 && width < 90 ? 30 : 15; };

    DialogUnits base; // 6 x 12: 1.5 pixels a unit each way
    const DialogUnits u = platform::dialog::FitCaptions(t, base, widths, heightAt);
    DialogUnits less = u;
    less.scaleX -= 0.01;
    less.scaleY -= 0.01;
    auto roomWidth = [&](const DialogUnits& units) {
        const RECT r = platform::dialog::CaptionRoom(t, units, 1);
        return r.right - r.left;
    };
    // 178 pixels in the 89 units up to the group's frame: about 2 pixels a unit.
    EXPECT_NEAR(u.scaleX, 4.0 / 3.0, 0.01);
    EXPECT_GE(roomWidth(u), 178);
    EXPECT_LT(roomWidth(less), 178);
    // The static is 80 pixels wide now: still two lines, 30 pixels in 10 units.
    EXPECT_NEAR(u.scaleY, 2.0, 0.05);
    EXPECT_GE(u.Y(10), 30);
    EXPECT_LT(less.Y(10), 30);

    // Wide enough for one line: no vertical stretch.
    t.items[2].cx = 60;
    EXPECT_EQ(platform::dialog::FitCaptions(t, base, widths, heightAt).scaleY, 1.0);
}

TEST(DialogTemplateTest, DamagedTemplatesAreRefusedWhole) {
    DialogTemplate t;
    t.caption = "Caption";
    t.fontFace = "Face";
    t.items.push_back({7, WS_CHILD, 0, 1, 2, 3, 4, "BUTTON", "Press"});
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(EncodeDialogTemplate(t, bytes));

    DialogTemplate back;
    ASSERT_TRUE(DecodeDialogTemplate(bytes, back));
    ASSERT_EQ(back.items.size(), 1u);
    EXPECT_EQ(back.items[0].text, "Press");

    for (std::size_t n = 0; n < bytes.size(); ++n) {
        EXPECT_FALSE(DecodeDialogTemplate(std::span(bytes.data(), n), back)) << n << " bytes";
        EXPECT_TRUE(back.items.empty() && back.caption.empty());
    }
    auto longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(DecodeDialogTemplate(longer, back)); // bytes after the last control
    auto badMagic = bytes;
    badMagic[0] = 'X';
    EXPECT_FALSE(DecodeDialogTemplate(badMagic, back));
    auto manyControls = bytes;
    manyControls[6] = 0xFF; // 65535 controls announced, one present
    manyControls[7] = 0xFF;
    EXPECT_FALSE(DecodeDialogTemplate(manyControls, back));
}

// ---------------------------------------------------------------------------
// The message semantics, on the in-memory back end.

struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

std::vector<Message> g_messages;
std::function<void(HWND, UINT, WPARAM, LPARAM)> g_onMessage;

INT_PTR RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    g_messages.push_back({message, wParam, lParam});
    if (g_onMessage) g_onMessage(dialog, message, wParam, lParam);
    return FALSE;
}

constexpr int kCheck = 10, kThree = 11, kRadioA = 12, kRadioB = 13, kRadioC = 14, kTrack = 15, kList = 16,
              kSorted = 17, kButton = 18, kText = 19;

class MemoryDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        DialogTemplate t;
        t.caption = "Test";
        auto add = [&](int id, const char* cls, DWORD style) {
            t.items.push_back({id, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 10, 10, cls, "x"});
        };
        add(kCheck, WC_BUTTON, BS_AUTOCHECKBOX);
        add(kThree, WC_BUTTON, BS_AUTO3STATE);
        add(kRadioA, WC_BUTTON, BS_AUTORADIOBUTTON | WS_GROUP);
        add(kRadioB, WC_BUTTON, BS_AUTORADIOBUTTON);
        add(kRadioC, WC_BUTTON, BS_AUTORADIOBUTTON | WS_GROUP);
        add(kTrack, TRACKBAR_CLASS, WS_GROUP);
        add(kList, WC_LISTBOX, LBS_NOTIFY);
        add(kSorted, WC_LISTBOX, LBS_SORT);
        add(kButton, WC_BUTTON, BS_DEFPUSHBUTTON);
        add(kText, WC_STATIC, SS_LEFT);
        ASSERT_TRUE(EncodeDialogTemplate(t, m_bytes));
        m_table[0] = {"DIALOG", "#300", m_bytes.data(), m_bytes.size()};
        SetResourceTableForTesting(m_table);
        g_messages.clear();
        g_onMessage = nullptr;
    }
    void TearDown() override {
        platform::UseMemoryDialogsForTesting({});
        SetResourceTableForTesting({});
        g_onMessage = nullptr;
    }

    // Runs the test dialog with `script` as its user.
    INT_PTR Run(platform::DialogScript script) {
        platform::UseMemoryDialogsForTesting(std::move(script));
        return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(300), nullptr, RecordingProc, 1234);
    }

    std::vector<unsigned char> m_bytes;
    ResourceEntry m_table[1];
};

TEST_F(MemoryDialogTest, InitialisesRunsTheScriptAndReturnsTheEndDialogValue) {
    HWND seen = nullptr;
    EXPECT_EQ(Run([&](HWND d) {
                  seen = d;
                  EXPECT_NE(platform::DialogTemplateOf(d), nullptr);
                  EXPECT_EQ(GetDlgCtrlID(GetDlgItem(d, kTrack)), kTrack);
                  EXPECT_EQ(GetDlgItem(d, 999), nullptr);
                  EXPECT_EQ(EndDialog(d, 42), TRUE);
              }),
              42);
    ASSERT_FALSE(g_messages.empty());
    EXPECT_EQ(g_messages[0].message, WM_INITDIALOG);
    EXPECT_EQ(g_messages[0].lParam, 1234);
    // The dialog is gone once the call returns: its handles are dead.
    EXPECT_EQ(GetDlgItem(seen, kTrack), nullptr);
    EXPECT_EQ(SendDlgItemMessageA(seen, kTrack, TBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(EndDialog(seen, 1), FALSE);
}

TEST_F(MemoryDialogTest, ADialogLeftOpenIsClosedThroughItsCloseBoxElseFails) {
    g_onMessage = [](HWND d, UINT message, WPARAM wParam, LPARAM) {
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) EndDialog(d, 2);
    };
    EXPECT_EQ(Run([](HWND) {}), 2);
    g_onMessage = nullptr;
    EXPECT_EQ(Run([](HWND) {}), -1);
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(301), nullptr, RecordingProc, 0), -1); // no such template
}

TEST_F(MemoryDialogTest, TrackBarsClampTheirPositionIntoTheRange) {
    Run([](HWND d) {
        EXPECT_EQ(SendDlgItemMessageA(d, kTrack, TBM_GETRANGEMAX, 0, 0), 100); // the default range 0..100
        SendDlgItemMessageA(d, kTrack, TBM_SETRANGE, TRUE, MAKELPARAM(5, 50));
        SendDlgItemMessageA(d, kTrack, TBM_SETPOS, TRUE, 80);
        EXPECT_EQ(SendDlgItemMessageA(d, kTrack, TBM_GETPOS, 0, 0), 50);
        SendDlgItemMessageA(d, kTrack, TBM_SETPOS, TRUE, -7);
        EXPECT_EQ(SendDlgItemMessageA(d, kTrack, TBM_GETPOS, 0, 0), 5);
        SendDlgItemMessageA(d, kTrack, TBM_SETPOS, TRUE, 30);
        SendDlgItemMessageA(d, kTrack, TBM_SETRANGEMAX, TRUE, 20); // a narrower range pulls the thumb in
        EXPECT_EQ(SendDlgItemMessageA(d, kTrack, TBM_GETPOS, 0, 0), 20);

        // The user's drag is clamped too and reported with the control's handle.
        g_messages.clear();
        EXPECT_TRUE(platform::DragTrackBarForTesting(d, kTrack, 99));
        ASSERT_EQ(g_messages.size(), 1u);
        EXPECT_EQ(g_messages[0].message, WM_HSCROLL);
        EXPECT_EQ(LOWORD(g_messages[0].wParam), TB_THUMBTRACK);
        EXPECT_EQ(HIWORD(g_messages[0].wParam), 20);
        EXPECT_EQ(reinterpret_cast<HWND>(g_messages[0].lParam), GetDlgItem(d, kTrack));
        EndDialog(d, 1);
    });
}

TEST_F(MemoryDialogTest, ListBoxesSelectNothingForAnIndexOutsideTheirItems) {
    Run([](HWND d) {
        auto add = [&](int id, const char* s) {
            return SendDlgItemMessageA(d, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
        };
        EXPECT_EQ(add(kList, "丸"), 0);
        EXPECT_EQ(add(kList, "Shine"), 1);
        EXPECT_EQ(add(kList, "雪"), 2);
        EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_ADDSTRING, 0, 0), LB_ERR);
        EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_GETCURSEL, 0, 0), LB_ERR);
        EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_SETCURSEL, 1, 0), 1);
        EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_SETCURSEL, 9, 0), LB_ERR);
        EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_GETCURSEL, 0, 0), LB_ERR);
        SendDlgItemMessageA(d, kList, LB_SETCURSEL, 2, 0);
        EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_SETCURSEL, static_cast<WPARAM>(-1), 0), LB_ERR);
        EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_GETCURSEL, 0, 0), LB_ERR);

        char text[16] = {};
        EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(text)), 5);
        EXPECT_STREQ(text, "Shine");
        EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_GETTEXT, 3, reinterpret_cast<LPARAM>(text)), LB_ERR);

        // A sorted list places each text in order.
        add(kSorted, "b");
        add(kSorted, "c");
        EXPECT_EQ(add(kSorted, "a"), 0);

        // The user's choice is reported with LBN_SELCHANGE (only by LBS_NOTIFY lists).
        g_messages.clear();
        EXPECT_TRUE(platform::SelectListItemForTesting(d, kList, 0));
        EXPECT_TRUE(platform::SelectListItemForTesting(d, kSorted, 1));
        ASSERT_EQ(g_messages.size(), 1u);
        EXPECT_EQ(g_messages[0].wParam, MAKEWPARAM(kList, LBN_SELCHANGE));
        EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_GETCURSEL, 0, 0), 0);
        EndDialog(d, 1);
    });
}

TEST_F(MemoryDialogTest, ButtonsKeepTheirStatesAndAnswerClicksAsWin32Does) {
    Run([](HWND d) {
        // A state above the highest one is the highest one.
        CheckDlgButton(d, kCheck, 5);
        EXPECT_EQ(IsDlgButtonChecked(d, kCheck), BST_CHECKED);
        SendDlgItemMessageA(d, kCheck, BM_SETCHECK, static_cast<WPARAM>(-1), 0);
        EXPECT_EQ(IsDlgButtonChecked(d, kCheck), BST_CHECKED);
        CheckDlgButton(d, kThree, 7);
        EXPECT_EQ(IsDlgButtonChecked(d, kThree), BST_INDETERMINATE);

        // Clicks: an auto check box toggles, an auto radio button takes over
        // its group only, and each click is reported.
        g_messages.clear();
        platform::ClickDlgItemForTesting(d, kCheck);
        EXPECT_EQ(IsDlgButtonChecked(d, kCheck), BST_UNCHECKED);
        CheckDlgButton(d, kRadioA, BST_CHECKED);
        CheckDlgButton(d, kRadioC, BST_CHECKED);
        SendDlgItemMessageA(d, kRadioB, BM_CLICK, 0, 0);
        EXPECT_EQ(IsDlgButtonChecked(d, kRadioA), BST_UNCHECKED);
        EXPECT_EQ(IsDlgButtonChecked(d, kRadioB), BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(d, kRadioC), BST_CHECKED);
        ASSERT_EQ(g_messages.size(), 2u);
        EXPECT_EQ(g_messages[1].message, WM_COMMAND);
        EXPECT_EQ(g_messages[1].wParam, MAKEWPARAM(kRadioB, BN_CLICKED));
        EXPECT_EQ(reinterpret_cast<HWND>(g_messages[1].lParam), GetDlgItem(d, kRadioB));

        // Enter is the default button, Escape and the close box are IDCANCEL.
        g_messages.clear();
        platform::PressEnterForTesting(d);
        platform::PressEscapeForTesting(d);
        platform::CloseBoxForTesting(d);
        ASSERT_EQ(g_messages.size(), 3u);
        EXPECT_EQ(LOWORD(g_messages[0].wParam), kButton);
        EXPECT_EQ(LOWORD(g_messages[1].wParam), IDCANCEL);
        EXPECT_EQ(LOWORD(g_messages[2].wParam), IDCANCEL);

        // Texts: cut to the caller's buffer, always terminated.
        EXPECT_EQ(SetDlgItemTextA(d, kText, "12345"), TRUE);
        char small[4];
        EXPECT_EQ(GetDlgItemTextA(d, kText, small, sizeof small), 3u);
        EXPECT_STREQ(small, "123");
        EXPECT_EQ(SetDlgItemTextA(d, 999, "x"), FALSE);
        EndDialog(d, 1);
    });
}

} // namespace
