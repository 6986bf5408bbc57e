#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "app/ErrLog.h"
#include "tests/support/FileFaults.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class ErrLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/gw-errlog-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_log = std::make_unique<ErrLog>();
        m_log->SetDirectoryForTesting(m_dir.c_str());
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path File() const { return fs::path(m_dir) / "GlimmerwingErrLog.txt"; }

    std::string m_dir;
    std::unique_ptr<ErrLog> m_log;
};

TEST_F(ErrLogTest, ConstructionFindsTheStateDirectoryAndWriteCreatesIt) {
    const char* saved = std::getenv("XDG_STATE_HOME");
    const std::optional<std::string> old = saved ? std::optional<std::string>(saved) : std::nullopt;
    setenv("XDG_STATE_HOME", (m_dir + "/state").c_str(), 1);
    auto log = std::make_unique<ErrLog>();
    if (old) {
        setenv("XDG_STATE_HOME", old->c_str(), 1);
    } else {
        unsetenv("XDG_STATE_HOME");
    }

    log->Add("InitiateD3D...\n");
    log->Add("\tCreateDevice...\n");
    log->Add("\tFailed\n");
    EXPECT_FALSE(fs::exists(m_dir + "/state"));  // nothing on disk before a failure
    log->Write();
    // Line feeds are written as they are.
    EXPECT_EQ(ReadFile(m_dir + "/state/glimmerwing/GlimmerwingErrLog.txt"),
              "InitiateD3D...\n\tCreateDevice...\n\tFailed\n");
}

TEST_F(ErrLogTest, LinesThatWouldFillTheTextAreDroppedButLaterShortOnesFit) {
    const std::string big(19990, 'a');
    m_log->Add(big.c_str());
    m_log->Add("123456789\n");  // 20000 with the terminator: dropped
    EXPECT_EQ(std::strlen(m_log->Text()), 19990u);
    m_log->Add("12345678\n");  // 19999: fits exactly
    EXPECT_EQ(std::strlen(m_log->Text()), 19999u);
    m_log->Add("x");
    m_log->Add(nullptr);
    EXPECT_EQ(std::strlen(m_log->Text()), 19999u);
    EXPECT_EQ(std::string(m_log->Text()), big + "12345678\n");
}

TEST_F(ErrLogTest, FormattedLinesAreAddedWholeOrNotAtAll) {
    m_log->AddF("\tFailed hr=%x\n", 0x80004005u);
    m_log->AddF("\t\t\tD3DXCreateTextureFromResource...%s\n", "BIRD.JPG");
    m_log->AddF("SkinnedMesh Loading Failed...%d\n", 3);
    const std::string tooLong(600, 'n');
    m_log->AddF("\t\t\tD3DXCreateTextureFromResource...%s\n", tooLong.c_str());
    m_log->AddF("%s", std::string(511, 'k').c_str());  // the largest line that fits
    m_log->AddF("%s", std::string(512, 'z').c_str());
    EXPECT_EQ(std::string(m_log->Text()),
              "\tFailed hr=80004005\n\t\t\tD3DXCreateTextureFromResource...BIRD.JPG\n"
              "SkinnedMesh Loading Failed...3\n" +
                  std::string(511, 'k'));
}

TEST_F(ErrLogTest, OnlyWriteTouchesTheFileAndItReplacesTheWholeContent) {
    std::ofstream(File()) << "an older and much longer log from a previous failed start\n";
    m_log->Add("InitiateD3D...\n");
    m_log.reset();  // a successful run ends without Write
    EXPECT_EQ(ReadFile(File()), "an older and much longer log from a previous failed start\n");

    m_log = std::make_unique<ErrLog>();
    m_log->SetDirectoryForTesting(m_dir.c_str());
    m_log->Add("InitiateObjects...\n");
    m_log->Add("Failed\n");
    m_log->Write();
    EXPECT_EQ(ReadFile(File()), "InitiateObjects...\nFailed\n");
}

TEST_F(ErrLogTest, PathsThatDoNotFitAreNeverCut) {
    const std::string name = "/GlimmerwingErrLog.txt";
    // Directories whose file path is 259 characters (fits with the terminator) and 260.
    auto makeDir = [&](std::size_t length) {
        std::string dir = m_dir + "/" + std::to_string(length) + "/";
        dir += std::string(length - dir.size(), 'd');
        fs::create_directories(dir);
        return dir;
    };
    const std::string fits = makeDir(259 - name.size());
    const std::string tooLong = makeDir(260 - name.size());

    m_log->Add("Failed\n");
    m_log->SetDirectoryForTesting(fits.c_str());
    m_log->Write();
    EXPECT_EQ(ReadFile(fits + name), "Failed\n");

    m_log->SetDirectoryForTesting(tooLong.c_str());
    m_log->Write();
    EXPECT_TRUE(fs::is_empty(tooLong));
    for (const auto& entry : fs::recursive_directory_iterator(m_dir)) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(entry.path().string(), fits + name);
        }
    }

    // A directory that itself does not fit, none at all, or a file in its
    // place writes nothing.
    m_log->SetDirectoryForTesting(std::string(300, 'd').c_str());
    m_log->Write();
    m_log->SetDirectoryForTesting("");
    m_log->Write();
    EXPECT_FALSE(fs::exists(name));
    std::ofstream(m_dir + "/plain") << "x";
    m_log->SetDirectoryForTesting((m_dir + "/plain").c_str());
    m_log->Write();
    EXPECT_EQ(ReadFile(m_dir + "/plain"), "x");
}

// A disk that fills up, a drive that fails or a permission missing: the log
// gets what could be written, and nothing breaks.
TEST_F(ErrLogTest, AFailingDiskGetsWhatItTakesAndNothingBreaks) {
    using testing_support::FileFault;
    for (int i = 0; i < 40; ++i) m_log->Add("\t\t\tD3DXCreateTextureFromResource...BIRD.JPG\n");
    const std::string text = m_log->Text();
    for (FileFault::Call call : {FileFault::Call::Open, FileFault::Call::Write, FileFault::Call::Close}) {
        for (int error : {ENOSPC, EIO, EACCES}) {
            std::ofstream(File()) << "an older log\n";
            {
                FileFault fault(call, error);
                m_log->Write();
                EXPECT_TRUE(fault.Hit());
            }
            const std::string written = ReadFile(File());
            if (call == FileFault::Call::Open) {
                EXPECT_EQ(written, "an older log\n");
            } else if (call == FileFault::Call::Write) {
                EXPECT_EQ(written, text.substr(0, text.size() / 2));
            } else {
                EXPECT_EQ(written, text);
            }
        }
    }
    m_log->Write();
    EXPECT_EQ(ReadFile(File()), text);

    // A pipe in the file's place that nobody reads does not hold start-up up.
    fs::remove(File());
    ASSERT_EQ(::mkfifo(File().c_str(), 0600), 0);
    m_log->Write();
}

}  // namespace
