#include "platform/Registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FileWrite.h"
#include "platform/RegistryText.h"

namespace fs = std::filesystem;

namespace {

using platform::HiveText;
using platform::RegValue;

constexpr std::string_view kRootName = "HKEY_CURRENT_USER";
// A settings hive is a few hundred bytes; anything this large is not ours to
// read or to replace. (Reading holds a few hundred bytes per line: a file of
// this size made of empty lines takes some 300 MB for a moment.)
constexpr std::uintmax_t kMaxHiveSize = 1u << 20;

// ---------------------------------------------------------------------------
// The hive file

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

enum class ReadResult { Ok, Missing, Unreadable };

// On Unreadable, *why says why.
ReadResult ReadHiveFile(const fs::path& path, std::string& text, std::string* why) {
    text.clear();
    auto unreadable = [&](std::string reason) {
        if (why) *why = std::move(reason);
        return ReadResult::Unreadable;
    };
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0) return errno == ENOENT ? ReadResult::Missing : unreadable(std::strerror(errno));
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return unreadable("not a regular file");
    if (static_cast<std::uintmax_t>(st.st_size) > kMaxHiveSize) return unreadable("larger than 1 MiB");
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return unreadable(std::strerror(errno));
        }
        if (n == 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > kMaxHiveSize) return unreadable("larger than 1 MiB");
    }
    return ReadResult::Ok;
}

// The user hears of a hive that is left alone: one line on stderr.
void ReportUnreadable(const fs::path& path, const std::string& why) {
    std::fprintf(stderr, "glimmerwing: %s cannot be read (%s); it is left as it is\n", path.c_str(), why.c_str());
}

LONG WriteHiveFile(const fs::path& path, std::string_view text) {
    const platform::FileWriteResult result = platform::ReplaceFile(path, text);
    if (result.Ok()) return ERROR_SUCCESS;
    if (result.replaced) {
        std::fprintf(stderr, "glimmerwing: the settings were saved but may not be on the disk yet: %s\n",
                     result.reason.c_str());
    } else {
        std::fprintf(stderr, "glimmerwing: the settings were not saved, %s is unchanged: %s\n", path.c_str(),
                     result.reason.c_str());
    }
    switch (result.error) {
        case ENOSPC:
        case EDQUOT: return ERROR_DISK_FULL;
        case EACCES:
        case EPERM:
        case EROFS: return ERROR_ACCESS_DENIED;
        default: return ERROR_WRITE_FAULT;
    }
}

// ---------------------------------------------------------------------------
// Open keys

struct OpenKey {
    fs::path hivePath;
    std::string section;  // HKEY_CURRENT_USER\...
    HiveText snapshot;    // the file as read, with this handle's changes
    bool bCreated = false;
    std::vector<std::pair<std::string, RegValue>> sets;
};

std::mutex g_keyMutex;
std::vector<std::unique_ptr<OpenKey>> g_openKeys;

OpenKey* FindKey(HKEY key) {
    for (const auto& k : g_openKeys) {
        if (reinterpret_cast<HKEY>(k.get()) == key) return k.get();
    }
    return nullptr;
}

bool IsValidSubKey(std::string_view subKey) {
    if (subKey.empty()) return true;
    if (subKey.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) return false;
    std::size_t start = 0;
    for (;;) {
        const auto sep = subKey.find('\\', start);
        if (sep == start) return false;  // an empty component
        if (sep == std::string_view::npos) return true;
        start = sep + 1;
        if (start == subKey.size()) return false;
    }
}

bool IsValidValueName(std::string_view name) {
    return name.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

}  // namespace

fs::path RegistryHivePath() {
    fs::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && fs::path(xdg).is_absolute()) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* pw = ::getpwuid(::getuid());
            home = pw ? pw->pw_dir : nullptr;
        }
        if (!home || !*home) return {};
        base = fs::path(home) / ".config";
    }
    return base / "glimmerwing" / "user.reg";
}

LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD /*reserved*/, const char* /*cls*/, DWORD /*options*/,
                     DWORD /*samDesired*/, const void* /*security*/, HKEY* result, DWORD* disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    const std::string_view sub = subKey ? subKey : "";
    if (!IsValidSubKey(sub)) return ERROR_INVALID_PARAMETER;

    std::lock_guard lock(g_keyMutex);
    auto key = std::make_unique<OpenKey>();
    if (root == HKEY_CURRENT_USER) {
        key->section = kRootName;
        key->hivePath = RegistryHivePath();
    } else if (const OpenKey* parent = FindKey(root)) {
        key->section = parent->section;
        key->hivePath = parent->hivePath;
    } else {
        return ERROR_INVALID_HANDLE;
    }
    if (!sub.empty()) {
        key->section += '\\';
        key->section += sub;
    }
    if (key->hivePath.empty()) return ERROR_ACCESS_DENIED;

    std::string text;
    std::string why;
    if (ReadHiveFile(key->hivePath, text, &why) == ReadResult::Unreadable) {
        ReportUnreadable(key->hivePath, why);
        return ERROR_ACCESS_DENIED;
    }
    key->snapshot = HiveText::Parse(text);
    const bool exists = key->snapshot.HasSection(key->section);
    if (!exists) {
        key->bCreated = true;
        key->snapshot.AddSection(key->section);
    }
    if (disposition) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = reinterpret_cast<HKEY>(key.get());
    g_openKeys.push_back(std::move(key));
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* cbData) {
    if (reserved || (data && !cbData)) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(g_keyMutex);
    const OpenKey* key = FindKey(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    const RegValue* value = key->snapshot.Find(key->section, name ? name : "");
    if (!value) return ERROR_FILE_NOT_FOUND;

    const auto size = static_cast<DWORD>(value->bytes.size());
    if (type) *type = value->type;
    if (!cbData) return ERROR_SUCCESS;
    if (data && *cbData < size) {
        *cbData = size;
        return ERROR_MORE_DATA;
    }
    if (data && size) std::memcpy(data, value->bytes.data(), size);
    *cbData = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, const char* name, DWORD /*reserved*/, DWORD type, const BYTE* data, DWORD cbData) {
    const std::string_view valueName = name ? name : "";
    if (!IsValidValueName(valueName) || (!data && cbData)) return ERROR_INVALID_PARAMETER;
    if (type == REG_DWORD && cbData != sizeof(DWORD)) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(g_keyMutex);
    OpenKey* key = FindKey(hKey);
    if (!key) return ERROR_INVALID_HANDLE;

    RegValue value;
    value.type = type;
    if (cbData) value.bytes.assign(data, data + cbData);
    key->snapshot.Set(key->section, valueName, value);
    key->sets.emplace_back(std::string(valueName), std::move(value));
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    std::unique_ptr<OpenKey> key;
    std::lock_guard lock(g_keyMutex);
    for (auto it = g_openKeys.begin(); it != g_openKeys.end(); ++it) {
        if (reinterpret_cast<HKEY>(it->get()) == hKey) {
            key = std::move(*it);
            g_openKeys.erase(it);
            break;
        }
    }
    if (!key) return ERROR_INVALID_HANDLE;
    if (!key->bCreated && key->sets.empty()) return ERROR_SUCCESS;

    // Apply the changes to the file as it is now, so that whatever else
    // changed in it since the key was opened is kept.
    key->snapshot = {};
    std::string text;
    std::string why;
    if (ReadHiveFile(key->hivePath, text, &why) == ReadResult::Unreadable) {
        ReportUnreadable(key->hivePath, why);
        return ERROR_ACCESS_DENIED;
    }
    HiveText hive = HiveText::Parse(text);
    hive.AddSection(key->section);
    for (const auto& [name, value] : key->sets) hive.Set(key->section, name, value);
    return WriteHiveFile(key->hivePath, hive.Serialize());
}
