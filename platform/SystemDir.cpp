#include "platform/SystemDir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::string_view kAppDirName = "glimmerwing";

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (IsAbsolute(home)) return home;
    // No usable HOME: ask the password database.
    long bufSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (bufSize <= 0) bufSize = 16384;
    std::vector<char> buf(static_cast<std::size_t>(bufSize));
    passwd pw{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result != nullptr &&
        IsAbsolute(result->pw_dir)) {
        return result->pw_dir;
    }
    return {};
}

void TrimTrailingSlashes(std::string& path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
}

bool IsDirectory(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

namespace platform {

std::string SystemDirectoryPath() {
    std::string base;
    // Relative values are invalid for XDG variables and are ignored.
    if (const char* state = std::getenv("XDG_STATE_HOME"); IsAbsolute(state)) {
        base = state;
    } else {
        base = HomeDirectory();
        if (base.empty()) return {};
        TrimTrailingSlashes(base);
        if (base != "/") base += '/';
        base += ".local/state";
    }
    TrimTrailingSlashes(base);
    if (base != "/") base += '/';
    base += kAppDirName;
    return base;
}

bool CreateDirectoryTree(std::string_view path) {
    if (path.empty() || path.front() != '/') return false;
    std::string current;
    std::size_t pos = 0;
    while (pos < path.size()) {
        const std::size_t next = path.find('/', pos + 1);
        current.assign(path.substr(0, next == std::string_view::npos ? path.size() : next));
        pos = next == std::string_view::npos ? path.size() : next;
        if (current.size() <= 1 || current.back() == '/') continue;  // root or "//"
        if (mkdir(current.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return IsDirectory(std::string(path));
}

}  // namespace platform

UINT GetSystemDirectoryA(char* buffer, UINT size) {
    const std::string path = platform::SystemDirectoryPath();
    if (path.empty()) return 0;
    if (path.size() >= size || buffer == nullptr) return static_cast<UINT>(path.size() + 1);
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<UINT>(path.size());
}
