// The mesh report must catch each kind of defect the front can leave (a hole, a patch wound
// the wrong way, a fold, a bridge across empty space), and the triangulation must mend it,
// while a sound mesh passes through untouched.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "mesh/MeshCheck.h"
#include "mesh/MeshExport.h"
#include "mesh/MeshRepair.h"
#include "mesh/MeshTestSupport.h"
#include "mesh/Reconstruct.h"

namespace {

struct Sample {
    std::vector<geo::Vertex> positions;
    std::vector<geo::Vertex> normals;
};

// Six nodes on the axes (+x, +y, -x, -y, +z, -z) with outward unit normals; eight faces
// counter-clockwise seen from outside, the four around +z first.
void addOctahedron(Sample& s, const geo::Vertex& centre = geo::Vertex()) {
    const geo::Vertex axes[6] = {{1, 0, 0},  {0, 1, 0}, {-1, 0, 0},
                                 {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (const geo::Vertex& a : axes) {
        s.positions.push_back(centre + a);
        s.normals.push_back(a);
    }
}

std::vector<MeshFace> octahedronFaces(int first = 0) {
    std::vector<MeshFace> faces = {{0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4},
                                   {1, 0, 5}, {2, 1, 5}, {3, 2, 5}, {0, 3, 5}};
    for (MeshFace& f : faces)
        for (int& v : f) v += first;
    return faces;
}

// A Reconstruct holding the sample's nodes and the given faces, each laid by addTriangle.
void build(Reconstruct& mesh, const Sample& s, const std::vector<MeshFace>& faces) {
    std::vector<ReconNode*> nodes;
    for (std::size_t i = 0; i < s.positions.size(); ++i)
        nodes.push_back(mesh.addNode(s.positions[i], s.normals[i]));
    for (const MeshFace& f : faces) mesh.addTriangle(nodes[f[0]], nodes[f[1]], nodes[f[2]]);
    while (mesh.popEdge()) {
    }
}

// Integer hash to [-1, 1): the same numbers on every platform.
double wobble(unsigned a, unsigned b) {
    unsigned x = a * 2654435761u ^ (b * 2246822519u + 0x9e3779b9u);
    x ^= x >> 15;
    x *= 2246822519u;
    x ^= x >> 13;
    x *= 3266489917u;
    x ^= x >> 16;
    return (x >> 8) / 8388608.0 - 1.0;
}

// m x m cell centres on each face of a cube, moved within their cells by `jitter` (1 is a
// whole cell) and pushed onto the unit sphere: an uneven sample made with nothing but
// arithmetic and square roots, so the front meets the same points everywhere.
void addCubeSphere(Reconstruct& mesh, int m, double jitter, unsigned seed) {
    unsigned k = 0;
    for (int axis = 0; axis < 3; ++axis)
        for (int sign = -1; sign <= 1; sign += 2)
            for (int i = 0; i < m; ++i)
                for (int j = 0; j < m; ++j, ++k) {
                    geo::Vertex c;
                    c[axis] = sign;
                    c[(axis + 1) % 3] = -1 + (2 * i + 1 + jitter * wobble(seed, 2 * k)) / m;
                    c[(axis + 2) % 3] = -1 + (2 * j + 1 + jitter * wobble(seed, 2 * k + 1)) / m;
                    const geo::Vertex d = c.normalised();
                    mesh.addNode(d, d);
                }
}

bool usesNode(const Reconstruct& mesh, int node) {
    for (const std::array<int, 3>& f : mesh.triangleNodes())
        for (int v : f)
            if (v == node) return true;
    return false;
}

// Whatever the defect, a mended mesh must satisfy all of these.
void expectMended(Reconstruct& mesh) {
    const MeshQuality q = measureMesh(mesh);
    EXPECT_TRUE(q.closed);
    EXPECT_EQ(q.boundaryEdges, 0);
    EXPECT_EQ(q.nonmanifoldEdges, 0);
    EXPECT_EQ(q.nonmanifoldVertices, 0);
    EXPECT_EQ(q.orientationErrors, 0);
    EXPECT_GE(q.minAngleDeg, MeshRepair::minAngleDeg);
    // The records describe the mended faces: twins agree, and a closed mesh closes every fan.
    EXPECT_EQ(mesh.consistencyFault(), "");
    for (ReconNode* n = mesh.firstNode(); n; n = mesh.nextNode()) {
        if (n->edgeCount() > 0) {
            EXPECT_TRUE(n->isClosed());
        }
    }
}

}  // namespace

// ---- What the report tells ----

// One table, one row per defect, built on octahedra: the figures that must show it.
TEST(MeshReport, EachDefectShowsInItsOwnFigure) {
    struct Case {
        const char* name;
        std::vector<MeshFace> faces;
        int boundary, nonmanifoldEdges, nonmanifoldVertices, orientation, components, euler;
        bool closed;
    };
    std::vector<MeshFace> hole = octahedronFaces();
    hole.erase(hole.begin());
    std::vector<MeshFace> flipped = octahedronFaces();
    for (int i = 0; i < 4; ++i) std::swap(flipped[i][1], flipped[i][2]);
    // A second octahedron below the first, its top node (10) replaced by the first's bottom
    // (5), which sits at the same place.
    std::vector<MeshFace> pinched = octahedronFaces();
    for (MeshFace f : octahedronFaces(6)) {
        for (int& v : f)
            if (v == 10) v = 5;
        pinched.push_back(f);
    }
    std::vector<MeshFace> fin = octahedronFaces();
    fin.push_back({0, 1, 12});  // a third face on the side 0-1
    const Case cases[] = {
        {"sound", octahedronFaces(), 0, 0, 0, 0, 1, 2, true},
        {"hole", hole, 3, 0, 0, 0, 1, 1, false},
        // The four sides round the top are each used twice one way, and the four faces
        // there are against their normals.
        {"flipped patch", flipped, 0, 0, 0, 8, 1, 2, false},
        {"two bodies on one vertex", pinched, 0, 0, 1, 0, 1, 3, false},
        // The side 0-1 now runs 0 -> 1 in two faces, and the new face points away from the
        // normals of its corners (+x, +y, +z): two orientation errors.
        {"third face on a side", fin, 2, 1, 0, 2, 1, 2, false},
    };
    Sample s;
    addOctahedron(s);
    addOctahedron(s, geo::Vertex(0, 0, -2));
    s.positions.push_back(geo::Vertex(0.5, 0.5, -1));
    s.normals.push_back(geo::Vertex(0, 0, 1));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MeshSoundness q = checkMesh(s.positions, s.normals, c.faces);
        EXPECT_EQ(q.boundaryEdges, c.boundary);
        EXPECT_EQ(q.nonmanifoldEdges, c.nonmanifoldEdges);
        EXPECT_EQ(q.nonmanifoldVertices, c.nonmanifoldVertices);
        EXPECT_EQ(q.orientationErrors, c.orientation);
        EXPECT_EQ(q.components, c.components);
        EXPECT_EQ(q.eulerCharacteristic, c.euler);
        EXPECT_EQ(q.closed, c.closed);
        EXPECT_EQ(MeshRepair(s.positions, s.normals).isSound(c.faces), c.closed);
    }
}

TEST(MeshReport, EmptyMeshIsNotClosed) {
    Sample s;
    addOctahedron(s);
    EXPECT_FALSE(checkMesh(s.positions, s.normals, {}).closed);
    EXPECT_FALSE(MeshRepair(s.positions, s.normals).isSound({}));
}

// The batch program's mesh object: every field, in this order.
TEST(MeshReport, SummaryJsonKeepsItsFieldOrder) {
    MeshQuality q;
    q.boundaryEdges = 1;
    q.nonmanifoldEdges = 2;
    q.nonmanifoldVertices = 3;
    q.orientationErrors = 4;
    q.components = 5;
    q.eulerCharacteristic = -6;
    q.closed = false;
    q.minAngleDeg = 7.5;
    q.maxAbsField = 0.25;
    EXPECT_EQ(meshSummaryJson(q),
              "{\"boundary_edges\": 1, \"nonmanifold_edges\": 2, \"nonmanifold_vertices\": 3, "
              "\"orientation_errors\": 4, \"components\": 5, \"euler_characteristic\": -6, "
              "\"closed\": false, \"min_angle_deg\": 7.5, \"max_abs_field\": 0.25}");
    q.closed = true;
    EXPECT_NE(meshSummaryJson(q).find("\"closed\": true"), std::string::npos);
}

// ---- What the triangulation mends ----

// A sound mesh is not touched: the same faces, the same order, the same stored corners.
TEST(MeshMending, SoundMeshIsLeftAsTheFrontMadeIt) {
    Reconstruct mesh;
    meshtest::addFibonacciSphere(mesh, 500, 30.0);
    mesh.advanceFront();
    const auto faces = mesh.triangleNodes();
    const auto stored = meshtest::storedTriangles(mesh);
    EXPECT_TRUE(mesh.mendMesh());
    EXPECT_EQ(mesh.triangleNodes(), faces);
    const auto after = meshtest::storedTriangles(mesh);
    ASSERT_EQ(after.size(), stored.size());
    EXPECT_EQ(std::memcmp(after.data(), stored.data(), stored.size() * sizeof(stored[0])), 0);
}

// The faces round one node are missing; the hole is filled through that node again, and
// the faces that were there keep their order ahead of the new ones.
TEST(MeshMending, HoleIsFilledThroughTheFreeNodeInside) {
    Reconstruct whole;
    meshtest::addFibonacciSphere(whole, 200, 30.0);
    whole.advanceFront();
    Sample s;
    for (ReconNode* n = whole.firstNode(); n; n = whole.nextNode()) {
        s.positions.push_back(n->position);
        s.normals.push_back(n->normal);
    }
    const int missing = 57;
    std::vector<MeshFace> kept;
    for (const MeshFace& f : whole.triangleNodes())
        if (f[0] != missing && f[1] != missing && f[2] != missing) kept.push_back(f);
    const int around = static_cast<int>(whole.triangleNodes().size() - kept.size());
    ASSERT_GE(around, 4);

    Reconstruct mesh;
    build(mesh, s, kept);
    const MeshQuality before = measureMesh(mesh);
    EXPECT_FALSE(before.closed);
    EXPECT_EQ(before.boundaryEdges, around);  // the fan's rim
    EXPECT_EQ(before.eulerCharacteristic, 1);

    EXPECT_TRUE(mesh.mendMesh());
    expectMended(mesh);
    EXPECT_TRUE(usesNode(mesh, missing));
    EXPECT_EQ(mesh.triangleCount(), whole.triangleCount());
    const auto& faces = mesh.triangleNodes();
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), faces.begin()));
}

// A patch wound the wrong way is turned, not cut out: the very faces come back.
TEST(MeshMending, FlippedPatchIsTurned) {
    Sample s;
    addOctahedron(s);
    std::vector<MeshFace> faces = octahedronFaces();
    for (int i = 0; i < 4; ++i) std::swap(faces[i][1], faces[i][2]);
    MeshRepair repair(s.positions, s.normals);
    ASSERT_FALSE(repair.isSound(faces));
    EXPECT_TRUE(repair.mend(faces));
    EXPECT_EQ(faces, octahedronFaces());
}

// Two bodies joined by a long thin tube of slivers, as a front that bridges across empty
// space makes them. As a surface it is closed, but the report shows the slivers; the mend
// cuts the tube and closes each body.
TEST(MeshMending, BridgeBetweenTwoBodiesIsCut) {
    Sample s;
    addOctahedron(s);
    addOctahedron(s, geo::Vertex(10, 0, 0));
    // The first body's face 0, 1, 4 and the second's face 7, 8, 10, which look at each
    // other, give way to a tube from a0, a1, a2 to b0, b2, b1, wound along with both bodies.
    std::vector<MeshFace> faces = octahedronFaces();
    faces.erase(faces.begin());
    std::vector<MeshFace> second = octahedronFaces(6);
    second.erase(second.begin() + 1);
    faces.insert(faces.end(), second.begin(), second.end());
    const int a[3] = {0, 1, 4}, b[3] = {7, 8, 10};
    const int pair[3] = {0, 2, 1};
    for (int i = 0; i < 3; ++i) {
        const int ai = a[i], an = a[(i + 1) % 3];
        const int bi = b[pair[i]], bn = b[pair[(i + 1) % 3]];
        faces.push_back({ai, an, bi});
        faces.push_back({an, bn, bi});
    }
    ASSERT_EQ(checkMesh(s.positions, s.normals, faces).boundaryEdges, 0);

    Reconstruct mesh;
    build(mesh, s, faces);
    const MeshQuality before = measureMesh(mesh);
    EXPECT_LT(before.minAngleDeg, MeshRepair::minAngleDeg);
    EXPECT_EQ(before.components, 1);

    EXPECT_TRUE(mesh.mendMesh());
    expectMended(mesh);
    const MeshQuality after = measureMesh(mesh);
    EXPECT_EQ(after.components, 2);
    EXPECT_EQ(after.eulerCharacteristic, 4);
    EXPECT_EQ(mesh.triangleCount(), 16);
    EXPECT_NEAR(after.minAngleDeg, 60.0, 1e-9);
}

// Uneven samples on which the front itself goes wrong, and triangulate mends what it made.
TEST(MeshMending, FrontDefectsOnUnevenSamplesAreMended) {
    struct Case {
        const char* name;
        int cells;
        double jitter;
        unsigned seed;
    };
    const Case cases[] = {
        // The front lays two faces over others: a closed surface with no consistent winding.
        {"fold", 2, 0.4, 15},
        // The front leaves a hole among slivers.
        {"hole", 3, 0.3, 37},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool reference : {false, true}) {
            Reconstruct front, mesh;
            front.referenceSearch = mesh.referenceSearch = reference;
            addCubeSphere(front, c.cells, c.jitter, c.seed);
            addCubeSphere(mesh, c.cells, c.jitter, c.seed);
            front.advanceFront();
            const MeshQuality made = measureMesh(front);
            EXPECT_FALSE(made.closed);
            EXPECT_GT(made.orientationErrors + made.boundaryEdges, 0);
            mesh.triangulate();
            expectMended(mesh);
            const MeshQuality q = measureMesh(mesh);
            EXPECT_EQ(q.components, 1);
            EXPECT_EQ(q.eulerCharacteristic, 2);  // a sphere again
        }
    }
}

// A defect the mend cannot close leaves the front's mesh as it was, for the report to show:
// an open patch has nothing beyond its border to fill with.
TEST(MeshMending, OpenPatchIsLeftAsTheFrontMadeIt) {
    Reconstruct mesh;
    const geo::Vertex up(0, 0, 1);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) mesh.addNode(geo::Vertex(i, j + 0.5 * (i % 2), 0), up);
    mesh.advanceFront();
    const auto faces = mesh.triangleNodes();
    ASSERT_GT(faces.size(), 0u);
    EXPECT_FALSE(mesh.mendMesh());
    EXPECT_EQ(mesh.triangleNodes(), faces);
    EXPECT_GT(measureMesh(mesh).boundaryEdges, 0);
}
