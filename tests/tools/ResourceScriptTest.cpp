#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/DialogTemplate.h"
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
        {"1 MENU\nBEGIN\nEND\n", ":1: MENU resources are not supported"},
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

TEST_F(ResourceScriptTest, CompilesDialogTemplates) {
    ASSERT_TRUE(Parse("#pragma code_page(65001)\n"
                      "176 DIALOGEX DISCARDABLE 0, 0, 211, 332\n"
                      "STYLE DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU\n"
                      "EXSTYLE WS_EX_TOOLWINDOW\n"
                      "CAPTION \"Glimmer \"\"wing\"\"\"\n"
                      "FONT 9, \"ＭＳ Ｐゴシック\", 400, 0, 0x80\n"
                      "BEGIN\n"
                      "    DEFPUSHBUTTON \"OK\", IDOK, 138, 7, 50, 14\n"
                      "    CTEXT \"two\\nlines\", 1053, 11, 8, 119, 32, SS_SUNKEN | NOT WS_GROUP\n"
                      "    GROUPBOX \"動作\", IDC_STATIC, 9, 45, 121, 80\n"
                      "    CONTROL \"自動\", 1055, \"Button\", BS_AUTORADIOBUTTON | WS_GROUP, 16, 58, 45, 15\n"
                      "    CONTROL \"\", 1061, TRACKBAR_CLASS, (TBS_BOTH | TBS_NOTICKS) | 0x10000, -1, 2, 3, 4, "
                      "WS_EX_CLIENTEDGE\n"
                      "    LISTBOX 1066, 14, 210, 102, 42, LBS_NOINTEGRALHEIGHT | WS_VSCROLL\n"
                      "END\n"
                      "177 DIALOG 1, 2, 3, 4\n"
                      "{ AUTOCHECKBOX \"c\", 9, 1, 1, 1, 1 }\n"))
        << Errors();
    ASSERT_EQ(m_script.resources.size(), 2u);
    const auto& res = m_script.resources[0];
    EXPECT_EQ(res.type, "DIALOG");
    EXPECT_EQ(res.name, "#176");
    EXPECT_TRUE(res.file.empty());

    DialogTemplate t;
    ASSERT_TRUE(DecodeDialogTemplate(res.inlineData, t));
    EXPECT_EQ(t.style, DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(t.exStyle, WS_EX_TOOLWINDOW);
    EXPECT_EQ(t.caption, "Glimmer \"wing\"");
    EXPECT_EQ(t.fontFace, "ＭＳ Ｐゴシック");
    EXPECT_EQ(t.pointSize, 9);
    EXPECT_EQ(t.weight, 400);
    EXPECT_EQ(t.charset, 0x80);
    EXPECT_EQ(t.cx, 211);
    EXPECT_EQ(t.cy, 332);
    ASSERT_EQ(t.items.size(), 6u);
    const DWORD child = WS_CHILD | WS_VISIBLE;
    EXPECT_EQ(t.items[0].id, IDOK);
    EXPECT_EQ(t.items[0].className, "BUTTON");
    EXPECT_EQ(t.items[0].style, child | BS_DEFPUSHBUTTON | WS_TABSTOP);
    EXPECT_EQ(t.items[1].text, "two\nlines");
    EXPECT_EQ(t.items[1].style, child | SS_CENTER | SS_SUNKEN); // NOT takes WS_GROUP off the defaults
    EXPECT_EQ(t.items[2].id, -1);
    EXPECT_EQ(t.items[2].text, "動作");
    EXPECT_EQ(t.items[2].style, child | BS_GROUPBOX);
    EXPECT_EQ(t.items[3].className, "Button");
    EXPECT_EQ(t.items[3].style, child | BS_AUTORADIOBUTTON | WS_GROUP);
    EXPECT_EQ(t.items[4].className, "msctls_trackbar32");
    EXPECT_EQ(t.items[4].style, child | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP);
    EXPECT_EQ(t.items[4].exStyle, WS_EX_CLIENTEDGE);
    EXPECT_EQ(t.items[4].x, -1);
    EXPECT_EQ(t.items[4].cy, 4);
    EXPECT_EQ(t.items[5].className, "LISTBOX");
    EXPECT_EQ(t.items[5].style, child | LBS_NOTIFY | WS_BORDER | LBS_NOINTEGRALHEIGHT | WS_VSCROLL);
    EXPECT_EQ(t.items[5].text, "");

    ASSERT_TRUE(DecodeDialogTemplate(m_script.resources[1].inlineData, t));
    EXPECT_EQ(t.style, WS_POPUP | WS_BORDER | WS_SYSMENU); // no STYLE: the default
    ASSERT_EQ(t.items.size(), 1u);
    EXPECT_EQ(t.items[0].style, child | BS_AUTOCHECKBOX | WS_TABSTOP);
}

TEST_F(ResourceScriptTest, ReportsMalformedDialogsWithTheirLines) {
    const std::string where = (m_dir / "script.rc").string();
    const std::string head = "1 DIALOG 0, 0, 10, 10\n";
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"1 DIALOG 0, 0, 10\nBEGIN\nEND\n", ":2: expected ',' after the width, found 'BEGIN'"},
        {"1 DIALOG 0, 0, 40000, 10\nBEGIN\nEND\n", ":1: width 40000 is out of range"},
        {head + "STYLE WS_POPUP |\n WS_BOGUS\nBEGIN\nEND\n", ":3: unknown style WS_BOGUS"},
        {head + "CAPTION Glimmerwing\nBEGIN\nEND\n", ":2: expected the caption (a quoted string)"},
        {head + "FONT 9\nBEGIN\nEND\n", ":3: expected ',' after the point size, found 'BEGIN'"},
        {head + "FONT 9, \"\"\nBEGIN\nEND\n", ":2: empty font face"},
        {head + "MENU 5\nBEGIN\nEND\n", ":2: dialog MENU statements are not supported"},
        {head + "BOGUS\nBEGIN\nEND\n", ":2: expected a dialog option or BEGIN"},
        {head + "BEGIN\n  PUSHBUTTON \"OK\", 1, 0, 0, 10, 10\n", ":4: END missing"},
        {head + "BEGIN\n  SLIDER \"x\", 1, 0, 0, 1, 1\nEND\n", ":3: expected a control statement or END"},
        {head + "BEGIN\n  PUSHBUTTON \"OK\", IDNOPE, 0, 0, 1, 1\nEND\n", ":3: expected a control id"},
        {head + "BEGIN\n  PUSHBUTTON \"OK\", 70000, 0, 0, 1, 1\nEND\n", ":3: a control id 70000 is out of range"},
        {head + "BEGIN\n  LTEXT 5, 1, 0, 0, 1, 1\nEND\n", ":3: expected the control's text"},
        {head + "BEGIN\n  CONTROL \"\", 1, NOCLASS, 0, 0, 0, 1, 1\nEND\n", ":3: expected a window class"},
        {head + "BEGIN\n  CONTROL \"\", 1, \"Button\", 0, 0, 0, 1\nEND\n", ":4: expected ',' after the width"},
        {head + "BEGIN\n  CONTROL \"\", 1, \"Button\", (BS_GROUPBOX, 0, 0, 1, 1\nEND\n",
         ":3: expected ')' to close the style expression"},
        {head + "BEGIN\nEND\n" + head + "BEGIN\nEND\n", ":4: duplicate resource 1 DIALOG"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Parse(c.text)) << c.text;
        ASSERT_FALSE(m_errors.empty()) << c.text;
        EXPECT_NE(m_errors[0].find(where + c.expected), std::string::npos)
            << "script:\n" << c.text << "errors:\n" << Errors();
    }

    // Any cut through a valid dialog is reported, never crashes or loops.
    const std::string valid = head +
                              "STYLE WS_POPUP | NOT WS_BORDER\nCAPTION \"x\"\nFONT 9, \"f\"\nBEGIN\n"
                              "  CONTROL \"a\", 1, \"Button\", (BS_AUTOCHECKBOX), 1, 2, 3, 4, 0\n"
                              "  LISTBOX 2, 1, 2, 3, 4\nEND\n";
    ASSERT_TRUE(Parse(valid)) << Errors();
    for (std::size_t n = 1; n + 4 < valid.size(); ++n) {
        EXPECT_FALSE(Parse(valid.substr(0, n))) << valid.substr(0, n);
    }
}

TEST_F(ResourceScriptTest, ProgramScriptParses) {
    ASSERT_TRUE(rc::LoadResourceScript(fs::path(GLIMMERWING_SOURCE_DIR) / "resources" /
                                           "glimmerwing.rc",
                                       m_script, m_errors))
        << Errors();
    bool hasIcon = false;
    bool hasDialog = false;
    for (const auto& r : m_script.resources) {
        hasIcon = hasIcon || (r.type == "ICON" && r.name == "#156");
        hasDialog = hasDialog || (r.type == "DIALOG" && r.name == "#176");
    }
    EXPECT_TRUE(hasIcon);
    EXPECT_TRUE(hasDialog);
}

} // namespace
