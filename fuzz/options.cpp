// The command line: the input is split at NUL bytes into arguments and
// parsed. Whatever it says, the result is one of the routes with its fields
// consistent, every setting it gives is one the dialog could store, and the
// settings laid over a record come off again exactly.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/Options.h"
#include "app/Settings.h"
#include "fuzz/FuzzSupport.h"

namespace {

bool Same(const Settings& a, const Settings& b) {
    return a.intChkFPS == b.intChkFPS && a.intChkCol == b.intChkCol && a.intDisMod == b.intDisMod &&
           a.intAspMod == b.intAspMod && a.intChkAnim == b.intChkAnim && a.intChkLoop == b.intChkLoop &&
           a.intMode == b.intMode && a.intBakGnd == b.intBakGnd && a.intBrdNumCur == b.intBrdNumCur &&
           a.intPtlSizCur == b.intPtlSizCur && a.intPtlLngLif == b.intPtlLngLif &&
           a.intPtlTexIdx == b.intPtlTexIdx && a.intPtlRndCol == b.intPtlRndCol;
}

bool Within(const std::optional<int>& v, int low, int high) { return !v || (*v >= low && *v <= high); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words(1);
    for (std::size_t i = 0; i < size && words.size() <= 64; ++i) {
        if (data[i] == 0) {
            words.emplace_back();
        } else {
            words.back() += static_cast<char>(data[i]);
        }
    }
    std::vector<const char*> args;
    for (const std::string& w : words) args.push_back(w.c_str());

    const CommandLineOptions options = ParseCommandLine(args);
    using Route = CommandLineOptions::Route;
    fuzzing::Check((options.route == Route::Invalid) == !options.error.empty(),
                   "an error comes with the invalid route and only with it");
    fuzzing::Check((options.route == Route::Hack) == (options.target != HackTarget::None),
                   "a hack has a target and nothing else has one");
    fuzzing::Check(options.delayMicroseconds <= CommandLineOptions::kMaxDelayMicroseconds,
                   "the delay stays within its bound");
    const SettingOverrides& s = options.settings;
    fuzzing::Check(Within(s.intChkFPS, 0, 1) && Within(s.intChkCol, 0, 1) && Within(s.intDisMod, 1, 3) &&
                       Within(s.intAspMod, 0, 1) && Within(s.intChkAnim, 0, 1) && Within(s.intChkLoop, 0, 1) &&
                       Within(s.intMode, 0, 1) && Within(s.intBakGnd, 0, 1) && Within(s.intBrdNumCur, 5, 50) &&
                       Within(s.intPtlSizCur, 1, 100) && Within(s.intPtlLngLif, 0, 1) &&
                       Within(s.intPtlTexIdx, 0, 6) && Within(s.intPtlRndCol, 0, 1),
                   "every setting given is one the dialog offers");

    Settings record;
    record.intBrdNumCur = 7;
    const Settings before = record;
    SettingOverrides replaced;
    options.settings.ApplyTo(record, &replaced);
    replaced.ApplyTo(record);
    fuzzing::Check(Same(record, before), "settings laid over a record come off again");
    return 0;
}
