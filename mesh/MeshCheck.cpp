#include "mesh/MeshCheck.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr double degreesPerRadian = 180.0 / 3.14159265358979323846;

// Union-find with path halving. True when i and j were apart.
int rootOf(std::vector<int>& parent, int i) {
    while (parent[i] != i) {
        parent[i] = parent[parent[i]];
        i = parent[i];
    }
    return i;
}

bool unite(std::vector<int>& parent, int i, int j) {
    const int a = rootOf(parent, i), b = rootOf(parent, j);
    if (a == b) return false;
    parent[a] = b;
    return true;
}

// A corner repeated in one face lists the face once at that vertex.
bool firstOccurrence(const MeshFace& t, int i) {
    return i == 0 || (t[i] != t[0] && (i == 1 || t[i] != t[1]));
}

}  // namespace

void MeshEdges::build(int vertexCount, const std::vector<MeshFace>& faces,
                      const std::vector<char>* alive) {
    const int faceCount = static_cast<int>(faces.size());
    auto isAlive = [&](int f) { return !alive || (*alive)[f]; };

    // Sides bucketed by their smaller end (a counting sort), then grouped by the larger.
    // Filled in face order, so within a group the sides stay in face order.
    struct Entry {
        int high;
        int face;
        int corner;
    };
    std::vector<int> bucket(vertexCount + 1, 0);
    faceBegin_.assign(vertexCount + 1, 0);
    for (int f = 0; f < faceCount; ++f) {
        if (!isAlive(f)) continue;
        const MeshFace& t = faces[f];
        for (int i = 0; i < 3; ++i) {
            ++bucket[std::min(t[i], t[(i + 1) % 3]) + 1];
            if (firstOccurrence(t, i)) ++faceBegin_[t[i] + 1];
        }
    }
    std::partial_sum(bucket.begin(), bucket.end(), bucket.begin());
    std::partial_sum(faceBegin_.begin(), faceBegin_.end(), faceBegin_.begin());
    std::vector<Entry> entries(bucket[vertexCount]);
    faceIds_.assign(faceBegin_[vertexCount], 0);
    std::vector<int> fill(bucket.begin(), bucket.end() - 1);
    std::vector<int> faceFill(faceBegin_.begin(), faceBegin_.end() - 1);
    for (int f = 0; f < faceCount; ++f) {
        if (!isAlive(f)) continue;
        const MeshFace& t = faces[f];
        for (int i = 0; i < 3; ++i) {
            const int p = t[i], q = t[(i + 1) % 3];
            entries[fill[std::min(p, q)]++] = Entry{std::max(p, q), f, i};
            if (firstOccurrence(t, i)) faceIds_[faceFill[p]++] = f;
        }
    }

    edgeBegin_.assign(vertexCount + 1, 0);
    low_.clear();
    high_.clear();
    sides_.clear();
    sideBegin_.clear();
    low_.reserve(entries.size() / 2 + 1);
    high_.reserve(entries.size() / 2 + 1);
    sideBegin_.reserve(entries.size() / 2 + 2);
    sides_.reserve(entries.size());
    for (int v = 0; v < vertexCount; ++v) {
        edgeBegin_[v] = static_cast<int>(low_.size());
        Entry* first = entries.data() + bucket[v];
        Entry* last = entries.data() + bucket[v + 1];
        // A handful of entries: a stable insertion sort by the larger end.
        for (Entry* e = first + 1; e < last; ++e) {
            const Entry moving = *e;
            Entry* hole = e;
            for (; hole > first && (hole - 1)->high > moving.high; --hole) *hole = *(hole - 1);
            *hole = moving;
        }
        for (Entry* e = first; e < last; ++e) {
            if (e == first || e->high != (e - 1)->high) {
                low_.push_back(v);
                high_.push_back(e->high);
                sideBegin_.push_back(static_cast<int>(sides_.size()));
            }
            sides_.push_back(Side{e->face, e->corner});
        }
    }
    edgeBegin_[vertexCount] = static_cast<int>(low_.size());
    sideBegin_.push_back(static_cast<int>(sides_.size()));
}

int MeshEdges::find(int p, int q) const {
    const int lo = std::min(p, q), hi = std::max(p, q);
    if (lo < 0 || hi + 1 >= static_cast<int>(edgeBegin_.size())) return -1;
    for (int e = edgeBegin_[lo]; e < edgeBegin_[lo + 1]; ++e)
        if (high_[e] == hi) return e;
    return -1;
}

bool MeshEdges::usedTwiceOneWay(int e, const std::vector<MeshFace>& faces) const {
    int forward = 0;
    for (int i = 0; i < sideCount(e); ++i) {
        const Side& s = side(e, i);
        if (faces[s.face][s.corner] == low(e)) ++forward;
    }
    return forward > 1 || sideCount(e) - forward > 1;
}

// Corners of one vertex are joined where their faces share an edge through it; every join
// of two pieces leaves one fan fewer than the vertex has faces.
std::vector<int> MeshEdges::fanCounts(const std::vector<MeshFace>& faces) const {
    const int vertexCount = static_cast<int>(faceBegin_.size()) - 1;
    std::vector<int> parent(3 * faces.size());
    std::iota(parent.begin(), parent.end(), 0);
    std::vector<int> fans(vertexCount);
    for (int v = 0; v < vertexCount; ++v) fans[v] = faceCountAt(v);
    auto cornerOf = [&](const Side& side, int v) {
        const MeshFace& t = faces[side.face];
        return 3 * side.face + (t[side.corner] == v ? side.corner : (side.corner + 1) % 3);
    };
    for (int e = 0; e < edgeCount(); ++e) {
        const Side& first = side(e, 0);
        for (int i = 1; i < sideCount(e); ++i)
            for (int v : {low(e), high(e)})
                if (unite(parent, cornerOf(first, v), cornerOf(side(e, i), v))) --fans[v];
    }
    return fans;
}

double largestCosine(const geo::Vertex& p0, const geo::Vertex& p1, const geo::Vertex& p2) {
    const geo::Vertex a = p1 - p0, b = p2 - p1, c = p0 - p2;
    const double aa = a.squaredLength(), bb = b.squaredLength(), cc = c.squaredLength();
    if (aa == 0.0 || bb == 0.0 || cc == 0.0) return 1.0;
    // The corner at p0 lies between a and -c, at p1 between b and -a, at p2 between c and -b.
    const double c0 = -a.dot(c) / std::sqrt(aa * cc);
    const double c1 = -b.dot(a) / std::sqrt(bb * aa);
    const double c2 = -c.dot(b) / std::sqrt(cc * bb);
    return std::max(c0, std::max(c1, c2));
}

double angleOfCosineDeg(double cosine) {
    return std::acos(std::min(1.0, std::max(-1.0, cosine))) * degreesPerRadian;
}

double smallestAngleDeg(const geo::Vertex& p0, const geo::Vertex& p1, const geo::Vertex& p2) {
    return angleOfCosineDeg(largestCosine(p0, p1, p2));
}

MeshSoundness checkMesh(const std::vector<geo::Vertex>& positions,
                        const std::vector<geo::Vertex>& normals,
                        const std::vector<MeshFace>& faces) {
    MeshEdges edges;
    edges.build(static_cast<int>(positions.size()), faces);
    return checkMesh(positions, normals, faces, edges);
}

MeshSoundness checkMesh(const std::vector<geo::Vertex>& positions,
                        const std::vector<geo::Vertex>& normals, const std::vector<MeshFace>& faces,
                        const MeshEdges& edges) {
    MeshSoundness s;
    const int vertexCount = static_cast<int>(positions.size());

    for (int e = 0; e < edges.edgeCount(); ++e) {
        const int sides = edges.sideCount(e);
        if (sides == 1) ++s.boundaryEdges;
        if (sides > 2) ++s.nonmanifoldEdges;
        if (edges.usedTwiceOneWay(e, faces)) ++s.orientationErrors;
    }

    // The smallest angle is that of the largest cosine: one arc cosine for the whole mesh.
    const bool haveNormals = normals.size() == positions.size();
    double largest = -1.0;
    for (const MeshFace& f : faces) {
        const geo::Vertex& p0 = positions[f[0]];
        const geo::Vertex& p1 = positions[f[1]];
        const geo::Vertex& p2 = positions[f[2]];
        largest = std::max(largest, largestCosine(p0, p1, p2));
        if (haveNormals &&
            isAgainstNormals(p0, p1, p2, normals[f[0]], normals[f[1]], normals[f[2]]))
            ++s.orientationErrors;
    }
    if (!faces.empty()) s.minAngleDeg = angleOfCosineDeg(largest);

    std::vector<int> parent(vertexCount);
    std::iota(parent.begin(), parent.end(), 0);
    for (const MeshFace& f : faces) {
        unite(parent, f[0], f[1]);
        unite(parent, f[0], f[2]);
    }
    const std::vector<int> fans = edges.fanCounts(faces);
    int used = 0;
    for (int v = 0; v < vertexCount; ++v) {
        if (edges.faceCountAt(v) == 0) continue;
        ++used;
        if (rootOf(parent, v) == v) ++s.components;
        if (fans[v] > 1) ++s.nonmanifoldVertices;
    }
    s.eulerCharacteristic = used - edges.edgeCount() + static_cast<int>(faces.size());
    s.closed = !faces.empty() && s.boundaryEdges == 0 && s.nonmanifoldEdges == 0 &&
               s.nonmanifoldVertices == 0 && s.orientationErrors == 0;
    return s;
}
