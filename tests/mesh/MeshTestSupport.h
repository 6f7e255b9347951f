// Samples and mesh checks shared by the mesh tests.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <utility>
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

// Faces laid more than once (the same three nodes in any order).
inline int duplicateFaces(const Reconstruct& mesh) {
    std::set<std::array<int, 3>> seen;
    int duplicates = 0;
    for (std::array<int, 3> f : mesh.triangleNodes()) {
        std::sort(f.begin(), f.end());
        if (!seen.insert(f).second) ++duplicates;
    }
    return duplicates;
}

// The largest number of triangles on one undirected edge, by node identity.
inline int mostTrianglesOnAnEdge(const Reconstruct& mesh) {
    std::map<std::pair<int, int>, int> count;
    int most = 0;
    for (const std::array<int, 3>& f : mesh.triangleNodes())
        for (int i = 0; i < 3; ++i) {
            const int p = std::min(f[i], f[(i + 1) % 3]);
            const int q = std::max(f[i], f[(i + 1) % 3]);
            most = std::max(most, ++count[{p, q}]);
        }
    return most;
}

// Empty when every record has a twin with the same use count and no node holds two records
// toward the same node; otherwise a description of the first violation.
inline std::string recordFault(Reconstruct& mesh) {
    std::vector<ReconNode*> nodes;
    for (ReconNode* n = mesh.firstNode(); n; n = mesh.nextNode()) nodes.push_back(n);
    for (ReconNode* n : nodes) {
        std::set<ReconNode*> targets;
        for (int i = 0; i < n->edgeCount(); ++i) {
            Edge* e = n->edgeAt(i);
            if (e->from != n) return "record in the wrong node's list";
            if (!targets.insert(e->to).second) return "two records toward one node";
            Edge* twin = e->to->findEdge(n);
            if (!twin) return "record without twin";
            if (twin->uses != e->uses) return "twin with another use count";
        }
    }
    return "";
}

}  // namespace meshtest
