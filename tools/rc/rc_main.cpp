// glimmerwing-rc <script.rc> <out_table.cpp> <out_data.S> <out_depfile>
// Compiles the resource script into the sources that embed the resources.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/rc/ResourceScript.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> errors;
    int code = rc::RunResourceCompiler(args, errors);
    for (const auto& e : errors) {
        std::fprintf(stderr, "%s\n", e.c_str());
    }
    return code;
}
