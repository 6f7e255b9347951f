#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mesh/MeshExport.h"
#include "mesh/MeshTestSupport.h"
#include "mesh/Reconstruct.h"

namespace fs = std::filesystem;

namespace {

// What a reader of the file sees. Filled by the two readers below, which follow the formats
// themselves (Wavefront OBJ, ASCII PLY) and share nothing with the writer.
struct ReadMesh {
    std::vector<std::array<double, 3>> positions;
    std::vector<std::array<double, 3>> normals;
    std::vector<std::array<long, 3>> faces;  // 0-based
    std::string error;                       // empty when the file parsed
};

// OBJ: "v x y z", "vn x y z", "f v//vn v//vn v//vn" with 1-based indices; '#' starts a
// comment. A face must use the same index for position and normal, as the writer promises.
ReadMesh readObj(const std::string& path) {
    ReadMesh mesh;
    std::ifstream in(path);
    if (!in) return {{}, {}, {}, "cannot open"};
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string tag;
        if (!(words >> tag) || tag[0] == '#') continue;
        if (tag == "v" || tag == "vn") {
            std::array<double, 3> p;
            if (!(words >> p[0] >> p[1] >> p[2])) return {{}, {}, {}, "bad " + tag + ": " + line};
            (tag == "v" ? mesh.positions : mesh.normals).push_back(p);
        } else if (tag == "f") {
            std::array<long, 3> face;
            std::string corner;
            int k = 0;
            while (words >> corner) {
                const std::size_t slashes = corner.find("//");
                if (k == 3 || slashes == std::string::npos) return {{}, {}, {}, "bad f: " + line};
                const long v = std::strtol(corner.substr(0, slashes).c_str(), nullptr, 10);
                const long n = std::strtol(corner.substr(slashes + 2).c_str(), nullptr, 10);
                if (v != n) return {{}, {}, {}, "position and normal differ: " + line};
                face[k++] = v - 1;
            }
            if (k != 3) return {{}, {}, {}, "face without three corners: " + line};
            mesh.faces.push_back(face);
        } else {
            return {{}, {}, {}, "unknown line: " + line};
        }
    }
    return mesh;
}

// ASCII PLY: the header names the elements, their counts and properties; the vertex element
// must carry x y z nx ny nz and the face element a list of vertex indices.
ReadMesh readPly(const std::string& path) {
    ReadMesh mesh;
    std::ifstream in(path);
    std::string line;
    auto next = [&]() {
        if (!std::getline(in, line)) return false;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    };
    if (!next() || line != "ply") return {{}, {}, {}, "no ply magic"};
    if (!next() || line != "format ascii 1.0") return {{}, {}, {}, "not ascii 1.0"};
    long vertices = -1, faces = -1;
    std::vector<std::string> vertexProperties;
    std::string element;
    bool faceList = false;
    while (next() && line != "end_header") {
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word == "comment") continue;
        if (word == "element") {
            long count;
            words >> element >> count;
            (element == "vertex" ? vertices : faces) = count;
        } else if (word == "property") {
            std::string type, name;
            words >> type;
            if (type == "list") {
                std::string countType, indexType;
                words >> countType >> indexType >> name;
                faceList = element == "face" && name == "vertex_indices";
            } else {
                words >> name;
                if (element == "vertex") vertexProperties.push_back(name);
            }
        } else {
            return {{}, {}, {}, "bad header line: " + line};
        }
    }
    const std::vector<std::string> expected = {"x", "y", "z", "nx", "ny", "nz"};
    if (line != "end_header" || vertexProperties != expected || !faceList || vertices < 0 ||
        faces < 0)
        return {{}, {}, {}, "incomplete header"};
    for (long i = 0; i < vertices; ++i) {
        std::array<double, 3> p, n;
        if (!next()) return {{}, {}, {}, "missing vertex"};
        std::istringstream words(line);
        if (!(words >> p[0] >> p[1] >> p[2] >> n[0] >> n[1] >> n[2]))
            return {{}, {}, {}, "bad vertex: " + line};
        mesh.positions.push_back(p);
        mesh.normals.push_back(n);
    }
    for (long i = 0; i < faces; ++i) {
        long count;
        std::array<long, 3> f;
        if (!next()) return {{}, {}, {}, "missing face"};
        std::istringstream words(line);
        if (!(words >> count >> f[0] >> f[1] >> f[2]) || count != 3)
            return {{}, {}, {}, "bad face: " + line};
        mesh.faces.push_back(f);
    }
    if (next() && !line.empty()) return {{}, {}, {}, "trailing data: " + line};
    return mesh;
}

class MeshFiles : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("dazirudo-mesh-" + std::to_string(std::rand()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    std::string file(const std::string& name) const { return (folder / name).string(); }

    fs::path folder;
};

// Checks a read file against the mesh: one vertex per used node, in node order, and the
// faces as stored.
void expectMatches(const ReadMesh& read, Reconstruct& mesh) {
    ASSERT_EQ(read.error, "");
    std::vector<int> used;
    std::vector<char> isUsed(mesh.nodeCount(), 0);
    for (const auto& t : mesh.triangleNodes())
        for (int order : t) isUsed[order] = 1;
    std::vector<long> vertexOf(mesh.nodeCount(), -1);
    for (int order = 0; order < mesh.nodeCount(); ++order)
        if (isUsed[order]) {
            vertexOf[order] = static_cast<long>(used.size());
            used.push_back(order);
        }
    ASSERT_EQ(read.positions.size(), used.size());
    ASSERT_EQ(read.normals.size(), used.size());
    ASSERT_EQ(read.faces.size(), static_cast<std::size_t>(mesh.triangleCount()));
    for (std::size_t i = 0; i < used.size(); ++i) {
        const ReconNode* node = mesh.nodeAt(used[i]);
        for (int k = 0; k < 3; ++k) {
            // Nine significant digits: a relative error below 1e-8 of the sample's size.
            EXPECT_NEAR(read.positions[i][k], node->position[k], 30.0 * 1e-8);
            EXPECT_NEAR(read.normals[i][k], node->normal[k], 1e-8);
        }
    }
    for (std::size_t i = 0; i < read.faces.size(); ++i)
        for (int k = 0; k < 3; ++k) {
            ASSERT_GE(read.faces[i][k], 0);
            ASSERT_LT(read.faces[i][k], static_cast<long>(used.size()));
            EXPECT_EQ(read.faces[i][k], vertexOf[mesh.triangleNodes()[i][k]]);
        }
}

// The part of a sphere sample below y = 10: an open mesh with a border.
void openCap(Reconstruct& mesh) {
    Reconstruct sphere;
    meshtest::addFibonacciSphere(sphere, 600, 30.0);
    for (ReconNode* n = sphere.firstNode(); n; n = sphere.nextNode())
        if (n->position.y < 10.0) mesh.addNode(n->position, n->normal);
    mesh.triangulate();
}

}  // namespace

TEST_F(MeshFiles, ObjOfSphereReadsBack) {
    Reconstruct mesh;
    meshtest::addFibonacciSphere(mesh, 1000, 30.0);
    mesh.triangulate();
    std::string error;
    ASSERT_TRUE(writeMesh(mesh, file("sphere.obj"), &error)) << error;
    expectMatches(readObj(file("sphere.obj")), mesh);
}

TEST_F(MeshFiles, PlyOfSphereReadsBack) {
    Reconstruct mesh;
    meshtest::addFibonacciSphere(mesh, 1000, 30.0);
    mesh.triangulate();
    std::string error;
    ASSERT_TRUE(writeMesh(mesh, file("sphere.ply"), &error)) << error;
    expectMatches(readPly(file("sphere.ply")), mesh);
}

TEST_F(MeshFiles, OpenMeshReadsBackWhateverTheExtensionCase) {
    Reconstruct mesh;
    openCap(mesh);
    ASSERT_GT(mesh.triangleCount(), 0);
    ASSERT_GT(measureMesh(mesh).boundaryEdges, 0);
    ASSERT_TRUE(writeMesh(mesh, file("cap.OBJ")));
    ASSERT_TRUE(writeMesh(mesh, file("cap.Ply")));
    expectMatches(readObj(file("cap.OBJ")), mesh);
    expectMatches(readPly(file("cap.Ply")), mesh);
}

// Nodes 1 and 3 are in no triangle: the files hold nodes 0, 2, 4 as vertices 0, 1, 2.
TEST_F(MeshFiles, UnusedNodesAreLeftOutAndIndicesRenumbered) {
    Reconstruct mesh;
    ReconNode* n[5];
    for (int i = 0; i < 5; ++i) n[i] = mesh.addNode(geo::Vertex(i, i * i, 0), geo::Vertex(0, 0, 1));
    mesh.addTriangle(n[0], n[2], n[4]);
    ASSERT_TRUE(writeMesh(mesh, file("three.obj")));
    const ReadMesh obj = readObj(file("three.obj"));
    expectMatches(obj, mesh);
    ASSERT_EQ(obj.positions.size(), 3u);
    EXPECT_EQ(obj.positions[1][1], 4.0);  // node 2 at (2, 4, 0)
    EXPECT_EQ(obj.positions[2][0], 4.0);  // node 4 at (4, 16, 0)
}

TEST_F(MeshFiles, EmptyMeshWritesEmptyFiles) {
    Reconstruct mesh;
    mesh.addNode(geo::Vertex(0, 0, 0), geo::Vertex(0, 0, 1));
    ASSERT_TRUE(writeMesh(mesh, file("empty.obj")));
    ASSERT_TRUE(writeMesh(mesh, file("empty.ply")));
    const ReadMesh obj = readObj(file("empty.obj"));
    const ReadMesh ply = readPly(file("empty.ply"));
    EXPECT_EQ(obj.error, "");
    EXPECT_EQ(ply.error, "");
    EXPECT_TRUE(obj.positions.empty() && obj.faces.empty());
    EXPECT_TRUE(ply.positions.empty() && ply.faces.empty());
}

TEST_F(MeshFiles, UnknownExtensionIsRefusedWithoutWriting) {
    Reconstruct mesh;
    meshtest::addFibonacciSphere(mesh, 100, 1.0);
    mesh.triangulate();
    for (const char* name : {"mesh.stl", "mesh", "obj", "dir.obj/mesh"}) {
        std::string error;
        EXPECT_FALSE(writeMesh(mesh, file(name), &error)) << name;
        EXPECT_NE(error.find(".obj or .ply"), std::string::npos) << error;
    }
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(MeshFiles, FailedWriteKeepsOldFileAndSaysWhy) {
    Reconstruct mesh;
    meshtest::addFibonacciSphere(mesh, 100, 1.0);
    mesh.triangulate();
    std::string error;
    EXPECT_FALSE(writeMesh(mesh, file("missing/mesh.obj"), &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(MeshFiles, MeshWhoseNodesWereReplacedIsRefused) {
    Reconstruct mesh;
    meshtest::addFibonacciSphere(mesh, 100, 1.0);
    mesh.triangulate();
    mesh.clearNodes();  // the triangles stay, but no longer name nodes
    ASSERT_GT(mesh.triangleCount(), 0);
    std::string error;
    EXPECT_FALSE(writeMesh(mesh, file("stale.obj"), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(file("stale.obj")));
}

// ---- Quality figures ----

// The square mesh: two right isosceles triangles sharing the diagonal. Four border edges with
// one triangle each, the diagonal with two; the smallest corner is 45 degrees.
TEST(MeshQualityFigures, SquareHasFourBorderEdgesAndFortyFiveDegrees) {
    Reconstruct mesh;
    const geo::Vertex up(0, 0, 1);
    for (const geo::Vertex& p :
         {geo::Vertex(0, 0, 0), geo::Vertex(1, 0, 0), geo::Vertex(1, 1, 0), geo::Vertex(0, 1, 0)})
        mesh.addNode(p, up);
    mesh.triangulate();
    ASSERT_EQ(mesh.triangleCount(), 2);
    // Field x - 0.25: |F| is largest, 0.75, at the two nodes with x = 1.
    const MeshQuality q = measureMesh(mesh, [](const geo::Vertex& p) { return p.x - 0.25; });
    EXPECT_EQ(q.boundaryEdges, 4);
    EXPECT_EQ(q.nonmanifoldEdges, 0);
    EXPECT_NEAR(q.minAngleDeg, 45.0, 1e-9);
    EXPECT_DOUBLE_EQ(q.maxAbsField, 0.75);
}

TEST(MeshQualityFigures, ClosedSphereHasNoBoundary) {
    Reconstruct mesh;
    meshtest::addFibonacciSphere(mesh, 2000, 30.0);
    mesh.triangulate();
    // Field: signed distance to the sphere, zero at every node up to rounding.
    const MeshQuality q = measureMesh(mesh, [](const geo::Vertex& p) { return p.length() - 30.0; });
    EXPECT_EQ(q.boundaryEdges, 0);
    EXPECT_EQ(q.nonmanifoldEdges, 0);
    EXPECT_GT(q.minAngleDeg, 20.0);  // an even sample gives no slivers
    EXPECT_LT(q.maxAbsField, 1e-12);
}

// Three triangles on one side: the records stop counting at two, the figures must not.
TEST(MeshQualityFigures, EdgeWithThreeTrianglesIsNonManifold) {
    Reconstruct mesh;
    const geo::Vertex up(0, 0, 1);
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
    ReconNode* b = mesh.addNode(geo::Vertex(1, 0, 0), up);
    ReconNode* c = mesh.addNode(geo::Vertex(0, 1, 0), up);
    ReconNode* d = mesh.addNode(geo::Vertex(0, -1, 0), up);
    ReconNode* e = mesh.addNode(geo::Vertex(0, 0, 1), up);
    mesh.addTriangle(a, b, c);
    mesh.addTriangle(a, b, d);
    mesh.addTriangle(a, b, e);
    ASSERT_EQ(a->findEdge(b)->uses, 2);
    const MeshQuality q = measureMesh(mesh);
    EXPECT_EQ(q.nonmanifoldEdges, 1);
    EXPECT_EQ(q.boundaryEdges, 6);  // a-c, b-c, a-d, b-d, a-e, b-e
    EXPECT_EQ(q.maxAbsField, 0.0);  // no field given
}

TEST(MeshQualityFigures, EmptyMeshGivesZeros) {
    Reconstruct mesh;
    const MeshQuality q = measureMesh(mesh, [](const geo::Vertex&) { return 5.0; });
    EXPECT_EQ(q.boundaryEdges, 0);
    EXPECT_EQ(q.nonmanifoldEdges, 0);
    EXPECT_EQ(q.minAngleDeg, 0.0);
    EXPECT_EQ(q.maxAbsField, 0.0);  // no vertices to evaluate
}
