#include "platform/Shell.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <thread>

extern char** environ;

namespace {

constexpr std::uintptr_t kShellSuccess = 42;

HINSTANCE ShellResult(std::uintptr_t value) { return reinterpret_cast<HINSTANCE>(value); }

bool IsOpenVerb(const char* verb) {
    if (verb == nullptr) return true;  // the default verb is "open"
    constexpr std::string_view kOpen = "open";
    std::string_view v(verb);
    if (v.size() != kOpen.size()) return false;
    for (std::size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kOpen[i]) return false;
    }
    return true;
}

// RAII for the spawn attribute objects.
class SpawnSetup {
public:
    SpawnSetup() {
        m_attrOk = posix_spawnattr_init(&m_attr) == 0;
        m_actionsOk = posix_spawn_file_actions_init(&m_actions) == 0;
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup() {
        if (m_attrOk) posix_spawnattr_destroy(&m_attr);
        if (m_actionsOk) posix_spawn_file_actions_destroy(&m_actions);
    }

    // A fresh session, default signal dispositions, nothing blocked, stdin
    // from /dev/null, so the opener lives independently of the saver.
    int Prepare(const char* dir) {
        if (!m_attrOk || !m_actionsOk) return ENOMEM;
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        int rc = posix_spawnattr_setsigmask(&m_attr, &none);
        if (rc == 0) rc = posix_spawnattr_setsigdefault(&m_attr, &all);
        if (rc == 0) {
            rc = posix_spawnattr_setflags(
                &m_attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        }
        if (rc == 0) rc = posix_spawn_file_actions_addopen(&m_actions, 0, "/dev/null", O_RDONLY, 0);
        if (rc == 0 && dir != nullptr && dir[0] != '\0') {
            rc = posix_spawn_file_actions_addchdir_np(&m_actions, dir);
        }
        return rc;
    }

    const posix_spawnattr_t* attr() const { return &m_attr; }
    const posix_spawn_file_actions_t* actions() const { return &m_actions; }

private:
    posix_spawnattr_t m_attr{};
    posix_spawn_file_actions_t m_actions{};
    bool m_attrOk = false;
    bool m_actionsOk = false;
};

HINSTANCE ErrorResult(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
        case ENOEXEC:
            return ShellResult(SE_ERR_NOASSOC);
        case EACCES:
        case EPERM:
            return ShellResult(SE_ERR_ACCESSDENIED);
        default:
            return ShellResult(SE_ERR_OOM);
    }
}

// Waits for the child on a detached thread, so no zombie remains, without
// touching SIGCHLD or any other child of the process.
bool ReapInBackground(pid_t pid) {
    try {
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace

HINSTANCE ShellExecuteA(HWND /*window*/, const char* verb, const char* file, const char* /*params*/,
                        const char* dir, int /*show*/) {
    if (!IsOpenVerb(verb)) return ShellResult(SE_ERR_NOASSOC);
    if (file == nullptr || file[0] == '\0' || file[0] == '-') return ShellResult(SE_ERR_FNF);

    const char* program = std::getenv("GLIMMERWING_OPEN_COMMAND");
    if (program == nullptr || program[0] == '\0') program = "xdg-open";

    SpawnSetup setup;
    if (const int rc = setup.Prepare(dir); rc != 0) return ErrorResult(rc);

    char* const argv[] = {const_cast<char*>(program), const_cast<char*>(file), nullptr};
    pid_t pid = -1;
    if (const int rc = posix_spawnp(&pid, program, setup.actions(), setup.attr(), argv, environ);
        rc != 0) {
        return ErrorResult(rc);
    }
    if (!ReapInBackground(pid)) {
        // No thread to spare: wait here rather than leave a zombie.
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    return ShellResult(kShellSuccess);
}
