// The indexed apex search must build exactly the mesh of the plain scan: same triangles,
// same corners, same order, same winding, on every kind of input, ties and rounding included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "mesh/MeshTestSupport.h"
#include "mesh/Reconstruct.h"

namespace {

struct Node {
    geo::Vertex position;
    geo::Vertex normal;
};

using Cloud = std::vector<Node>;

geo::Vertex randomUnit(std::mt19937& rng) {
    std::normal_distribution<double> gauss(0.0, 1.0);
    for (;;) {
        const geo::Vertex v(gauss(rng), gauss(rng), gauss(rng));
        if (v.squaredLength() > 1e-12) return v.normalised();
    }
}

int randomCount(std::mt19937& rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

// Uniform in a cube, normals in random directions: no surface at all.
Cloud randomCloud(std::mt19937& rng) {
    std::uniform_real_distribution<double> coord(-10.0, 10.0);
    Cloud cloud(randomCount(rng, 3, 200));
    for (Node& n : cloud) {
        n.position = geo::Vertex(coord(rng), coord(rng), coord(rng));
        n.normal = randomUnit(rng);
    }
    return cloud;
}

// Points scattered around a sphere of radius 5 with outward normals.
Cloud nearSphere(std::mt19937& rng) {
    std::uniform_real_distribution<double> noise(-0.05, 0.05);
    Cloud cloud(randomCount(rng, 20, 300));
    for (Node& n : cloud) {
        n.normal = randomUnit(rng);
        n.position = n.normal * (5.0 + noise(rng));
    }
    return cloud;
}

// Lattice points with many exactly equal scores; integer steps keep every score exact, steps
// of 0.1 make ties that rounding may or may not break. Shuffled so list order matters.
Cloud lattice(std::mt19937& rng) {
    const int nx = randomCount(rng, 2, 12);
    const int ny = randomCount(rng, 2, 12);
    const int nz = randomCount(rng, 1, 3);
    const double step = rng() % 2 ? 1.0 : 0.1;
    Cloud cloud;
    for (int i = 0; i < nx; ++i)
        for (int j = 0; j < ny; ++j)
            for (int k = 0; k < nz; ++k)
                cloud.push_back({geo::Vertex(i * step, j * step, k * step), geo::Vertex(0, 0, 1)});
    if (rng() % 2) std::shuffle(cloud.begin(), cloud.end(), rng);
    return cloud;
}

// A few cluster centres; many points repeat a centre exactly, others sit close by.
Cloud clusters(std::mt19937& rng) {
    std::uniform_real_distribution<double> coord(-3.0, 3.0);
    std::uniform_real_distribution<double> jitter(-0.2, 0.2);
    std::vector<geo::Vertex> centres(randomCount(rng, 2, 8));
    for (geo::Vertex& c : centres) c = geo::Vertex(coord(rng), coord(rng), coord(rng));
    Cloud cloud(randomCount(rng, 3, 150));
    for (Node& n : cloud) {
        const geo::Vertex& c = centres[rng() % centres.size()];
        n.position = rng() % 3 == 0 ? c : c + geo::Vertex(jitter(rng), jitter(rng), jitter(rng));
        n.normal = rng() % 4 == 0 ? geo::Vertex() : randomUnit(rng);
    }
    return cloud;
}

// The same spread far from the origin and at tiny and huge scales, where rounding is coarse
// compared with the spacing or the squares come near the ends of the double range.
Cloud scaled(std::mt19937& rng) {
    static const double scales[] = {1e-8, 1e-150, 1e8, 1e90};
    static const double offsets[] = {0.0, 1e8, -3e5};
    Cloud cloud = nearSphere(rng);
    const double scale = scales[rng() % 4];
    const double offset = offsets[rng() % 3] * (scale >= 1.0 ? 1.0 : scale);
    for (Node& n : cloud) n.position = n.position * scale + geo::Vertex(offset, offset, 0.0);
    return cloud;
}

// A cloud with unusable nodes mixed in: NaN and infinite coordinates, and now and then one
// beyond the index's coordinate range, which makes the run fall back to the scan.
Cloud withBadNodes(std::mt19937& rng) {
    Cloud cloud = randomCloud(rng);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const geo::Vertex bad[] = {{nan, 0, 0}, {inf, 1, 1}, {0, -inf, 0}, {1e120, 0, 0}};
    const int count = randomCount(rng, 1, 4);
    for (int i = 0; i < count; ++i) {
        const std::size_t at = rng() % (cloud.size() + 1);
        cloud.insert(cloud.begin() + at, Node{bad[rng() % (rng() % 5 == 0 ? 4 : 3)], {0, 0, 1}});
    }
    return cloud;
}

void triangulateCloud(const Cloud& cloud, bool referenceSearch, Reconstruct& mesh) {
    mesh.referenceSearch = referenceSearch;
    for (const Node& n : cloud) mesh.addNode(n.position, n.normal);
    mesh.triangulate();
}

// Triangulates with both searches and compares everything the mesh holds.
void expectSameMesh(const Cloud& cloud) {
    Reconstruct indexed, scanned;
    triangulateCloud(cloud, false, indexed);
    triangulateCloud(cloud, true, scanned);
    ASSERT_EQ(indexed.triangleNodes(), scanned.triangleNodes());
    const auto a = meshtest::storedTriangles(indexed);
    const auto b = meshtest::storedTriangles(scanned);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int k = 0; k < 6; ++k) {
            // Bitwise: a zero normal or a NaN corner must match as well.
            ASSERT_EQ(std::memcmp(&a[i][k], &b[i][k], sizeof(geo::Vertex)), 0) << i;
        }
    // Whatever the input, the mesh stays sound.
    EXPECT_EQ(indexed.consistencyFault(), "");
    EXPECT_EQ(indexed.queuedEdgeCount(), 0);
}

void compareMany(const std::function<Cloud(std::mt19937&)>& make, unsigned firstSeed, int runs) {
    for (int run = 0; run < runs; ++run) {
        const unsigned seed = firstSeed + run;
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        expectSameMesh(make(rng));
        if (::testing::Test::HasFatalFailure()) return;
    }
}

}  // namespace

TEST(FastApexSearch, MatchesScanOnRandomClouds) {
    compareMany(randomCloud, 1000, 80);
}
TEST(FastApexSearch, MatchesScanNearSpheres) {
    compareMany(nearSphere, 2000, 80);
}
TEST(FastApexSearch, MatchesScanOnLatticesWithTies) {
    compareMany(lattice, 3000, 100);
}
TEST(FastApexSearch, MatchesScanOnClustersWithCoincidentPoints) {
    compareMany(clusters, 4000, 80);
}
TEST(FastApexSearch, MatchesScanAtExtremeScales) {
    compareMany(scaled, 5000, 40);
}
TEST(FastApexSearch, MatchesScanWithUnusableNodes) {
    compareMany(withBadNodes, 6000, 40);
}

// A run is a pure function of the nodes: the same input gives the same mesh again.
TEST(FastApexSearch, RepeatsItself) {
    std::mt19937 rng(7);
    const Cloud cloud = nearSphere(rng);
    Reconstruct first, second;
    triangulateCloud(cloud, false, first);
    triangulateCloud(cloud, false, second);
    EXPECT_GT(first.triangleCount(), 0);
    EXPECT_EQ(first.triangleNodes(), second.triangleNodes());
}

TEST(FastApexSearch, MatchesScanOnALargerSphere) {
    Reconstruct indexed, scanned;
    scanned.referenceSearch = true;
    meshtest::addFibonacciSphere(indexed, 2000, 30.0, geo::Vertex(100, -7, 3));
    meshtest::addFibonacciSphere(scanned, 2000, 30.0, geo::Vertex(100, -7, 3));
    indexed.triangulate();
    scanned.triangulate();
    EXPECT_EQ(indexed.triangleNodes(), scanned.triangleNodes());
}
