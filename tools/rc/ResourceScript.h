// The resource compiler: reads a resource script in the Windows resource-
// compiler syntax and turns it into the sources that embed the resources in
// the program (a C++ table, an assembly file that pulls in the bytes, and a
// depfile for the build system).
//
// Accepted script subset:
//   // line comments and /* block comments */
//   # lines (#pragma code_page(...), #include ...) are skipped
//   LANGUAGE <primary>, <sub>            ignored
//   NAME TYPE [load flags] "file"        one file resource
// NAME is an identifier (dots allowed, CLOCK.FPP), a number (stored "#156") or
// a quoted string; TYPE is ICON, RCDATA, a number (stored "#10") or a custom
// word (MODEL, MISC). File paths are relative to the script's folder.
//   NAME DIALOG|DIALOGEX x, y, cx, cy ... BEGIN controls END
//                                        a dialog template, stored under the
//                                        type "DIALOG" (RT_DIALOG) in the
//                                        layout of platform/DialogTemplate.h
// Statements are dispatched by their type keyword; the other block statements
// (MENU, STRINGTABLE ...) are reported as unsupported. Scripts are read as
// UTF-8 (#pragma code_page(65001)); texts are stored as they are.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace rc {

// One resource of the script.
struct ScriptResource {
    std::string type;                      // as written ("ICON", "MODEL", "#10")
    std::string name;                      // as written; numbers as "#156"
    std::filesystem::path file;            // absolute path of the embedded file, or empty
    std::vector<unsigned char> inlineData; // bytes compiled from the script itself (no file)
    int line = 0;                          // line of the statement
};

struct ResourceScript {
    std::filesystem::path path;            // the script itself (absolute)
    std::vector<ScriptResource> resources; // in script order
};

// Parses script text. `scriptPath` names the script in messages and anchors
// relative file names. Every problem found is appended to `errors` as
// "file:line: message"; returns true only when there is none. Listed files
// must exist and be regular files.
bool ParseResourceScript(std::string_view text, const std::filesystem::path& scriptPath,
                         ResourceScript& out, std::vector<std::string>& errors);

// Reads and parses the script file.
bool LoadResourceScript(const std::filesystem::path& scriptPath, ResourceScript& out,
                        std::vector<std::string>& errors);

// The three generated texts.
struct CompiledOutputs {
    std::string tableCpp; // defines CompiledResourceTable()
    std::string dataAsm;  // GNU assembler source embedding the bytes
    std::string depfile;  // Make-style rule: table <- script and every embedded file
};

// Builds the outputs. Reads every embedded file (its size goes into the table,
// a hash of its bytes into the assembly, so a changed file changes the
// assembly text and gets re-embedded). `tablePath` is the target named in the
// depfile. Returns false with messages in `errors` when a file can't be read.
bool CompileResourceScript(const ResourceScript& script, const std::filesystem::path& tablePath,
                           CompiledOutputs& out, std::vector<std::string>& errors);

// Writes `content` to `path` unless the file already holds exactly that text
// (keeps timestamps, so the build does not redo what depends on it). Creates
// missing parent folders; writes through a temporary file renamed over the old
// one. Returns false with a message on failure; `changed` tells whether the
// file was written.
bool WriteFileIfChanged(const std::filesystem::path& path, std::string_view content, bool& changed,
                        std::string& error);

// Runs the whole compiler as the command line does:
// glimmerwing-rc <script.rc> <out_table.cpp> <out_data.S> <out_depfile>.
// Messages go to `errors`; returns the process exit code.
int RunResourceCompiler(const std::vector<std::string>& args, std::vector<std::string>& errors);

} // namespace rc
