// Mends the defects the advancing front can leave in the mesh of a closed surface: holes,
// slivers, bridges across empty space, pinched vertices, folds where faces lie over each
// other, and patches wound against their neighbours. It works on faces given as node
// indices, after the front, and acts only where the mesh is defective. Guarantees:
//  - a sound mesh (isSound) is left as it is, face for face and in order;
//  - otherwise the offending faces go, what is left is wound consistently along the corner
//    normals (the outward field gradients), turning a flipped patch as a whole, and every
//    hole is filled again by a front over its border and the free nodes inside it, or by
//    the best triangulation of its border alone, or in part, leaving smaller holes for the
//    next round, widening a hole that will not fill; a node the front joined to another
//    nearly at the same place (a floater just split) leaves the mesh;
//  - the faces that stay keep their order (a face turned over keeps its first corner), and
//    the new faces follow them;
//  - the result is accepted only when it is sound, keeps all but a few of the nodes the
//    front used and keeps every body of some size the front made; otherwise the faces are
//    left as the front made them, and the report shows their defects. The outer border of
//    a sample of an open surface is such a case.
#pragma once

#include <cstddef>
#include <set>
#include <utility>
#include <vector>

#include "geo/Vertex.h"
#include "mesh/MeshCheck.h"

class MeshRepair {
public:
    // Smallest corner angle of a well-shaped face, in degrees.
    static constexpr double minAngleDeg = 10.0;
    // A side longer than this many times the local spacing bridges empty space. The local
    // spacing of a vertex is the median length of the sides that meet at it, and a side is
    // judged by the smaller spacing of its two ends, so a fan of long slivers cannot vouch
    // for itself. Sound meshes of the examples stay below 1.8, a bridging fan seen in
    // practice reached 6 (docs/mesh.md).
    static constexpr double bridgeFactor = 3.0;
    // Two nodes joined by a side shorter than this many times the local spacing are one point
    // twice: a face holding both and a node about the spacing away has an angle under
    // minAngleDeg (sin 10 degrees is 0.174).
    static constexpr double duplicateFactor = 0.17;

    // One entry per node: its position and its unit normal (the outward field gradient).
    MeshRepair(const std::vector<geo::Vertex>& positions, const std::vector<geo::Vertex>& normals);

    // Closed (checkMesh), no face under minAngleDeg, no bridging side, no two faces on the
    // same three nodes.
    bool isSound(const std::vector<MeshFace>& faces) const;
    // Mends `faces` in place when they are not sound; true when they are sound afterwards.
    bool mend(std::vector<MeshFace>& faces);

    // Rounds of removing, orienting and filling, at most: a hole filled in part, or widened,
    // is tried again in the next round. A neck still sparsely sampled (two-blobs.dat at
    // density 0.3, seed 4) took 12.
    static constexpr int maxRounds = 16;
    // Borders filled without inner nodes have at most this many vertices (the search is
    // cubic in it).
    static constexpr int maxPolygon = 60;
    // A piece of the front's mesh on this many nodes or more is a body the mend must keep.
    static constexpr int minBodyNodes = 8;
    // A fill by the front takes at most this many border and inner points.
    static constexpr std::size_t maxFillPoints = 600;

private:
    // The border of a hole, in the order the fill runs along it (against the winding of the
    // faces beside it).
    struct Loop {
        std::vector<int> vertices;
    };

    bool hasBridgingSide(const MeshFace& f) const;
    double sideSpacing(int p, int q) const;
    double localSpacing(int v, const MeshEdges& edges, const std::vector<MeshFace>& faces) const;

    void markDuplicates();
    void removeFace(int f);
    void removeWithNeighbours(int f);
    void removeBadFaces();
    void orient();
    void removePinches();
    std::vector<Loop> findLoops();
    bool fillFront(const std::vector<const Loop*>& group, double gap, bool partly = false);
    bool fillPolygon(const Loop& loop);
    bool closeFront(const std::set<std::pair<int, int>>& front, const std::vector<int>& ids,
                    const std::set<std::pair<int, int>>& made, double spacing,
                    std::vector<MeshFace>& added) const;
    template <class Linked>
    bool triangulatePolygon(const std::vector<int>& polygon, double spacing, Linked&& linked,
                            std::vector<MeshFace>& out) const;
    double medianSide(const std::vector<int>& polygon) const;
    bool isGoodNewFace(const MeshFace& f, double holeSpacing) const;
    void addFace(const MeshFace& f);
    int usedNodes(const std::vector<MeshFace>& faces) const;
    // A mend may leave out this many of the nodes the front used (coincident floaters, nodes
    // a widened hole could not place): a quarter, and at least 8. Real samples lose about 1 %;
    // a mend that loses more has lost the shape.
    static int maxDroppedNodes(int used);
    bool losesABody(const std::vector<MeshFace>& before, const std::vector<MeshFace>& after) const;
    void widen(const Loop& loop);

    const std::vector<geo::Vertex>& positions_;
    const std::vector<geo::Vertex>& normals_;
    std::vector<MeshFace> faces_;
    std::vector<char> alive_;
    std::vector<int> facesAt_;     // alive faces per vertex
    std::vector<double> spacing_;  // per vertex, from the front's mesh; 0 where unknown
    std::vector<char> duplicate_;  // per vertex: a node that leaves the mesh (markDuplicates)
    MeshEdges edges_;
};
