// The rules a triangle mesh of a closed surface must keep, worked out from its faces alone
// (corner indices into a vertex list), so that the report, the repair and the tests judge a
// mesh by the very same code. Everything here is linear in the face count: the edges are
// gathered per vertex, never hashed, so the check costs little next to the triangulation.
#pragma once

#include <array>
#include <vector>

#include "geo/Vertex.h"

using MeshFace = std::array<int, 3>;

// The undirected edges of a set of faces and the faces around each vertex. Faces whose
// `alive` entry is 0 are left out, so a repair can drop faces without renumbering them.
class MeshEdges {
public:
    // One face's use of an edge: the side from faces[face][corner] to the next corner.
    struct Side {
        int face;
        int corner;
    };

    void build(int vertexCount, const std::vector<MeshFace>& faces,
               const std::vector<char>* alive = nullptr);

    int edgeCount() const { return static_cast<int>(low_.size()); }
    int low(int edge) const { return low_[edge]; }    // the smaller vertex index
    int high(int edge) const { return high_[edge]; }  // the larger
    int sideCount(int edge) const { return sideBegin_[edge + 1] - sideBegin_[edge]; }
    const Side& side(int edge, int i) const { return sides_[sideBegin_[edge] + i]; }
    // Two faces run along the edge the same way: they lie over each other or disagree.
    bool usedTwiceOneWay(int edge, const std::vector<MeshFace>& faces) const;
    // The edge between p and q, or -1 when no face has that side.
    int find(int p, int q) const;
    // The edges that start at the smaller vertex v, as [first, last).
    int firstEdgeAt(int v) const { return edgeBegin_[v]; }
    int lastEdgeAt(int v) const { return edgeBegin_[v + 1]; }

    int faceCountAt(int v) const { return faceBegin_[v + 1] - faceBegin_[v]; }
    int faceAt(int v, int i) const { return faceIds_[faceBegin_[v] + i]; }
    // Per vertex, the number of pieces its faces fall apart into when joined only where two
    // of them share an edge through it: 1 for a disc or half-disc, 0 for an unused vertex.
    std::vector<int> fanCounts(const std::vector<MeshFace>& faces) const;

private:
    std::vector<int> edgeBegin_;  // per vertex (by smaller end), into low_/high_
    std::vector<int> low_, high_;
    std::vector<int> sideBegin_;  // per edge, into sides_
    std::vector<Side> sides_;
    std::vector<int> faceBegin_;  // per vertex, into faceIds_
    std::vector<int> faceIds_;
};

struct MeshSoundness {
    int boundaryEdges = 0;        // undirected edges bordered by exactly one face
    int nonmanifoldEdges = 0;     // undirected edges bordered by more than two
    int nonmanifoldVertices = 0;  // vertices whose faces form more than one fan
    // Edges used twice in the same direction, plus faces wound against their corner normals.
    int orientationErrors = 0;
    int components = 0;           // pieces of the mesh joined through shared vertices
    int eulerCharacteristic = 0;  // V - E + F, V counting only the vertices that faces use
    bool closed = false;          // some face, and none of the defects above
    double minAngleDeg = 0.0;     // smallest corner angle of any face; 0 without faces
};

// The corner normals are the outward field gradients at the vertices; a face is against them
// when its winding's normal points away from their sum.
MeshSoundness checkMesh(const std::vector<geo::Vertex>& positions,
                        const std::vector<geo::Vertex>& normals,
                        const std::vector<MeshFace>& faces);
// The same with the edges of `faces` already gathered.
MeshSoundness checkMesh(const std::vector<geo::Vertex>& positions,
                        const std::vector<geo::Vertex>& normals, const std::vector<MeshFace>& faces,
                        const MeshEdges& edges);

// The cosine of the smallest corner angle of the triangle p0 p1 p2 (1 for coincident
// corners), and that angle in degrees: comparing cosines spares an arc cosine per face.
double largestCosine(const geo::Vertex& p0, const geo::Vertex& p1, const geo::Vertex& p2);
double smallestAngleDeg(const geo::Vertex& p0, const geo::Vertex& p1, const geo::Vertex& p2);
// Every corner's cosine is at most `cosine` (a positive number): no angle below its arc
// cosine. False for coincident or non-finite corners. No square root, no division: the
// soundness test runs it on every face of every mesh.
inline bool hasNoAngleBelow(const geo::Vertex& p0, const geo::Vertex& p1, const geo::Vertex& p2,
                            double cosine) {
    const geo::Vertex a = p1 - p0, b = p2 - p1, c = p0 - p2;
    const double aa = a.squaredLength(), bb = b.squaredLength(), cc = c.squaredLength();
    const double limit = cosine * cosine;
    // The corner between u and v is wide enough when u . v <= cosine |u| |v|: always when
    // the dot product is not positive, else compare squares.
    auto wide = [limit](double dot, double uu, double vv) {
        return dot <= 0.0 || dot * dot <= limit * uu * vv;
    };
    return aa > 0.0 && bb > 0.0 && cc > 0.0 && wide(-a.dot(c), aa, cc) && wide(-b.dot(a), bb, aa) &&
           wide(-c.dot(b), cc, bb);
}

// (p1 - p0) x (p2 - p0) points away from n0 + n1 + n2. False for a degenerate face.
inline bool isAgainstNormals(const geo::Vertex& p0, const geo::Vertex& p1, const geo::Vertex& p2,
                             const geo::Vertex& n0, const geo::Vertex& n1, const geo::Vertex& n2) {
    return (p1 - p0).cross(p2 - p0).dot(n0 + n1 + n2) < 0.0;
}
