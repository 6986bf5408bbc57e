#include "app/Settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "tests/support/HiveFiles.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kHeaderAndSection =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0]\n";

class SettingsStore : public testing_support::HiveTest {
protected:
    static void ExpectDefaults(const Settings& s) {
        EXPECT_EQ(s.intChkFPS, 1);
        EXPECT_EQ(s.intChkCol, 0);
        EXPECT_EQ(s.intDisMod, 1);
        EXPECT_EQ(s.intAspMod, 0);
        EXPECT_EQ(s.intChkAnim, 1);
        EXPECT_EQ(s.intChkLoop, 1);
        EXPECT_EQ(s.intMode, 0);
        EXPECT_EQ(s.intBakGnd, 1);
        EXPECT_EQ(s.intBrdNumCur, 20);
        EXPECT_EQ(s.intPtlSizCur, 100);
        EXPECT_EQ(s.intPtlLngLif, 1);
        EXPECT_EQ(s.intPtlTexIdx, 1);
        EXPECT_EQ(s.intPtlRndCol, 0);
    }
};

TEST_F(SettingsStore, FirstRunKeepsTheDefaultsAndSaveStoresAllThirteen) {
    Settings s;
    EXPECT_FALSE(s.m_bLoaded);
    ExpectDefaults(s);
    EXPECT_EQ(s.Load(), 1);
    EXPECT_TRUE(s.m_bLoaded);
    ExpectDefaults(s);

    EXPECT_EQ(s.Save(), 1);
    EXPECT_EQ(ReadHive(), std::string(kHeaderAndSection) +
                              "\"intChkFPS\"=dword:00000001\n"
                              "\"intChkCol\"=dword:00000000\n"
                              "\"intDisMod\"=dword:00000001\n"
                              "\"intAspMod\"=dword:00000000\n"
                              "\"intChkAnim\"=dword:00000001\n"
                              "\"intChkLoop\"=dword:00000001\n"
                              "\"intMode\"=dword:00000000\n"
                              "\"intBakGnd\"=dword:00000001\n"
                              "\"intBrdNumCur\"=dword:00000014\n"
                              "\"intPtlSizCur\"=dword:00000064\n"
                              "\"intPtlLngLif\"=dword:00000001\n"
                              "\"intPtlTexIdx\"=dword:00000001\n"
                              "\"intPtlRndCol\"=dword:00000000\n"
                              "\n");
}

TEST_F(SettingsStore, AKeyWithSomeValuesKeepsTheDefaultsOfTheRest) {
    WriteHive(std::string(kHeaderAndSection) +
              "\"intBrdNumCur\"=dword:00000032\n"
              "\"INTMODE\"=dword:00000001\n");
    Settings s;
    s.Load();
    EXPECT_EQ(s.intBrdNumCur, 50);
    EXPECT_EQ(s.intMode, 1);
    s.intBrdNumCur = 20;
    s.intMode = 0;
    ExpectDefaults(s);
}

TEST_F(SettingsStore, AValueOfAnotherTypeIsIgnoredAndSaveMakesItADword) {
    WriteHive(std::string(kHeaderAndSection) +
              "\"intBrdNumCur\"=\"40\"\n"
              "\"intPtlSizCur\"=hex(b):32,00,00,00,00,00,00,00\n"
              "\"intDisMod\"=hex(4):02,00,00,00\n"
              "\"intMode\"=dword:0000001\n"
              "\"intChkCol\"=dword:nonsense\n"
              "\"intBrdNumCur\"=dword:zzzz\n"
              "; the user's own note\n");
    Settings s;
    s.Load();
    EXPECT_EQ(s.intBrdNumCur, 20);
    EXPECT_EQ(s.intPtlSizCur, 100);
    EXPECT_EQ(s.intDisMod, 2);  // hex(4) is a REG_DWORD written out as bytes
    EXPECT_EQ(s.intMode, 1);    // fewer digits than usual still read as a dword
    EXPECT_EQ(s.intChkCol, 0);

    // Every value is rewritten where it stood, once, the unreadable ones too.
    s.intChkCol = 1;
    s.Save();
    EXPECT_EQ(ReadHive(), std::string(kHeaderAndSection) +
                              "\"intBrdNumCur\"=dword:00000014\n"
                              "\"intPtlSizCur\"=dword:00000064\n"
                              "\"intDisMod\"=dword:00000002\n"
                              "\"intMode\"=dword:00000001\n"
                              "\"intChkCol\"=dword:00000001\n"
                              "; the user's own note\n"
                              "\"intChkFPS\"=dword:00000001\n"
                              "\"intAspMod\"=dword:00000000\n"
                              "\"intChkAnim\"=dword:00000001\n"
                              "\"intChkLoop\"=dword:00000001\n"
                              "\"intBakGnd\"=dword:00000001\n"
                              "\"intPtlLngLif\"=dword:00000001\n"
                              "\"intPtlTexIdx\"=dword:00000001\n"
                              "\"intPtlRndCol\"=dword:00000000\n");
    Settings again;
    again.Load();
    EXPECT_EQ(again.intChkCol, 1);
}

TEST_F(SettingsStore, ValuesOutsideTheDialogRangesArePassedThrough) {
    WriteHive(std::string(kHeaderAndSection) +
              "\"intBrdNumCur\"=dword:ffffffff\n"
              "\"intPtlSizCur\"=dword:000003e8\n"
              "\"intDisMod\"=dword:00000009\n"
              "\"intPtlTexIdx\"=dword:80000000\n"
              "\"intChkFPS\"=dword:00000002\n");
    Settings s;
    s.Load();
    EXPECT_EQ(s.intBrdNumCur, -1);
    EXPECT_EQ(s.intPtlSizCur, 1000);
    EXPECT_EQ(s.intDisMod, 9);
    EXPECT_EQ(s.intPtlTexIdx, INT32_MIN);
    EXPECT_EQ(s.intChkFPS, 2);
    s.Save();
    const std::string text = ReadHive();
    EXPECT_NE(text.find("\"intBrdNumCur\"=dword:ffffffff\n"), std::string::npos);
    EXPECT_NE(text.find("\"intPtlTexIdx\"=dword:80000000\n"), std::string::npos);
}

TEST_F(SettingsStore, AnUnreadableHiveLeavesTheDefaultsAndIsNotOverwritten) {
    // A hive far too large to be ours (sparse, so cheap) cannot be read.
    WriteHive(std::string(kHeaderAndSection) + "\"intBrdNumCur\"=dword:00000032\n");
    const auto size = fs::file_size(HiveFile());
    fs::resize_file(HiveFile(), 64u << 20);
    Settings s;
    s.Load();
    EXPECT_FALSE(s.m_bLoaded);
    ExpectDefaults(s);
    s.Save();
    EXPECT_EQ(fs::file_size(HiveFile()), 64u << 20);

    // Once readable again, the stored value is still there.
    fs::resize_file(HiveFile(), size);
    s.Load();
    EXPECT_TRUE(s.m_bLoaded);
    EXPECT_EQ(s.intBrdNumCur, 50);
}

// Files whose wrapped hex line leads nowhere: after two runs, and a value the
// dialog stored between them, the key is there once with each value once.
TEST_F(SettingsStore, TwoRunsKeepOneKeyWithEachValueOnceWhateverTheFileEndsIn) {
    std::vector<std::string> files = {
        "\"\"=hex\\\\",
        "\"\"=hex\\\\\r\n",
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Other]\n\"\"=hex\\\\\n"
        "\"a\"=dword:00000001\n\n[HKEY_CURRENT_USER\\Software\\Last]\n",
    };
    const std::string wrapped =
        std::string(kHeaderAndSection) + "\"intMode\"=dword:00000001\n\"blob\"=hex:01,02,\\\n  03,04\n";
    for (std::size_t n = wrapped.find("\"blob\""); n < wrapped.size(); ++n) files.push_back(wrapped.substr(0, n));

    const char* names[] = {"intChkFPS",    "intChkCol",    "intDisMod",    "intAspMod",   "intChkAnim",
                           "intChkLoop",   "intMode",      "intBakGnd",    "intBrdNumCur", "intPtlSizCur",
                           "intPtlLngLif", "intPtlTexIdx", "intPtlRndCol"};
    auto count = [](const std::string& text, const std::string& what) {
        int n = 0;
        for (auto i = text.find(what); i != std::string::npos; i = text.find(what, i + 1)) ++n;
        return n;
    };
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        WriteHive(file);
        Settings first;
        first.Load();
        first.Save();
        Settings dialog;
        dialog.Load();
        dialog.intBrdNumCur = 7;
        dialog.Save();
        Settings second;
        second.Load();
        EXPECT_EQ(second.intBrdNumCur, 7);
        second.Save();

        const std::string text = ReadHive();
        EXPECT_EQ(count(text, testing_support::kSettingsSection), 1);
        for (const char* name : names) EXPECT_EQ(count(text, "\"" + std::string(name) + "\"="), 1) << name;
    }
}

}  // namespace
