#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/SystemDir.h"

namespace {

class ScopedEnv {
public:
    explicit ScopedEnv(const char* name) : m_name(name) {
        if (const char* v = std::getenv(name)) m_old = v;
    }
    ~ScopedEnv() {
        if (m_old) {
            setenv(m_name, m_old->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }
    void Set(const char* value) { setenv(m_name, value, 1); }
    void Unset() { unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

class SystemDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/gw-sysdir-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_root = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(m_root); }

    std::string Query() {
        char buffer[MAX_PATH] = {};
        const UINT n = GetSystemDirectoryA(buffer, MAX_PATH);
        EXPECT_EQ(n, std::strlen(buffer));
        return buffer;
    }

    ScopedEnv m_home{"HOME"};
    ScopedEnv m_state{"XDG_STATE_HOME"};
    std::string m_root;
};

TEST_F(SystemDirTest, StateHomeOrHomeDecidesTheDirectoryWhichIsNotCreatedByTheQuery) {
    m_home.Set((m_root + "/home").c_str());
    m_state.Set((m_root + "/state//").c_str());
    EXPECT_EQ(Query(), m_root + "/state/glimmerwing");
    EXPECT_FALSE(std::filesystem::exists(m_root + "/state"));

    m_state.Unset();
    EXPECT_EQ(Query(), m_root + "/home/.local/state/glimmerwing");
    // A relative XDG value is invalid and ignored, as is an empty one.
    m_state.Set("relative/state");
    EXPECT_EQ(Query(), m_root + "/home/.local/state/glimmerwing");
    m_state.Set("");
    EXPECT_EQ(Query(), m_root + "/home/.local/state/glimmerwing");
    EXPECT_FALSE(std::filesystem::exists(m_root + "/home"));
}

TEST_F(SystemDirTest, BufferSizeFollowsWin32Rules) {
    m_state.Set((m_root + "/s").c_str());
    const std::string expected = m_root + "/s/glimmerwing";
    const UINT length = static_cast<UINT>(expected.size());

    char buffer[MAX_PATH];
    std::memset(buffer, 'x', sizeof(buffer));
    // Too small by one (no room for the terminator): the size needed, buffer untouched.
    EXPECT_EQ(GetSystemDirectoryA(buffer, length), length + 1);
    EXPECT_EQ(buffer[0], 'x');
    // Exactly large enough.
    EXPECT_EQ(GetSystemDirectoryA(buffer, length + 1), length);
    EXPECT_EQ(std::string(buffer), expected);
}

TEST_F(SystemDirTest, CreateDirectoryTreeMakesPrivateParents) {
    const std::string deep = m_root + "/a/b/c";
    ASSERT_TRUE(platform::CreateDirectoryTree(deep));
    EXPECT_TRUE(std::filesystem::is_directory(deep));
    struct stat st{};
    ASSERT_EQ(stat((m_root + "/a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(platform::CreateDirectoryTree(deep));  // existing is fine

    std::ofstream(m_root + "/file") << "x";
    EXPECT_FALSE(platform::CreateDirectoryTree(m_root + "/file/sub"));
    EXPECT_FALSE(platform::CreateDirectoryTree("relative/dir"));
}

}  // namespace
