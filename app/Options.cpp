#include "app/Options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

CommandLineOptions g_Options;

namespace {

using Field = std::optional<int> SettingOverrides::*;

constexpr struct {
    Field field;
    int Settings::*member;
} kFields[] = {
    {&SettingOverrides::intChkFPS, &Settings::intChkFPS},       {&SettingOverrides::intChkCol, &Settings::intChkCol},
    {&SettingOverrides::intDisMod, &Settings::intDisMod},       {&SettingOverrides::intAspMod, &Settings::intAspMod},
    {&SettingOverrides::intChkAnim, &Settings::intChkAnim},     {&SettingOverrides::intChkLoop, &Settings::intChkLoop},
    {&SettingOverrides::intMode, &Settings::intMode},           {&SettingOverrides::intBakGnd, &Settings::intBakGnd},
    {&SettingOverrides::intBrdNumCur, &Settings::intBrdNumCur}, {&SettingOverrides::intPtlSizCur, &Settings::intPtlSizCur},
    {&SettingOverrides::intPtlLngLif, &Settings::intPtlLngLif}, {&SettingOverrides::intPtlTexIdx, &Settings::intPtlTexIdx},
    {&SettingOverrides::intPtlRndCol, &Settings::intPtlRndCol},
};

enum class Kind { Switch, Range, Texture, Resolution, UserMode, Root, Window, WindowId, Delay, Visual, Install, Help };

struct Option {
    std::string_view name;
    Kind kind;
    Field field = nullptr;
    int value = 0;  // a switch's value; a range's low end
    int high = 0;   // a range's high end
    bool TakesValue() const {
        return kind == Kind::Range || kind == Kind::Texture || kind == Kind::Resolution || kind == Kind::WindowId ||
               kind == Kind::Delay || kind == Kind::Visual;
    }
};

constexpr Option kOptions[] = {
    {"fps", Kind::Switch, &SettingOverrides::intChkFPS, 1},
    {"no-fps", Kind::Switch, &SettingOverrides::intChkFPS, 0},
    {"blue-sky", Kind::Switch, &SettingOverrides::intChkCol, 1},
    {"no-blue-sky", Kind::Switch, &SettingOverrides::intChkCol, 0},
    {"wide", Kind::Switch, &SettingOverrides::intAspMod, 1},
    {"no-wide", Kind::Switch, &SettingOverrides::intAspMod, 0},
    {"animate", Kind::Switch, &SettingOverrides::intChkAnim, 1},
    {"no-animate", Kind::Switch, &SettingOverrides::intChkAnim, 0},
    {"loops", Kind::Switch, &SettingOverrides::intChkLoop, 1},
    {"no-loops", Kind::Switch, &SettingOverrides::intChkLoop, 0},
    {"planets", Kind::Switch, &SettingOverrides::intBakGnd, 1},
    {"no-planets", Kind::Switch, &SettingOverrides::intBakGnd, 0},
    {"long-trails", Kind::Switch, &SettingOverrides::intPtlLngLif, 1},
    {"no-long-trails", Kind::Switch, &SettingOverrides::intPtlLngLif, 0},
    {"random-colors", Kind::Switch, &SettingOverrides::intPtlRndCol, 1},
    {"no-random-colors", Kind::Switch, &SettingOverrides::intPtlRndCol, 0},
    {"birds", Kind::Range, &SettingOverrides::intBrdNumCur, 5, 50},
    {"particle-size", Kind::Range, &SettingOverrides::intPtlSizCur, 1, 100},
    {"particle-texture", Kind::Texture},
    {"resolution", Kind::Resolution},
    {"user-mode", Kind::UserMode},
    {"root", Kind::Root},
    {"window", Kind::Window},
    {"window-id", Kind::WindowId},
    {"delay", Kind::Delay},
    {"visual", Kind::Visual},
    {"install", Kind::Install},
    {"help", Kind::Help},
    {"h", Kind::Help},
};

// The particle textures in resource order.
constexpr std::string_view kTextures[] = {"dot", "shine", "cross", "bubble", "snow", "note", "ring"};

// The back-buffer sizes, by their intDisMod value (1, 2, 3).
constexpr std::string_view kResolutions[] = {"640x480", "800x600", "1024x768"};

const Option* FindOption(std::string_view name) {
    for (const Option& o : kOptions)
        if (o.name == name) return &o;
    return nullptr;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

// A decimal number, written whole and nothing else.
std::optional<double> Number(std::string_view text) {
    if (text.empty() || text.size() > 64) return std::nullopt;
    const char c = text.front();
    if (!(c == '-' || c == '+' || c == '.' || (c >= '0' && c <= '9'))) return std::nullopt;
    const std::string s(text);
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

int RoundedWithin(double v, int low, int high) {
    return static_cast<int>(std::lround(std::clamp(v, static_cast<double>(low), static_cast<double>(high))));
}

// An X window id: 0x followed by hexadecimal digits, or decimal digits.
std::optional<unsigned long> WindowNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 10) return std::nullopt;
    unsigned long long v = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return std::nullopt;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    if (v == 0 || v > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<unsigned long>(v);
}

CommandLineOptions Invalid(std::string message) {
    CommandLineOptions o;
    o.route = CommandLineOptions::Route::Invalid;
    o.error = std::move(message);
    return o;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

}  // namespace

void SettingOverrides::ApplyTo(Settings& record, SettingOverrides* replaced) const {
    for (const auto& f : kFields) {
        if (!(this->*f.field)) continue;
        if (replaced) replaced->*f.field = record.*f.member;
        record.*f.member = *(this->*f.field);
    }
}

CommandLineOptions ParseCommandLine(std::span<const char* const> args) {
    CommandLineOptions o;
    bool root = false, ownWindow = false;
    std::optional<unsigned long> windowId;
    std::vector<std::string_view> words;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i] ? args[i] : "";
        if (arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
            continue;
        }
        const bool doubleDash = arg[1] == '-';
        std::string_view name = arg.substr(doubleDash ? 2 : 1);
        std::optional<std::string_view> attached;
        if (const auto eq = name.find('='); eq != std::string_view::npos) {
            attached = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const Option* option = FindOption(name);
        if (!option) {
            // "-s" and the like are words of the Windows-style command line.
            if (doubleDash) return Invalid("unknown option " + Quoted(arg));
            words.push_back(arg);
            continue;
        }
        const std::string shown = std::string(doubleDash ? "--" : "-") + std::string(name);
        std::string_view value;
        if (option->TakesValue()) {
            if (attached) value = *attached;
            else if (i + 1 < args.size()) value = args[++i] ? args[i] : "";
            else return Invalid(Quoted(shown) + " needs a value");
        } else if (attached) {
            return Invalid(Quoted(shown) + " takes no value");
        }

        switch (option->kind) {
            case Kind::Switch:
                o.settings.*option->field = option->value;
                break;
            case Kind::Range: {
                const auto v = Number(value);
                if (!v) return Invalid(Quoted(shown) + " takes a number, not " + Quoted(value));
                o.settings.*option->field = RoundedWithin(*v, option->value, option->high);
                break;
            }
            case Kind::Texture: {
                const auto named = std::find_if(std::begin(kTextures), std::end(kTextures),
                                                [&](std::string_view t) { return SameText(t, value); });
                if (named != std::end(kTextures)) {
                    o.settings.intPtlTexIdx = static_cast<int>(named - std::begin(kTextures));
                } else if (const auto v = Number(value)) {
                    // A number outside the list reads as the first texture, as a stored one does.
                    const double index = std::round(*v);
                    o.settings.intPtlTexIdx = index >= 0.0 && index <= 6.0 ? static_cast<int>(index) : 0;
                } else {
                    return Invalid(Quoted(shown) + " takes dot, shine, cross, bubble, snow, note, ring or 0..6, not " +
                                   Quoted(value));
                }
                break;
            }
            case Kind::Resolution: {
                const auto found = std::find_if(std::begin(kResolutions), std::end(kResolutions),
                                                [&](std::string_view r) { return SameText(r, value); });
                if (found == std::end(kResolutions))
                    return Invalid(Quoted(shown) + " takes 640x480, 800x600 or 1024x768, not " + Quoted(value));
                o.settings.intDisMod = static_cast<int>(found - std::begin(kResolutions)) + 1;
                break;
            }
            case Kind::UserMode:
                o.settings.intMode = 1;
                break;
            case Kind::Root:
                root = true;
                break;
            case Kind::Window:
                ownWindow = true;
                break;
            case Kind::WindowId:
                windowId = WindowNumber(value);
                if (!windowId)
                    return Invalid(Quoted(shown) + " takes a window number (0x... or decimal), not " + Quoted(value));
                break;
            case Kind::Delay: {
                const auto v = Number(value);
                if (!v) return Invalid(Quoted(shown) + " takes a number of microseconds, not " + Quoted(value));
                const double limited =
                    std::clamp(*v, 0.0, static_cast<double>(CommandLineOptions::kMaxDelayMicroseconds));
                o.delayMicroseconds = static_cast<unsigned long>(std::lround(limited));
                break;
            }
            case Kind::Visual:
                o.notes.push_back(shown + " is ignored: the saver draws with its window's own visual");
                break;
            case Kind::Install:
                o.notes.push_back(shown + " is ignored");
                break;
            case Kind::Help:
                o.route = CommandLineOptions::Route::Help;
                return o;
        }
    }

    if (windowId) {
        o.target = HackTarget::WindowId;
        o.windowId = *windowId;
    } else if (root) {
        o.target = HackTarget::Root;
    } else if (ownWindow) {
        o.target = HackTarget::OwnWindow;
    }

    if (o.target == HackTarget::None) {
        for (std::size_t i = 0; i < words.size(); ++i) {
            if (i > 0) o.windowsCommandLine += ' ';
            o.windowsCommandLine += words[i];
        }
        return o;
    }
    if (!words.empty()) return Invalid("unexpected argument " + Quoted(words.front()));
    // The host grabs the keyboard: nobody could steer the whale.
    if (o.settings.intMode == 1 && o.target != HackTarget::OwnWindow)
        return Invalid("'--user-mode' needs a window of its own: --window, /w or /s");
    o.route = CommandLineOptions::Route::Hack;
    return o;
}

const char* UsageText() {
    return "Usage: glimmerwing [/s | /w | /c] [OPTION...]\n"
           "       glimmerwing --root | --window-id ID | --window [OPTION...]\n"
           "\n"
           "As a Windows-style saver: the stored settings, changed by the options for this run only\n"
           "  /s                    full screen\n"
           "  /w                    in a 640 x 480 window\n"
           "  /c, or nothing        the settings dialog (options do not change what it shows)\n"
           "\n"
           "As an XScreenSaver hack: the built-in settings, changed by the options; nothing is stored\n"
           "  --root                draw into $XSCREENSAVER_WINDOW, else into the root window\n"
           "  --window-id ID        draw into window ID (0x... or decimal); wins over --root\n"
           "  --window              draw into a resizable window of its own\n"
           "  --delay MICROSECONDS  pause after each frame (10000; 0: none)\n"
           "\n"
           "Settings (the defaults in brackets)\n"
           "  --birds N             birds in the flock, 5..50 [20]\n"
           "  --particle-size N     particle size in percent, 1..100 [100]\n"
           "  --particle-texture T  dot, shine, cross, bubble, snow, note, ring, or 0..6 [shine]\n"
           "  --resolution WxH      draw at 640x480, 800x600 or 1024x768 and stretch the picture\n"
           "                        over the screen or window [/s: 640x480; a hack: the window's size]\n"
           "  --[no-]loops          birds may fly loops [on]\n"
           "  --[no-]animate        animated birds and whale [on]\n"
           "  --[no-]planets        the moons and the earth [on]\n"
           "  --[no-]long-trails    longer particle trails [on]\n"
           "  --[no-]blue-sky       a dark blue sky instead of a black one [off]\n"
           "  --[no-]random-colors  particles in random colours [off]\n"
           "  --[no-]fps            the frame rate at the top left [/s and /w: on; a hack: off]\n"
           "  --[no-]wide           a 16:9 picture instead of 4:3 [off]; a hack takes its window's shape\n"
           "  --user-mode           fly the whale with W S A D E Q, the camera with the arrow and\n"
           "                        page keys (/s, /w and --window only)\n"
           "  --help                this text\n"
           "\n"
           "Options take one or two leading dashes. -visual and -install are accepted and ignored.\n";
}
