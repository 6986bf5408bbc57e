#include "app/Settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/Registry.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kHeaderAndSection =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0]\n";

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) m_oldXdg = old;
        std::string templ = (fs::temp_directory_path() / "gw-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        m_dir = templ;
        ::setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
    }
    void TearDown() override {
        if (m_oldXdg) {
            ::setenv("XDG_CONFIG_HOME", m_oldXdg->c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    fs::path HiveFile() const { return m_dir / "glimmerwing" / "user.reg"; }
    void WriteHive(const std::string& text) const {
        fs::create_directories(HiveFile().parent_path());
        std::ofstream(HiveFile(), std::ios::binary) << text;
    }
    std::string ReadHive() const {
        std::ifstream in(HiveFile(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

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

    fs::path m_dir;
    std::optional<std::string> m_oldXdg;
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
              "\"intChkCol\"=dword:nonsense\n");
    Settings s;
    s.Load();
    EXPECT_EQ(s.intBrdNumCur, 20);
    EXPECT_EQ(s.intPtlSizCur, 100);
    EXPECT_EQ(s.intDisMod, 2);  // hex(4) is a REG_DWORD written out as bytes
    EXPECT_EQ(s.intMode, 1);    // fewer digits than usual still read as a dword
    EXPECT_EQ(s.intChkCol, 0);

    s.Save();
    const std::string text = ReadHive();
    EXPECT_NE(text.find("\"intBrdNumCur\"=dword:00000014\n"), std::string::npos);
    EXPECT_NE(text.find("\"intPtlSizCur\"=dword:00000064\n"), std::string::npos);
    EXPECT_NE(text.find("\"intDisMod\"=dword:00000002\n"), std::string::npos);
    EXPECT_EQ(text.find("\"40\""), std::string::npos);
    EXPECT_EQ(text.find("hex("), std::string::npos);
    // The garbled line stays; the value written after it is what counts.
    EXPECT_NE(text.find("\"intChkCol\"=dword:nonsense\n"), std::string::npos);
    Settings again;
    again.intChkCol = 7;
    again.Load();
    EXPECT_EQ(again.intChkCol, 0);
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

}  // namespace
