// Samples shared by the mesh tests (the mesh checks are the library's own:
// Reconstruct::consistencyFault and checkMesh).
#pragma once

#include <array>
#include <cmath>
#include <vector>

#include "geo/Vertex.h"
#include "mesh/Reconstruct.h"

namespace meshtest {

// Fibonacci sphere: nearly uniform spacing, outward unit normals, node i at latitude
// 1 - 2 (i + 0.5) / count.
inline void addFibonacciSphere(Reconstruct& mesh, int count, double radius,
                               const geo::Vertex& centre = geo::Vertex()) {
    const double goldenAngle = 3.14159265358979323846 * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < count; ++i) {
        const double y = 1.0 - 2.0 * (i + 0.5) / count;
        const double ring = std::sqrt(1.0 - y * y);
        const geo::Vertex normal(std::cos(goldenAngle * i) * ring, y,
                                 std::sin(goldenAngle * i) * ring);
        mesh.addNode(centre + normal * radius, normal);
    }
}

// Every triangle as stored: its corner positions and normals in order.
inline std::vector<std::array<geo::Vertex, 6>> storedTriangles(Reconstruct& mesh) {
    std::vector<std::array<geo::Vertex, 6>> out;
    for (geo::Triangle* t = mesh.firstTriangle(); t; t = mesh.nextTriangle())
        out.push_back({t->corner0, t->corner1, t->corner2, t->normal0, t->normal1, t->normal2});
    return out;
}

}  // namespace meshtest
