// The meshes of the rigid models, as the model files carry them (see
// Models.cpp); the files themselves come from the Make... generators of
// ContentGen.h.
#pragma once

#include "tools/content/XText.h"

namespace content {

TriMesh BirdDisplayMesh();  // BIRDDAMMY02.X "displayMesh"
TriMesh BirdProxyMesh();    // BIRDDAMMY02.X "dammyMesh"
TriMesh WhaleDisplayMesh(); // WHALEDAMMY.X "displayMesh"
TriMesh WhaleProxyMesh();   // WHALEDAMMY.X "dammyMesh"

} // namespace content
