// Stored dialog templates: a template that reads must write back to the
// very same bytes, since the layout has one way to say each thing.
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/DialogTemplate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DialogTemplate dialog;
    if (!DecodeDialogTemplate(std::span<const unsigned char>(data, size), dialog)) {
        fuzzing::Check(dialog.items.empty() && dialog.caption.empty(), "a refused template leaves nothing behind");
        return 0;
    }
    std::vector<unsigned char> encoded;
    fuzzing::Check(EncodeDialogTemplate(dialog, encoded), "a template that was read can be written");
    fuzzing::Check(encoded.size() == size && std::equal(encoded.begin(), encoded.end(), data),
                   "a template writes back to the bytes it was read from");
    return 0;
}
