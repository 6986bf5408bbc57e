// A test's own settings hive: private folders (see PrivateFolders.h) and the
// hive file in them, read and written as bytes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/PrivateFolders.h"

namespace testing_support {

inline constexpr const char* kSettingsSection = "[HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0]";

class HiveTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_folders.Root().empty()); }

    std::filesystem::path HiveFile() const { return m_folders.Root() / "config" / "glimmerwing" / "user.reg"; }

    void WriteHive(const std::string& bytes) const {
        std::filesystem::create_directories(HiveFile().parent_path());
        std::ofstream(HiveFile(), std::ios::binary | std::ios::trunc) << bytes;
    }
    std::string ReadHive() const {
        std::ifstream in(HiveFile(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The names in the hive's folder, sorted.
    std::vector<std::string> HiveDirEntries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(HiveFile().parent_path())) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    PrivateFolders m_folders{"gw-hive"};
};

}  // namespace testing_support
