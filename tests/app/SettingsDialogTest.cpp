#include "app/SettingsDialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "app/Settings.h"
#include "platform/Resources.h"
#include "tests/support/PrivateFolders.h"

namespace fs = std::filesystem;

namespace {

constexpr int kColor = 1068, kMode = 1056, kRes1024 = 1060, kBirds = 1061, kBirdsText = 1062, kSize = 1063,
              kSizeText = 1065, kTexture = 1066, kWebPage = 1069;

// Each case runs on a hive of its own and with the in-memory dialogs.
class SettingsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folders.emplace("gw-dialog", std::vector<const char*>{"GLIMMERWING_OPEN_COMMAND"});
        m_dir = m_folders->Root() / "config";
        ASSERT_FALSE(m_folders->Root().empty());
        g_Settings = Settings();
    }
    void TearDown() override {
        platform::UseMemoryDialogsForTesting({});
        m_folders.reset();
        g_Settings = Settings();
    }

    fs::path HiveFile() const { return m_dir / "glimmerwing" / "user.reg"; }
    void WriteHive(const std::string& values) const {
        fs::create_directories(HiveFile().parent_path());
        std::ofstream(HiveFile(), std::ios::binary)
            << "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0]\n"
            << values;
    }
    std::string ReadHive() const {
        std::ifstream in(HiveFile(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The settings as the next run will find them.
    static Settings Stored() {
        Settings s;
        s.Load();
        return s;
    }
    static int ValueCount(const std::string& hive) {
        int n = 0;
        for (std::size_t at = hive.find("\n\"int"); at != std::string::npos; at = hive.find("\n\"int", at + 1)) ++n;
        return n;
    }

    // Shows the dialog with `script` as the user.
    static int Show(platform::DialogScript script) {
        platform::UseMemoryDialogsForTesting(std::move(script));
        return ShowSettingsDialog(nullptr);
    }
    static std::string Text(HWND d, int id) {
        char buffer[32];
        GetDlgItemTextA(d, id, buffer, sizeof buffer);
        return buffer;
    }
    static void PressOk(HWND d) { platform::ClickDlgItemForTesting(d, IDOK); }

    fs::path m_dir;
    std::optional<testing_support::PrivateFolders> m_folders;
};

TEST_F(SettingsDialogTest, OkOnAFirstRunStoresAllThirteenDefaults) {
    EXPECT_EQ(Show([](HWND d) {
                  EXPECT_EQ(Text(d, kBirdsText), "20");
                  EXPECT_EQ(Text(d, kSizeText), "100");
                  EXPECT_EQ(SendDlgItemMessageA(d, kTexture, LB_GETCOUNT, 0, 0), 7);
                  EXPECT_EQ(SendDlgItemMessageA(d, kTexture, LB_GETCURSEL, 0, 0), 1);
                  PressOk(d);
              }),
              IDOK);
    const std::string hive = ReadHive();
    EXPECT_EQ(ValueCount(hive), 13) << hive;
    const Settings s = Stored();
    const Settings defaults;
    for (auto field : {&Settings::intChkFPS, &Settings::intChkCol, &Settings::intDisMod, &Settings::intAspMod,
                       &Settings::intChkAnim, &Settings::intChkLoop, &Settings::intMode, &Settings::intBakGnd,
                       &Settings::intBrdNumCur, &Settings::intPtlSizCur, &Settings::intPtlLngLif,
                       &Settings::intPtlTexIdx, &Settings::intPtlRndCol}) {
        EXPECT_EQ(s.*field, defaults.*field);
    }
}

TEST_F(SettingsDialogTest, OutOfRangeValuesAreShownAndStoredAsTheControlsHoldThem) {
    WriteHive("\"intBrdNumCur\"=dword:00000050\n"  // 80 birds
              "\"intPtlTexIdx\"=dword:00000009\n"
              "\"intChkCol\"=dword:00000005\n"
              "\"intDisMod\"=dword:00000007\n"
              "\"intMode\"=dword:00000004\n"
              "\"intChkFPS\"=dword:00000007\n");
    EXPECT_EQ(Show([](HWND d) {
                  EXPECT_EQ(SendDlgItemMessageA(d, kBirds, TBM_GETPOS, 0, 0), 50);
                  EXPECT_EQ(Text(d, kBirdsText), "50");
                  EXPECT_EQ(SendDlgItemMessageA(d, kTexture, LB_GETCURSEL, 0, 0), LB_ERR);
                  EXPECT_EQ(IsDlgButtonChecked(d, kColor), BST_CHECKED);
                  EXPECT_EQ(IsDlgButtonChecked(d, 1058), BST_CHECKED);
                  EXPECT_EQ(IsDlgButtonChecked(d, 1055), BST_CHECKED);
                  PressOk(d);
              }),
              IDOK);
    const Settings s = Stored();
    EXPECT_EQ(s.intBrdNumCur, 50);
    EXPECT_EQ(s.intPtlTexIdx, -1);
    EXPECT_EQ(s.intChkCol, 1);
    EXPECT_EQ(s.intDisMod, 1);
    EXPECT_EQ(s.intMode, 0);
    EXPECT_EQ(s.intChkFPS, 7); // not in the dialog: kept as loaded
    EXPECT_EQ(ValueCount(ReadHive()), 13);
}

TEST_F(SettingsDialogTest, OkStoresWhatTheUserChangedAndTheValueTextsFollowTheTrackBars) {
    WriteHive("\"intChkCol\"=dword:00000000\n");
    EXPECT_EQ(Show([](HWND d) {
                  platform::ClickDlgItemForTesting(d, kColor);
                  platform::ClickDlgItemForTesting(d, kMode);
                  platform::ClickDlgItemForTesting(d, kRes1024);
                  platform::DragTrackBarForTesting(d, kBirds, 33);
                  EXPECT_EQ(Text(d, kBirdsText), "33");
                  platform::DragTrackBarForTesting(d, kSize, 250);
                  EXPECT_EQ(Text(d, kSizeText), "100");
                  platform::DragTrackBarForTesting(d, kSize, 7);
                  EXPECT_EQ(Text(d, kSizeText), "7");
                  platform::SelectListItemForTesting(d, kTexture, 5);
                  platform::ClickDlgItemForTesting(d, 1051); // loops off
                  PressOk(d);
              }),
              IDOK);
    const Settings s = Stored();
    EXPECT_EQ(s.intChkCol, 1);
    EXPECT_EQ(s.intMode, 1);
    EXPECT_EQ(s.intDisMod, 3);
    EXPECT_EQ(s.intBrdNumCur, 33);
    EXPECT_EQ(s.intPtlSizCur, 7);
    EXPECT_EQ(s.intPtlTexIdx, 5);
    EXPECT_EQ(s.intChkLoop, 0);
}

TEST_F(SettingsDialogTest, CancelEscapeAndTheCloseBoxStoreNothing) {
    const std::string before = "\"intChkCol\"=dword:00000000\n\"intBrdNumCur\"=dword:0000000a\n";
    WriteHive(before);
    const std::string hive = ReadHive();
    for (auto leave : {+[](HWND d) { platform::ClickDlgItemForTesting(d, IDCANCEL); },
                       +[](HWND d) { platform::PressEscapeForTesting(d); },
                       +[](HWND d) { platform::CloseBoxForTesting(d); }}) {
        EXPECT_EQ(Show([&](HWND d) {
                      platform::ClickDlgItemForTesting(d, kColor);
                      platform::DragTrackBarForTesting(d, kBirds, 40);
                      leave(d);
                  }),
                  IDCANCEL);
        EXPECT_EQ(ReadHive(), hive);
    }
}

TEST_F(SettingsDialogTest, TheWebPageButtonOpensTheAddressAndLeavesTheDialogAndSettingsAlone) {
    const fs::path opener = m_dir / "opener";
    const fs::path out = m_dir / "opened";
    std::ofstream(opener) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << out.string() << ".tmp'\nmv '" << out.string()
                          << ".tmp' '" << out.string() << "'\n";
    ::chmod(opener.c_str(), 0755);
    ::setenv("GLIMMERWING_OPEN_COMMAND", opener.c_str(), 1);
    WriteHive("\"intChkCol\"=dword:00000001\n");
    const std::string hive = ReadHive();

    EXPECT_EQ(Show([](HWND d) {
                  platform::ClickDlgItemForTesting(d, kWebPage);
                  // Still open and answering.
                  EXPECT_EQ(IsDlgButtonChecked(d, kColor), BST_CHECKED);
                  platform::PressEscapeForTesting(d);
              }),
              IDCANCEL);
    EXPECT_EQ(ReadHive(), hive);
    for (int i = 0; i < 500 && !fs::exists(out); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(out);
    std::string opened((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(opened, kMakerWebPage);
}

TEST_F(SettingsDialogTest, OnTheDesktopEveryCaptionFitsItsControlItsGroupAndTheDialogInTheFontItIsDrawnIn) {
    platform::ShownDialog shown;
    platform::InspectDesktopDialogsForTesting([&](const platform::ShownDialog& d) { shown = d; });
    const INT_PTR result = ShowSettingsDialog(nullptr);
    platform::InspectDesktopDialogsForTesting({});
    ASSERT_EQ(result, IDCANCEL) << "the dialog could not be shown";
    DialogTemplate t;
    ASSERT_TRUE(platform::LoadDialogTemplate(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(176), t));
    ASSERT_EQ(shown.controls.size(), t.items.size());
    EXPECT_GE(shown.scaleX, 1.0);
    EXPECT_GE(shown.scaleY, 1.0);

    auto text = [](const RECT& r) {
        return std::to_string(r.left) + "," + std::to_string(r.top) + " - " + std::to_string(r.right) + "," +
               std::to_string(r.bottom);
    };
    auto inside = [](const RECT& a, const RECT& b) {
        return a.left >= b.left && a.top >= b.top && a.right <= b.right && a.bottom <= b.bottom;
    };
    // Pixels per dialog unit: the layout keeps the template's proportions.
    const double px = static_cast<double>(shown.width) / t.cx, py = static_cast<double>(shown.height) / t.cy;
    const RECT dialog{0, 0, shown.width, shown.height};
    int captions = 0;
    for (std::size_t i = 0; i < t.items.size(); ++i) {
        const DialogItemTemplate& item = t.items[i];
        const platform::ShownControl& c = shown.controls[i];
        SCOPED_TRACE("id " + std::to_string(item.id) + " \"" + c.text + "\"");
        // At its template rectangle: a widget too small for its caption would
        // have grown past it.
        EXPECT_NEAR(c.control.left, item.x * px, 2.0);
        EXPECT_NEAR(c.control.top, item.y * py, 2.0);
        EXPECT_NEAR(c.control.right, (item.x + item.cx) * px, 2.0);
        EXPECT_NEAR(c.control.bottom, (item.y + item.cy) * py, 2.0);
        if (c.text.empty()) continue;
        ++captions;
        EXPECT_TRUE(inside(c.caption, c.control)) << text(c.caption) << " in " << text(c.control);
        EXPECT_TRUE(inside(c.caption, dialog)) << text(c.caption);
        // Clear of the frame of the group box it starts in.
        for (std::size_t g = 0; g < t.items.size(); ++g) {
            const DialogItemTemplate& box = t.items[g];
            if (g == i || (box.style & BS_TYPEMASK) != BS_GROUPBOX || item.x < box.x || item.y < box.y ||
                item.x >= box.x + box.cx || item.y >= box.y + box.cy)
                continue;
            const RECT& frame = shown.controls[g].control;
            EXPECT_TRUE(c.caption.right < frame.right && c.caption.bottom < frame.bottom)
                << text(c.caption) << " in the group " << text(frame);
        }
        std::istringstream fonts(c.fonts);
        std::string face;
        int faces = 0;
        while (std::getline(fonts, face)) {
            ++faces;
            EXPECT_EQ(face.rfind("Noto Sans CJK", 0), 0u) << face;
        }
        EXPECT_GT(faces, 0);
    }
    EXPECT_EQ(captions, 25); // all but the list box and the two track bars
}

} // namespace
