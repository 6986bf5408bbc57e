#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/rc/ResourceScript.h"

namespace fs = std::filesystem;

namespace {

class ResourceScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "gw-rc-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    fs::path Write(const std::string& name, const std::string& content) {
        fs::path path = m_dir / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Parses `text` as <dir>/script.rc.
    bool Parse(const std::string& text) {
        m_errors.clear();
        m_script = {};
        return rc::ParseResourceScript(text, m_dir / "script.rc", m_script, m_errors);
    }

    std::string Errors() const {
        std::string all;
        for (const auto& e : m_errors) {
            all += e + "\n";
        }
        return all;
    }

    fs::path m_dir;
    rc::ResourceScript m_script;
    std::vector<std::string> m_errors;
};

TEST_F(ResourceScriptTest, ReadsNamesTypesAndFilesAsWritten) {
    Write("a.ico", "icon");
    Write("models/Bird.x", "xof ");
    Write("clock.fpp", "path");
    Write("toon.vsh", "vs.1.1");
    ASSERT_TRUE(Parse("// header comment\n"
                      "#pragma code_page(65001)\n"
                      "#include \"resource.h\"\n"
                      "LANGUAGE LANG_JAPANESE, SUBLANG_DEFAULT\n"
                      "/* a block\n   comment over lines */\n"
                      "156 ICON \"a.ico\"   // trailing comment\n"
                      "Bird.X MODEL PRELOAD DISCARDABLE \"models\\\\Bird.x\"\n"
                      "\"Clock.FPP\" MISC clock.fpp\n"
                      "0x9D RCDATA \"toon.vsh\"\n"
                      "TOON.VSH 10 \"toon.vsh\"\n"))
        << Errors();
    ASSERT_EQ(m_script.resources.size(), 5u);
    const auto& r = m_script.resources;
    EXPECT_EQ(r[0].type, "ICON");
    EXPECT_EQ(r[0].name, "#156");
    EXPECT_EQ(r[0].line, 7);
    EXPECT_EQ(r[0].file, m_dir / "a.ico");
    EXPECT_EQ(r[1].type, "MODEL");
    EXPECT_EQ(r[1].name, "Bird.X");
    EXPECT_EQ(r[1].file, m_dir / "models" / "Bird.x");
    EXPECT_EQ(r[2].name, "Clock.FPP");
    EXPECT_EQ(r[2].file, m_dir / "clock.fpp");
    EXPECT_EQ(r[3].name, "#157");
    EXPECT_EQ(r[4].type, "#10");
    EXPECT_EQ(r[4].line, 11);
}

TEST_F(ResourceScriptTest, ReportsErrorsWithFileAndLine) {
    Write("a.ico", "icon");
    const std::string where = (m_dir / "script.rc").string();
    struct Case {
        std::string text;
        std::string expected; // "<line>: <part of the message>"
    };
    const std::vector<Case> cases = {
        {"156 ICON \"a.ico\"\n\n157 ICON \"missing.ico\"\n", ":3: file \"missing.ico\" not found"},
        {"/* never closed\n156 ICON \"a.ico\"\n", ":1: unterminated /* comment"},
        {"\n156 ICON \"a.ico\n", ":2: unterminated string"},
        {"176 DIALOGEX 0, 0, 211, 332\nBEGIN\nEND\n", ":1: DIALOGEX resources are not supported"},
        {"STRINGTABLE\nBEGIN\nEND\n", ":1: STRINGTABLE statements are not supported"},
        {"\n1 RCDATA\nBEGIN 1, 2 END\n", ":3: inline data"},
        {"156 ICON\n", ":2: expected a file name"},
        {"156\n", ":2: expected a resource type"},
        {", ICON \"a.ico\"\n", ":1: expected a resource name"},
        {"LANGUAGE 9\n156 ICON \"a.ico\"\n", ":1: LANGUAGE needs two values"},
        {"70000 ICON \"a.ico\"\n", ":1: resource name 70000 is out of range"},
        {"156 ICON \"a.ico\"\n0x9c icon \"a.ico\"\n", ":2: duplicate resource"},
        {"x ICON \"\"\n", ":1: empty file name"},
        {"x ICON \".\"\n", ":1: \".\" is not a regular file"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Parse(c.text)) << c.text;
        ASSERT_FALSE(m_errors.empty()) << c.text;
        EXPECT_EQ(m_errors[0].rfind(where, 0), 0u) << m_errors[0];
        EXPECT_NE(m_errors[0].find(where + c.expected), std::string::npos)
            << "script:\n" << c.text << "errors:\n" << Errors();
    }
}

TEST_F(ResourceScriptTest, ReportsEveryMissingFile) {
    EXPECT_FALSE(Parse("A MISC \"a\"\nB MISC \"b\"\nC MISC \"c\"\n"));
    ASSERT_EQ(m_errors.size(), 3u) << Errors();
    EXPECT_NE(m_errors[2].find(":3:"), std::string::npos);
}

TEST_F(ResourceScriptTest, CompilesTableAssemblyAndDepfile) {
    Write("moon.bps", std::string("\x01\x00\x00\x00", 4));
    Write("sub dir/Toon #1.vsh", "vs.1.1\n");
    fs::path script = Write("script.rc", "MOON.BPS MISC \"moon.bps\"\n"
                                         "156 ICON \"sub dir/Toon #1.vsh\"\n"
                                         "\"we\\\"ird\" RCDATA \"moon.bps\"\n");
    ASSERT_TRUE(rc::LoadResourceScript(script, m_script, m_errors)) << Errors();
    rc::CompiledOutputs out;
    fs::path table = m_dir / "gen" / "table.cpp";
    ASSERT_TRUE(rc::CompileResourceScript(m_script, table, out, m_errors)) << Errors();

    EXPECT_NE(out.tableCpp.find("#include \"platform/Resources.h\""), std::string::npos);
    EXPECT_NE(out.tableCpp.find("{\"MISC\", \"MOON.BPS\", glimmerwing_resource_0, 4u}"),
              std::string::npos)
        << out.tableCpp;
    EXPECT_NE(out.tableCpp.find("{\"ICON\", \"#156\", glimmerwing_resource_1, 7u}"),
              std::string::npos);
    EXPECT_NE(out.tableCpp.find("{\"RCDATA\", \"we\\\"ird\", glimmerwing_resource_2, 4u}"),
              std::string::npos)
        << out.tableCpp;
    EXPECT_NE(out.tableCpp.find("std::span<const ResourceEntry> CompiledResourceTable()"),
              std::string::npos);

    EXPECT_NE(out.dataAsm.find(".incbin \"" + (m_dir / "moon.bps").string() + "\", 0, 4"),
              std::string::npos)
        << out.dataAsm;
    EXPECT_NE(out.dataAsm.find(".section .note.GNU-stack"), std::string::npos);
    EXPECT_NE(out.dataAsm.find(".balign 16"), std::string::npos);
    EXPECT_NE(out.dataAsm.find(".size glimmerwing_resource_1, 8"), std::string::npos)
        << "the NUL after the bytes belongs to the blob";

    const std::string expectedDep = table.string() + ": " + script.string() + " \\\n  " +
                                    (m_dir / "moon.bps").string() + " \\\n  " +
                                    (m_dir / "sub\\ dir/Toon\\ \\#1.vsh").string() + " \\\n  " +
                                    (m_dir / "moon.bps").string() + "\n";
    EXPECT_EQ(out.depfile, expectedDep);
}

TEST_F(ResourceScriptTest, EmptyScriptGivesEmptyTable) {
    ASSERT_TRUE(Parse("// nothing yet\n"));
    rc::CompiledOutputs out;
    ASSERT_TRUE(rc::CompileResourceScript(m_script, m_dir / "t.cpp", out, m_errors));
    EXPECT_NE(out.tableCpp.find("return {};"), std::string::npos);
}

TEST_F(ResourceScriptTest, RewritesOutputsOnlyWhenTheyChange) {
    fs::path content = Write("clock.fpp", "abcd");
    fs::path script = Write("script.rc", "CLOCK.FPP MISC \"clock.fpp\"\n");
    const fs::path table = m_dir / "out" / "table.cpp";
    const fs::path data = m_dir / "out" / "data.S";
    const fs::path dep = m_dir / "out" / "res.d";
    const std::vector<std::string> args = {script.string(), table.string(), data.string(),
                                           dep.string()};
    ASSERT_EQ(rc::RunResourceCompiler(args, m_errors), 0) << Errors();
    ASSERT_TRUE(fs::exists(table) && fs::exists(data) && fs::exists(dep));

    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(table, old);
    fs::last_write_time(data, old);
    ASSERT_EQ(rc::RunResourceCompiler(args, m_errors), 0) << Errors();
    EXPECT_EQ(fs::last_write_time(table), old);
    EXPECT_EQ(fs::last_write_time(data), old);

    // Same size, other bytes: the table stays, the assembly must change so
    // that the new bytes get embedded.
    const std::string asmBefore = Read(data);
    Write("clock.fpp", "abce");
    ASSERT_EQ(rc::RunResourceCompiler(args, m_errors), 0) << Errors();
    EXPECT_EQ(fs::last_write_time(table), old);
    EXPECT_NE(Read(data), asmBefore);

    // A broken script leaves the outputs alone and fails.
    const std::string tableBefore = Read(table);
    Write("script.rc", "CLOCK.FPP MISC \"clock.fpp\"\nX MISC \"gone\"\n");
    m_errors.clear();
    EXPECT_NE(rc::RunResourceCompiler(args, m_errors), 0);
    ASSERT_FALSE(m_errors.empty());
    EXPECT_NE(m_errors[0].find("script.rc:2:"), std::string::npos) << Errors();
    EXPECT_EQ(Read(table), tableBefore);
}

TEST_F(ResourceScriptTest, CommandLineProblemsFail) {
    EXPECT_NE(rc::RunResourceCompiler({"only-one"}, m_errors), 0);
    m_errors.clear();
    const std::string missing = (m_dir / "nope.rc").string();
    EXPECT_NE(rc::RunResourceCompiler({missing, "a", "b", "c"}, m_errors), 0);
    ASSERT_FALSE(m_errors.empty());
    EXPECT_NE(m_errors[0].find(missing), std::string::npos);
}

TEST_F(ResourceScriptTest, ProgramScriptParses) {
    ASSERT_TRUE(rc::LoadResourceScript(fs::path(GLIMMERWING_SOURCE_DIR) / "resources" /
                                           "glimmerwing.rc",
                                       m_script, m_errors))
        << Errors();
    bool hasIcon = false;
    for (const auto& r : m_script.resources) {
        hasIcon = hasIcon || (r.type == "ICON" && r.name == "#156");
    }
    EXPECT_TRUE(hasIcon);
}

} // namespace
