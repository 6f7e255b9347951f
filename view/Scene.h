// The draw decisions of a frame, as plain functions of a system's state, and the one
// counter of the progressive mesh view.
#pragma once

// How many triangles the progressive mesh view shows this frame; back to 1 whenever a
// system is drawn in the simulation view.
extern int progressCount;

enum class SceneView { Simulation, Mesh };

// The mesh replaces blobs and floaters once the system is stable and a mesh mode is on.
SceneView chooseView(bool stable, bool meshMode);

// The number of triangles the mesh view draws out of `triangleCount`.
int trianglesShown(bool progressive, int triangleCount, int progress);

// `progress` after a frame of the mesh view: one more while triangles remain hidden, so it
// stops at triangleCount + 1.
int nextProgress(bool progressive, int triangleCount, int progress);
