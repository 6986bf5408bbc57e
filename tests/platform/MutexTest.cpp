#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/Mutex.h"

namespace {

constexpr const char* kName = "GLIMMERWING_SCREEN_SAVER";

class MutexTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("XDG_RUNTIME_DIR")) m_saved = v;
        char tmpl[] = "/tmp/gw-mutex-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
    }
    void TearDown() override {
        if (m_saved) {
            setenv("XDG_RUNTIME_DIR", m_saved->c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        std::filesystem::remove_all(m_dir);
    }

    // A child process that takes the mutex and keeps it until killed.
    pid_t StartHolder() {
        int ready[2];
        EXPECT_EQ(pipe(ready), 0);
        const pid_t pid = fork();
        if (pid < 0) return -1;
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            close(ready[0]);
            HANDLE h = CreateMutexA(nullptr, FALSE, kName);
            const char ok = (h != nullptr && GetLastError() == ERROR_SUCCESS) ? 'y' : 'n';
            if (write(ready[1], &ok, 1) != 1) _exit(1);
            for (;;) pause();
        }
        close(ready[1]);
        char ok = 0;
        EXPECT_EQ(read(ready[0], &ok, 1), 1);
        close(ready[0]);
        EXPECT_EQ(ok, 'y');
        return pid;
    }

    std::optional<std::string> m_saved;
    std::string m_dir;
};

TEST_F(MutexTest, SecondHandleInProcessSeesAlreadyExistsUntilTheHolderCloses) {
    HANDLE first = CreateMutexA(nullptr, FALSE, kName);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(std::filesystem::exists(m_dir + "/" + kName + ".lock"));

    // As in Win32: a valid handle together with ERROR_ALREADY_EXISTS.
    HANDLE second = CreateMutexA(nullptr, FALSE, kName);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(CloseHandle(second), TRUE);

    // Closing the second handle did not drop the first one's lock.
    HANDLE third = CreateMutexA(nullptr, FALSE, kName);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(CloseHandle(third), TRUE);

    EXPECT_EQ(CloseHandle(first), TRUE);
    HANDLE again = CreateMutexA(nullptr, FALSE, kName);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(CloseHandle(again), TRUE);
}

TEST_F(MutexTest, AnotherProcessHoldsItUntilItDies) {
    const pid_t holder = StartHolder();
    ASSERT_GT(holder, 0);
    HANDLE h = CreateMutexA(nullptr, FALSE, kName);
    const DWORD error = GetLastError();
    const BOOL closed = CloseHandle(h);

    // A killed holder leaves no stale lock behind.
    kill(holder, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(closed, TRUE);

    h = CreateMutexA(nullptr, FALSE, kName);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(CloseHandle(h), TRUE);
}

TEST_F(MutexTest, WithoutRuntimeDirectoryTheLockGoesToTmpPerUser) {
    unsetenv("XDG_RUNTIME_DIR");
    const std::string name = "GLIMMERWING_MUTEX_TEST_" + std::to_string(getpid());
    const std::string path = "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
    HANDLE h = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(CloseHandle(h), TRUE);
    std::filesystem::remove(path);
}

TEST_F(MutexTest, BadNamesHandlesAndLocationsFailCleanly) {
    for (const char* bad : {"", "a/b", "..", "."}) {
        EXPECT_EQ(CreateMutexA(nullptr, FALSE, bad), nullptr) << bad;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << bad;
    }
    setenv("XDG_RUNTIME_DIR", (m_dir + "/missing").c_str(), 1);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, kName), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    int notAHandle = 0;
    EXPECT_EQ(CloseHandle(nullptr), FALSE);
    EXPECT_EQ(ReleaseMutex(reinterpret_cast<HANDLE>(&notAHandle)), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
    HANDLE h = CreateMutexA(nullptr, FALSE, kName);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(CloseHandle(h), TRUE);
    EXPECT_EQ(CloseHandle(h), FALSE);  // already closed
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(MutexTest, ReleaseNeedsOwnershipAndKeepsTheLock) {
    HANDLE owner = CreateMutexA(nullptr, TRUE, kName);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(ReleaseMutex(owner), TRUE);
    EXPECT_EQ(ReleaseMutex(owner), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));

    // Ownership is not granted to a handle that found the mutex existing.
    HANDLE other = CreateMutexA(nullptr, TRUE, kName);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReleaseMutex(other), FALSE);
    EXPECT_EQ(CloseHandle(other), TRUE);
    EXPECT_EQ(CloseHandle(owner), TRUE);
}

}  // namespace
