#include "gfx/GlObjectCount.h"

#include <epoxy/gl.h>

GlObjectCounts CountLiveGlObjects(unsigned maxName) {
    GlObjectCounts counts;
    for (GLuint name = 1; name <= maxName; ++name) {
        counts.buffers += glIsBuffer(name) ? 1 : 0;
        counts.textures += glIsTexture(name) ? 1 : 0;
        counts.programs += glIsProgram(name) ? 1 : 0;
        counts.shaders += glIsShader(name) ? 1 : 0;
        counts.vertexArrays += glIsVertexArray(name) ? 1 : 0;
        counts.framebuffers += glIsFramebuffer(name) ? 1 : 0;
    }
    return counts;
}
