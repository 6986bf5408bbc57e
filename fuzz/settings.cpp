// The settings file: read as the saver reads it at start-up, written back
// as it writes it at the end of a run, and read again. The values read back
// are the values written, and a second write changes nothing.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/Settings.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Registry.h"

namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool SameValues(const Settings& a, const Settings& b) {
    return a.intChkFPS == b.intChkFPS && a.intChkCol == b.intChkCol && a.intDisMod == b.intDisMod &&
           a.intAspMod == b.intAspMod && a.intChkAnim == b.intChkAnim && a.intChkLoop == b.intChkLoop &&
           a.intMode == b.intMode && a.intBakGnd == b.intBakGnd && a.intBrdNumCur == b.intBrdNumCur &&
           a.intPtlSizCur == b.intPtlSizCur && a.intPtlLngLif == b.intPtlLngLif &&
           a.intPtlTexIdx == b.intPtlTexIdx && a.intPtlRndCol == b.intPtlRndCol;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A private settings folder in memory: the runs write the file thousands
    // of times a second.
    const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    static std::string folder = std::string(base) + "/gw-fuzz-settings-XXXXXX";
    if (!mkdtemp(folder.data())) std::abort();
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path hive = RegistryHivePath();
    std::filesystem::create_directories(hive.parent_path());
    {
        std::ofstream out(hive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    Settings first;
    first.Load();
    if (!first.m_bLoaded) return 0;  // a file that cannot be taken is left alone
    first.Save();
    const std::string written = ReadAll(hive);

    Settings second;
    second.intBrdNumCur = first.intBrdNumCur + 1;  // so that a value not read back shows
    second.Load();
    fuzzing::Check(SameValues(first, second), "the values written are the values read back");
    second.Save();
    fuzzing::Check(ReadAll(hive) == written, "writing the same values again changes nothing");
    return 0;
}
