// Resource scripts: parsed with two small files beside them to name, then
// compiled; every dialog the script defines must be stored in a form the
// program reads back.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/DialogTemplate.h"
#include "tools/rc/ResourceScript.h"

namespace {

std::filesystem::path ScriptFolder() {
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "gw-fuzz-rc-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        const std::filesystem::path dir(pattern);
        std::ofstream(dir / "a.bin", std::ios::binary) << "0123456789";
        std::ofstream(dir / "MODEL.X", std::ios::binary) << "xof 0302txt 0064\n";
        std::filesystem::create_directory(dir / "sub");
        std::ofstream(dir / "sub" / "b.dds", std::ios::binary) << "DDS ";
        return dir;
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path script = ScriptFolder() / "fuzz.rc";
    rc::ResourceScript parsed;
    std::vector<std::string> errors;
    const bool ok = rc::ParseResourceScript(std::string_view(reinterpret_cast<const char*>(data), size), script,
                                            parsed, errors);
    fuzzing::Check(ok == errors.empty(), "a script is accepted exactly when nothing was reported");
    if (!ok) return 0;
    for (const rc::ScriptResource& resource : parsed.resources) {
        if (resource.type != "DIALOG") continue;
        DialogTemplate dialog;
        fuzzing::Check(DecodeDialogTemplate(resource.inlineData, dialog), "a compiled dialog reads back");
    }
    rc::CompiledOutputs outputs;
    std::vector<std::string> compileErrors;
    rc::CompileResourceScript(parsed, ScriptFolder() / "table.cpp", outputs, compileErrors);
    return 0;
}
