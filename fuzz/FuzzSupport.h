// What the fuzz targets share: a device on a hidden window, the input as a
// resource of the program, and a check that stops the run like a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "tests/support/TestDevice.h"
#include "tests/support/TestResources.h"

namespace fuzzing {

// A property every input must keep; a broken one is a finding.
inline void Check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// One device for the whole run, on a hidden 160 x 120 window. Without a
// display the run cannot test what it is for, so it stops.
inline Direct3DDevice8* Device() {
    static testing_support::TestDevice* device = [] {
        auto* d = new testing_support::TestDevice();  // lives until the process ends
        if (FAILED(d->Create(D3DCREATE_HARDWARE_VERTEXPROCESSING))) {
            std::fputs("fuzz: this target needs an X display with OpenGL 3.3 (run it under xvfb-run)\n", stderr);
            std::exit(1);
        }
        return d;
    }();
    return device->Device();
}

// Makes the input the program's resource `name` of type `type`, next to
// every compiled resource, until the next call.
inline void UseAsResource(const char* type, const char* name, const unsigned char* data, std::size_t size) {
    static testing_support::ExtraResources resources;
    resources.Use(type, {{name, std::string(reinterpret_cast<const char*>(data), size)}});
}

}  // namespace fuzzing
