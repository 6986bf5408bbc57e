#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/FileFaults.h"
#include "tests/support/HiveFiles.h"
#include "tests/support/HiveRoundTrip.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kKey = "Software\\varen-ot-u\\Glimmerwing\\1.0";
constexpr const char* kSection = testing_support::kSettingsSection;

class RegistryHive : public testing_support::HiveTest {
protected:
    HKEY Open(const char* subKey = kKey, DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        DWORD disp = 0;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, subKey, 0, "", REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key, &disp),
                  ERROR_SUCCESS);
        if (disposition) *disposition = disp;
        return key;
    }
    static LONG SetDword(HKEY key, const char* name, DWORD v) {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
    }
    static std::optional<DWORD> QueryDword(HKEY key, const char* name) {
        DWORD type = 0, v = 0, cb = sizeof v;
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &cb) != ERROR_SUCCESS ||
            type != REG_DWORD || cb != sizeof v) {
            return std::nullopt;
        }
        return v;
    }
    static std::vector<BYTE> QueryBytes(HKEY key, const char* name, DWORD* type) {
        DWORD cb = 0;
        if (RegQueryValueExA(key, name, nullptr, type, nullptr, &cb) != ERROR_SUCCESS) return {};
        std::vector<BYTE> bytes(cb);
        EXPECT_EQ(RegQueryValueExA(key, name, nullptr, type, bytes.data(), &cb), ERROR_SUCCESS);
        return bytes;
    }

};

TEST_F(RegistryHive, FirstWriteCreatesTheDirectoryAndTheExportFormat) {
    EXPECT_EQ(RegistryHivePath(), HiveFile());
    ASSERT_FALSE(fs::exists(HiveFile().parent_path()));

    DWORD disposition = 0;
    HKEY key = Open(kKey, &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_FALSE(QueryDword(key, "intBrdNumCur"));
    EXPECT_EQ(SetDword(key, "intBrdNumCur", 20), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, "big", 0xFFFFFFFFu), ERROR_SUCCESS);
    EXPECT_EQ(QueryDword(key, "intBrdNumCur"), 20u);  // visible before the close
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    EXPECT_EQ(ReadHive(), std::string("Windows Registry Editor Version 5.00\n\n") + kSection +
                              "\n\"intBrdNumCur\"=dword:00000014\n\"big\"=dword:ffffffff\n\n");
    // Written through a temporary file that is renamed: nothing else is left.
    EXPECT_EQ(HiveDirEntries(), std::vector<std::string>{"user.reg"});

    key = Open(kKey, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(QueryDword(key, "intBrdNumCur"), 20u);
    EXPECT_EQ(QueryDword(key, "big"), 0xFFFFFFFFu);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryHive, CreatingAKeyPersistsItsSectionAndOpeningOnlyWritesNothing) {
    EXPECT_EQ(RegCloseKey(Open()), ERROR_SUCCESS);
    const std::string created = std::string("Windows Registry Editor Version 5.00\n\n") + kSection + "\n\n";
    EXPECT_EQ(ReadHive(), created);

    DWORD disposition = 0;
    HKEY key = Open(kKey, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    const auto before = fs::last_write_time(HiveFile());
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(fs::last_write_time(HiveFile()), before);

    // A key below an open key.
    key = Open();
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyExA(key, "Child", 0, "", 0, KEY_ALL_ACCESS, nullptr, &child, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(ReadHive(), created + std::string(kSection, std::strlen(kSection) - 1) + "\\Child]\n\n");
}

TEST_F(RegistryHive, LinesItDoesNotKnowAreKeptInPlace) {
    const std::string text = std::string("Windows Registry Editor Version 5.00\n"
                                         "\n"
                                         "; a comment\n"
                                         "[HKEY_CURRENT_USER\\Software\\Other]\n"
                                         "\"intBrdNumCur\"=dword:00000099\n"
                                         "\n") +
                             kSection +
                             "\n"
                             "\"s\"=\"some text\"\n"
                             "garbled line without quotes\n"
                             "\"intMode\"=dword:00000001\n"
                             "\"blob\"=hex:01,02,\\\n"
                             "  03,04\n"
                             "\"half\"=dword:\n"
                             "\"x\" = dword:00000007   \n"
                             "\"unterminated=dword:00000001\n"
                             "\n"
                             "[HKEY_LOCAL_MACHINE\\Software]\n"
                             "\"z\"=dword:00000001\n";
    WriteHive(text);

    HKEY key = Open();
    EXPECT_EQ(QueryDword(key, "intMode"), 1u);
    EXPECT_EQ(QueryDword(key, "x"), 7u);
    EXPECT_FALSE(QueryDword(key, "intBrdNumCur"));  // only in another section
    EXPECT_FALSE(QueryDword(key, "half"));
    DWORD type = 0;
    EXPECT_EQ(QueryBytes(key, "blob", &type), (std::vector<BYTE>{1, 2, 3, 4}));
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(SetDword(key, "intMode", 0), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, "new", 0x2A), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    std::string expected = text;
    expected.replace(expected.find("\"intMode\"=dword:00000001"), 24, "\"intMode\"=dword:00000000");
    expected.insert(expected.find("\n\n[HKEY_LOCAL_MACHINE") + 1, "\"new\"=dword:0000002a\n");
    EXPECT_EQ(ReadHive(), expected);
}

TEST_F(RegistryHive, ValuesOfOtherTypesAreReportedAsTheirTypeNotAsNumbers) {
    WriteHive(std::string("Windows Registry Editor Version 5.00\n\n") + kSection +
              "\n"
              "\"str\"=\"12\"\n"
              "\"esc\"=\"a\\\\b\\\"c\"\n"
              "\"qword\"=hex(b):01,00,00,00,00,00,00,00\n"
              "\"dwordhex\"=hex(4):05,00,00,00\n"
              "\"empty\"=hex:\n"
              "\"toolong\"=dword:123456789\n"
              "\"nothex\"=dword:0000001g\n"
              "\"gone\"=dword:00000001\n"
              "\"gone\"=-\n"
              "@=dword:00000003\n");
    HKEY key = Open();

    DWORD type = 0;
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExA(key, "str", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(cb, 3u);  // with its terminating zero
    BYTE small[2] = {};
    cb = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "str", nullptr, &type, small, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cb, 3u);
    EXPECT_FALSE(QueryDword(key, "str"));

    const auto esc = QueryBytes(key, "esc", &type);
    EXPECT_EQ(std::string(esc.begin(), esc.end()), std::string("a\\b\"c\0", 6));

    EXPECT_EQ(QueryBytes(key, "qword", &type).size(), 8u);
    EXPECT_EQ(type, REG_QWORD);
    EXPECT_FALSE(QueryDword(key, "qword"));
    EXPECT_EQ(QueryDword(key, "dwordhex"), 5u);
    cb = 99;
    EXPECT_EQ(RegQueryValueExA(key, "empty", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(cb, 0u);

    for (const char* missing : {"toolong", "nothex", "gone", "absent"}) {
        EXPECT_EQ(RegQueryValueExA(key, missing, nullptr, &type, nullptr, &cb), ERROR_FILE_NOT_FOUND) << missing;
    }
    EXPECT_EQ(QueryDword(key, nullptr), 3u);
    EXPECT_EQ(QueryDword(key, ""), 3u);

    // A dword replaces a value of another type; other types can be written too.
    EXPECT_EQ(SetDword(key, "str", 40), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, "gone", 2), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, "nothex", 4), ERROR_SUCCESS);
    const BYTE text[] = "x\"y";
    EXPECT_EQ(RegSetValueExA(key, "s2", 0, REG_SZ, text, sizeof text), ERROR_SUCCESS);
    const BYTE bin[] = {0xAB, 0x00};
    EXPECT_EQ(RegSetValueExA(key, "b2", 0, REG_BINARY, bin, sizeof bin), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    const std::string after = ReadHive();
    EXPECT_NE(after.find("\"str\"=dword:00000028\n"), std::string::npos);
    EXPECT_EQ(after.find("\"str\"=\"12\""), std::string::npos);
    // A name set takes the place of its first line, readable or not; the
    // later lines of that name go, so the key keeps one line per name.
    EXPECT_NE(after.find("\"nothex\"=dword:00000004\n\"gone\"=dword:00000002\n@="), std::string::npos);
    EXPECT_NE(after.find("\"s2\"=\"x\\\"y\"\n"), std::string::npos);
    EXPECT_NE(after.find("\"b2\"=hex:ab,00\n"), std::string::npos);
    EXPECT_NE(after.find("\"toolong\"=dword:123456789\n"), std::string::npos);

    key = Open();
    EXPECT_EQ(QueryDword(key, "str"), 40u);
    EXPECT_EQ(QueryDword(key, "gone"), 2u);
    const auto s2 = QueryBytes(key, "s2", &type);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::string(s2.begin(), s2.end()), std::string("x\"y\0", 4));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryHive, NamesCompareWithoutRegardToCaseAndKeepTheirSpelling) {
    WriteHive("Windows Registry Editor Version 5.00\n\n"
              "[hkey_current_user\\SOFTWARE\\Varen-OT-U\\glimmerwing\\1.0]\n"
              "\"INTBRDNUMCUR\"=dword:00000007\n"
              "\"we\\\\ird \\\"name\\\"\"=dword:00000001\n");
    DWORD disposition = 0;
    HKEY key = Open(kKey, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(QueryDword(key, "intBrdNumCur"), 7u);
    EXPECT_EQ(QueryDword(key, "WE\\IRD \"NAME\""), 1u);
    EXPECT_EQ(SetDword(key, "intbrdnumcur", 8), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, "a\\b\"c", 9), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    EXPECT_EQ(ReadHive(), "Windows Registry Editor Version 5.00\n\n"
                          "[hkey_current_user\\SOFTWARE\\Varen-OT-U\\glimmerwing\\1.0]\n"
                          "\"INTBRDNUMCUR\"=dword:00000008\n"
                          "\"we\\\\ird \\\"name\\\"\"=dword:00000001\n"
                          "\"a\\\\b\\\"c\"=dword:00000009\n");
    key = Open();
    EXPECT_EQ(QueryDword(key, "A\\B\"C"), 9u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryHive, ReadsCrLfAndUtf16ExportsAndFilesWithoutHeader) {
    WriteHive(std::string("Windows Registry Editor Version 5.00\r\n\r\n") + kSection +
              "\r\n\"a\"=dword:00000001\r\n\r\n");
    HKEY key = Open();
    EXPECT_EQ(QueryDword(key, "a"), 1u);
    EXPECT_EQ(SetDword(key, "b", 2), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(ReadHive(), std::string("Windows Registry Editor Version 5.00\r\n\r\n") + kSection +
                              "\r\n\"a\"=dword:00000001\r\n\"b\"=dword:00000002\r\n\r\n");

    // What the registry editor writes on Windows: UTF-16LE with a byte order
    // mark (or, from other tools, without one). The file stays UTF-16 with
    // every unit it held, a surrogate without its partner included.
    auto utf16 = [](std::u16string_view text) {
        std::string bytes;
        for (char16_t u : text) {
            bytes += static_cast<char>(u & 0xFF);
            bytes += static_cast<char>(u >> 8);
        }
        return bytes;
    };
    std::u16string exported = u"Windows Registry Editor Version 5.00\r\n\r\n"
                              u"[HKEY_CURRENT_USER\\Software\\\u65E5\u672C]\r\n\"\U0001F426\"=\"\xD800\"\r\n\r\n";
    for (char c : std::string(kSection)) exported += static_cast<char16_t>(c);
    exported += u"\r\n\"\u00E9t\u00E9\"=dword:0000000c\r\n";
    for (const char* bom : {"\xFF\xFE", ""}) {
        WriteHive(bom + utf16(exported));
        key = Open();
        EXPECT_EQ(QueryDword(key, "\xC3\xA9t\xC3\xA9"), 12u);
        EXPECT_EQ(SetDword(key, "n", 1), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_EQ(ReadHive(), bom + utf16(exported + u"\"n\"=dword:00000001\r\n"));
    }

    // Stray text and no header: the text stays, the header is put in front.
    WriteHive("stray\n");
    key = Open();
    EXPECT_EQ(SetDword(key, "a", 1), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(ReadHive(), std::string("Windows Registry Editor Version 5.00\n\nstray\n\n") + kSection +
                              "\n\"a\"=dword:00000001\n\n");
}

TEST_F(RegistryHive, AnUnreadableHiveIsNeverReplaced) {
    // Not a regular file.
    fs::create_directories(HiveFile());
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, "", 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    EXPECT_TRUE(fs::is_directory(HiveFile()));
    fs::remove(HiveFile());

    // Far too large to be a settings hive (a sparse file).
    WriteHive("");
    fs::resize_file(HiveFile(), 64u << 20);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, "", 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(fs::file_size(HiveFile()), 64u << 20);

    // Unreadable by the time the key is closed: the changes are dropped.
    WriteHive(std::string("Windows Registry Editor Version 5.00\n\n") + kSection + "\n");
    key = Open();
    EXPECT_EQ(SetDword(key, "a", 1), ERROR_SUCCESS);
    fs::resize_file(HiveFile(), 64u << 20);
    EXPECT_EQ(RegCloseKey(key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(fs::file_size(HiveFile()), 64u << 20);
    EXPECT_EQ(HiveDirEntries(), std::vector<std::string>{"user.reg"});

    // No read permission (only effective when not running as root).
    WriteHive("Windows Registry Editor Version 5.00\n\n; mine\n");
    ::chmod(HiveFile().c_str(), 0);
    if (::access(HiveFile().c_str(), R_OK) != 0) {
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, "", 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_ACCESS_DENIED);
    }
    ::chmod(HiveFile().c_str(), 0600);
    EXPECT_EQ(ReadHive(), "Windows Registry Editor Version 5.00\n\n; mine\n");
}

TEST_F(RegistryHive, CloseAppliesChangesToTheFileAsItIsThenAndKeepsItsMode) {
    HKEY first = Open();
    HKEY second = Open();
    EXPECT_EQ(SetDword(first, "a", 1), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(second, "b", 2), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(first), ERROR_SUCCESS);
    ::chmod(HiveFile().c_str(), 0640);
    EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
    EXPECT_EQ(ReadHive(), std::string("Windows Registry Editor Version 5.00\n\n") + kSection +
                              "\n\"a\"=dword:00000001\n\"b\"=dword:00000002\n\n");
    struct stat st {};
    ASSERT_EQ(::stat(HiveFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(RegistryHive, AHiveThatIsALinkIsWrittenThroughTheLink) {
    const fs::path real = m_folders.Root() / "dotfiles" / "glimmerwing.reg";
    fs::create_directories(real.parent_path());
    std::ofstream(real) << "Windows Registry Editor Version 5.00\n";
    fs::create_directories(HiveFile().parent_path());
    fs::create_symlink(real, HiveFile());

    HKEY key = Open();
    EXPECT_EQ(SetDword(key, "a", 1), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_TRUE(fs::is_symlink(HiveFile()));
    EXPECT_EQ(ReadHive(), std::string("Windows Registry Editor Version 5.00\n\n") + kSection +
                              "\n\"a\"=dword:00000001\n\n");
}

TEST_F(RegistryHive, BadHandlesAndArgumentsAreRefused) {
    HKEY key = nullptr;
    for (const char* bad : {"\\Software", "Software\\", "Software\\\\x", "Soft\nware"}) {
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, bad, 0, "", 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_INVALID_PARAMETER)
            << bad;
    }
    key = Open();
    const BYTE three[3] = {};
    EXPECT_EQ(RegSetValueExA(key, "a", 0, REG_DWORD, three, 3), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetDword(key, "line\nbreak", 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(key, "a", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(ReadHive().find("line"), std::string::npos);
}

TEST_F(RegistryHive, AWrappedHexValueContinuesOnlyIntoItsOwnByteLines) {
    const std::string other = "[HKEY_CURRENT_USER\\Software\\Other]";
    const std::string text = std::string("Windows Registry Editor Version 5.00\n\n") + kSection +
                             "\n"
                             "\"blob\"=hex:01,02,\\\n"
                             "  03,\\\n"
                             "  04\n"
                             "\"cut\"=hex:05,06\\\n"  // the next value ends it
                             "\"next\"=dword:00000006\n"
                             "\"twice\"=hex:07\\\\\n"  // so does the blank line after it
                             "\n" +
                             other + "\n\"x\"=hex:08\\";  // and the end of the file
    WriteHive(text);
    HKEY key = Open();
    DWORD type = 0;
    EXPECT_EQ(QueryBytes(key, "blob", &type), (std::vector<BYTE>{1, 2, 3, 4}));
    EXPECT_EQ(QueryBytes(key, "cut", &type), (std::vector<BYTE>{5, 6}));
    EXPECT_EQ(QueryDword(key, "next"), 6u);
    EXPECT_EQ(SetDword(key, "new", 1), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // The value goes at the end of its own section, and the section after it
    // is still found, now and after the next write.
    std::string expected = text;
    expected.insert(expected.find("\n\n[HKEY_CURRENT_USER\\Software\\Other]") + 1, "\"new\"=dword:00000001\n");
    EXPECT_EQ(ReadHive(), expected);
    for (int run = 0; run < 2; ++run) {
        DWORD disposition = 0;
        key = Open("Software\\Other", &disposition);
        EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
        EXPECT_EQ(SetDword(key, "y", 2), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
    EXPECT_EQ(ReadHive(), expected + "\n\"y\"=dword:00000002\n");
}

// A disk that fills up, a drive that fails or a permission missing at any
// step of a write: the old file stays whole, one line on stderr says why, and
// no temporary file is left.
TEST_F(RegistryHive, AWriteThatFailsAtAnyStepKeepsTheOldFileAndSaysWhy) {
    using testing_support::FileFault;
    const std::string old = std::string("Windows Registry Editor Version 5.00\n\n") + kSection + "\n\"a\"=dword:00000001\n; mine\n";
    std::string updated = old;
    updated.replace(updated.find("00000001"), 8, "00000002");
    auto closeWith = [&](std::optional<FileFault::Call> call, int error, int nth, std::string& said) {
        WriteHive(old);
        HKEY key = Open();
        EXPECT_EQ(SetDword(key, "a", 2), ERROR_SUCCESS);
        ::testing::internal::CaptureStderr();
        LONG result = ERROR_SUCCESS;
        if (call) {
            FileFault fault(*call, error, nth);
            result = RegCloseKey(key);
            EXPECT_EQ(fault.Hit(), error != 0);
        } else {
            result = RegCloseKey(key);
        }
        said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(HiveDirEntries(), std::vector<std::string>{"user.reg"});
        return result;
    };
    auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };

    int cases = 0;
    for (FileFault::Call call : {FileFault::Call::Open, FileFault::Call::Write, FileFault::Call::Fsync,
                                 FileFault::Call::Close, FileFault::Call::Rename}) {
        for (int error : {ENOSPC, EIO, EACCES}) {
            SCOPED_TRACE(testing::Message() << "call " << static_cast<int>(call) << ", " << std::strerror(error));
            std::string said;
            const LONG result = closeWith(call, error, 1, said);
            EXPECT_EQ(result, error == ENOSPC ? ERROR_DISK_FULL : error == EIO ? ERROR_WRITE_FAULT : ERROR_ACCESS_DENIED);
            EXPECT_EQ(ReadHive(), old);
            EXPECT_EQ(lines(said), 1) << said;
            EXPECT_NE(said.find(std::strerror(error)), std::string::npos) << said;
            ++cases;
        }
    }
    EXPECT_EQ(cases, 15);

    // Flushing the folder fails after the rename: the new file is in place,
    // and the user hears that it may not be on the disk yet.
    std::string said;
    EXPECT_EQ(closeWith(FileFault::Call::Fsync, EIO, 2, said), ERROR_WRITE_FAULT);
    EXPECT_EQ(ReadHive(), updated);
    EXPECT_EQ(lines(said), 1) << said;

    // Short and interrupted writes are carried on to the end.
    EXPECT_EQ(closeWith(FileFault::Call::Write, 0, 1, said), ERROR_SUCCESS);
    EXPECT_EQ(ReadHive(), updated);
    EXPECT_EQ(said, "");
}

// Whatever a settings file holds (the fuzzing corpus, and a real file cut at
// every byte or with a "\" after its lines), writing the settings into it keeps
// the lines the reader kept and the values it did not write, and the next
// read finds what was written.
TEST(HiveRoundTrip, EveryFileKeepsWhatItHeldAndReadsBackWhatWasWritten) {
    const fs::path corpus = fs::path(GLIMMERWING_SOURCE_DIR) / "fuzz" / "corpus" / "settings";
    auto read = [](const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    std::size_t cases = 0;
    std::size_t failures = 0;
    std::string first;
    auto check = [&](std::string_view bytes, const std::string& what) {
        ++cases;
        const std::string fault = testing_support::HiveRoundTripFault(bytes);
        if (fault.empty()) return;
        if (failures++ == 0) first = what + ": " + fault;
    };

    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        check(read(entry.path()), entry.path().filename().string());
        ++files;
    }
    EXPECT_GE(files, 20u);

    for (const char* name : {"real-export.reg", "real-export-crlf.reg", "regedit-utf16.reg"}) {
        const std::string real = read(corpus / name);
        ASSERT_GT(real.size(), 800u) << name;
        for (std::size_t n = 0; n < real.size(); ++n) check(real.substr(0, n), std::string(name) + " cut to " + std::to_string(n));
        if (real.starts_with("\xFF\xFE")) continue;
        // A "\" at the end of each line in turn, then of all of them.
        std::vector<std::size_t> ends;
        for (std::size_t i = real.find('\n'); i != std::string::npos; i = real.find('\n', i + 1)) {
            ends.push_back(i > 0 && real[i - 1] == '\r' ? i - 1 : i);
        }
        std::string all = real;
        for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
            std::string one = real;
            check(one.insert(*it, "\\"), std::string(name) + " with a \\ at " + std::to_string(*it));
            all.insert(*it, "\\");
        }
        check(all, std::string(name) + " with a \\ after every line");
    }
    EXPECT_GT(cases, 2500u);
    EXPECT_EQ(failures, 0u) << first;
}

}  // namespace
