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

template <class T>
std::size_t HashKey(const T& key) {
    // FNV-1a over the key's bytes; keys are plain bytes without padding holes
    // that matter (they are value-initialised before use).
    const auto* p = reinterpret_cast<const unsigned char*>(&key);
    std::size_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < sizeof(T); ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}
