// The mesh store of one system: a node per floater (position and normal copied when
// triangulation starts), directed edge records owned by their origin node, the finished
// triangles and the queue of front edges.
#pragma once

#include "geo/QList.h"
#include "geo/Triangle.h"
#include "geo/Vertex.h"

class ParticleList;

class Reconstruct {
public:
    Reconstruct();
    ~Reconstruct();
    Reconstruct(const Reconstruct&) = delete;
    Reconstruct& operator=(const Reconstruct&) = delete;

    bool buildNodes(ParticleList* particles);
    bool triangulate();
    void clearTriangles();
    int triangleCount() const;
    geo::Triangle* firstTriangle();
    geo::Triangle* nextTriangle();
};
