#include "mesh/Reconstruct.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "geo/Check.h"
#include "mesh/MeshRepair.h"
#include "sim/Particle.h"

namespace {

// A search that has found nothing yet holds this score; candidates must beat it strictly.
constexpr double noScore = 1e300;

// The two expressions every apex candidate is judged by. The scan and the indexed search
// both call these, so they compare the very same rounded values.
double sideOf(const geo::Vertex& u, const geo::Vertex& w, const geo::Vertex& d) {
    return d.dot((u + w) * 0.5);
}

double apexScore(const geo::Vertex& u, const geo::Vertex& w) {
    return (u.squaredLength() + w.squaredLength()) * 0.5;
}

// Whether node `id` with `score` beats the best candidate so far (`result`, null for none):
// a lower score, or the same score and a smaller node order. The scans meet the nodes in
// order and keep the first of equal scores, so the index, which meets them in any order,
// breaks ties this way to choose the same node.
bool beatsBest(double score, int id, double best, const ReconNode* result) {
    return score < best || (score == best && result && id < result->order);
}

}  // namespace

// ---- ReconNode ----

ReconNode::ReconNode(const geo::Vertex& position, const geo::Vertex& normal)
    : position(position), normal(normal), edges(new geo::QList) {}

ReconNode::~ReconNode() {
    clearEdges();
    delete edges;
    delete particles;
}

void ReconNode::clearEdges() {
    for (Edge* e = firstEdge(); e; e = nextEdge()) delete e;
    edges->clear();
}

Edge* ReconNode::newEdge(ReconNode* node) {
    Edge* edge = new Edge(this, node);
    edges->append(edge);
    return edge;
}

Edge* ReconNode::findEdge(ReconNode* node) {
    for (Edge* e = firstEdge(); e; e = nextEdge())
        if (e->to == node) return e;
    return nullptr;
}

Edge* ReconNode::markEdge(ReconNode* node) {
    Edge* edge = findEdge(node);
    if (edge) {
        edge->uses = 2;
    } else {
        edge = newEdge(node);
        edge->uses = 1;
    }
    return edge;
}

bool ReconNode::isClosed() {
    if (edges->count() == 0) return false;
    for (Edge* e = firstEdge(); e; e = nextEdge())
        if (e->uses != 2) return false;
    return true;
}

bool ReconNode::isCrowdedToward(const geo::Vertex& d) {
    int count = 0;
    for (Edge* e = firstEdge(); e; e = nextEdge())
        if (e->uses == 1 && (e->to->position - position).dot(d) >= 0.0) ++count;
    return count > 2;
}

bool ReconNode::canJoin(ReconNode* a, ReconNode* b) {
    if (b->isClosed()) return false;
    const Edge* edge = a->findEdge(b);
    return !edge || edge->uses != 2;
}

// ---- ReconNodeList ----

ReconNodeList::ReconNodeList(bool shared) : nodes(new geo::QList), shared(shared) {}

ReconNodeList::~ReconNodeList() {
    clearNodes();
    delete nodes;
}

void ReconNodeList::clearNodes() {
    if (!shared)
        for (ReconNode* n = firstNode(); n; n = nextNode()) delete n;
    nodes->clear();
}

ReconNode* ReconNodeList::addNode(const geo::Vertex& position, const geo::Vertex& normal) {
    ReconNode* node = new ReconNode(position, normal);
    node->order = nodes->append(node);
    return node;
}

// ---- Reconstruct: bookkeeping ----

namespace {

// One count for every mesh of the process, so that revisions are never shared; atomic, as
// nothing ties the making of meshes to one thread.
std::atomic<std::uint64_t> lastTriangleRevision{0};

std::uint64_t nextTriangleRevision() {
    return lastTriangleRevision.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

Reconstruct::Reconstruct()
    : ReconNodeList(false),
      triangles(new geo::QList),
      edgeQueue(new geo::QList),
      triangleRevision_(nextTriangleRevision()) {}

// The queue is freed before the nodes go, and never deletes what it points to: every record
// is deleted exactly once, by the node it starts at (in the base destructor).
Reconstruct::~Reconstruct() {
    clearTriangles();
    delete triangles;
    delete edgeQueue;
}

void Reconstruct::clearNodes() {
    edgeQueue->clear();
    triangleNodes_.clear();
    ReconNodeList::clearNodes();
}

bool Reconstruct::buildNodes(ParticleList* particles) {
    if (!particles) return false;
    clearNodes();
    for (Particle* p = particles->first(); p; p = particles->next())
        addNode(p->position, p->normal);
    return true;
}

void Reconstruct::clearTriangles() {
    triangles->clear();
    triangleBlocks_.clear();
    triangleNodes_.clear();
    triangleRevision_ = nextTriangleRevision();
}

// Triangles are made by the hundred thousand and only ever freed all at once, so they are
// carved from blocks rather than allocated one by one.
geo::Triangle* Reconstruct::newTriangle() {
    constexpr int blockSize = 1024;
    const int slot = triangleCount() % blockSize;
    if (slot == 0) triangleBlocks_.push_back(std::make_unique<geo::Triangle[]>(blockSize));
    geo::Triangle* triangle = &triangleBlocks_.back()[slot];
    triangles->append(triangle);
    triangleRevision_ = nextTriangleRevision();
    return triangle;
}

Edge* Reconstruct::popEdge() {
    Edge* edge = static_cast<Edge*>(edgeQueue->first());
    if (edge) edgeQueue->removeAt(0);
    return edge;
}

// ---- Reconstruct: triangulation ----

bool Reconstruct::triangulate() {
    // A run on nodes that still hold the records of an earlier run (the same nodes
    // triangulated again) keeps records whose faces are gone; only a run on fresh nodes,
    // as every system's triangulation is, must leave records and faces in agreement.
    bool freshNodes = true;
    if (geo::dchecksOn)
        for (ReconNode* n = firstNode(); n && freshNodes; n = nextNode())
            freshNodes = n->edgeCount() == 0;
    advanceFront();
    mendMesh();
    DCHECK_NO_FAULT(freshNodes ? consistencyFault() : std::string());
    return true;
}

std::string Reconstruct::consistencyFault() {
    if (triangleNodes_.size() != static_cast<std::size_t>(triangleCount()))
        return std::to_string(triangleCount()) + " triangles but " +
               std::to_string(triangleNodes_.size()) + " faces";
    std::set<MeshFace> distinct;
    std::map<std::pair<int, int>, int> sides;  // faces on each undirected side
    for (MeshFace face : triangleNodes_) {
        for (int i = 0; i < 3; ++i) {
            const int a = face[i], b = face[(i + 1) % 3];
            if (a < 0 || a >= nodeCount() || a == b)
                return "a face with corners " + std::to_string(face[0]) + ", " +
                       std::to_string(face[1]) + ", " + std::to_string(face[2]);
            ++sides[{std::min(a, b), std::max(a, b)}];
        }
        std::sort(face.begin(), face.end());
        if (!distinct.insert(face).second)
            return "the face " + std::to_string(face[0]) + ", " + std::to_string(face[1]) + ", " +
                   std::to_string(face[2]) + " is laid twice";
    }
    for (const auto& side : sides)
        if (side.second > 2)
            return "the side " + std::to_string(side.first.first) + "-" +
                   std::to_string(side.first.second) + " borders " + std::to_string(side.second) +
                   " faces";

    std::size_t records = 0;
    int index = 0;
    for (ReconNode* node = firstNode(); node; node = nextNode(), ++index) {
        if (node->order != index)
            return "node " + std::to_string(index) + " has order " + std::to_string(node->order);
        for (int k = 0; k < node->edgeCount(); ++k, ++records) {
            const Edge* edge = node->edgeAt(k);
            const std::string name =
                "the record " + std::to_string(index) + "->" + std::to_string(edge->to->order);
            if (edge->from != node) return name + " is kept by another node";
            const Edge* twin = edge->to->findEdge(node);
            if (!twin) return name + " has no twin";
            if (twin->uses != edge->uses) return name + " and its twin count different uses";
            const auto side = sides.find(
                {std::min(node->order, edge->to->order), std::max(node->order, edge->to->order)});
            if (side == sides.end()) return name + " is the side of no face";
            if (edge->uses != std::min(side->second, 2))
                return name + " counts " + std::to_string(edge->uses) + " uses for " +
                       std::to_string(side->second) + " faces";
        }
    }
    if (records != 2 * sides.size())
        return std::to_string(records) + " edge records for " + std::to_string(sides.size()) +
               " sides: a side lacks its records or has more than two";
    return "";
}

void Reconstruct::advanceFront() {
    clearTriangles();
    edgeQueue->clear();
    // A closed sample gets about two triangles per node; one allocation instead of many.
    triangleNodes_.reserve(2 * static_cast<std::size_t>(nodeCount()));
    if (!referenceSearch) startIndex();
    while (seedTriangle()) {
        while (Edge* e = popEdge()) {
            if (e->uses == 2) continue;  // a second triangle closed it since it was queued
            ReconNode* closing = nullptr;
            ReconNode* q = apexFromNeighbours(e, &closing);
            if (!q) continue;
            const geo::Vertex d = awayDirection(e->from->position, e->to->position, q->position);
            ReconNode* c = closing ? closing : searchApex(e, d);
            if (c) addTriangle(e->from, e->to, c);
        }
    }
    stopIndex();
}

bool Reconstruct::mendMesh() {
    if (triangleNodes_.size() != static_cast<std::size_t>(triangleCount())) return false;
    std::vector<ReconNode*> nodes;
    std::vector<geo::Vertex> positions, normals;
    nodes.reserve(nodeCount());
    positions.reserve(nodeCount());
    normals.reserve(nodeCount());
    for (ReconNode* n = firstNode(); n; n = nextNode()) {
        nodes.push_back(n);
        positions.push_back(n->position);
        normals.push_back(n->normal);
    }
    MeshRepair repair(positions, normals);
    if (repair.isSound(triangleNodes_)) return true;
    std::vector<MeshFace> faces = triangleNodes_;
    const bool sound = repair.mend(faces);
    if (faces == triangleNodes_) return sound;
    // The records are made anew from the mended faces, so that they count what is there; the
    // queue, empty after a run, must not keep records that are gone.
    edgeQueue->clear();
    for (ReconNode* n : nodes) n->clearEdges();
    clearTriangles();
    for (const MeshFace& f : faces) {
        ReconNode* a = nodes[f[0]];
        ReconNode* b = nodes[f[1]];
        ReconNode* c = nodes[f[2]];
        for (auto side : {std::make_pair(a, b), std::make_pair(b, c), std::make_pair(c, a)}) {
            side.first->markEdge(side.second);
            side.second->markEdge(side.first);
        }
        appendTriangle(a, b, c);
    }
    return sound;
}

bool Reconstruct::seedTriangle() {
    ReconNode* s = firstNodeWithoutEdges();
    if (!s) return false;
    ReconNode* r = nearestJoinable(s);
    if (!r) return false;
    ReconNode* u = nearestThird(s, r);
    if (!u) return false;
    addTriangle(s, r, u);
    queueEdge(s->findEdge(r));
    return true;
}

ReconNode* Reconstruct::firstNodeWithoutEdges() {
    if (indexLive_) {
        // Records are never removed during a run, so the nodes already passed keep theirs.
        while (seedScan_ < byOrder_.size() && byOrder_[seedScan_]->edgeCount() != 0) ++seedScan_;
        return seedScan_ < byOrder_.size() ? byOrder_[seedScan_] : nullptr;
    }
    for (ReconNode* n = firstNode(); n; n = nextNode())
        if (n->edgeCount() == 0) return n;
    return nullptr;
}

ReconNode* Reconstruct::nearestJoinable(ReconNode* s) {
    double best = noScore;
    ReconNode* result = nullptr;
    if (!indexLive_) {
        for (ReconNode* t = firstNode(); t; t = nextNode()) {
            if (t == s) continue;
            const double score = (t->position - s->position).squaredLength();
            if (score < best && ReconNode::canJoin(s, t)) {
                best = score;
                result = t;
            }
        }
        return result;
    }
    // A non-finite s scores nothing below noScore, so the scan finds nothing either.
    if (!isFinite(s->position)) return nullptr;
    const ApexIndex::Query query{s->position, 0.0, geo::Vertex()};
    index_.search(query, best, [&](int id, const geo::Vertex& position) {
        if (id == s->order) return;
        const double score = (position - s->position).squaredLength();
        if (!beatsBest(score, id, best, result)) return;
        ReconNode* t = byOrder_[id];
        if (ReconNode::canJoin(s, t)) {
            best = score;
            result = t;
        }
    });
    return result;
}

ReconNode* Reconstruct::nearestThird(ReconNode* s, ReconNode* r) {
    double best = noScore;
    ReconNode* result = nullptr;
    if (!indexLive_) {
        for (ReconNode* u = firstNode(); u; u = nextNode()) {
            if (u == s || u == r) continue;
            const double score = apexScore(u->position - s->position, u->position - r->position);
            if (score < best && ReconNode::canJoin(s, u) && ReconNode::canJoin(r, u)) {
                best = score;
                result = u;
            }
        }
        return result;
    }
    if (!isFinite(s->position) || !isFinite(r->position)) return nullptr;
    const ApexIndex::Query query{(s->position + r->position) * 0.5,
                                 (r->position - s->position).squaredLength() * 0.25, geo::Vertex()};
    index_.search(query, best, [&](int id, const geo::Vertex& position) {
        if (id == s->order || id == r->order) return;
        const double score = apexScore(position - s->position, position - r->position);
        if (!beatsBest(score, id, best, result)) return;
        ReconNode* u = byOrder_[id];
        if (ReconNode::canJoin(s, u) && ReconNode::canJoin(r, u)) {
            best = score;
            result = u;
        }
    });
    return result;
}

// The walk uses a's own cursor: nothing in the loop walks a's list (findEdge walks x's) until
// the second common neighbour is met, and every branch from there returns.
// A node that already forms a triangle with a and b is the apex of e's triangle itself, never
// a hole: closing with it would lay a second copy of that face over the first.
ReconNode* Reconstruct::apexFromNeighbours(Edge* e, ReconNode** closing) {
    if (e->uses != 1) return nullptr;
    ReconNode* a = e->from;
    ReconNode* b = e->to;
    *closing = nullptr;
    ReconNode* first = nullptr;
    // Set once canJoin(a, ...) has walked a's list and moved the cursor this loop runs on.
    bool walkSpent = false;
    for (Edge* p = a->firstEdge(); p; p = a->nextEdge()) {
        DCHECK(!walkSpent,
               "the walk over a's records went on after canJoin moved its cursor: "
               "every branch after the second common neighbour must return");
        if (p == e) continue;
        ReconNode* x = p->to;
        if (!x->findEdge(b)) continue;
        if (!first) {
            first = x;
            continue;
        }
        walkSpent = true;
        if (ReconNode::canJoin(a, x) && ReconNode::canJoin(b, x) && !isApexOf(e, x)) {
            *closing = x;
            return first;
        }
        if (ReconNode::canJoin(a, first) && ReconNode::canJoin(b, first) && !isApexOf(e, first)) {
            *closing = first;
            return x;
        }
        if (x->isClosed()) return x;
        if (first->isClosed()) return first;
        return nullptr;
    }
    DCHECK(!walkSpent, "the walk over a's records ended early after canJoin moved its cursor");
    return first;
}

geo::Vertex Reconstruct::awayDirection(const geo::Vertex& a, const geo::Vertex& b,
                                       const geo::Vertex& q) {
    const geo::Vertex v = b - a;
    const double lengthSquared = v.squaredLength();
    if (lengthSquared == 0.0) return geo::Vertex();
    const double t = (q - a).dot(v) / lengthSquared;
    const geo::Vertex foot = a + v * t;
    return (foot - q).normalised();
}

ReconNode* Reconstruct::searchApex(Edge* e, const geo::Vertex& d) {
    if (e->from->isCrowdedToward(d) || e->to->isCrowdedToward(d)) return nullptr;
    return indexLive_ ? indexedApex(e, d) : scanApex(e, d);
}

// The last test keeps the face already on e from being laid twice; the others decide
// whether the triangle e.from, e.to, c may be made at all.
bool Reconstruct::admissibleApex(Edge* e, ReconNode* c) {
    ReconNode* a = e->from;
    ReconNode* b = e->to;
    return ReconNode::canJoin(a, c) && ReconNode::canJoin(b, c) &&
           triangleArea(a->position, b->position, c->position) > 0.0 && !isApexOf(e, c);
}

ReconNode* Reconstruct::scanApex(Edge* e, const geo::Vertex& d) {
    const ReconNode* a = e->from;
    const ReconNode* b = e->to;
    double best = noScore;
    ReconNode* result = nullptr;
    for (ReconNode* c = firstNode(); c; c = nextNode()) {
        if (c == a || c == b) continue;
        const geo::Vertex u = c->position - a->position;
        const geo::Vertex w = c->position - b->position;
        if (sideOf(u, w, d) < 0.0) continue;
        const double score = apexScore(u, w);
        if (score < best && admissibleApex(e, c)) {
            best = score;
            result = c;
        }
    }
    return result;
}

// The score is |c - m|^2 + |a - b|^2 / 4 for the edge midpoint m, so the winner is the
// admissible node nearest m; the index hands over every node that could still tie or win,
// and ties go to the smaller node order as in the scan.
ReconNode* Reconstruct::indexedApex(Edge* e, const geo::Vertex& d) {
    const ReconNode* a = e->from;
    const ReconNode* b = e->to;
    // Non-finite ends make every score NaN or infinite, never below noScore.
    if (!isFinite(a->position) || !isFinite(b->position)) return nullptr;
    // Coincident ends give every triangle on the edge zero area.
    if (a->position == b->position) return nullptr;
    double best = noScore;
    ReconNode* result = nullptr;
    const ApexIndex::Query query{(a->position + b->position) * 0.5,
                                 (b->position - a->position).squaredLength() * 0.25, d};
    index_.search(query, best, [&](int id, const geo::Vertex& position) {
        if (id == a->order || id == b->order) return;
        const geo::Vertex u = position - a->position;
        const geo::Vertex w = position - b->position;
        if (sideOf(u, w, d) < 0.0) return;
        const double score = apexScore(u, w);
        if (!beatsBest(score, id, best, result)) return;
        ReconNode* c = byOrder_[id];
        if (admissibleApex(e, c)) {
            best = score;
            result = c;
        }
    });
    return result;
}

// A side's records first marked here also note the corner across from it, for isApexOf.
void Reconstruct::addTriangle(ReconNode* a, ReconNode* b, ReconNode* c) {
    noteApex(a->markEdge(b), c);
    noteApex(b->markEdge(a), c);
    noteApex(c->markEdge(a), b);
    noteApex(c->markEdge(b), a);
    queueEdge(noteApex(a->markEdge(c), b));
    queueEdge(noteApex(b->markEdge(c), a));
    const geo::Vertex m = (a->normal + b->normal + c->normal) * 0.3333333333333333;
    const geo::Vertex k = (a->position - b->position).cross(a->position - c->position);
    if (k.dot(m) >= 0.0)
        appendTriangle(a, b, c);
    else
        appendTriangle(a, c, b);
    if (indexLive_) {
        retireIfClosed(a);
        retireIfClosed(b);
        retireIfClosed(c);
    }
}

void Reconstruct::appendTriangle(ReconNode* a, ReconNode* b, ReconNode* c) {
    *newTriangle() =
        geo::Triangle{a->position, b->position, c->position, a->normal, b->normal, c->normal};
    triangleNodes_.push_back({a->order, b->order, c->order});
}

Edge* Reconstruct::noteApex(Edge* edge, const ReconNode* apex) {
    if (edge->uses == 1) edge->firstApex = apex->order;
    return edge;
}

double Reconstruct::triangleArea(const geo::Vertex& p0, const geo::Vertex& p1,
                                 const geo::Vertex& p2) {
    const double l1 = (p1 - p0).length();
    const double l2 = (p2 - p0).length();
    const double l3 = (p1 - p2).length();
    const double s = (l1 + l2 + l3) * 0.5;
    const double h = s * (s - l1) * (s - l2) * (s - l3);
    return h > 0.0 ? std::sqrt(h) : 0.0;
}

// ---- Reconstruct: the index behind the fast search ----

// Closed nodes can never join a triangle again, so the index starts without them and drops
// each node as its fan completes; a node stays closed for the rest of the run.
void Reconstruct::startIndex() {
    byOrder_.clear();
    byOrder_.reserve(nodeCount());
    std::vector<geo::Vertex> positions;
    std::vector<char> include;
    positions.reserve(nodeCount());
    include.reserve(nodeCount());
    for (ReconNode* n = firstNode(); n; n = nextNode()) {
        byOrder_.push_back(n);
        positions.push_back(n->position);
        include.push_back(n->isClosed() ? 0 : 1);
    }
    index_.build(positions, include);
    seedScan_ = 0;
    indexLive_ = index_.usable();
}

void Reconstruct::stopIndex() {
    indexLive_ = false;
    index_.clear();
    byOrder_.clear();
    seedScan_ = 0;
}

void Reconstruct::retireIfClosed(ReconNode* node) {
    if (node->isClosed()) index_.remove(node->order);
}
