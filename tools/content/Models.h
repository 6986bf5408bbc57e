// The meshes of the rigid models, as the model files carry them (see
// Models.cpp); the files themselves come from the Make... generators of
// ContentGen.h.
#pragma once

#include <vector>

#include "tools/content/XText.h"

namespace content {

// The right flipper's axis, from where it leaves the chest to its tip; the
// left one is its mirror image.
inline constexpr Float3 kWhaleFlipperRoot{0.75, -0.40, 1.70};
inline constexpr Float3 kWhaleFlipperTip{2.05, -0.85, 0.85};

TriMesh BirdDisplayMesh();  // BIRDDAMMY02.X "displayMesh"
// The same mesh in its pieces, in the order it appends them: body with neck
// and head, beak, right wing (+x), left wing, tail.
std::vector<TriMesh> BirdDisplayParts();
TriMesh BirdProxyMesh();    // BIRDDAMMY02.X "dammyMesh"
TriMesh WhaleDisplayMesh(); // WHALEDAMMY.X "displayMesh"
// The same mesh in its pieces, in the order it appends them: body, flukes,
// right flipper (+x), left flipper, dorsal fin.
std::vector<TriMesh> WhaleDisplayParts();
TriMesh WhaleProxyMesh();   // WHALEDAMMY.X "dammyMesh"

} // namespace content
