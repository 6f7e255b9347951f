#include "mesh/MeshRepair.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <numeric>
#include <set>
#include <utility>

namespace {

// The cosine of minAngleDeg: a face whose largest corner cosine is above it is a sliver.
const double maxCosine = std::cos(MeshRepair::minAngleDeg * 3.14159265358979323846 / 180.0);

// ---- Plane geometry for the fill, each front edge seen in its own plane ----

struct Point2 {
    double x;
    double y;
};

double orient2(const Point2& a, const Point2& b, const Point2& c) {
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// Whether c lies on the closed segment a-b, given that the three are collinear.
bool onSegment(const Point2& a, const Point2& b, const Point2& c) {
    return std::min(a.x, b.x) <= c.x && c.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= c.y &&
           c.y <= std::max(a.y, b.y);
}

// Segments a-b and c-d meet anywhere, touching included: a fill only ever asks about
// segments without a shared end, and treats a touch as a crossing to stay on the safe side.
bool segmentsMeet(const Point2& a, const Point2& b, const Point2& c, const Point2& d) {
    const double o1 = orient2(a, b, c), o2 = orient2(a, b, d);
    const double o3 = orient2(c, d, a), o4 = orient2(c, d, b);
    if (((o1 > 0 && o2 < 0) || (o1 < 0 && o2 > 0)) && ((o3 > 0 && o4 < 0) || (o3 < 0 && o4 > 0)))
        return true;
    return (o1 == 0 && onSegment(a, b, c)) || (o2 == 0 && onSegment(a, b, d)) ||
           (o3 == 0 && onSegment(c, d, a)) || (o4 == 0 && onSegment(c, d, b));
}

using Directed = std::pair<int, int>;

// The median of a few lengths, the larger middle one of an even count.
double median(std::vector<double>& values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// The corner of a face across its side that starts at `corner`.
int thirdCorner(const MeshFace& f, int corner) {
    return f[(corner + 2) % 3];
}

}  // namespace

MeshRepair::MeshRepair(const std::vector<geo::Vertex>& positions,
                       const std::vector<geo::Vertex>& normals)
    : positions_(positions), normals_(normals) {}

// The median length of the sides that meet at v (the larger middle one of an even count).
double MeshRepair::localSpacing(int v, const MeshEdges& edges,
                                const std::vector<MeshFace>& faces) const {
    std::vector<int> neighbours;
    for (int i = 0; i < edges.faceCountAt(v); ++i)
        for (int w : faces[edges.faceAt(v, i)])
            if (w != v) neighbours.push_back(w);
    if (neighbours.empty()) return 0.0;
    std::sort(neighbours.begin(), neighbours.end());
    neighbours.erase(std::unique(neighbours.begin(), neighbours.end()), neighbours.end());
    std::vector<double> lengths;
    for (int w : neighbours) lengths.push_back((positions_[v] - positions_[w]).length());
    return median(lengths);
}

double MeshRepair::sideSpacing(int p, int q) const {
    const double a = spacing_[p], b = spacing_[q];
    if (a > 0.0 && b > 0.0) return std::min(a, b);
    return std::max(a, b);  // the one that is known, or 0
}

bool MeshRepair::hasBridgingSide(const MeshFace& f) const {
    for (int i = 0; i < 3; ++i) {
        const int p = f[i], q = f[(i + 1) % 3];
        const double bound = bridgeFactor * sideSpacing(p, q);
        if (bound > 0.0 && (positions_[p] - positions_[q]).length() > bound) return true;
    }
    return false;
}

// The rules of checkMesh (closed), of the sliver and bridge tests and of the pillow test,
// worked out on the half-edges leaving each vertex rather than on gathered edges: this runs
// after every triangulation, so it allocates little and stops at the first fault.
bool MeshRepair::isSound(const std::vector<MeshFace>& faces) const {
    const int vertexCount = static_cast<int>(positions_.size());
    if (faces.empty()) return false;
    for (const MeshFace& f : faces) {
        for (int v : f)
            if (v < 0 || v >= vertexCount) return false;
        const geo::Vertex& p0 = positions_[f[0]];
        const geo::Vertex& p1 = positions_[f[1]];
        const geo::Vertex& p2 = positions_[f[2]];
        if (!hasNoAngleBelow(p0, p1, p2, maxCosine)) return false;  // also a repeated corner
        if (isAgainstNormals(p0, p1, p2, normals_[f[0]], normals_[f[1]], normals_[f[2]]))
            return false;
    }

    // Each half-edge v -> to of a face (v, to, third), grouped by v.
    struct HalfEdge {
        int to;
        int third;
    };
    std::vector<int> begin(vertexCount + 1, 0);
    for (const MeshFace& f : faces)
        for (int v : f) ++begin[v + 1];
    std::partial_sum(begin.begin(), begin.end(), begin.begin());
    std::vector<HalfEdge> out(3 * faces.size());
    for (const MeshFace& f : faces) {
        out[begin[f[0]]++] = HalfEdge{f[1], f[2]};
        out[begin[f[1]]++] = HalfEdge{f[2], f[0]};
        out[begin[f[2]]++] = HalfEdge{f[0], f[1]};
    }
    for (int v = vertexCount; v > 0; --v) begin[v] = begin[v - 1];
    begin[0] = 0;
    const HalfEdge* const base = out.data();

    // Each side once this way (a second use, or a third face, repeats the target) and once
    // the other way, by a face on other nodes. The twin is looked up from the smaller end
    // only; as no end repeats a target, the sides then pair off exactly when half of them
    // found a twin.
    std::vector<double> shortest(vertexCount, HUGE_VAL), longest(vertexCount, 0.0);  // squared
    std::size_t paired = 0;
    for (int v = 0; v < vertexCount; ++v) {
        const HalfEdge* const first = base + begin[v];
        const HalfEdge* const last = base + begin[v + 1];
        if (first == last) continue;
        const geo::Vertex& at = positions_[v];
        double nearest = HUGE_VAL, farthest = 0.0;
        for (const HalfEdge* h = first; h < last; ++h) {
            const int to = h->to;
            for (const HalfEdge* g = first; g < h; ++g)
                if (g->to == to) return false;
            const double squared = (at - positions_[to]).squaredLength();
            nearest = std::min(nearest, squared);
            farthest = std::max(farthest, squared);
            if (to < v) continue;
            const HalfEdge* twin = base + begin[to];
            const HalfEdge* const end = base + begin[to + 1];
            while (twin < end && twin->to != v) ++twin;
            if (twin == end || twin->third == h->third) return false;
            ++paired;
        }
        shortest[v] = nearest;
        longest[v] = farthest;
        // One fan: from each face the next round v is the one across its other side at v,
        // and the round must take in every face before it closes.
        int to = first->to;
        for (std::ptrdiff_t step = 1; step <= last - first; ++step) {
            const HalfEdge* h = first;
            while (h < last && h->to != to) ++h;
            if (h == last) return false;
            to = h->third;
            if ((to == first->to) != (step == last - first)) return false;
        }
    }
    if (2 * paired != out.size()) return false;

    // Bridges. A side within the bound of the shortest sides at its ends is within that of
    // their medians. So first, without positions: is v's longest side within the bound of
    // the shortest side at v and at each neighbour? Only where it is not are the sides
    // measured one by one, and a median worked out only for an end of a longer side. In
    // squares, and a hair inside the bound, so rounding cannot let a bridge by.
    const double bound = 0.999 * bridgeFactor * bridgeFactor;
    auto spacingOf = [&](int v) {
        std::vector<double> lengths;
        for (int k = begin[v]; k < begin[v + 1]; ++k)
            lengths.push_back((positions_[v] - positions_[out[k].to]).length());
        return median(lengths);
    };
    for (int v = 0; v < vertexCount; ++v) {
        double least = shortest[v];
        for (int k = begin[v]; k < begin[v + 1]; ++k) least = std::min(least, shortest[out[k].to]);
        if (longest[v] <= bound * least) continue;
        for (int k = begin[v]; k < begin[v + 1]; ++k) {
            const int w = out[k].to;
            const double squared = (positions_[v] - positions_[w]).squaredLength();
            if (squared <= bound * std::min(shortest[v], shortest[w])) continue;
            if (std::sqrt(squared) > bridgeFactor * std::min(spacingOf(v), spacingOf(w)))
                return false;
        }
    }
    return true;
}

// ---- Removing faces ----

void MeshRepair::removeFace(int f) {
    if (!alive_[f]) return;
    alive_[f] = 0;
    for (int v : faces_[f]) --facesAt_[v];
}

// The face and the faces across its sides: a sliver's hole then has room for other diagonals.
void MeshRepair::removeWithNeighbours(int f) {
    const MeshFace t = faces_[f];
    for (int i = 0; i < 3; ++i) {
        const int e = edges_.find(t[i], t[(i + 1) % 3]);
        if (e < 0) continue;
        for (int k = 0; k < edges_.sideCount(e); ++k) removeFace(edges_.side(e, k).face);
    }
    removeFace(f);
}

// Of two nodes the front joined by a side much shorter than the spacing there, the later
// one is a duplicate: a floater just split off its parent has not yet moved away from it.
// No well-shaped face can hold both, and a hole with both on its border cannot be filled, so
// the later one leaves the mesh. Of a cluster, the earliest node stays.
void MeshRepair::markDuplicates() {
    duplicate_.assign(positions_.size(), 0);
    for (int e = 0; e < edges_.edgeCount(); ++e) {
        const int p = edges_.low(e), q = edges_.high(e);
        if ((positions_[p] - positions_[q]).length() < duplicateFactor * sideSpacing(p, q))
            duplicate_[q] = 1;
    }
}

// Slivers with the faces across their sides, bridges, every face on an edge that has more
// than two, and the faces of duplicate nodes. Faces wound the wrong way are left to orient,
// which may turn them.
void MeshRepair::removeBadFaces() {
    edges_.build(static_cast<int>(positions_.size()), faces_, &alive_);
    std::vector<int> bad, slivers;
    for (int f = 0; f < static_cast<int>(faces_.size()); ++f) {
        if (!alive_[f]) continue;
        const MeshFace& t = faces_[f];
        if (duplicate_[t[0]] || duplicate_[t[1]] || duplicate_[t[2]])
            bad.push_back(f);
        else if (!hasNoAngleBelow(positions_[t[0]], positions_[t[1]], positions_[t[2]], maxCosine))
            slivers.push_back(f);
        else if (hasBridgingSide(t))
            bad.push_back(f);
    }
    for (int e = 0; e < edges_.edgeCount(); ++e)
        if (edges_.sideCount(e) > 2)
            for (int i = 0; i < edges_.sideCount(e); ++i) bad.push_back(edges_.side(e, i).face);
    for (int f : slivers) removeWithNeighbours(f);
    for (int f : bad) removeFace(f);
}

// Turns faces over so that every edge with two faces is used once each way, then turns each
// connected piece so that most of its faces agree with the normals; faces on an edge that no
// choice can make consistent (a twisted band) and faces still against the normals go.
void MeshRepair::orient() {
    const int faceCount = static_cast<int>(faces_.size());
    const int vertexCount = static_cast<int>(positions_.size());
    std::vector<int> flip(faceCount);
    std::vector<int> piece(faceCount);
    bool firstClash = true;
    for (;;) {
        edges_.build(vertexCount, faces_, &alive_);
        std::fill(flip.begin(), flip.end(), -1);
        std::vector<int> conflicts;
        std::vector<int> stack;
        int pieces = 0;
        for (int start = 0; start < faceCount; ++start) {
            if (!alive_[start] || flip[start] >= 0) continue;
            flip[start] = 0;
            piece[start] = pieces++;
            stack.push_back(start);
            while (!stack.empty()) {
                const int f = stack.back();
                stack.pop_back();
                for (int i = 0; i < 3; ++i) {
                    const int p = faces_[f][i], q = faces_[f][(i + 1) % 3];
                    const int e = edges_.find(p, q);
                    if (e < 0 || edges_.sideCount(e) != 2) continue;
                    const MeshEdges::Side& s0 = edges_.side(e, 0);
                    const MeshEdges::Side& other = s0.face == f ? edges_.side(e, 1) : s0;
                    const int g = other.face;
                    // g runs p -> q as stored when its side starts at p.
                    const bool sameAsStored = faces_[g][other.corner] == p;
                    const int wanted = flip[f] ^ (sameAsStored ? 1 : 0);
                    if (flip[g] < 0) {
                        flip[g] = wanted;
                        piece[g] = piece[f];
                        stack.push_back(g);
                    } else if (flip[g] != wanted) {
                        conflicts.push_back(f);
                        conflicts.push_back(g);
                    }
                }
            }
        }
        if (conflicts.empty()) {
            std::vector<int> vote(pieces, 0);
            for (int f = 0; f < faceCount; ++f) {
                if (!alive_[f]) continue;
                const MeshFace& t = faces_[f];
                const bool against =
                    isAgainstNormals(positions_[t[0]], positions_[t[1]], positions_[t[2]],
                                     normals_[t[0]], normals_[t[1]], normals_[t[2]]);
                vote[piece[f]] += (against != (flip[f] == 1)) ? -1 : 1;
            }
            for (int f = 0; f < faceCount; ++f) {
                if (!alive_[f]) continue;
                if ((flip[f] == 1) != (vote[piece[f]] < 0)) std::swap(faces_[f][1], faces_[f][2]);
            }
            break;
        }
        // A fold or a twisted band. The first time, the faces on the sides used twice one
        // way go: that is where the front laid faces over each other. Should some choice
        // still clash, the faces where it does go as well.
        if (firstClash) {
            firstClash = false;
            std::vector<int> doubled;
            for (int e = 0; e < edges_.edgeCount(); ++e)
                if (edges_.usedTwiceOneWay(e, faces_))
                    for (int i = 0; i < edges_.sideCount(e); ++i)
                        doubled.push_back(edges_.side(e, i).face);
            if (!doubled.empty()) conflicts.swap(doubled);
        }
        for (int f : conflicts) removeFace(f);
    }
    edges_.build(vertexCount, faces_, &alive_);
    std::vector<int> against;
    for (int f = 0; f < faceCount; ++f) {
        if (!alive_[f]) continue;
        const MeshFace& t = faces_[f];
        if (isAgainstNormals(positions_[t[0]], positions_[t[1]], positions_[t[2]], normals_[t[0]],
                             normals_[t[1]], normals_[t[2]]))
            against.push_back(f);
    }
    for (int f : against) removeFace(f);
}

// A vertex whose faces form several fans is a pinch; taking all its faces away leaves each
// hole with a simple border. Removing them may pinch a neighbour, hence the repeat.
void MeshRepair::removePinches() {
    const int vertexCount = static_cast<int>(positions_.size());
    for (bool changed = true; changed;) {
        changed = false;
        edges_.build(vertexCount, faces_, &alive_);
        const std::vector<int> fans = edges_.fanCounts(faces_);
        for (int v = 0; v < vertexCount; ++v) {
            if (fans[v] <= 1) continue;
            for (int i = 0; i < edges_.faceCountAt(v); ++i) removeFace(edges_.faceAt(v, i));
            changed = true;
        }
    }
}

// The borders of the holes, each in the order the fill runs along it (against the winding of
// the faces beside it). Every border vertex has one fan, so it has one border edge out.
std::vector<MeshRepair::Loop> MeshRepair::findLoops() {
    const int vertexCount = static_cast<int>(positions_.size());
    edges_.build(vertexCount, faces_, &alive_);
    std::vector<int> next(vertexCount, -1);
    std::vector<char> broken(vertexCount, 0);
    for (int e = 0; e < edges_.edgeCount(); ++e) {
        if (edges_.sideCount(e) != 1) continue;
        const MeshEdges::Side& side = edges_.side(e, 0);
        const int p = faces_[side.face][side.corner];
        const int q = faces_[side.face][(side.corner + 1) % 3];
        if (next[q] >= 0) broken[q] = 1;
        next[q] = p;
    }
    std::vector<Loop> loops;
    std::vector<char> seen(vertexCount, 0);
    for (int start = 0; start < vertexCount; ++start) {
        if (next[start] < 0 || seen[start]) continue;
        Loop loop;
        bool whole = true;
        int v = start;
        while (!seen[v]) {
            seen[v] = 1;
            if (broken[v]) whole = false;
            loop.vertices.push_back(v);
            v = next[v];
            if (v < 0) {
                whole = false;
                break;
            }
        }
        if (whole && v == start) loops.push_back(std::move(loop));
    }
    return loops;
}

// Fills the region beside the given borders (the first one and any others lying within its
// reach, such as an island left inside a hole) with the free nodes over it, by a front that
// starts on the borders. Each front edge a -> b is judged in the plane of the mean normal of
// its ends: it takes the point on its left that sees it under the largest angle (the
// constrained Delaunay choice), provided the new sides cross no front edge there, the face
// holds no other point, is well shaped and doubles no side; what it leaves is closed as
// polygons. Free nodes nearer than `gap` times the border's spacing to a point already taken
// are left out. False, adding nothing, when the region cannot be filled so; but `partly`
// keeps whatever faces were made, leaving the rest open for the next round, and is false
// only when it made none.
bool MeshRepair::fillFront(const std::vector<const Loop*>& group, double gap, bool partly) {
    std::vector<int> ids;
    std::vector<Directed> border;
    std::vector<double> sides;
    for (const Loop* loop : group) {
        const int first = static_cast<int>(ids.size());
        const int count = static_cast<int>(loop->vertices.size());
        for (int i = 0; i < count; ++i) {
            ids.push_back(loop->vertices[i]);
            border.push_back({first + i, first + (i + 1) % count});
            sides.push_back(
                (positions_[loop->vertices[i]] - positions_[loop->vertices[(i + 1) % count]])
                    .length());
        }
    }
    const double spacing = median(sides);
    const int borderCount = static_cast<int>(ids.size());

    // Free nodes within reach of the first border, none too close to a point already taken.
    geo::Vertex centre;
    for (int v : group[0]->vertices) centre += positions_[v];
    centre = centre * (1.0 / group[0]->vertices.size());
    double radius = 0.0;
    for (int v : group[0]->vertices) radius = std::max(radius, (positions_[v] - centre).length());
    radius += spacing;
    const double tooClose = gap * spacing;
    const int vertexCount = static_cast<int>(positions_.size());
    for (int v = 0; v < vertexCount; ++v) {
        if (facesAt_[v] != 0 || duplicate_[v] || !((positions_[v] - centre).length() <= radius))
            continue;
        bool keep = true;
        for (std::size_t i = 0; i < ids.size() && keep; ++i)
            if (!((positions_[ids[i]] - positions_[v]).length() >= tooClose)) keep = false;
        if (keep) ids.push_back(v);
        if (ids.size() > maxFillPoints) return false;
    }

    const int count = static_cast<int>(ids.size());
    auto at = [&](int i) -> const geo::Vertex& { return positions_[ids[i]]; };
    auto normalAt = [&](int i) -> const geo::Vertex& { return normals_[ids[i]]; };
    std::set<Directed> front(border.begin(), border.end());
    std::deque<Directed> queue(border.begin(), border.end());
    std::set<Directed> made;  // sides of new faces, smaller index first
    std::vector<MeshFace> added;
    const std::size_t limit = 4 * ids.size() + 16;
    const double reach = bridgeFactor * spacing;

    // The new front edge p -> q may close against q -> p; it may not run along a front edge
    // the same way, double a side made here, or join two border points linked elsewhere.
    auto sideIsFree = [&](int p, int q) {
        if (front.count({q, p})) return true;
        if (front.count({p, q}) || made.count({std::min(p, q), std::max(p, q)})) return false;
        return p >= borderCount || q >= borderCount || edges_.find(ids[p], ids[q]) < 0;
    };

    std::vector<std::pair<double, int>> candidates;
    std::vector<int> near;
    std::vector<Point2> flat(count);
    // An edge that finds no point waits at the back of the queue, as the front may yet come
    // round to it; when a whole turn of the queue adds nothing, the front stops there.
    std::size_t waiting = 0;
    while (!queue.empty() && waiting < queue.size()) {
        const Directed edge = queue.front();
        queue.pop_front();
        if (!front.count(edge)) continue;
        if (added.size() >= limit) return false;
        const int a = edge.first, b = edge.second;
        const geo::Vertex n = (normalAt(a) + normalAt(b)).normalised();
        const geo::Vertex along = at(b) - at(a);
        const geo::Vertex u = (along - n * along.dot(n)).normalised();
        const geo::Vertex left = n.cross(u);
        if (n.squaredLength() == 0.0 || u.squaredLength() == 0.0) return false;
        const geo::Vertex middle = (at(a) + at(b)) * 0.5;

        // The points near the edge on this sheet, in the edge's plane.
        near.clear();
        candidates.clear();
        for (int c = 0; c < count; ++c) {
            const geo::Vertex d = at(c) - at(a);
            flat[c] = Point2{d.dot(u), d.dot(left)};
            const bool end = c == a || c == b;
            const double distance = (at(c) - middle).length();
            if (!end && !(distance <= 2.0 * reach && normalAt(c).dot(n) > 0.0)) continue;
            near.push_back(c);
            if (end || !(flat[c].y > 1e-9 * along.length()) || !(distance <= reach)) continue;
            const double cosine = (at(a) - at(c)).normalised().dot((at(b) - at(c)).normalised());
            candidates.push_back({cosine, c});
        }
        std::sort(candidates.begin(), candidates.end());  // largest angle first

        auto crossesFront = [&](int p, int q) {
            for (const Directed& e : front) {
                const int x = e.first, y = e.second;
                if (x == p || x == q || y == p || y == q) continue;
                if (!std::binary_search(near.begin(), near.end(), x) ||
                    !std::binary_search(near.begin(), near.end(), y))
                    continue;
                if (segmentsMeet(flat[p], flat[q], flat[x], flat[y])) return true;
            }
            return false;
        };
        auto holdsPoint = [&](int c) {
            for (int p : near) {
                if (p == a || p == b || p == c) continue;
                if (orient2(flat[a], flat[b], flat[p]) > 0 &&
                    orient2(flat[b], flat[c], flat[p]) > 0 &&
                    orient2(flat[c], flat[a], flat[p]) > 0)
                    return true;
            }
            return false;
        };

        int apex = -1;
        for (const auto& candidate : candidates) {
            const int c = candidate.second;
            if (!sideIsFree(a, c) || !sideIsFree(c, b)) continue;
            if (!isGoodNewFace({ids[a], ids[b], ids[c]}, spacing)) continue;
            if (crossesFront(a, c) || crossesFront(c, b) || holdsPoint(c)) continue;
            apex = c;
            break;
        }
        if (apex < 0) {
            queue.push_back(edge);
            ++waiting;
            continue;
        }
        waiting = 0;
        added.push_back({ids[a], ids[b], ids[apex]});
        front.erase(edge);
        made.insert({std::min(a, b), std::max(a, b)});
        for (const Directed& side : {Directed{a, apex}, Directed{apex, b}}) {
            made.insert({std::min(side.first, side.second), std::max(side.first, side.second)});
            if (front.erase({side.second, side.first})) continue;
            front.insert(side);
            queue.push_back(side);
        }
    }
    if (!front.empty() && !closeFront(front, ids, made, spacing, added) &&
        !(partly && !added.empty()))
        return false;
    for (const MeshFace& f : added) addFace(f);
    return true;
}

// What the front could not fill, border by border, as polygons of their own.
bool MeshRepair::closeFront(const std::set<std::pair<int, int>>& front, const std::vector<int>& ids,
                            const std::set<std::pair<int, int>>& made, double spacing,
                            std::vector<MeshFace>& added) const {
    std::map<int, int> next;
    for (const Directed& e : front)
        if (!next.emplace(e.first, e.second).second) return false;  // the front touches itself
    std::set<std::array<int, 3>> faces;
    for (MeshFace f : added) {
        std::sort(f.begin(), f.end());
        faces.insert(f);
    }
    std::map<int, int> local;
    for (std::size_t i = 0; i < ids.size(); ++i) local[ids[i]] = static_cast<int>(i);
    const auto linked = [&](int p, int q) {
        const int a = local[p], b = local[q];
        return edges_.find(p, q) >= 0 || made.count({std::min(a, b), std::max(a, b)}) > 0;
    };
    std::set<int> seen;
    for (const auto& start : next) {
        if (seen.count(start.first)) continue;
        std::vector<int> polygon;
        int v = start.first;
        while (!seen.count(v)) {
            seen.insert(v);
            polygon.push_back(ids[v]);
            const auto it = next.find(v);
            if (it == next.end()) return false;
            v = it->second;
        }
        if (v != start.first) return false;
        std::vector<MeshFace> more;
        if (!triangulatePolygon(polygon, spacing, linked, more)) return false;
        for (MeshFace f : more) {
            std::sort(f.begin(), f.end());
            if (!faces.insert(f).second) return false;  // a face laid over its twin
        }
        added.insert(added.end(), more.begin(), more.end());
    }
    return true;
}

int MeshRepair::usedNodes(const std::vector<MeshFace>& faces) const {
    std::vector<char> used(positions_.size(), 0);
    int count = 0;
    for (const MeshFace& f : faces)
        for (int v : f)
            if (!used[v]) {
                used[v] = 1;
                ++count;
            }
    return count;
}

// Every piece of the front's mesh on at least `minBodyNodes` nodes must keep a face in the
// mended one. A smaller piece is a few leftover nodes the front joined on their own (often
// laid over the surface), or a body too small for the sample to show.
bool MeshRepair::losesABody(const std::vector<MeshFace>& before,
                            const std::vector<MeshFace>& after) const {
    const int vertexCount = static_cast<int>(positions_.size());
    std::vector<int> parent(vertexCount);
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&](int v) {
        while (parent[v] != v) v = parent[v] = parent[parent[v]];
        return v;
    };
    std::vector<char> used(vertexCount, 0);
    for (const MeshFace& f : before) {
        parent[root(f[0])] = root(f[1]);
        parent[root(f[1])] = root(f[2]);
        for (int v : f) used[v] = 1;
    }
    std::vector<int> nodes(vertexCount, 0);
    std::vector<char> kept(vertexCount, 0);
    for (int v = 0; v < vertexCount; ++v)
        if (used[v]) ++nodes[root(v)];
    for (const MeshFace& f : after) kept[root(f[0])] = 1;
    for (int v = 0; v < vertexCount; ++v)
        if (nodes[v] >= minBodyNodes && !kept[v]) return true;
    return false;
}

int MeshRepair::maxDroppedNodes(int used) {
    return std::max(8, used / 4);
}

void MeshRepair::addFace(const MeshFace& f) {
    faces_.push_back(f);
    alive_.push_back(1);
    for (int v : f) ++facesAt_[v];
}

// Well shaped, along the normals, and no side longer than the bridge bound, judged by the
// spacing of its ends where the front's mesh gave one and by the hole's spacing elsewhere.
bool MeshRepair::isGoodNewFace(const MeshFace& f, double holeSpacing) const {
    const geo::Vertex& p0 = positions_[f[0]];
    const geo::Vertex& p1 = positions_[f[1]];
    const geo::Vertex& p2 = positions_[f[2]];
    if (!hasNoAngleBelow(p0, p1, p2, maxCosine)) return false;
    // Strictly along the normals: a face seen edge-on from them is no part of the surface.
    if (!((p1 - p0).cross(p2 - p0).dot(normals_[f[0]] + normals_[f[1]] + normals_[f[2]]) > 0.0))
        return false;
    const int e = edges_.find(f[0], f[1]);
    for (int i = 0; e >= 0 && i < edges_.sideCount(e); ++i) {
        const MeshEdges::Side& side = edges_.side(e, i);
        if (alive_[side.face] && thirdCorner(faces_[side.face], side.corner) == f[2]) return false;
    }
    for (int i = 0; i < 3; ++i) {
        const double known = sideSpacing(f[i], f[(i + 1) % 3]);
        const double bound = bridgeFactor * (known > 0.0 ? known : holeSpacing);
        if ((positions_[f[i]] - positions_[f[(i + 1) % 3]]).length() > bound) return false;
    }
    return true;
}

// The hole's own border triangulated without inner nodes.
bool MeshRepair::fillPolygon(const Loop& loop) {
    std::vector<MeshFace> added;
    const auto linked = [&](int p, int q) { return edges_.find(p, q) >= 0; };
    if (!triangulatePolygon(loop.vertices, medianSide(loop.vertices), linked, added)) return false;
    for (const MeshFace& f : added) addFace(f);
    return true;
}

double MeshRepair::medianSide(const std::vector<int>& polygon) const {
    const int k = static_cast<int>(polygon.size());
    std::vector<double> sides;
    for (int i = 0; i < k; ++i)
        sides.push_back((positions_[polygon[i]] - positions_[polygon[(i + 1) % k]]).length());
    return median(sides);
}

// Of all ways to cut the polygon into triangles with its own vertices (dynamic programming
// over its sub-polygons, cubic in their count), the one whose smallest angle is largest, every
// face good and no new side joining two vertices that `linked` says are joined already.
template <class Linked>
bool MeshRepair::triangulatePolygon(const std::vector<int>& v, double spacing, Linked&& linked,
                                    std::vector<MeshFace>& out) const {
    const int k = static_cast<int>(v.size());
    if (k < 3 || k > maxPolygon) return false;
    // best[i * k + j]: the smallest angle of the best fill of v[i..j], -1 when there is none;
    // total: the sum of the faces' smallest angles, to break ties; apex: its face on i-j.
    std::vector<double> best(k * k, -1.0), total(k * k, 0.0);
    std::vector<int> apex(k * k, -1);
    for (int i = 0; i + 1 < k; ++i) best[i * k + i + 1] = 180.0;
    for (int length = 2; length < k; ++length)
        for (int i = 0; i + length < k; ++i) {
            const int j = i + length;
            const int at = i * k + j;
            // The closing side i-j is new, unless it is the border's own last edge.
            if (!(i == 0 && j == k - 1) && linked(v[i], v[j])) continue;
            for (int m = i + 1; m < j; ++m) {
                const double left = best[i * k + m], right = best[m * k + j];
                if (left < 0.0 || right < 0.0) continue;
                const MeshFace f = {v[i], v[m], v[j]};
                if (!isGoodNewFace(f, spacing)) continue;
                const double angle =
                    smallestAngleDeg(positions_[f[0]], positions_[f[1]], positions_[f[2]]);
                const double value = std::min(angle, std::min(left, right));
                const double sum = angle + total[i * k + m] + total[m * k + j];
                if (value > best[at] || (value == best[at] && sum > total[at])) {
                    best[at] = value;
                    total[at] = sum;
                    apex[at] = m;
                }
            }
        }
    if (best[k - 1] < 0.0) return false;
    std::vector<std::pair<int, int>> stack = {{0, k - 1}};
    while (!stack.empty()) {
        const auto [i, j] = stack.back();
        stack.pop_back();
        if (j - i < 2) continue;
        const int m = apex[i * k + j];
        out.push_back({v[i], v[m], v[j]});
        stack.push_back({i, m});
        stack.push_back({m, j});
    }
    return true;
}

// The faces around the border go, so that the next try sees a wider hole with more free
// nodes inside.
void MeshRepair::widen(const Loop& loop) {
    edges_.build(static_cast<int>(positions_.size()), faces_, &alive_);
    std::vector<int> ring;
    for (int v : loop.vertices)
        for (int i = 0; i < edges_.faceCountAt(v); ++i) ring.push_back(edges_.faceAt(v, i));
    for (int f : ring) removeFace(f);
}

bool MeshRepair::mend(std::vector<MeshFace>& faces) {
    const int vertexCount = static_cast<int>(positions_.size());
    faces_ = faces;
    alive_.assign(faces_.size(), 1);
    facesAt_.assign(vertexCount, 0);
    for (const MeshFace& f : faces_)
        for (int v : f) ++facesAt_[v];
    spacing_.assign(vertexCount, 0.0);

    auto aliveFaces = [&]() {
        std::vector<MeshFace> result;
        result.reserve(faces_.size());
        for (std::size_t f = 0; f < faces_.size(); ++f)
            if (alive_[f]) result.push_back(faces_[f]);
        return result;
    };
    std::vector<MeshFace> unsoundBefore;  // the faces after the last round that found no hole
    for (int round = 0; round < maxRounds; ++round) {
        // Bridges are judged by the spacing of the mesh as it is now, as the final test
        // judges them, so that no face kept or made so far turns out to bridge in the end.
        edges_.build(vertexCount, faces_, &alive_);
        for (int v = 0; v < vertexCount; ++v) spacing_[v] = localSpacing(v, edges_, faces_);
        if (round == 0) markDuplicates();
        removeBadFaces();
        orient();
        removePinches();
        std::vector<Loop> loops = findLoops();
        if (loops.empty()) {
            std::vector<MeshFace> now = aliveFaces();
            // A round that left the faces as the last one did would only repeat itself.
            if (isSound(now) || now == unsoundBefore) break;
            unsoundBefore = std::move(now);
            continue;
        }
        // Larger borders first, so that a hole takes in the islands it holds.
        std::stable_sort(loops.begin(), loops.end(), [](const Loop& a, const Loop& b) {
            return a.vertices.size() > b.vertices.size();
        });
        std::vector<char> filled(loops.size(), 0);
        for (std::size_t i = 0; i < loops.size(); ++i) {
            if (filled[i]) continue;
            geo::Vertex centre;
            for (int v : loops[i].vertices) centre += positions_[v];
            centre = centre * (1.0 / loops[i].vertices.size());
            double radius = 0.0;
            for (int v : loops[i].vertices)
                radius = std::max(radius, (positions_[v] - centre).length());
            std::vector<const Loop*> group = {&loops[i]};
            std::vector<std::size_t> members = {i};
            for (std::size_t j = i + 1; j < loops.size(); ++j) {
                if (filled[j]) continue;
                bool inside = true;
                for (int v : loops[j].vertices)
                    if (!((positions_[v] - centre).length() <= radius)) inside = false;
                if (inside) {
                    group.push_back(&loops[j]);
                    members.push_back(j);
                }
            }
            // Sparser inner nodes make larger but rounder faces; the border alone, the largest.
            if (fillFront(group, 0.5) || fillFront(group, 0.8)) {
                for (std::size_t j : members) filled[j] = 1;
            } else if (fillPolygon(loops[i])) {
                filled[i] = 1;
            } else if (fillFront(group, 0.5, true)) {
                for (std::size_t j : members) filled[j] = 1;
            } else {
                widen(loops[i]);
            }
        }
    }

    std::vector<MeshFace> result = aliveFaces();
    // A mesh that closed only by giving up on a large share of the nodes, or on a whole body,
    // is no mend: widening can eat a region whole and leave a closed remnant.
    if (usedNodes(result) + maxDroppedNodes(usedNodes(faces)) < usedNodes(faces)) return false;
    if (losesABody(faces, result)) return false;
    if (!isSound(result)) return false;
    faces.swap(result);
    return true;
}
