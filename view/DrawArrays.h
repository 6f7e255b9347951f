// Many floaters in one draw call: their disks and normal lines gathered into vertex
// arrays (OpenGL 1.1), so that a frame of 100,000 floaters costs two calls instead of a
// few million. Plain data, built without a rendering context.
#pragma once

#include <vector>

#include "geo/Vertex.h"

// Disks as drawDisk draws each with gluDisk (24 slices, one loop, inner radius 0): the
// same rim corners, computed as GLU computes them, the same fan of triangles with the
// same winding, the same normal at every corner, but turned into the floater's tangent
// plane here rather than by the model-view matrix. Every disk is its centre and 24 rim
// corners; its triangles are centre, rim k+1, rim k for k from 23 down to 0, the order
// and winding of GLU's fan.
struct DiskArrays {
    static constexpr int slices = 24;
    static constexpr int cornersPerDisk = slices + 1;
    static constexpr int indicesPerDisk = 3 * slices;
    // Disks per draw call: their corners are numbered by 16 bits, and each call hands the
    // GL a few hundred kilobytes to copy rather than everything at once.
    static constexpr int disksPerDraw = 2048;

    DiskArrays();
    // Adds a disk of `radius` at `position`, lying across `normal`, turned from lying
    // across `axis` as Visualize::diskTurn turns it. With an `eye` (in the disks' own
    // coordinates) a disk whose back is plainly turned to it is left out, false: with back
    // faces culled, as the view has them, it would not show.
    bool add(const geo::Vertex& position, double radius, const geo::Vertex& normal,
             const geo::Vertex& axis, const geo::Vertex* eye = nullptr);
    void clear();
    int diskCount() const { return disks; }

    std::vector<float> positions;  // x, y, z of every corner
    std::vector<float> normals;    // the disk's unit normal at each of its corners
    // Corner numbers of the triangles of disksPerDraw disks, counted from the first corner
    // of the first: every draw call of up to that many disks uses them, its arrays starting
    // at its own first disk.
    std::vector<unsigned short> indices;

private:
    int disks = 0;
};

// Line segments with a normal at each end, as drawNormal draws one with glVertex3d.
struct LineArrays {
    void add(const geo::Vertex& from, const geo::Vertex& to, const geo::Vertex& normal);
    void clear();
    int lineCount() const { return static_cast<int>(positions.size() / 6); }

    std::vector<double> positions;  // x, y, z of both ends of every line
    std::vector<float> normals;     // the line's normal at both ends
};
