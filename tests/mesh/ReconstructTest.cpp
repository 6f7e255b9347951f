#include <gtest/gtest.h>

#include <string>

#include "mesh/MeshTestSupport.h"
#include "mesh/Reconstruct.h"
#include "sim/Particle.h"

namespace {

const geo::Vertex up(0, 0, 1);

// Both searches must give the same mesh; the small cases run in both.
class BothSearches : public ::testing::TestWithParam<bool> {
protected:
    BothSearches() { mesh.referenceSearch = GetParam(); }
    Reconstruct mesh;
};

INSTANTIATE_TEST_SUITE_P(Reconstruct, BothSearches, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Scan" : "Indexed";
                         });

}  // namespace

// ---- Node and edge records ----

TEST(ReconNodeRecords, AddNodeCopiesAndKeepsOrder) {
    Reconstruct mesh;
    geo::Vertex p(1, 2, 3);
    ReconNode* a = mesh.addNode(p, up);
    p.x = 99;  // the node holds a copy
    ReconNode* b = mesh.addNode(geo::Vertex(4, 5, 6), geo::Vertex(0, 1, 0));
    EXPECT_EQ(a->position, geo::Vertex(1, 2, 3));
    EXPECT_EQ(a->normal, up);
    EXPECT_EQ(a->edgeCount(), 0);
    EXPECT_EQ(a->particles, nullptr);
    EXPECT_EQ(mesh.nodeCount(), 2);
    EXPECT_EQ(mesh.firstNode(), a);
    EXPECT_EQ(mesh.nextNode(), b);
    EXPECT_EQ(mesh.nextNode(), nullptr);
    EXPECT_EQ(a->order, 0);
    EXPECT_EQ(b->order, 1);
}

TEST(ReconNodeRecords, BuildNodesWithoutListKeepsNodes) {
    Reconstruct mesh;
    mesh.addNode(geo::Vertex(1, 0, 0), up);
    EXPECT_FALSE(mesh.buildNodes(nullptr));
    EXPECT_EQ(mesh.nodeCount(), 1);
}

TEST(ReconNodeRecords, BuildNodesFromEmptyListLeavesNone) {
    Reconstruct mesh;
    mesh.addNode(geo::Vertex(1, 0, 0), up);
    ParticleList particles(false);
    EXPECT_TRUE(mesh.buildNodes(&particles));
    EXPECT_EQ(mesh.nodeCount(), 0);
}

TEST(ReconNodeRecords, BuildNodesCopiesParticlesInOrderAndKeepsTriangles) {
    Reconstruct mesh;
    mesh.addNode(geo::Vertex(0, 0, 0), up);
    mesh.addNode(geo::Vertex(1, 0, 0), up);
    mesh.addNode(geo::Vertex(0, 1, 0), up);
    mesh.triangulate();
    ASSERT_EQ(mesh.triangleCount(), 1);

    ParticleList particles(false);
    particles.createParticle(geo::Vertex(5, 6, 7), 1.0)->normal = geo::Vertex(1, 0, 0);
    particles.createParticle(geo::Vertex(8, 9, 10), 1.0)->normal = geo::Vertex(0, -1, 0);
    EXPECT_TRUE(mesh.buildNodes(&particles));
    ASSERT_EQ(mesh.nodeCount(), 2);
    EXPECT_EQ(mesh.nodeAt(0)->position, geo::Vertex(5, 6, 7));
    EXPECT_EQ(mesh.nodeAt(0)->normal, geo::Vertex(1, 0, 0));
    EXPECT_EQ(mesh.nodeAt(1)->position, geo::Vertex(8, 9, 10));
    EXPECT_EQ(mesh.nodeAt(1)->normal, geo::Vertex(0, -1, 0));
    // The triangles are copies, so they outlive the nodes; they no longer name nodes.
    EXPECT_EQ(mesh.triangleCount(), 1);
    EXPECT_TRUE(mesh.triangleNodes().empty());
}

TEST(ReconNodeRecords, FindEdgeReturnsFirstRecordTowardNode) {
    Reconstruct mesh;
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
    ReconNode* b = mesh.addNode(geo::Vertex(1, 0, 0), up);
    ReconNode* c = mesh.addNode(geo::Vertex(0, 1, 0), up);
    EXPECT_EQ(a->findEdge(b), nullptr);
    Edge* ab = a->newEdge(b);
    Edge* ac = a->newEdge(c);
    EXPECT_EQ(ab->from, a);
    EXPECT_EQ(ab->to, b);
    EXPECT_EQ(ab->uses, 0);
    EXPECT_EQ(a->findEdge(b), ab);
    EXPECT_EQ(a->findEdge(c), ac);
    EXPECT_EQ(a->edgeCount(), 2);
    EXPECT_EQ(a->edgeAt(1), ac);
    EXPECT_EQ(b->findEdge(a), nullptr);  // records are directed
}

TEST(ReconNodeRecords, MarkEdgeCountsUpToTwoAndStays) {
    Reconstruct mesh;
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
    ReconNode* b = mesh.addNode(geo::Vertex(1, 0, 0), up);
    Edge* e = a->markEdge(b);
    EXPECT_EQ(e->uses, 1);
    EXPECT_EQ(a->markEdge(b), e);
    EXPECT_EQ(e->uses, 2);
    EXPECT_EQ(a->markEdge(b), e);
    EXPECT_EQ(e->uses, 2);  // saturates; no new record either
    EXPECT_EQ(a->edgeCount(), 1);
}

TEST(ReconNodeRecords, IsClosedNeedsRecordsAllUsedTwice) {
    Reconstruct mesh;
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
    ReconNode* b = mesh.addNode(geo::Vertex(1, 0, 0), up);
    ReconNode* c = mesh.addNode(geo::Vertex(0, 1, 0), up);
    EXPECT_FALSE(a->isClosed());  // no records at all: not a complete fan
    a->markEdge(b);
    a->markEdge(b);
    EXPECT_TRUE(a->isClosed());
    a->markEdge(c);
    EXPECT_FALSE(a->isClosed());
    a->markEdge(c);
    EXPECT_TRUE(a->isClosed());
}

TEST(ReconNodeRecords, CanJoinDependsOnClosureAndSharedRecord) {
    Reconstruct mesh;
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
    ReconNode* b = mesh.addNode(geo::Vertex(1, 0, 0), up);
    ReconNode* c = mesh.addNode(geo::Vertex(0, 1, 0), up);
    ReconNode* d = mesh.addNode(geo::Vertex(1, 1, 0), up);
    EXPECT_TRUE(ReconNode::canJoin(a, b));  // b has no records, so it cannot be closed
    a->markEdge(b);
    EXPECT_TRUE(ReconNode::canJoin(a, b));  // one triangle on a-b leaves room for another
    a->markEdge(b);
    EXPECT_FALSE(ReconNode::canJoin(a, b));  // a-b is full
    // c closed: nobody may join it, linked or not.
    c->markEdge(d);
    c->markEdge(d);
    ASSERT_TRUE(c->isClosed());
    EXPECT_FALSE(ReconNode::canJoin(a, c));
    EXPECT_FALSE(ReconNode::canJoin(b, c));
}

TEST(ReconNodeRecords, CrowdingCountsSingleUseRecordsInHalfSpaceIncludingPerpendicular) {
    Reconstruct mesh;
    ReconNode* centre = mesh.addNode(geo::Vertex(0, 0, 0), up);
    ReconNode* ahead = mesh.addNode(geo::Vertex(1, 0, 0), up);
    ReconNode* left = mesh.addNode(geo::Vertex(0, 1, 0), up);    // dot 0 with (1,0,0)
    ReconNode* right = mesh.addNode(geo::Vertex(0, -1, 0), up);  // dot 0 as well
    ReconNode* behind = mesh.addNode(geo::Vertex(-1, 0, 0), up);
    ReconNode* full = mesh.addNode(geo::Vertex(2, 0, 0), up);
    const geo::Vertex d(1, 0, 0);
    centre->markEdge(ahead);
    centre->markEdge(left);
    centre->markEdge(behind);
    EXPECT_FALSE(centre->isCrowdedToward(d));  // two in the half-space: not more than two
    centre->markEdge(full);
    centre->markEdge(full);  // uses 2: not counted
    EXPECT_FALSE(centre->isCrowdedToward(d));
    centre->markEdge(right);  // the perpendicular one makes three
    EXPECT_TRUE(centre->isCrowdedToward(d));
    // Toward (1, 1, 0) only ahead and left count (right and behind have negative dot).
    EXPECT_FALSE(centre->isCrowdedToward(geo::Vertex(1, 1, 0)));
}

TEST(ReconstructQueue, PopsInOrderAndNullWhenEmpty) {
    Reconstruct mesh;
    EXPECT_EQ(mesh.popEdge(), nullptr);
    EXPECT_EQ(mesh.queuedEdgeCount(), 0);
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
    ReconNode* b = mesh.addNode(geo::Vertex(1, 0, 0), up);
    Edge* ab = a->newEdge(b);
    Edge* ba = b->newEdge(a);
    mesh.queueEdge(ab);
    mesh.queueEdge(ba);
    EXPECT_EQ(mesh.popEdge(), ab);
    EXPECT_EQ(mesh.popEdge(), ba);
    EXPECT_EQ(mesh.popEdge(), nullptr);
    EXPECT_EQ(mesh.queuedEdgeCount(), 0);
}

// Under the sanitizer build a second delete through the queue would be reported.
TEST(ReconstructQueue, DestroyingWithQueuedRecordsDeletesEachOnce) {
    auto* mesh = new Reconstruct;
    ReconNode* a = mesh->addNode(geo::Vertex(0, 0, 0), up);
    ReconNode* b = mesh->addNode(geo::Vertex(1, 0, 0), up);
    Edge* ab = a->newEdge(b);
    mesh->queueEdge(ab);
    mesh->queueEdge(ab);  // queued twice, still owned once
    mesh->queueEdge(b->newEdge(a));
    delete mesh;
}

// The queue only refers to records; when the nodes go, it must not keep dangling pointers.
TEST(ReconstructQueue, ReplacingNodesEmptiesTheQueue) {
    Reconstruct mesh;
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
    ReconNode* b = mesh.addNode(geo::Vertex(1, 0, 0), up);
    mesh.queueEdge(a->newEdge(b));
    ParticleList particles(false);
    particles.createParticle(geo::Vertex(2, 0, 0), 1.0);
    ASSERT_TRUE(mesh.buildNodes(&particles));
    EXPECT_EQ(mesh.popEdge(), nullptr);
}

TEST(ReconNodeRecords, NodeReleasesItsParticleList) {
    Reconstruct mesh;
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
    a->particles = new ParticleList(false);
    a->particles->createParticle(geo::Vertex(1, 1, 1), 2.0);
    mesh.clearNodes();  // the leak checker of the sanitizer build sees a missed delete
    EXPECT_EQ(mesh.nodeCount(), 0);
}

TEST(ReconstructTriangles, ClearTrianglesKeepsNodesAndRecords) {
    Reconstruct mesh;
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
    mesh.addNode(geo::Vertex(1, 0, 0), up);
    mesh.addNode(geo::Vertex(0, 1, 0), up);
    mesh.triangulate();
    ASSERT_EQ(mesh.triangleCount(), 1);
    mesh.clearTriangles();
    EXPECT_EQ(mesh.triangleCount(), 0);
    EXPECT_EQ(mesh.firstTriangle(), nullptr);
    EXPECT_EQ(mesh.nodeCount(), 3);
    EXPECT_EQ(a->edgeCount(), 2);
}

// ---- Geometric helpers ----

TEST(ReconstructGeometry, TriangleAreaByHeron) {
    // Right triangle with legs 3 and 4: area 6. Heron on 3, 4, 5 is exact in doubles.
    EXPECT_DOUBLE_EQ(Reconstruct::triangleArea({0, 0, 0}, {3, 0, 0}, {0, 4, 0}), 6.0);
    EXPECT_EQ(Reconstruct::triangleArea({0, 0, 0}, {1, 0, 0}, {2, 0, 0}), 0.0);  // collinear
    EXPECT_EQ(Reconstruct::triangleArea({1, 1, 1}, {1, 1, 1}, {0, 4, 0}), 0.0);  // coincident
    EXPECT_EQ(Reconstruct::triangleArea({1, 1, 1}, {1, 1, 1}, {1, 1, 1}), 0.0);
}

TEST(ReconstructGeometry, AwayDirectionPointsFromApexAcrossTheEdge) {
    // Edge along x, apex below at y = -2: foot (1, 0, 0), away direction +y.
    const geo::Vertex d = Reconstruct::awayDirection({0, 0, 0}, {4, 0, 0}, {1, -2, 0});
    EXPECT_DOUBLE_EQ(d.x, 0.0);
    EXPECT_DOUBLE_EQ(d.y, 1.0);
    EXPECT_DOUBLE_EQ(d.z, 0.0);
    // Apex on the line: no direction.
    EXPECT_EQ(Reconstruct::awayDirection({0, 0, 0}, {4, 0, 0}, {7, 0, 0}), geo::Vertex());
    // Coincident ends: no line, no direction, and no division by zero.
    EXPECT_EQ(Reconstruct::awayDirection({1, 1, 1}, {1, 1, 1}, {0, 0, 0}), geo::Vertex());
}

TEST(ReconstructGeometry, AddTriangleWindsAlongMeanNormalAndQueuesNewSides) {
    Reconstruct mesh;
    const geo::Vertex down(0, 0, -1);
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), down);
    ReconNode* b = mesh.addNode(geo::Vertex(1, 0, 0), down);
    ReconNode* c = mesh.addNode(geo::Vertex(0, 1, 0), down);
    mesh.addTriangle(a, b, c);
    // (b - a) x (c - a) = +z, against the normals: stored as a, c, b.
    geo::Triangle* t = mesh.firstTriangle();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->corner0, a->position);
    EXPECT_EQ(t->corner1, c->position);
    EXPECT_EQ(t->corner2, b->position);
    EXPECT_EQ(t->normal1, down);
    EXPECT_EQ(mesh.triangleNodes()[0], (std::array<int, 3>{0, 2, 1}));
    // All six records used once; the two new sides queued, a -> c first.
    EXPECT_EQ(mesh.consistencyFault(), "");
    EXPECT_EQ(a->findEdge(b)->uses, 1);
    EXPECT_EQ(mesh.popEdge(), a->findEdge(c));
    EXPECT_EQ(mesh.popEdge(), b->findEdge(c));
    EXPECT_EQ(mesh.popEdge(), nullptr);
    EXPECT_TRUE(Reconstruct::isApexOf(c->findEdge(a), b));
    EXPECT_TRUE(Reconstruct::isApexOf(b->findEdge(c), a));
    EXPECT_FALSE(Reconstruct::isApexOf(b->findEdge(c), b));
}

// ---- Triangulation ----

TEST_P(BothSearches, FewerThanThreeNodesMakeNoTriangle) {
    EXPECT_TRUE(mesh.triangulate());
    EXPECT_EQ(mesh.triangleCount(), 0);
    mesh.addNode(geo::Vertex(0, 0, 0), up);
    mesh.triangulate();
    EXPECT_EQ(mesh.triangleCount(), 0);
    mesh.addNode(geo::Vertex(1, 0, 0), up);
    mesh.triangulate();
    EXPECT_EQ(mesh.triangleCount(), 0);
    EXPECT_EQ(mesh.queuedEdgeCount(), 0);
}

TEST_P(BothSearches, ThreeNodesMakeOneTriangleWhoseSidesFindNoApex) {
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
    ReconNode* b = mesh.addNode(geo::Vertex(2, 0, 0), up);
    ReconNode* c = mesh.addNode(geo::Vertex(0, 1, 0), up);
    mesh.triangulate();
    EXPECT_EQ(mesh.triangleCount(), 1);
    EXPECT_EQ(mesh.queuedEdgeCount(), 0);
    // Each side borders one triangle and stays open.
    ReconNode* nodes[3] = {a, b, c};
    for (int i = 0; i < 3; ++i) {
        ReconNode* p = nodes[i];
        ReconNode* q = nodes[(i + 1) % 3];
        ReconNode* apex = nodes[(i + 2) % 3];
        Edge* e = p->findEdge(q);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->uses, 1);
        // The only other node is the apex of the triangle on the side, behind it.
        ReconNode* closing = nullptr;
        EXPECT_EQ(mesh.apexFromNeighbours(e, &closing), apex);
        EXPECT_EQ(closing, nullptr);
        const geo::Vertex d = Reconstruct::awayDirection(p->position, q->position, apex->position);
        EXPECT_EQ(mesh.searchApex(e, d), nullptr);
    }
}

// Seed ties: the second and fourth node are both nearest to the first (distance 1), the third
// and fourth both score 1.5 as third node; the earlier wins each time. The diagonal 0 -> 2 is
// popped first and gets node 3; the four border edges find nothing.
TEST_P(BothSearches, SquareGivesTwoCounterClockwiseTriangles) {
    const geo::Vertex p[4] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    for (const geo::Vertex& v : p) mesh.addNode(v, up);
    mesh.triangulate();
    ASSERT_EQ(mesh.triangleCount(), 2);
    const auto t = meshtest::storedTriangles(mesh);
    EXPECT_EQ(t[0][0], p[0]);
    EXPECT_EQ(t[0][1], p[1]);
    EXPECT_EQ(t[0][2], p[2]);
    EXPECT_EQ(t[1][0], p[0]);
    EXPECT_EQ(t[1][1], p[2]);
    EXPECT_EQ(t[1][2], p[3]);
    for (const auto& tri : t) {
        const geo::Vertex k = (tri[1] - tri[0]).cross(tri[2] - tri[0]);
        EXPECT_GT(k.z, 0.0);  // counter-clockwise seen from +z
    }
    EXPECT_EQ(mesh.nodeAt(0)->findEdge(mesh.nodeAt(2))->uses, 2);
    EXPECT_EQ(mesh.nodeAt(0)->findEdge(mesh.nodeAt(1))->uses, 1);
    EXPECT_EQ(mesh.consistencyFault(), "");
}

// Nodes 0 and 1 coincide. The seed has no area test and takes both (1 is at distance 0).
// Popped next, 0 -> 2 has apex 1 at the same place as 0, so no away direction: node 1 would
// score best (0.5) but has zero area with 0 and 2, and node 3 (1.5) is taken. 1 -> 2 then
// takes node 3 as well (node 0 again has zero area). Last, 0 -> 1 has the common neighbours
// 2 and 3 and closes the hole 0, 1, 3, which has no area test: the result is a flat
// tetrahedron whose every side borders exactly two triangles.
TEST_P(BothSearches, CoincidentNodesShareOnlySeedAndHoleTriangles) {
    mesh.addNode(geo::Vertex(0, 0, 0), up);
    mesh.addNode(geo::Vertex(0, 0, 0), up);
    mesh.addNode(geo::Vertex(1, 0, 0), up);
    mesh.addNode(geo::Vertex(0, 1, 0), up);
    mesh.triangulate();
    const std::vector<std::array<int, 3>> expected = {{0, 1, 2}, {0, 2, 3}, {1, 2, 3}, {0, 1, 3}};
    EXPECT_EQ(mesh.triangleNodes(), expected);
    // No face twice, no side with more than two; with every fan closed, each has two.
    EXPECT_EQ(mesh.consistencyFault(), "");
    for (ReconNode* n = mesh.firstNode(); n; n = mesh.nextNode()) EXPECT_TRUE(n->isClosed());
}

// Two candidates at exactly the same score (both (3 + 3) / 2 = 3): the earlier node wins.
TEST(ReconstructSearch, EqualScoresGoToTheEarlierNode) {
    for (int earlierAbove = 0; earlierAbove < 2; ++earlierAbove) {
        Reconstruct mesh;
        ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
        ReconNode* b = mesh.addNode(geo::Vertex(2, 0, 0), up);
        ReconNode* q = mesh.addNode(geo::Vertex(1, -1, 0), up);
        const geo::Vertex high(1, 1, 1), low(1, 1, -1);
        ReconNode* first = mesh.addNode(earlierAbove ? high : low, up);
        mesh.addNode(earlierAbove ? low : high, up);
        mesh.addTriangle(a, b, q);
        const geo::Vertex d = Reconstruct::awayDirection(a->position, b->position, q->position);
        EXPECT_EQ(mesh.searchApex(a->findEdge(b), d), first);
    }
}

// A three-edge hole a, b, x beside the front edge a -> b: x closes it although the distance
// search would take the nearer node c. p1 and p2 lie below the edge's line, so neither end
// is crowded toward +y (two one-use records each: toward x and along the edge).
TEST(ReconstructSearch, HoleIsClosedWithoutDistanceSearch) {
    Reconstruct mesh;
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
    ReconNode* b = mesh.addNode(geo::Vertex(2, 0, 0), up);
    ReconNode* q = mesh.addNode(geo::Vertex(1, -1, 0), up);
    ReconNode* x = mesh.addNode(geo::Vertex(1, 3, 0), up);
    ReconNode* p1 = mesh.addNode(geo::Vertex(-1, -0.5, 0), up);
    ReconNode* p2 = mesh.addNode(geo::Vertex(3, -0.5, 0), up);
    ReconNode* c = mesh.addNode(geo::Vertex(1, 1, 0), up);
    mesh.addTriangle(a, b, q);
    mesh.addTriangle(a, x, p1);
    mesh.addTriangle(b, x, p2);
    Edge* e = a->findEdge(b);
    ReconNode* closing = nullptr;
    EXPECT_EQ(mesh.apexFromNeighbours(e, &closing), q);
    EXPECT_EQ(closing, x);
    // c scores (2 + 2) / 2 = 2 against x's (10 + 10) / 2 = 10: a search would pick c.
    const geo::Vertex d = Reconstruct::awayDirection(a->position, b->position, q->position);
    EXPECT_EQ(mesh.searchApex(e, d), c);
    mesh.addTriangle(a, b, closing);
    EXPECT_EQ(a->findEdge(b)->uses, 2);
    EXPECT_EQ(a->findEdge(x)->uses, 2);
    EXPECT_EQ(b->findEdge(x)->uses, 2);
}

// a's records in order: a->x, a->y, a->b, a->q. Walking them, the hole node x is met first
// and q, the apex of the triangle already on a -> b, second. Taking q as the closing node
// (it can still join both ends) would lay the face a, b, q a second time.
TEST(ReconstructSearch, ApexOfTheEdgeIsNeverTheClosingNode) {
    Reconstruct mesh;
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
    ReconNode* b = mesh.addNode(geo::Vertex(2, 0, 0), up);
    ReconNode* q = mesh.addNode(geo::Vertex(1, -1, 0), up);
    ReconNode* x = mesh.addNode(geo::Vertex(1, 2, 0), up);
    ReconNode* y = mesh.addNode(geo::Vertex(-1, 1, 0), up);
    ReconNode* z = mesh.addNode(geo::Vertex(3, 1, 0), up);
    mesh.addTriangle(a, x, y);
    mesh.addTriangle(b, x, z);
    mesh.addTriangle(a, b, q);
    ASSERT_TRUE(ReconNode::canJoin(a, q) && ReconNode::canJoin(b, q));
    ASSERT_TRUE(Reconstruct::isApexOf(a->findEdge(b), q));
    ReconNode* closing = nullptr;
    EXPECT_EQ(mesh.apexFromNeighbours(a->findEdge(b), &closing), q);
    EXPECT_EQ(closing, x);  // the real hole
    mesh.addTriangle(a, b, closing);
    EXPECT_EQ(mesh.consistencyFault(), "");  // no face laid twice
}

// As above, but x cannot join any more (a-x already borders two triangles): there is then
// no closing node at all, and the edge is left to the distance search or dropped.
TEST(ReconstructSearch, ApexOfTheEdgeIsNotTakenWhenTheHoleCannotClose) {
    Reconstruct mesh;
    ReconNode* a = mesh.addNode(geo::Vertex(0, 0, 0), up);
    ReconNode* b = mesh.addNode(geo::Vertex(2, 0, 0), up);
    ReconNode* q = mesh.addNode(geo::Vertex(1, -1, 0), up);
    ReconNode* x = mesh.addNode(geo::Vertex(1, 2, 0), up);
    ReconNode* y = mesh.addNode(geo::Vertex(-1, 1, 0), up);
    ReconNode* z = mesh.addNode(geo::Vertex(3, 1, 0), up);
    ReconNode* w = mesh.addNode(geo::Vertex(0, 3, 0), up);
    mesh.addTriangle(a, x, y);
    mesh.addTriangle(a, x, w);
    mesh.addTriangle(b, x, z);
    mesh.addTriangle(a, b, q);
    ReconNode* closing = nullptr;
    mesh.apexFromNeighbours(a->findEdge(b), &closing);
    EXPECT_EQ(closing, nullptr);
}

// Triangulating again without new nodes makes nothing: every node already has records, so
// there is no seed.
TEST_P(BothSearches, SecondRunOnTheSameNodesFindsNoSeed) {
    meshtest::addFibonacciSphere(mesh, 50, 1.0);
    mesh.triangulate();
    ASSERT_GT(mesh.triangleCount(), 0);
    mesh.triangulate();
    EXPECT_EQ(mesh.triangleCount(), 0);
}

TEST_P(BothSearches, SphereSampleIsClosedWithoutDuplicateFaces) {
    meshtest::addFibonacciSphere(mesh, 3000, 30.0);
    mesh.triangulate();
    EXPECT_EQ(mesh.consistencyFault(), "");
    // A closed mesh of genus 0 on V vertices has 2V - 4 triangles (Euler).
    EXPECT_EQ(mesh.triangleCount(), 2 * 3000 - 4);
    // Counter-clockwise seen from outside: every stored winding agrees with the normals.
    for (geo::Triangle* t = mesh.firstTriangle(); t; t = mesh.nextTriangle()) {
        const geo::Vertex k = (t->corner1 - t->corner0).cross(t->corner2 - t->corner0);
        EXPECT_GE(k.dot(t->normal0 + t->normal1 + t->normal2), 0.0);
    }
}

// What keeps a drawn mesh (the view's display lists) is keyed by the revision: every
// change of the triangles, in any mesh, gives a revision no mesh has had.
TEST(TriangleRevision, EveryChangeOfAnyMeshIsANewOne) {
    Reconstruct first;
    Reconstruct second;
    std::set<std::uint64_t> seen{first.triangleRevision(), second.triangleRevision()};
    EXPECT_EQ(seen.size(), 2u);
    meshtest::addFibonacciSphere(first, 40, 10.0);
    const std::uint64_t empty = first.triangleRevision();
    first.triangulate();
    ASSERT_GT(first.triangleCount(), 0);
    EXPECT_TRUE(seen.insert(first.triangleRevision()).second);
    EXPECT_NE(first.triangleRevision(), empty);
    const std::uint64_t meshed = first.triangleRevision();
    first.clearTriangles();
    EXPECT_TRUE(seen.insert(first.triangleRevision()).second);
    meshtest::addFibonacciSphere(second, 40, 10.0);
    second.triangulate();
    EXPECT_TRUE(seen.insert(second.triangleRevision()).second);
    EXPECT_NE(second.triangleRevision(), meshed);  // the same triangles, another mesh
}

// The validator run after every triangulation in debug and sanitizer builds must see each
// kind of disagreement between the records and the faces.
TEST(ReconstructConsistency, TheValidatorSeesRecordsThatDisagreeWithTheFaces) {
    struct Case {
        const char* name;
        void (*spoil)(Reconstruct&);
        const char* fault;  // the start of what the validator says
    } cases[] = {
        {"sound", [](Reconstruct&) {}, ""},
        {"a use too few", [](Reconstruct& m) { m.nodeAt(0)->firstEdge()->uses = 1; },
         "the record 0->"},
        {"a record without a face",
         [](Reconstruct& m) {
             // Two nodes far from each other and from the sphere share no face.
             ReconNode* a = m.addNode(geo::Vertex(500, 0, 0), up);
             ReconNode* b = m.addNode(geo::Vertex(600, 0, 0), up);
             a->markEdge(b);
             b->markEdge(a);
         },
         "the record 50->51 is the side of no face"},
        {"a missing twin", [](Reconstruct& m) { m.nodeAt(7)->clearEdges(); }, "the record "},
    };
    for (const Case& c : cases) {
        Reconstruct mesh;
        meshtest::addFibonacciSphere(mesh, 50, 10.0);
        mesh.triangulate();
        ASSERT_EQ(mesh.consistencyFault(), "");
        c.spoil(mesh);
        const std::string fault = mesh.consistencyFault();
        EXPECT_EQ(fault.rfind(c.fault, 0), 0u) << c.name << ": " << fault;
        EXPECT_EQ(fault.empty(), *c.fault == '\0') << c.name;
    }
}
