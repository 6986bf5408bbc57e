// Private home, runtime, settings and state folders for one test: HOME and the
// XDG variables point into a fresh temporary folder (with run/, config/ and
// state/ in it) while the object lives, the start-up log writes into its
// state folder, and everything gets its old value back afterwards.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/ErrLog.h"
#include "platform/SystemDir.h"

namespace testing_support {

class PrivateFolders {
public:
    // `prefix` names the temporary folder; `extra` lists further variables
    // to unset for the test and restore after it.
    explicit PrivateFolders(const char* prefix, std::vector<const char*> extra = {}) {
        m_names = {"HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_STATE_HOME"};
        m_names.insert(m_names.end(), extra.begin(), extra.end());
        for (const char* name : m_names) {
            const char* value = std::getenv(name);
            m_saved.emplace_back(value ? std::optional<std::string>(value) : std::nullopt);
        }
        std::string templ = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (!::mkdtemp(templ.data())) return;
        m_root = templ;
        for (const char* sub : {"run", "config", "state"}) std::filesystem::create_directories(m_root / sub);
        ::setenv("HOME", m_root.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (m_root / "run").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (m_root / "state").c_str(), 1);
        for (const char* name : extra) ::unsetenv(name);
        g_ErrLog.SetDirectoryForTesting((m_root / "state" / "glimmerwing").c_str());
    }
    PrivateFolders(const PrivateFolders&) = delete;
    PrivateFolders& operator=(const PrivateFolders&) = delete;

    ~PrivateFolders() {
        for (std::size_t i = 0; i < m_names.size(); ++i) {
            if (m_saved[i]) ::setenv(m_names[i], m_saved[i]->c_str(), 1);
            else ::unsetenv(m_names[i]);
        }
        g_ErrLog.SetDirectoryForTesting(platform::SystemDirectoryPath().c_str());
        std::error_code ec;
        if (!m_root.empty()) std::filesystem::remove_all(m_root, ec);
    }

    // Empty when the folder could not be made.
    const std::filesystem::path& Root() const { return m_root; }

private:
    std::vector<const char*> m_names;
    std::vector<std::optional<std::string>> m_saved;
    std::filesystem::path m_root;
};

}  // namespace testing_support
