#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/Mutex.h"
#include "platform/Shell.h"

namespace {

std::intptr_t Result(HINSTANCE h) { return reinterpret_cast<std::intptr_t>(h); }

// Children of this process, found through /proc.
int CountChildren() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 1));
        char state = 0;
        long ppid = 0;
        rest >> state >> ppid;
        if (ppid == getpid()) ++count;
    }
    return count;
}

// Polls for a condition (no timing is measured: the bound only ends a hang).
template <typename F>
bool WaitFor(F condition) {
    for (int i = 0; i < 1000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"GLIMMERWING_OPEN_COMMAND", "XDG_RUNTIME_DIR"}) {
            const char* v = std::getenv(name);
            m_saved.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        }
        char tmpl[] = "/tmp/gw-shell-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_work = m_dir + "/work";
        std::filesystem::create_directory(m_work);
        // The fake opener records its arguments, directory and open files.
        m_script = m_dir + "/opener";
        std::ofstream(m_script) << "#!/bin/sh\n"
                                << "out='" << m_dir << "/out'\n"
                                << "{ echo \"$#\"; printf '%s\\n' \"$1\"; pwd; ls -l /proc/$$/fd; } "
                                   "> \"$out.tmp\" 2>&1\n"
                                << "mv \"$out.tmp\" \"$out\"\n";
        chmod(m_script.c_str(), 0755);
        setenv("GLIMMERWING_OPEN_COMMAND", m_script.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
    }
    void TearDown() override {
        for (const auto& [name, value] : m_saved) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        std::filesystem::remove_all(m_dir);
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
    std::string m_dir;
    std::string m_work;
    std::string m_script;
};

TEST_F(ShellTest, OpenPassesTheAddressAsOneArgumentWithoutAShellAndReapsTheChild) {
    // The single-instance lock must not leak into the opener.
    HANDLE lock = CreateMutexA(nullptr, FALSE, "GLIMMERWING_SCREEN_SAVER");
    ASSERT_NE(lock, nullptr);

    const std::string address = "http://example.com/?a=1;touch pwned1&b=`touch pwned2`$(touch pwned3)|'\" *";
    HINSTANCE h = ShellExecuteA(nullptr, "Open", address.c_str(), nullptr, m_work.c_str(), SW_SHOWNORMAL);
    EXPECT_GT(Result(h), 32);

    const std::string out = m_dir + "/out";
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(out); }));
    std::ifstream in(out);
    std::string argc, arg, cwd, rest;
    std::getline(in, argc);
    std::getline(in, arg);
    std::getline(in, cwd);
    std::getline(in, rest, '\0');
    EXPECT_EQ(argc, "1");
    EXPECT_EQ(arg, address);
    EXPECT_EQ(cwd, m_work);
    EXPECT_EQ(rest.find("GLIMMERWING_SCREEN_SAVER"), std::string::npos) << rest;  // locks held by callers may pass
    EXPECT_TRUE(std::filesystem::is_empty(m_work));  // nothing ran the address's commands

    EXPECT_TRUE(WaitFor([] { return CountChildren() == 0; })) << "opener left as a zombie";
    EXPECT_EQ(CloseHandle(lock), TRUE);
}

TEST_F(ShellTest, RefusedRequestsReturnWin32ErrorValues) {
    EXPECT_EQ(Result(ShellExecuteA(nullptr, "print", "http://x/", nullptr, nullptr, SW_SHOWNORMAL)),
              SE_ERR_NOASSOC);
    EXPECT_EQ(Result(ShellExecuteA(nullptr, "open", nullptr, nullptr, nullptr, SW_SHOWNORMAL)), SE_ERR_FNF);
    EXPECT_EQ(Result(ShellExecuteA(nullptr, "open", "", nullptr, nullptr, SW_SHOWNORMAL)), SE_ERR_FNF);
    // A leading dash would be read as an option by the opener.
    EXPECT_EQ(Result(ShellExecuteA(nullptr, "open", "--help", nullptr, nullptr, SW_SHOWNORMAL)), SE_ERR_FNF);

    setenv("GLIMMERWING_OPEN_COMMAND", (m_dir + "/no-such-opener").c_str(), 1);
    EXPECT_LE(Result(ShellExecuteA(nullptr, nullptr, "http://x/", nullptr, nullptr, SW_SHOWNORMAL)), 32);
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/out"));
    EXPECT_TRUE(WaitFor([] { return CountChildren() == 0; }));
}

}  // namespace
