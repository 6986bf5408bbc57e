#include "platform/Mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

class LockFile {
public:
    LockFile() = default;
    LockFile(int fd, bool owned) : m_fd(fd), m_owned(owned) {}
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    ~LockFile() {
        if (m_fd >= 0) close(m_fd);  // closing the only descriptor drops the flock
    }

    bool owned() const { return m_owned; }
    void disown() { m_owned = false; }

private:
    int m_fd = -1;
    bool m_owned = false;
};

// Every open handle, so that unknown or closed handles are refused instead of
// being dereferenced.
std::mutex g_handlesLock;
std::vector<std::unique_ptr<LockFile>> g_handles;

HANDLE Register(std::unique_ptr<LockFile> lock) {
    const std::lock_guard guard(g_handlesLock);
    g_handles.push_back(std::move(lock));
    return reinterpret_cast<HANDLE>(g_handles.back().get());
}

std::vector<std::unique_ptr<LockFile>>::iterator Find(HANDLE handle) {
    return std::find_if(g_handles.begin(), g_handles.end(), [handle](const auto& p) {
        return reinterpret_cast<HANDLE>(p.get()) == handle;
    });
}

bool IsValidName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

std::string LockPath(std::string_view name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        std::string path(runtime);
        if (path.back() != '/') path += '/';
        path.append(name);
        path += ".lock";
        return path;
    }
    std::string path = "/tmp/";
    path.append(name);
    path += '-';
    path += std::to_string(getuid());
    path += ".lock";
    return path;
}

}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD error) { t_lastError = error; }

HANDLE CreateMutexA(const void* /*security*/, BOOL initialOwner, const char* name) {
    if (name == nullptr) {
        SetLastError(ERROR_SUCCESS);
        return Register(std::make_unique<LockFile>(-1, initialOwner != FALSE));
    }
    if (!IsValidName(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string path = LockPath(name);
    // Close-on-exec: programs we start must not keep the lock alive after us.
    // No symlinks: the fallback location is a shared directory.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    int rc = 0;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        if (err == EWOULDBLOCK) {
            const HANDLE handle = Register(std::make_unique<LockFile>(fd, false));
            SetLastError(ERROR_ALREADY_EXISTS);
            return handle;
        }
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const HANDLE handle = Register(std::make_unique<LockFile>(fd, initialOwner != FALSE));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL ReleaseMutex(HANDLE mutex) {
    const std::lock_guard guard(g_handlesLock);
    const auto it = Find(mutex);
    if (mutex == nullptr || it == g_handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(*it)->owned()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    (*it)->disown();
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    std::unique_ptr<LockFile> closing;
    {
        const std::lock_guard guard(g_handlesLock);
        const auto it = Find(handle);
        if (handle == nullptr || it == g_handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        closing = std::move(*it);
        g_handles.erase(it);
    }
    return TRUE;
}
