// The window title is the program's only status display: density, floater counts and
// the state of the system, in one of three formats chosen by that state.
#pragma once

#include <string>

class ImplicitSurface;

// Everything the status line shows, read from a system at drawing time.
struct StatusInput {
    double density = 0.0;    // the density of the last simulation step
    int floaters = 0;        // N, entries of `particles`
    int stableFloaters = 0;  // S, `stableCount`
    bool stable = false;     // `isStable`
    bool meshMode = false;   // DrawTriangles or DrawEdges
    int triangles = 0;       // `triangleCount` of the mesh
};

enum class StatusFormat { Running, Triangulating, Finished };

// Running while the system moves or is shown without a mesh mode; then Triangulating
// until the mesh has a triangle, Finished after.
StatusFormat chooseStatusFormat(const StatusInput& input);

// The title text in the chosen format (at most 255 characters).
std::string statusLine(const StatusInput& input);

StatusInput statusOf(ImplicitSurface& system, double density, bool meshMode);
