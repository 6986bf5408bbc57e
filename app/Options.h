// The command line on Linux. Besides the Windows-style letter that a screen
// saver host passes (/s, /w, /c ...), every stored setting has an option, and
// the options of an XScreenSaver hack (--root, --window-id, --window) make the
// program draw into a window another program owns or into one of its own.
//
// Options take one or two leading dashes; valued ones take their value as the
// next argument or after '='. Arguments that are not options (and a single
// dash before a name that is no option, such as "-s") are the words of the
// Windows-style command line, scanned as they always were.
//
// ParseCommandLine is a pure function of its arguments: it reads no
// environment, opens no display and prints nothing.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/Settings.h"

// Values the command line gives stored settings, for one run only.
struct SettingOverrides {
    std::optional<int> intChkFPS;
    std::optional<int> intChkCol;
    std::optional<int> intDisMod;
    std::optional<int> intAspMod;
    std::optional<int> intChkAnim;
    std::optional<int> intChkLoop;
    std::optional<int> intMode;
    std::optional<int> intBakGnd;
    std::optional<int> intBrdNumCur;
    std::optional<int> intPtlSizCur;
    std::optional<int> intPtlLngLif;
    std::optional<int> intPtlTexIdx;
    std::optional<int> intPtlRndCol;

    // Writes the values that are set into `record`. `replaced`, when given,
    // receives the values they replaced, so that applying it puts the record
    // back as it was.
    void ApplyTo(Settings& record, SettingOverrides* replaced = nullptr) const;
    bool operator==(const SettingOverrides&) const = default;
};

// Where a hack draws.
enum class HackTarget {
    None,      // not a hack: the Windows-style route
    Root,      // $XSCREENSAVER_WINDOW, else the root window
    WindowId,  // a window named on the command line (a settings preview)
    OwnWindow, // a resizable window of its own
};

struct CommandLineOptions {
    enum class Route {
        Windows,  // the letter scan of windowsCommandLine (/s, /w, /c, nothing ...)
        Hack,     // draw into the target; settings are the defaults plus the options
        Help,     // print the usage, exit 0
        Invalid,  // print error and the usage, exit 1
    };
    static constexpr unsigned long kDefaultDelayMicroseconds = 10000;
    static constexpr unsigned long kMaxDelayMicroseconds = 10'000'000;

    Route route = Route::Windows;
    // The words that are not options, joined by blanks.
    std::string windowsCommandLine;
    HackTarget target = HackTarget::None;
    unsigned long windowId = 0;
    unsigned long delayMicroseconds = kDefaultDelayMicroseconds;
    SettingOverrides settings;
    std::string error;
    // One line for each option that was accepted and is ignored.
    std::vector<std::string> notes;
};

// `args` are the arguments after the program name.
CommandLineOptions ParseCommandLine(std::span<const char* const> args);

// The text printed by --help and after a command-line error.
const char* UsageText();

// This process's command line; the Windows-style route until main sets it.
extern CommandLineOptions g_Options;

inline bool IsHackRun() { return g_Options.route == CommandLineOptions::Route::Hack; }
