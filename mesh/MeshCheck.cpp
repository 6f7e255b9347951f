#include "mesh/MeshCheck.h"

#include <algorithm>
#include <numeric>

namespace {

constexpr double degreesPerRadian = 180.0 / 3.14159265358979323846;

// Union-find with path halving, over small dense index ranges.
int rootOf(std::vector<int>& parent, int i) {
    while (parent[i] != i) {
        parent[i] = parent[parent[i]];
        i = parent[i];
    }
    return i;
}

void unite(std::vector<int>& parent, int i, int j) {
    parent[rootOf(parent, i)] = rootOf(parent, j);
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
    sides_.reserve(entries.size());
    for (int v = 0; v < vertexCount; ++v) {
        edgeBegin_[v] = static_cast<int>(low_.size());
        const auto first = entries.begin() + bucket[v];
        const auto last = entries.begin() + bucket[v + 1];
        std::sort(first, last, [](const Entry& a, const Entry& b) {
            return a.high != b.high ? a.high < b.high
                                    : (a.face != b.face ? a.face < b.face : a.corner < b.corner);
        });
        for (auto e = first; e != last; ++e) {
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

int MeshEdges::fanCount(int v, const std::vector<MeshFace>& faces) const {
    const int count = faceCountAt(v);
    if (count <= 1) return count;
    // Two faces around v share an edge through v when they share another corner.
    std::vector<int> parent(count);
    std::iota(parent.begin(), parent.end(), 0);
    for (int i = 0; i < count; ++i) {
        const MeshFace& a = faces[faceAt(v, i)];
        for (int j = i + 1; j < count; ++j) {
            const MeshFace& b = faces[faceAt(v, j)];
            bool shared = false;
            for (int p : a)
                if (p != v && (p == b[0] || p == b[1] || p == b[2])) shared = true;
            if (shared) unite(parent, i, j);
        }
    }
    int fans = 0;
    for (int i = 0; i < count; ++i)
        if (rootOf(parent, i) == i) ++fans;
    return fans;
}

double smallestAngleDeg(const geo::Vertex& p0, const geo::Vertex& p1, const geo::Vertex& p2) {
    const double a0 = (p1 - p0).angle(p2 - p0);
    const double a1 = (p2 - p1).angle(p0 - p1);
    const double a2 = (p0 - p2).angle(p1 - p2);
    return std::min(a0, std::min(a1, a2)) * degreesPerRadian;
}

bool isAgainstNormals(const geo::Vertex& p0, const geo::Vertex& p1, const geo::Vertex& p2,
                      const geo::Vertex& n0, const geo::Vertex& n1, const geo::Vertex& n2) {
    return (p1 - p0).cross(p2 - p0).dot(n0 + n1 + n2) < 0.0;
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
        int forward = 0;
        for (int i = 0; i < sides; ++i) {
            const MeshEdges::Side& side = edges.side(e, i);
            if (faces[side.face][side.corner] == edges.low(e)) ++forward;
        }
        if (forward > 1 || sides - forward > 1) ++s.orientationErrors;
    }

    const bool haveNormals = normals.size() == positions.size();
    bool anyAngle = false;
    for (const MeshFace& f : faces) {
        const geo::Vertex& p0 = positions[f[0]];
        const geo::Vertex& p1 = positions[f[1]];
        const geo::Vertex& p2 = positions[f[2]];
        const double angle = smallestAngleDeg(p0, p1, p2);
        if (!anyAngle || angle < s.minAngleDeg) s.minAngleDeg = angle;
        anyAngle = true;
        if (haveNormals &&
            isAgainstNormals(p0, p1, p2, normals[f[0]], normals[f[1]], normals[f[2]]))
            ++s.orientationErrors;
    }

    std::vector<int> parent(vertexCount);
    std::iota(parent.begin(), parent.end(), 0);
    for (const MeshFace& f : faces) {
        unite(parent, f[0], f[1]);
        unite(parent, f[0], f[2]);
    }
    int used = 0;
    for (int v = 0; v < vertexCount; ++v) {
        if (edges.faceCountAt(v) == 0) continue;
        ++used;
        if (rootOf(parent, v) == v) ++s.components;
        if (edges.fanCount(v, faces) > 1) ++s.nonmanifoldVertices;
    }
    s.eulerCharacteristic = used - edges.edgeCount() + static_cast<int>(faces.size());
    s.closed = !faces.empty() && s.boundaryEdges == 0 && s.nonmanifoldEdges == 0 &&
               s.nonmanifoldVertices == 0 && s.orientationErrors == 0;
    return s;
}
