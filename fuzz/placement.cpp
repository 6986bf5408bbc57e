// The background placement table (resource type MISC): a count and one
// world matrix per placed object, read by the background objects over a
// model that loads empty, so that every run is about the table.
#include <cstdint>
#include <string_view>
#include <vector>

#include "app/ErrLog.h"
#include "fuzz/FuzzSupport.h"
#include "model/MeshModel.h"
#include "scenery/BackGrounds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static constexpr std::string_view kEmptyModel = "xof 0302txt 0064\nFrame A { }\n";
    Direct3DDevice8* device = fuzzing::Device();
    static std::vector<ResourceEntry> table;
    table.assign(CompiledResourceTable().begin(), CompiledResourceTable().end());
    table.push_back(ResourceEntry{"MISC", "FUZZ.BPS", data, size});
    table.push_back(ResourceEntry{"MODEL", "FUZZ.X", reinterpret_cast<const unsigned char*>(kEmptyModel.data()),
                                  kEmptyModel.size()});
    SetResourceTableForTesting(table);

    g_ErrLog.ClearForTesting();
    BackGroundObjects objects;
    if (SUCCEEDED(objects.InitDeviceObjects(device, "FUZZ.X", "FUZZ.BPS"))) {
        fuzzing::Check(objects.Count() > 0 && static_cast<std::size_t>(objects.Count()) <= (size - 4) / 64,
                       "every placed object has its matrix in the table");
    }
    objects.DeleteDeviceObjects();
    SetResourceTableForTesting({});
    return 0;
}
