// The OpenGL objects alive in the current context, as the driver sees them:
// for long runs that must not leak device objects. Asks the driver about
// every name up to a bound, so it is for an occasional look, not per frame.
#pragma once

struct GlObjectCounts {
    int buffers = 0;
    int textures = 0;
    int programs = 0;
    int shaders = 0;
    int vertexArrays = 0;
    int framebuffers = 0;
};

// Names above `maxName` are not looked at.
GlObjectCounts CountLiveGlObjects(unsigned maxName = 32768);
