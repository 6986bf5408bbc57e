// Glimmerwing's process entry: the command line after the program name is
// handed to WinMain as one text, the way the screen-saver host passes it.
#include <cstdio>
#include <exception>
#include <string>

#include "app/Entry.h"
#include "platform/Clock.h"
#include "platform/Process.h"
#include "platform/Resources.h"

int main(int argc, char** argv) {
    platform::PrepareProcess();
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += ' ';
        commandLine += argv[i];
    }
    platform::InitClockFromEnvironment();
    try {
        return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine.c_str(), 1);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "glimmerwing: %s\n", e.what());
    } catch (...) {
        std::fputs("glimmerwing: unexpected error\n", stderr);
    }
    return 1;
}
