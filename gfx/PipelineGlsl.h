// Small GLSL programs standing in for Direct3D's fixed-function pipeline.
//
// The device derives a key from its current state at each draw; a key names
// one program, generated the first time it is needed and kept. The vertex
// side exists for draws without a vertex program; the fragment side (texture
// stages, specular, fog, alpha test) serves every draw.
//
// Both sides talk through the same varyings as translated vertex programs:
// vsD0, vsD1 (colours), vsT0..vsT7 (texture coordinates), vsFog (fog factor,
// 1 = no fog).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "gfx/D3D8Types.h"

struct FixedVertexKey {
    DWORD fvf = 0;
    std::uint8_t lighting = 0;       // D3DRS_LIGHTING
    std::uint8_t colorVertex = 0;    // D3DRS_COLORVERTEX
    std::uint8_t diffuseSource = 0;  // D3DMCS_* of the diffuse, ambient and emissive colours
    std::uint8_t ambientSource = 0;
    std::uint8_t emissiveSource = 0;
    std::uint8_t fogLinear = 0;      // vertex fog linear in the camera-space depth
    bool operator==(const FixedVertexKey&) const = default;
};

struct StageKey {
    std::uint8_t colorOp = 0;  // 0 ends the stages (D3DTOP_DISABLE)
    std::uint8_t colorArg1 = 0;
    std::uint8_t colorArg2 = 0;
    std::uint8_t alphaOp = 0;
    std::uint8_t alphaArg1 = 0;
    std::uint8_t alphaArg2 = 0;
    std::uint8_t texCoordIndex = 0;
    std::uint8_t resultTemp = 0;  // the result goes to the temporary register
    bool operator==(const StageKey&) const = default;
};

struct FragmentKey {
    std::array<StageKey, kMaxTextureStages> stages{};
    std::uint8_t stageCount = 0;     // stages that run
    std::uint8_t specular = 0;       // D3DRS_SPECULARENABLE
    std::uint8_t fog = 0;            // D3DRS_FOGENABLE
    std::uint8_t alphaFunc = 8;      // D3DCMP_*; ALWAYS when the alpha test is off
    bool operator==(const FragmentKey&) const = default;
};

// Uniforms of the generated vertex program: uWorld, uView, uProj (Direct3D
// matrices uploaded unchanged: GLSL's column-major reading is the transpose,
// so uProj * uView * uWorld * v computes v x World x View x Proj), uFogStart,
// uFogEnd, uMatDiffuse, uMatAmbient, uMatEmissive, uAmbient, uClipControl.
std::string FixedFunctionVertexGlsl(const FixedVertexKey& key);

// Uniforms of the generated fragment program: uTex0..uTex7 (sampler units
// 0..7), uTFactor, uFogColor, uAlphaRef (0..1).
std::string FragmentGlsl(const FragmentKey& key);

// The varyings a fragment program reads besides vsD0, which every one reads:
// bits of kVarying*.
constexpr std::uint32_t kVaryingSpecular = 1u;   // vsD1
constexpr std::uint32_t kVaryingFog = 2u;        // vsFog
constexpr std::uint32_t kVaryingTexCoord0 = 4u;  // vsT0; vsTn is kVaryingTexCoord0 << n
std::uint32_t FragmentVaryings(const FragmentKey& key);

// The vertex side of a draw whose vertices a program has already processed
// on the CPU: it passes them on to the fragment program unchanged. Inputs
// (all vec4 but the fog): location 0 the clip-space position, 1 the diffuse
// colour, and those of `varyings` only: 2 the specular colour, 3 the fog
// factor (float), 4 + n the texture coordinates n. Varyings it is not given
// take the values of an output the program did not write. Uniform:
// uClipControl, as in translated programs.
std::string SoftwareVertexGlsl(std::uint32_t varyings);

// What a linked program is made of: its vertex side (a translated vertex
// program, named by its slot on the device; a generated fixed-function
// program, named by its key; or the pass-through of vertices processed on
// the CPU, named by the varyings it feeds) and its fragment side.
struct ProgramKey {
    enum class Vertex : std::uint8_t { Program, FixedFunction, Software };
    Vertex vertex = Vertex::FixedFunction;
    std::uint32_t id = 0;     // the vertex program's slot, or the software varyings
    FixedVertexKey fixed{};   // fixed function only
    FragmentKey fragment{};
    bool operator==(const ProgramKey&) const = default;
};

// Hashes for the program caches, taken from the fields (never from padding),
// so equal keys hash equally. Unequal keys may collide: the caches compare
// whole keys.
std::size_t HashOf(const FixedVertexKey& key);
std::size_t HashOf(const FragmentKey& key);
std::size_t HashOf(const ProgramKey& key);

// The hash of the program caches: the key's own, or (tests) one value for
// every key.
struct ProgramKeyHash {
    bool collide = false;
    template <class Key>
    std::size_t operator()(const Key& key) const { return collide ? 0 : HashOf(key); }
};
