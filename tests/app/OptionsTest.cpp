// The command line: which route it takes, what the options set, what is
// refused, and that every command line the XScreenSaver description can
// produce is accepted and means the program's own defaults where it leaves
// an option out.
#include "app/Options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Route = CommandLineOptions::Route;

CommandLineOptions Parse(std::vector<const char*> args) { return ParseCommandLine(args); }

// Splits an option text of the description ("--particle-texture dot") into arguments.
std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

CommandLineOptions ParseWords(const std::vector<std::string>& words) {
    std::vector<const char*> args;
    for (const auto& w : words) args.push_back(w.c_str());
    return ParseCommandLine(args);
}

// The record a hack starts from: the built-in settings with the frame rate off.
Settings HackDefaults() {
    Settings s;
    s.intChkFPS = 0;
    return s;
}

bool SameRecord(const Settings& a, const Settings& b) {
    return a.intChkFPS == b.intChkFPS && a.intChkCol == b.intChkCol && a.intDisMod == b.intDisMod &&
           a.intAspMod == b.intAspMod && a.intChkAnim == b.intChkAnim && a.intChkLoop == b.intChkLoop &&
           a.intMode == b.intMode && a.intBakGnd == b.intBakGnd && a.intBrdNumCur == b.intBrdNumCur &&
           a.intPtlSizCur == b.intPtlSizCur && a.intPtlLngLif == b.intPtlLngLif && a.intPtlTexIdx == b.intPtlTexIdx &&
           a.intPtlRndCol == b.intPtlRndCol;
}

TEST(CommandLineRoute, WordsThatAreNotOptionsKeepTheWindowsStyleScan) {
    const struct {
        std::vector<const char*> args;
        const char* text;
    } cases[] = {
        {{"/s"}, "/s"}, {{"-s"}, "-s"}, {{"x"}, "x"}, {{"/p", "1234"}, "/p 1234"}, {{}, ""}, {{"/c:1234"}, "/c:1234"},
        {{"/s", "--birds", "30", "--no-fps"}, "/s"}, {{"--blue-sky", "/w"}, "/w"}, {{"-"}, "-"},
    };
    for (const auto& c : cases) {
        const CommandLineOptions o = Parse(c.args);
        EXPECT_EQ(o.route, Route::Windows) << c.text;
        EXPECT_EQ(o.windowsCommandLine, c.text);
        EXPECT_EQ(o.target, HackTarget::None) << c.text;
    }
    const CommandLineOptions o = Parse({"/s", "--birds", "30", "--no-fps", "-visual", "default", "-install"});
    EXPECT_EQ(o.settings.intBrdNumCur, 30);
    EXPECT_EQ(o.settings.intChkFPS, 0);
    EXPECT_FALSE(o.settings.intChkCol.has_value());
    EXPECT_EQ(o.notes.size(), 2u);
}

TEST(CommandLineRoute, HackTargetsTakeOneOrTwoDashesAndTheWindowIdWins) {
    CommandLineOptions o = Parse({"--root"});
    EXPECT_EQ(o.route, Route::Hack);
    EXPECT_EQ(o.target, HackTarget::Root);
    EXPECT_EQ(o.delayMicroseconds, 10000u);

    // The settings' preview appends --window-id to the stored --root line.
    o = Parse({"-root", "--birds", "7", "--window-id", "0x2a00007"});
    EXPECT_EQ(o.target, HackTarget::WindowId);
    EXPECT_EQ(o.windowId, 0x2a00007u);
    EXPECT_EQ(o.settings.intBrdNumCur, 7);
    EXPECT_EQ(Parse({"-window-id", "44040199", "-window"}).windowId, 44040199u);
    EXPECT_EQ(Parse({"--window-id=0X1F"}).windowId, 0x1Fu);

    o = Parse({"--window", "--user-mode", "--delay", "0"});
    EXPECT_EQ(o.target, HackTarget::OwnWindow);
    EXPECT_EQ(o.settings.intMode, 1);
    EXPECT_EQ(o.delayMicroseconds, 0u);

    EXPECT_EQ(Parse({"--root", "--help"}).route, Route::Help);
    EXPECT_EQ(Parse({"-h"}).route, Route::Help);
}

TEST(CommandLineRoute, MalformedCommandLinesAreRefusedWithTheReason) {
    const struct {
        std::vector<const char*> args;
        const char* reason;
    } cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"/s", "--birds"}, "'--birds' needs a value"},
        {{"--birds", "many"}, "takes a number, not 'many'"},
        {{"--birds", ""}, "takes a number"},
        {{"--window-id", "token-from-the-desktop"}, "window number"},
        {{"--window-id", "0"}, "window number"},
        {{"--window-id", "-5"}, "window number"},
        {{"--window-id", "0x1ffffffff"}, "window number"},
        {{"--resolution", "1280x1024"}, "640x480, 800x600 or 1024x768"},
        {{"--particle-texture", "star"}, "dot, shine"},
        {{"--root=yes"}, "takes no value"},
        {{"--root", "/s"}, "unexpected argument '/s'"},
        {{"--root", "--user-mode"}, "needs a window of its own"},
        {{"--window-id", "12", "--user-mode"}, "needs a window of its own"},
        {{"--delay", "soon"}, "microseconds"},
    };
    for (const auto& c : cases) {
        const CommandLineOptions o = Parse(c.args);
        EXPECT_EQ(o.route, Route::Invalid) << c.reason;
        EXPECT_NE(o.error.find(c.reason), std::string::npos) << o.error;
    }
}

TEST(CommandLineValues, OutOfRangeValuesAreClampedAndTheLastOccurrenceWins) {
    const CommandLineOptions o =
        Parse({"--birds", "3", "--particle-size=250", "--fps", "--no-fps", "--particle-texture", "RING",
               "--particle-texture", "9", "--resolution", "800X600", "--delay", "-40", "--root"});
    EXPECT_EQ(o.settings.intBrdNumCur, 5);
    EXPECT_EQ(o.settings.intPtlSizCur, 100);
    EXPECT_EQ(o.settings.intChkFPS, 0);
    EXPECT_EQ(o.settings.intPtlTexIdx, 0);  // a number off the list reads as the first texture
    EXPECT_EQ(o.settings.intDisMod, 2);
    EXPECT_EQ(o.delayMicroseconds, 0u);
    EXPECT_EQ(Parse({"--birds", "99", "--particle-size", "0"}).settings.intBrdNumCur, 50);
    EXPECT_EQ(Parse({"--particle-size", "0"}).settings.intPtlSizCur, 1);
    EXPECT_EQ(Parse({"--delay", "1e12", "--root"}).delayMicroseconds, CommandLineOptions::kMaxDelayMicroseconds);
}

TEST(CommandLineValues, OverridesChangeOnlyTheirFieldsAndCanBeTakenBack) {
    Settings record;
    record.intBrdNumCur = 49;
    const Settings stored = record;
    const CommandLineOptions o = Parse({"/s", "--birds", "6", "--blue-sky", "--no-planets"});
    SettingOverrides replaced;
    o.settings.ApplyTo(record, &replaced);
    EXPECT_EQ(record.intBrdNumCur, 6);
    EXPECT_EQ(record.intChkCol, 1);
    EXPECT_EQ(record.intBakGnd, 0);
    EXPECT_EQ(record.intPtlSizCur, stored.intPtlSizCur);
    replaced.ApplyTo(record);
    EXPECT_TRUE(SameRecord(record, stored));
}

// ---------------------------------------------------------------------------
// The XScreenSaver description

struct Widget {
    std::string element;
    std::map<std::string, std::string> attributes;
};

std::vector<Widget> DescriptionWidgets() {
    std::ifstream in(std::string(GLIMMERWING_SOURCE_DIR) + "/linux/glimmerwing.xml");
    std::stringstream text;
    text << in.rdbuf();
    const std::string xml = text.str();
    std::vector<Widget> widgets;
    const std::regex element(R"(<(command|number|boolean|option)\b([^>]*)>)");
    const std::regex attribute(R"(([-\w]+)\s*=\s*"([^"]*)\")");
    for (std::sregex_iterator e(xml.begin(), xml.end(), element), end; e != end; ++e) {
        Widget w{(*e)[1], {}};
        const std::string attrs = (*e)[2];
        for (std::sregex_iterator a(attrs.begin(), attrs.end(), attribute); a != end; ++a) w.attributes[(*a)[1]] = (*a)[2];
        widgets.push_back(w);
    }
    return widgets;
}

TEST(XScreenSaverDescription, EveryCommandLineItProducesIsAcceptedAndItsDefaultsAreTheHacks) {
    const std::vector<Widget> widgets = DescriptionWidgets();
    ASSERT_GE(widgets.size(), 20u);
    ASSERT_EQ(widgets.front().element, "command");
    const std::vector<std::string> command = Words(widgets.front().attributes.at("arg"));
    EXPECT_EQ(command, std::vector<std::string>{"--root"});

    // Every widget's values, one at a time; and all non-default values at once.
    std::vector<std::string> everything = command;
    int defaultOptions = 0;
    auto accepted = [&](const std::vector<std::string>& extra, const std::string& what) {
        std::vector<std::string> line = command;
        line.insert(line.end(), extra.begin(), extra.end());
        const CommandLineOptions o = ParseWords(line);
        EXPECT_EQ(o.route, Route::Hack) << what << ": " << o.error;
        return o;
    };
    for (const Widget& w : widgets) {
        const auto& a = w.attributes;
        if (w.element == "number") {
            const std::string arg = a.at("arg");
            ASSERT_EQ(arg.substr(arg.size() - 2), " %") << arg;
            const std::string option = arg.substr(0, arg.size() - 2);
            for (const char* end : {"low", "high", "default"}) accepted({option, a.at(end)}, option + " " + end);
            // Left out at its default: the program's default must be the same.
            Settings withDefault = HackDefaults(), without = HackDefaults();
            const CommandLineOptions o = accepted({option, a.at("default")}, option);
            o.settings.ApplyTo(withDefault);
            EXPECT_TRUE(SameRecord(withDefault, without)) << option;
            if (option == "--delay") {
                EXPECT_EQ(o.delayMicroseconds, CommandLineOptions::kDefaultDelayMicroseconds);
            }
            everything.push_back(option);
            everything.push_back(a.at("low"));
        } else if (w.element == "boolean") {
            // arg-unset: on by default; arg-set: off by default.
            const bool onByDefault = a.count("arg-unset") != 0;
            const std::string option = onByDefault ? a.at("arg-unset") : a.at("arg-set");
            Settings changed = HackDefaults();
            accepted(Words(option), option).settings.ApplyTo(changed);
            EXPECT_FALSE(SameRecord(changed, HackDefaults())) << option << " changes nothing";
            everything.push_back(option);
        } else if (w.element == "option") {
            if (!a.count("arg-set")) {
                ++defaultOptions;
                continue;
            }
            EXPECT_NE(accepted(Words(a.at("arg-set")), a.at("arg-set")).settings, SettingOverrides{}) << a.at("arg-set");
            for (const auto& word : Words(a.at("arg-set"))) everything.push_back(word);
        }
    }
    EXPECT_EQ(defaultOptions, 2);  // each select has one default entry: the shine texture, the window's size
    accepted({everything.begin() + 1, everything.end()}, "all at once");
    // The preview pane appends its window.
    everything.push_back("--window-id");
    everything.push_back("0x3e00004");
    EXPECT_EQ(ParseWords(everything).target, HackTarget::WindowId);
}

}  // namespace
