// The settings file. Whatever the bytes, writing the settings into them keeps
// every line the reader kept and every value it did not write, the values
// written read back, and a second write changes nothing; and the saver reads
// them as a settings file and writes its settings into it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "app/Settings.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Registry.h"
#include "tests/support/HiveRoundTrip.h"

namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The saver's own way through the disk: the settings read at start-up,
// written back at the end of the run, and found in the file.
void ThroughTheDisk(std::string_view bytes) {
    const std::filesystem::path hive = RegistryHivePath();
    {
        std::ofstream out(hive, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    Settings settings;
    settings.Load();
    if (!settings.m_bLoaded) return;  // a file that cannot be taken is left alone
    settings.intMode ^= 0x5A5A;       // so that a value not written shows
    settings.Save();
    const platform::HiveText written = platform::HiveText::Parse(ReadAll(hive));
    const platform::RegValue* mode = written.Find(testing_support::hive_round_trip::kSection, "intMode");
    fuzzing::Check(mode && mode->type == REG_DWORD && mode->bytes.size() == sizeof(int) &&
                       std::memcmp(mode->bytes.data(), &settings.intMode, sizeof(int)) == 0,
                   "the values written are in the file");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A private settings folder in memory: the runs write the file thousands
    // of times a second.
    const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    static std::string folder = std::string(base) + "/gw-fuzz-settings-XXXXXX";
    if (!mkdtemp(folder.data())) std::abort();
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    std::filesystem::create_directories(RegistryHivePath().parent_path());
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string fault = testing_support::HiveRoundTripFault(bytes);
    if (!fault.empty()) {
        std::fprintf(stderr, "%s\n", fault.c_str());
        fuzzing::Check(false, "writing the settings keeps what the file held");
    }
    if (std::getenv("GW_FUZZ_MEM_ONLY") == nullptr) ThroughTheDisk(bytes);
    return 0;
}
