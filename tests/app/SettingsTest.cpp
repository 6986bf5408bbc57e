#include "app/Settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <utility>
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
    // A file of the largest size read, one value line over and over (the last
    // one counts), and the same file one byte larger, which is not ours.
    constexpr std::size_t kLimit = 1u << 20;
    const std::string line = "\"intBrdNumCur\"=dword:00000031\n";
    std::string big = kHeaderAndSection;
    while (big.size() + line.size() <= kLimit) big += line;
    big.replace(big.size() - line.size(), line.size(), "\"intBrdNumCur\"=dword:00000032\n");
    big.resize(kLimit, '\n');
    WriteHive(big + "\n");
    Settings s;
    s.Load();
    EXPECT_FALSE(s.m_bLoaded);
    ExpectDefaults(s);
    s.Save();
    EXPECT_EQ(ReadHive(), big + "\n");

    // Once readable, the stored value is there, and the save keeps it once.
    WriteHive(big);
    s.Load();
    EXPECT_TRUE(s.m_bLoaded);
    EXPECT_EQ(s.intBrdNumCur, 50);
    s.Save();
    const std::string text = ReadHive();
    EXPECT_LT(text.size(), 1000u);
    EXPECT_NE(text.find("\"intBrdNumCur\"=dword:00000032\n"), std::string::npos);
    EXPECT_EQ(text.find("\"intBrdNumCur\"="), text.rfind("\"intBrdNumCur\"="));
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

// A writer killed at random moments of its saves, hundreds of times: the file
// is always the complete old one or the complete new one, and the next save
// removes the temporary files the killed writers left.
TEST_F(SettingsStore, AWriterKilledAtAnyMomentLeavesTheCompleteOldOrNewFile) {
    WriteHive("Windows Registry Editor Version 5.00\n\n; the user's note\n" + std::string(testing_support::kSettingsSection) +
              "\n\"intMode\"=dword:00000001\n\n[HKEY_CURRENT_USER\\Software\\Other]\n\"keep\"=hex:01,02,\\\n  03\n");
    Settings().Save();
    const std::string first = ReadHive();
    const std::string birdsLine = "\"intBrdNumCur\"=dword:";
    const std::size_t at = first.find(birdsLine) + birdsLine.size();
    ASSERT_NE(first.find(birdsLine), std::string::npos);
    auto textFor = [&](unsigned birds) {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", birds);
        return std::string(first).replace(at, 8, digits);
    };

    // The kills fall anywhere in the first three saves, however long a save
    // takes here (a sanitised build or a slow disk makes it several times
    // slower than a plain one).
    const auto timed = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) Settings().Save();
    const auto saveUs =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - timed).count() / 5;
    constexpr int kKills = 300;
    std::mt19937 rng(14);
    std::uniform_int_distribution<int> delayUs(0, std::max(3000, static_cast<int>(3 * saveUs)));
    unsigned stored = 20;
    int progressed = 0;
    int tempsLeft = 0;
    for (int i = 0; i < kKills; ++i) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(ready[0]);
            Settings writer;
            writer.Load();
            const char byte = 1;
            if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
            for (unsigned birds = stored + 1;; ++birds) {
                writer.intBrdNumCur = static_cast<int>(birds);
                writer.Save();
            }
        }
        ::close(ready[1]);
        char byte = 0;
        EXPECT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(rng)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);

        const std::string now = ReadHive();
        ASSERT_GE(now.size(), at + 8) << "after kill " << i;
        const unsigned birds = static_cast<unsigned>(std::stoul(now.substr(at, 8), nullptr, 16));
        ASSERT_EQ(now, textFor(birds)) << "after kill " << i;
        ASSERT_GE(birds, stored);
        progressed += birds != stored;
        tempsLeft += HiveDirEntries().size() > 1;
        stored = birds;
    }
    EXPECT_GT(progressed, 0);
    RecordProperty("kills", kKills);
    RecordProperty("kills_after_a_completed_save", progressed);
    RecordProperty("kills_that_left_a_temporary_file", tempsLeft);
    RecordProperty("saves_completed", static_cast<int>(stored - 20));

    Settings last;
    last.Load();
    EXPECT_EQ(last.intBrdNumCur, static_cast<int>(stored));
    last.Save();
    EXPECT_EQ(HiveDirEntries(), std::vector<std::string>{"user.reg"});
}

// A read-only settings file, one that belongs to another user, and a
// read-only settings folder: the save is refused with one line on stderr,
// the file stays as it was, and the run goes on.
TEST_F(SettingsStore, AFileOrFolderTheUserMayNotChangeIsLeftAsItIs) {
    const std::string old = std::string(kHeaderAndSection) + "\"intBrdNumCur\"=dword:00000007\n";
    const bool root = ::geteuid() == 0;
    constexpr uid_t kNobody = 65534;
    // Saves in a child process (as nobody when asked: root may write anywhere)
    // and returns its exit status and what it said on stderr.
    auto save = [&](bool asNobody) {
        int err[2];
        EXPECT_EQ(::pipe(err), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(err[1], 2);
            ::close(err[0]);
            if (asNobody && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(90);
            Settings s;
            s.Load();
            s.intBrdNumCur = 9;
            s.Save();
            ::_exit(s.m_bLoaded && s.intBrdNumCur == 9 ? 0 : 91);
        }
        ::close(err[1]);
        std::string said;
        char buf[256];
        for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) said.append(buf, static_cast<std::size_t>(n));
        ::close(err[0]);
        int status = -1;
        ::waitpid(pid, &status, 0);
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, said);
    };
    auto expectRefused = [&](bool asNobody, const char* why) {
        const auto [status, said] = save(asNobody);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(ReadHive(), old);
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_NE(said.find(why), std::string::npos) << said;
        EXPECT_EQ(HiveDirEntries(), std::vector<std::string>{"user.reg"});
    };

    WriteHive(old);
    ::chmod(HiveFile().c_str(), 0444);
    expectRefused(false, "is read-only");
    ::chmod(HiveFile().c_str(), 0644);

    const fs::path folder = HiveFile().parent_path();
    if (root) {
        ASSERT_EQ(::chown(HiveFile().c_str(), kNobody, kNobody), 0);
        expectRefused(false, "belongs to another user");
        for (const fs::path& dir : {m_folders.Root(), m_folders.Root() / "config"}) ::chmod(dir.c_str(), 0755);
    }
    ::chmod(folder.c_str(), 0555);
    expectRefused(root, std::strerror(EACCES));
    ::chmod(folder.c_str(), 0755);

    // Once the file is the user's own again, the save goes through.
    if (root) {
        ASSERT_EQ(::chown(HiveFile().c_str(), 0, 0), 0);
    }
    const auto [status, said] = save(false);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(said, "");
    EXPECT_NE(ReadHive().find("\"intBrdNumCur\"=dword:00000009\n"), std::string::npos);
}

}  // namespace
