// Glimmerwing's process entry: the options are taken out of the command line;
// a hack's run starts here, and the words that remain are handed to WinMain
// as one text, the way a Windows screen-saver host passes it.
#include <cstdio>
#include <exception>
#include <span>

#include "app/Entry.h"
#include "app/Hack.h"
#include "app/Options.h"
#include "platform/Clock.h"
#include "platform/Process.h"
#include "platform/Resources.h"

int main(int argc, char** argv) {
    platform::PrepareProcess();
    g_Options = ParseCommandLine(std::span<const char* const>(argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0)));
    switch (g_Options.route) {
        case CommandLineOptions::Route::Help:
            std::fputs(UsageText(), stdout);
            return 0;
        case CommandLineOptions::Route::Invalid:
            std::fprintf(stderr, "glimmerwing: %s\n\n%s", g_Options.error.c_str(), UsageText());
            return 1;
        default:
            break;
    }
    for (const auto& note : g_Options.notes) std::fprintf(stderr, "glimmerwing: %s\n", note.c_str());

    platform::InitClockFromEnvironment();
    try {
        if (g_Options.route == CommandLineOptions::Route::Hack) {
            g_hInstance = GetModuleHandleA(nullptr);
            return RunHack(g_Options);
        }
        return WinMain(GetModuleHandleA(nullptr), nullptr, g_Options.windowsCommandLine.c_str(), 1);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "glimmerwing: %s\n", e.what());
    } catch (...) {
        std::fputs("glimmerwing: unexpected error\n", stderr);
    }
    return 1;
}
