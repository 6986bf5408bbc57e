#include "platform/FileWrite.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

namespace fs = std::filesystem;

namespace platform {

namespace {

int SystemOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

FileCalls g_calls{SystemOpen, ::write, ::fsync, ::close, ::rename};

FileWriteResult Failure(int error, std::string what) {
    FileWriteResult result;
    result.error = error ? error : EIO;
    result.reason = std::move(what) + ": " + std::strerror(result.error);
    return result;
}

// Closes through the active calls unless closed explicitly.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { Close(); }
    int Get() const { return m_fd; }
    // 0 or errno.
    int Close() {
        const int fd = std::exchange(m_fd, -1);
        if (fd < 0 || g_calls.close(fd) == 0) return 0;
        return errno;
    }

private:
    int m_fd;
};

// 0 or errno. Short writes go on where they stopped.
int WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = g_calls.write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

int Fsync(int fd) {
    while (g_calls.fsync(fd) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

fs::path ResolveLinks(fs::path path) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(path, ec); ++hops) {
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

std::string TempPrefix(const fs::path& path) { return "." + path.filename().string() + ".tmp-"; }

// Removes the temporary files of writers of this file that died before they
// could (their names carry the writer's process id).
void RemoveStaleTemps(const fs::path& path) {
    const std::string prefix = TempPrefix(path);
    std::error_code ec;
    for (fs::directory_iterator it(path.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(prefix)) continue;
        const std::string_view rest = std::string_view(name).substr(prefix.size());
        pid_t pid = 0;
        std::size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9' && digits < 9) {
            pid = pid * 10 + (rest[digits++] - '0');
        }
        if (digits == 0 || digits >= rest.size() || rest[digits] != '-' || pid <= 0 || pid == ::getpid()) continue;
        if (::kill(pid, 0) != 0 && errno == ESRCH) ::unlink(it->path().c_str());
    }
}

}  // namespace

FileCalls SystemFileCalls() { return {SystemOpen, ::write, ::fsync, ::close, ::rename}; }

FileCalls& ActiveFileCalls() { return g_calls; }

FileWriteResult ReplaceFile(const fs::path& where, std::string_view text) {
    const fs::path path = ResolveLinks(where);
    const fs::path dir = path.parent_path();
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return Failure(ec.value(), "cannot create the folder " + dir.string());

    struct stat old {};
    const bool hadFile = ::lstat(path.c_str(), &old) == 0;
    if (hadFile) {
        // What the user or the system keeps from being changed stays as it is.
        if (!S_ISREG(old.st_mode)) return Failure(EISDIR, path.string() + " is not a regular file");
        if (old.st_uid != ::geteuid()) return Failure(EPERM, path.string() + " belongs to another user");
        if (!(old.st_mode & S_IWUSR)) return Failure(EACCES, path.string() + " is read-only");
    }
    RemoveStaleTemps(path);

    static std::atomic<unsigned> s_counter{0};
    fs::path temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = dir / (TempPrefix(path) + std::to_string(::getpid()) + "-" + std::to_string(s_counter++));
        fd = g_calls.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        const int error = errno;
        if (fd < 0 && error != EEXIST) return Failure(error, "cannot create " + temp.string());
    }
    if (fd < 0) return Failure(EEXIST, "cannot create " + temp.string());
    Descriptor file(fd);

    auto fail = [&](int error, std::string what) {
        file.Close();
        ::unlink(temp.c_str());
        return Failure(error, std::move(what));
    };
    if (hadFile) {
        if (::fchmod(file.Get(), old.st_mode & 07777) != 0) {
            const int error = errno;
            return fail(error, "cannot set the mode of " + temp.string());
        }
        if (old.st_gid != ::getegid()) (void)::fchown(file.Get(), static_cast<uid_t>(-1), old.st_gid);
    }
    if (const int error = WriteAll(file.Get(), text)) return fail(error, "cannot write " + temp.string());
    if (const int error = Fsync(file.Get())) return fail(error, "cannot flush " + temp.string() + " to the disk");
    if (const int error = file.Close()) return fail(error, "cannot close " + temp.string());
    if (g_calls.rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        return fail(error, "cannot rename " + temp.string() + " to " + path.filename().string());
    }

    // The rename itself reaches the disk with the folder.
    const int dirFd = g_calls.open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    int error = dirFd < 0 ? errno : 0;
    Descriptor folder(dirFd);
    if (!error) error = Fsync(folder.Get());
    if (!error) error = folder.Close();
    if (error) {
        FileWriteResult result = Failure(error, "cannot flush the folder " + dir.string() + " to the disk");
        result.replaced = true;
        return result;
    }
    return {};
}

FileWriteResult OverwriteFile(const fs::path& path, std::string_view text) {
    // Non-blocking: a pipe in the file's place that nobody reads must not hold the caller up.
    const int fd = g_calls.open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        const int error = errno;
        return Failure(error, "cannot create " + path.string());
    }
    Descriptor file(fd);
    if (const int error = WriteAll(file.Get(), text)) return Failure(error, "cannot write " + path.string());
    if (const int error = file.Close()) return Failure(error, "cannot close " + path.string());
    return {};
}

}  // namespace platform
