// What the device keeps of a vertex program and of a linked OpenGL program;
// shared by the device's own source files only.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "gfx/Device.h"
#include "gfx/VertexFormat.h"
#include "gfx/VertexProgram.h"

struct Direct3DDevice8::VertexShaderObject {
    VertexLayout layout;
    std::vector<DeclarationConstant> constants;
    bool hasProgram = false;
    VertexProgram program;    // the decoded program, run on the CPU in software vertex processing
    std::uint32_t slot = 0;   // its place among the device's vertex programs
    unsigned glShader = 0;    // translated vertex program (0 for a declaration alone)
};

struct Direct3DDevice8::Program {
    unsigned glProgram = 0;
    int locC = -1, locClip = -1, locWorld = -1, locView = -1, locProj = -1;
    int locFogStart = -1, locFogEnd = -1, locMatDiffuse = -1, locMatAmbient = -1, locMatEmissive = -1;
    int locAmbient = -1, locTFactor = -1, locFogColor = -1, locAlphaRef = -1;
    std::uint64_t constantsVersion = 0, transformsVersion = 0, materialVersion = 0, stateVersion = 0;

    // What the uniforms hold, as last uploaded: a changed version only
    // uploads the values that differ.
    struct Held {
        std::array<float, 16> value{};
        bool known = false;
    };
    enum Uniform { kWorld, kView, kProj, kMatDiffuse, kMatAmbient, kMatEmissive, kAmbient, kTFactor, kFogColor,
                   kAlphaRef, kFogStart, kFogEnd, kUniformCount };
    std::array<Held, kUniformCount> held{};
    // Sends a uniform of 1, 4 or 16 floats when it differs from what the
    // program holds; whether it did.
    bool Send(int uniform, int location, const float* value, std::size_t floats);
    std::array<std::array<float, 4>, 96> constants{};  // the constant registers c[]
    std::array<int, 96> locConstant{};                 // where c[i] is; -1 where the program does not read it
    bool constantsKnown = false;
};


// Every OpenGL object the device's resources delete counts here: a deleted
// object's name may come back for a new one, so the device forgets the
// state it recorded whenever the count has moved.
void CountGlObjectDeletion();
std::uint64_t GlObjectDeletions();
