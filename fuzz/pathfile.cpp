// The camera path file (resource type MISC): read, re-centred, evaluated
// along the whole loop and flown by the path flyer.
#include <cstdint>

#include "app/ErrLog.h"
#include "app/FrameState.h"
#include "fuzz/FuzzSupport.h"
#include "scenery/Ferguson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::UseAsResource("MISC", "FUZZ.FPP", data, size);
    g_ErrLog.ClearForTesting();
    Ferguson path;
    if (FAILED(path.InitDeviceObjects("FUZZ.FPP"))) {
        fuzzing::Check(path.GetPointCount() == 0, "a refused path holds no points");
        return 0;
    }
    fuzzing::Check(path.GetPointCount() > 0, "a read path has points");
    path.FrameMove(D3DXVECTOR3(100.0f, -50.0f, 25.0f));
    const float count = static_cast<float>(path.GetPointCount());
    for (float s = -0.5f; s < count + 1.0f; s += 0.37f) {
        D3DXVECTOR3 a, b;
        path.Evaluate(s, &a, &b);
    }
    g_fElapsedTime = 0.03f;
    PathFlyer flyer;
    for (int frame = 0; frame < 16; ++frame) flyer.FrameMove(path);
    path.DeleteDeviceObjects();
    return 0;
}
