// The program's compiled resources plus entries of a test's own, looked up as
// the program's resources for as long as the object lives.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/Resources.h"

namespace testing_support {

class ExtraResources {
public:
    ExtraResources() = default;
    ExtraResources(const ExtraResources&) = delete;
    ExtraResources& operator=(const ExtraResources&) = delete;
    ~ExtraResources() { SetResourceTableForTesting({}); }

    // Replaces the extra entries: each (name, bytes) under `type` ("MODEL",
    // "MISC" ...), next to every compiled resource.
    void Use(const std::string& type, std::vector<std::pair<std::string, std::string>> entries) {
        m_type = type;
        m_entries = std::move(entries);
        m_table.assign(CompiledResourceTable().begin(), CompiledResourceTable().end());
        for (const auto& [name, bytes] : m_entries)
            m_table.push_back(ResourceEntry{m_type.c_str(), name.c_str(),
                                            reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
        SetResourceTableForTesting(m_table);
    }

private:
    std::string m_type;
    std::vector<std::pair<std::string, std::string>> m_entries;
    std::vector<ResourceEntry> m_table;
};

}  // namespace testing_support
