// The mesh store of one system: a node per floater (position and normal copied when
// triangulation starts), directed edge records owned by their origin node, the finished
// triangles and the queue of front edges, plus the advancing-front triangulation that
// fills them. Edge records die only with their node; the queue merely refers to them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "geo/QList.h"
#include "geo/Triangle.h"
#include "geo/Vertex.h"
#include "mesh/ApexIndex.h"

class ParticleList;
class ReconNode;

// A directed link from one node to another, kept in the list of the node it starts at.
// Its twin (to -> from) always carries the same `uses`.
class Edge {
public:
    Edge(ReconNode* from, ReconNode* to) : from(from), to(to) {}

    ReconNode* from;
    ReconNode* to;
    std::uint8_t uses = 0;  // triangles bordering the edge: 1 after the first, 2 after more
    // `order` of the far corner of the first triangle made on this side, -1 before; kept by
    // the triangulation so that no face is laid twice.
    int firstApex = -1;
};

class ReconNode {
public:
    ReconNode(const geo::Vertex& position, const geo::Vertex& normal);
    // Deletes the records that start here and the particle list, if one was set.
    ~ReconNode();
    ReconNode(const ReconNode&) = delete;
    ReconNode& operator=(const ReconNode&) = delete;

    int edgeCount() const { return edges->count(); }
    Edge* edgeAt(int i) { return static_cast<Edge*>(edges->at(i)); }
    // A walk over the records with the list's own cursor: nothing may walk this node's list
    // while it runs.
    Edge* firstEdge() { return static_cast<Edge*>(edges->first()); }
    Edge* nextEdge() { return static_cast<Edge*>(edges->next()); }
    Edge* newEdge(ReconNode* node);
    // Deletes every record that starts here (the twins in other nodes stay).
    void clearEdges();
    // The first record toward `node`, or null.
    Edge* findEdge(ReconNode* node);
    // Counts one more triangle on the record toward `node`, creating it with 1 if absent;
    // an existing record goes to 2 and stays there.
    Edge* markEdge(ReconNode* node);
    // The fan around the node is complete: it has records and all of them have uses 2.
    bool isClosed();
    // More than two one-triangle records point into the half-space of d (dot >= 0).
    bool isCrowdedToward(const geo::Vertex& d);
    // A new triangle may hold both a and b: b is not closed and a -> b, if present, is not
    // yet bordered by two triangles.
    static bool canJoin(ReconNode* a, ReconNode* b);

    geo::Vertex position;
    geo::Vertex normal;                 // unit normal of the floater it was copied from
    geo::QList* edges;                  // owned Edge records starting here, in creation order
    ParticleList* particles = nullptr;  // owned when set; the triangulation never fills it
    int order = -1;  // index in the node list that created it; names the node in indexes
};

// The nodes of a mesh in the order they were added (that of the particle list they were
// copied from), which fixes every tie-break of the triangulation.
class ReconNodeList {
public:
    explicit ReconNodeList(bool shared = false);
    ~ReconNodeList();
    ReconNodeList(const ReconNodeList&) = delete;
    ReconNodeList& operator=(const ReconNodeList&) = delete;

    // Deletes every node unless the list is shared, then empties it.
    void clearNodes();
    ReconNode* addNode(const geo::Vertex& position, const geo::Vertex& normal);
    int nodeCount() const { return nodes->count(); }
    ReconNode* firstNode() { return static_cast<ReconNode*>(nodes->first()); }
    ReconNode* nextNode() { return static_cast<ReconNode*>(nodes->next()); }
    // Walks from the head: for occasional lookups, not for loops.
    ReconNode* nodeAt(int i) { return static_cast<ReconNode*>(nodes->at(i)); }
    bool isShared() const { return shared; }

protected:
    geo::QList* nodes;
    bool shared;  // false: the list owns its nodes
};

class Reconstruct : public ReconNodeList {
public:
    Reconstruct();
    ~Reconstruct();

    // Also drops the queue, whose records die with the nodes.
    // The triangles are plain copies and stay.
    void clearNodes();
    // False, changing nothing, without a list; otherwise one node per particle, in order.
    bool buildNodes(ParticleList* particles);
    void clearTriangles();
    int triangleCount() const { return triangles->count(); }
    // Changes with every change of the triangles, and no two meshes of the process ever
    // have the same one: whatever is kept from drawing a mesh (the view's display lists)
    // is known stale by it, even when a new mesh lands at the address of an old one.
    std::uint64_t triangleRevision() const { return triangleRevision_; }
    geo::Triangle* firstTriangle() { return static_cast<geo::Triangle*>(triangles->first()); }
    geo::Triangle* nextTriangle() { return static_cast<geo::Triangle*>(triangles->next()); }
    // For each triangle in creation order, the `order` of its corner nodes as stored
    // (winding included). Empty when the nodes were replaced after the triangles were made.
    const std::vector<std::array<int, 3>>& triangleNodes() const { return triangleNodes_; }

    void queueEdge(Edge* edge) { edgeQueue->append(edge); }
    // The oldest queued record, or null when the queue is empty.
    Edge* popEdge();
    int queuedEdgeCount() const { return edgeQueue->count(); }

    // Builds the mesh from the current nodes: the advancing front, then mendMesh; always
    // true. Debug and sanitizer builds check consistencyFault afterwards when the nodes had
    // no records before.
    bool triangulate();
    // The validator of a mesh just made: what is wrong, or "" when nothing is. Every face has
    // three distinct corners among the nodes and is laid once, no side borders more than
    // two faces, and the edge records agree with the faces: each has its twin with the same
    // use count, which is the number of faces on its side (at most 2), and every side has
    // its two records. Walks the node list and the records with their cursors.
    std::string consistencyFault();
    // The advancing front alone: seeds, front edges and apexes as described below, leaving
    // open whatever it cannot close.
    void advanceFront();
    // Checks the mesh the front made and, only when it is defective (open, pinched, folded,
    // with a face under 10 degrees or a side bridging empty space), mends it as MeshRepair
    // describes: the faces that stay keep their order, new ones follow, and the node records
    // are made to describe the mended faces. A sound mesh is left exactly as it is. True
    // when the mesh is sound afterwards.
    bool mendMesh();
    bool seedTriangle();
    // The apex of the triangle already on e, or null; sets *closing to a node that closes a
    // three-edge hole beside e, if there is one (left untouched when e.uses is not 1).
    ReconNode* apexFromNeighbours(Edge* e, ReconNode** closing);
    // Unit vector from q perpendicularly toward the line a-b; zero when q lies on the line
    // or a and b coincide (the line is then undefined, and no candidate is ruled out by
    // side: every triangle holding both a and b has zero area anyway).
    static geo::Vertex awayDirection(const geo::Vertex& a, const geo::Vertex& b,
                                     const geo::Vertex& q);
    // The nearest admissible node on the far side of e (seen along d), or null.
    ReconNode* searchApex(Edge* e, const geo::Vertex& d);
    void addTriangle(ReconNode* a, ReconNode* b, ReconNode* c);
    // Heron's formula; 0 for collinear or coincident corners.
    static double triangleArea(const geo::Vertex& p0, const geo::Vertex& p1, const geo::Vertex& p2);
    // Whether c is the far corner of the first triangle made on e's side. For a front edge
    // (uses 1) that is its only triangle, so this tells whether the face e.from, e.to, c exists.
    static bool isApexOf(const Edge* e, const ReconNode* c) { return e->firstApex == c->order; }

    // Scan every node for each search instead of using the spatial index. Both give the
    // same mesh; the scan is the plain reference, quadratic in the node count.
    bool referenceSearch = false;

private:
    bool admissibleApex(Edge* e, ReconNode* c);
    ReconNode* firstNodeWithoutEdges();
    ReconNode* nearestJoinable(ReconNode* s);
    ReconNode* nearestThird(ReconNode* s, ReconNode* r);
    ReconNode* scanApex(Edge* e, const geo::Vertex& d);
    ReconNode* indexedApex(Edge* e, const geo::Vertex& d);
    void startIndex();
    void stopIndex();
    void retireIfClosed(ReconNode* node);
    static Edge* noteApex(Edge* edge, const ReconNode* apex);
    void appendTriangle(ReconNode* a, ReconNode* b, ReconNode* c);
    // A triangle slot appended to `triangles`, for the caller to fill.
    geo::Triangle* newTriangle();

    geo::QList* triangles;  // owned geo::Triangle records (in triangleBlocks_), in creation order
    geo::QList* edgeQueue;  // front edges, first in first out; the records belong to nodes

    std::vector<std::unique_ptr<geo::Triangle[]>> triangleBlocks_;
    std::uint64_t triangleRevision_;
    std::vector<std::array<int, 3>> triangleNodes_;

    // Live only inside triangulate when the fast search is on.
    bool indexLive_ = false;
    ApexIndex index_;
    std::vector<ReconNode*> byOrder_;
    std::size_t seedScan_ = 0;  // nodes before it all have records, and records never go
};
