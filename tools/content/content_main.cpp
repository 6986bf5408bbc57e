// glimmerwing-content [--check] <resources dir>
// Writes the generated content into the folder, or checks that it matches.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/content/ContentGen.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> out;
    std::vector<std::string> err;
    int code = content::RunContentGenerator(args, out, err);
    for (const auto& line : out) {
        std::printf("%s\n", line.c_str());
    }
    for (const auto& line : err) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    return code;
}
