#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "sim/FastRepulsion.h"
#include "sim/Particle.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

std::vector<Particle*> queried(const FastRepulsion& grid, const geo::Vertex& centre,
                               double radius) {
    std::vector<Particle*> out;
    grid.queryInto(centre, radius, out);
    return out;
}

// The floaters of a packed query, in run order.
std::vector<const Particle*> packedQueried(FastRepulsion& grid, const geo::Vertex& centre,
                                           double radius) {
    std::vector<FastRepulsion::PackedRun> runs;
    grid.queryPacked(centre, radius, runs);
    std::vector<const Particle*> out;
    const FastRepulsion::Packed packed = grid.packed();
    for (const FastRepulsion::PackedRun& run : runs)
        for (int f = run.begin; f != run.end; ++f) out.push_back(packed.particle[f]);
    return out;
}

std::vector<const Particle*> constVector(const std::vector<Particle*>& v) {
    return std::vector<const Particle*>(v.begin(), v.end());
}

std::vector<Particle*> asVector(ParticleList& list) {
    std::vector<Particle*> out;
    for (Particle* p = list.first(); p; p = list.next()) out.push_back(p);
    return out;
}

}  // namespace

TEST(FastRepulsion, ConstructionSetsUpTheCells) {
    FastRepulsion grid(5, 1000.0);
    EXPECT_EQ(grid.getLevel(), 5);
    EXPECT_EQ(grid.getCellSize(), 31.25);
    EXPECT_EQ(grid.domainSize(), 1000.0);
    EXPECT_EQ(grid.getCount(), 0);
    // The starting range sits inside [0.7, 1.0] cells, so adapt leaves the cells alone.
    EXPECT_GE(grid.interactionRange / grid.getCellSize(), 0.7);
    EXPECT_LE(grid.interactionRange / grid.getCellSize(), 1.0);
    FastRepulsion negative(-3, 10.0);
    EXPECT_EQ(negative.getLevel(), 0);
    EXPECT_EQ(negative.getCellSize(), 10.0);
}

// x is the most significant part of the index, and negative coordinates wrap.
TEST(FastRepulsion, CellIndexWrapsAndPutsXFirst) {
    FastRepulsion grid(5, 1000.0);
    EXPECT_EQ(grid.cellIndex({-1, 0, 0}), 31744);  // cell (31, 0, 0): 31 * 1024
    EXPECT_EQ(grid.cellIndex({0, 0, 0}), 0);
    EXPECT_EQ(grid.cellIndex({31.25, 0, 0}), 1024);
    EXPECT_EQ(grid.cellIndex({0, 93.75, 62.5}), 3 * 32 + 2);
    EXPECT_EQ(grid.cellIndex({0, 0, -0.0001}), 31);
    EXPECT_EQ(grid.cellIndex({1000, 1031.25, -1000}), 32);  // (0, 1, 0) after wrapping
}

// Cell numbers beyond the int range are reduced modulo the cells per axis, matching what
// the mask does to ordinary numbers; NaN and infinity go to 0. No undefined cast.
TEST(FastRepulsion, CellIndexOfExtremeCoordinatesIsDefined) {
    FastRepulsion grid(5, 1000.0);
    const double huge = 31.25 * (1099511627776.0 + 5.0);  // cell number 2^40 + 5, exact
    EXPECT_EQ(grid.cellIndex({huge, 0, 0}), 5 * 1024);
    EXPECT_EQ(grid.cellIndex({-huge, 0, 0}), 27 * 1024);  // -(2^40 + 5) mod 32 = 27
    EXPECT_EQ(grid.cellIndex({std::nan(""), 0, 31.25}), 1);
    EXPECT_EQ(grid.cellIndex({inf, -inf, 0}), 0);
    const int index = grid.cellIndex({1e300, -1e308, 4e307});
    EXPECT_GE(index, 0);
    EXPECT_LT(index, 32768);
}

TEST(FastRepulsion, QueryWithinOneCellReturnsTheWholeCell) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    Particle* centre = floaters.createParticle({1, 1, 1}, 1.0);
    Particle* far = floaters.createParticle({30, 30, 30}, 1.0);
    Particle* other = floaters.createParticle({40, 1, 1}, 1.0);
    grid.insert(centre);
    grid.insert(far);
    grid.insert(other);
    // Newest first in the chain; no distance test; the querying floater is included.
    EXPECT_EQ(queried(grid, {1, 1, 1}, 0.5), (std::vector<Particle*>{far, centre}));
    std::unique_ptr<ParticleList> list(grid.query({1, 1, 1}, 0.5));
    EXPECT_TRUE(list->isShared());
    EXPECT_EQ(asVector(*list), (std::vector<Particle*>{far, centre}));
}

// A sphere around a cell's centre with radius 20 (cells of 31.25) reaches the centre cell
// and its six face neighbours: edge neighbours are 15.625^2 * 2 = 488 > 400 away.
TEST(FastRepulsion, QueryPrunesCellsBeyondTheSphere) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    Particle* at[3][3][3];
    for (int i = -1; i <= 1; ++i)
        for (int j = -1; j <= 1; ++j)
            for (int k = -1; k <= 1; ++k) {
                const double c = 15.625;
                at[i + 1][j + 1][k + 1] =
                    floaters.createParticle({c + 31.25 * i, c + 31.25 * j, c + 31.25 * k}, 1.0);
                grid.insert(at[i + 1][j + 1][k + 1]);
            }
    // Visiting order: x from low to high, then y, then z.
    const std::vector<Particle*> expected = {at[0][1][1], at[1][0][1], at[1][1][0], at[1][1][1],
                                             at[1][1][2], at[1][2][1], at[2][1][1]};
    EXPECT_EQ(queried(grid, {15.625, 15.625, 15.625}, 20.0), expected);
    // A radius of 23 reaches the twelve edge neighbours too (488 < 529), not the corners
    // (732 > 529): 19 cells.
    EXPECT_EQ(queried(grid, {15.625, 15.625, 15.625}, 23.0).size(), 19u);
}

TEST(FastRepulsion, LargeQueryReturnsAllInCellIndexOrder) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> u(-2000.0, 2000.0);
    for (int i = 0; i < 500; ++i) grid.insert(floaters.createParticle({u(rng), u(rng), u(rng)}, 1));
    const std::vector<Particle*> all = queried(grid, {0, 0, 0}, 600.0);  // span 39 > 32
    ASSERT_EQ(all.size(), 500u);
    for (std::size_t i = 1; i < all.size(); ++i)
        EXPECT_LE(grid.cellIndex(all[i - 1]->position), grid.cellIndex(all[i]->position));
    // Within a cell, chain order: the newest first.
    FastRepulsion small(1, 100.0);
    ParticleList few(false);
    Particle* a = few.createParticle({75, 75, 75}, 1);
    Particle* b = few.createParticle({10, 10, 10}, 1);
    Particle* c = few.createParticle({60, 60, 60}, 1);
    small.insert(a);
    small.insert(b);
    small.insert(c);
    EXPECT_EQ(queried(small, {25, 25, 25}, 60.0), (std::vector<Particle*>{b, c, a}));
    // An infinite radius is as large as any.
    EXPECT_EQ(queried(small, {25, 25, 25}, inf).size(), 3u);
}

// queryInto appends exactly what query returns, in the same order.
TEST(FastRepulsion, QueryIntoMatchesQuery) {
    FastRepulsion grid(4, 400.0);
    ParticleList floaters(false);
    std::mt19937 rng(23);
    std::uniform_real_distribution<double> u(-300.0, 300.0);
    std::uniform_real_distribution<double> r(0.0, 120.0);
    for (int i = 0; i < 800; ++i) grid.insert(floaters.createParticle({u(rng), u(rng), u(rng)}, 1));
    Particle marker;
    for (int trial = 0; trial < 200; ++trial) {
        const geo::Vertex centre(u(rng), u(rng), u(rng));
        const double radius = r(rng);
        std::unique_ptr<ParticleList> list(grid.query(centre, radius));
        std::vector<Particle*> out{&marker};
        grid.queryInto(centre, radius, out);
        ASSERT_EQ(out.front(), &marker);
        out.erase(out.begin());
        EXPECT_EQ(out, asVector(*list));
    }
}

// The packed query is the chain query read from a copy: the same floaters in the same
// order, whatever the cells wrap or the radius, with the positions and radii at packing.
TEST(FastRepulsion, PackedQueryMatchesTheChainsExactly) {
    FastRepulsion grid(3, 100.0);  // 8 cells per axis: the cloud below wraps around
    ParticleList floaters(false);
    std::mt19937 rng(31);
    std::uniform_real_distribution<double> u(-150.0, 150.0);
    std::uniform_real_distribution<double> r(0.0, 40.0);
    for (int i = 0; i < 1200; ++i) {
        Particle* p = floaters.createParticle({u(rng), u(rng), u(rng)}, r(rng));
        grid.insert(p);
    }
    grid.pack();
    for (int trial = 0; trial < 300; ++trial) {
        const geo::Vertex centre(u(rng), u(rng), u(rng));
        const double radius = trial < 250 ? r(rng) : 30.0 * r(rng);  // some reach every cell
        std::vector<FastRepulsion::PackedRun> runs;
        grid.queryPacked(centre, radius, runs);
        std::vector<const Particle*> fromRuns;
        const FastRepulsion::Packed packed = grid.packed();
        for (const FastRepulsion::PackedRun& run : runs) {
            ASSERT_LT(run.begin, run.end);  // no empty runs
            for (int f = run.begin; f != run.end; ++f) {
                const Particle* p = packed.particle[f];
                EXPECT_EQ(geo::Vertex(packed.floater[f].x, packed.floater[f].y, packed.floater[f].z),
                          p->position);
                EXPECT_EQ(packed.floater[f].radius, p->radius);
                fromRuns.push_back(p);
            }
        }
        // The query that changes nothing gives the same runs.
        std::vector<FastRepulsion::PackedRun> constRuns;
        grid.queryPackedRuns(centre, radius, constRuns);
        ASSERT_EQ(constRuns.size(), runs.size());
        for (std::size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(constRuns[i].begin, runs[i].begin);
            EXPECT_EQ(constRuns[i].end, runs[i].end);
        }
        ASSERT_EQ(fromRuns, constVector(queried(grid, centre, radius))) << trial;
    }
    // Centres and radii that are no numbers answer like the chains do.
    for (double bad : {std::nan(""), inf, -inf}) {
        EXPECT_EQ(packedQueried(grid, {bad, 1, 2}, 10.0),
                  constVector(queried(grid, {bad, 1, 2}, 10.0)));
        EXPECT_EQ(packedQueried(grid, {1, 2, 3}, bad), constVector(queried(grid, {1, 2, 3}, bad)));
    }
    for (double negative : {-1.0, -30.0})
        EXPECT_EQ(packedQueried(grid, {1, 2, 3}, negative),
                  constVector(queried(grid, {1, 2, 3}, negative)));
}

// The order of a query shows in every pair sum: x rows first, then y, then z, each from
// the low side of the sphere, a row that wraps around continuing from cell 0. Rows whose
// corner lies beyond the sphere keep only their middle cell.
TEST(FastRepulsion, QueriesListCellsInRowOrderAcrossTheWrap) {
    FastRepulsion grid(2, 40.0);  // 4 cells of 10 per axis
    ParticleList floaters(false);
    Particle* inCell[4][4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k) {
                inCell[i][j][k] =
                    floaters.createParticle({10.0 * i + 5, 10.0 * j + 5, 10.0 * k + 5}, 1);
                grid.insert(inCell[i][j][k]);
            }
    // Cells 0 to 2 along x and y; 2, 3 and then 0 along z. The faces of the outer cells
    // are 5 away, so a row with two outer coordinates keeps 64 - 50 = 14 > 0, only z = 3.
    std::vector<const Particle*> expected;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const bool corner = i != 1 && j != 1;
            for (int k : corner ? std::vector<int>{3} : std::vector<int>{2, 3, 0})
                expected.push_back(inCell[i][j][k]);
        }
    const geo::Vertex centre(15, 15, 35);
    EXPECT_EQ(constVector(queried(grid, centre, 8.0)), expected);
    EXPECT_EQ(packedQueried(grid, centre, 8.0), expected);
}

// Any change to the chains or cells makes the copy stale; the next packed query repacks.
// A radius changes behind the grid's back, so only an explicit pack picks it up.
TEST(FastRepulsion, PackedQueryFollowsMovesInsertsAndRebuilds) {
    FastRepulsion grid(2, 40.0);  // cells of 10
    ParticleList floaters(false);
    Particle* a = floaters.createParticle({1, 1, 1}, 1.0);
    Particle* b = floaters.createParticle({2, 2, 2}, 1.0);
    grid.insert(a);
    grid.insert(b);
    grid.pack();
    EXPECT_EQ(packedQueried(grid, {1, 1, 1}, 0.5), (std::vector<const Particle*>{b, a}));
    grid.move(a, {10, 0, 0});  // into the next cell along x
    EXPECT_EQ(packedQueried(grid, {1, 1, 1}, 0.5), (std::vector<const Particle*>{b}));
    grid.move(b, {0.5, 0, 0});  // within its cell: the copy must show the new position
    std::vector<FastRepulsion::PackedRun> runs;
    grid.queryPacked({2.5, 2, 2}, 0.1, runs);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(grid.packed().floater[runs[0].begin].x, 2.5);
    Particle* c = floaters.createParticle({3, 3, 3}, 1.0);
    grid.insert(c);
    EXPECT_EQ(packedQueried(grid, {1, 1, 1}, 0.5), (std::vector<const Particle*>{c, b}));
    ASSERT_TRUE(grid.remove(b));
    EXPECT_EQ(packedQueried(grid, {1, 1, 1}, 0.5), (std::vector<const Particle*>{c}));
    grid.rebuild(0, 40.0);  // one cell holding all
    EXPECT_EQ(packedQueried(grid, {1, 1, 1}, 0.5), constVector(queried(grid, {1, 1, 1}, 0.5)));
    c->radius = 7.0;
    runs.clear();
    grid.queryPacked({3, 3, 3}, 0.5, runs);
    EXPECT_EQ(grid.packed().floater[runs[0].begin].radius, 1.0);  // packed before the change
    grid.pack();
    runs.clear();
    grid.queryPacked({3, 3, 3}, 0.5, runs);
    EXPECT_EQ(grid.packed().particle[runs[0].begin], c);
    EXPECT_EQ(grid.packed().floater[runs[0].begin].radius, 7.0);
}

// Every floater within the radius is found, each at most once, whole cells only.
TEST(FastRepulsion, QueryFindsEveryFloaterWithinTheRadius) {
    FastRepulsion grid(5, 640.0);
    ParticleList floaters(false);
    std::mt19937 rng(29);
    std::uniform_real_distribution<double> u(-300.0, 300.0);
    std::uniform_real_distribution<double> r(0.0, 90.0);
    for (int i = 0; i < 3000; ++i)
        grid.insert(floaters.createParticle({u(rng), u(rng), u(rng)}, 1));
    for (int trial = 0; trial < 200; ++trial) {
        const geo::Vertex centre(u(rng), u(rng), u(rng));
        const double radius = r(rng);
        std::vector<Particle*> found = queried(grid, centre, radius);
        std::sort(found.begin(), found.end());
        ASSERT_TRUE(std::adjacent_find(found.begin(), found.end()) == found.end());
        for (Particle* p = floaters.first(); p; p = floaters.next()) {
            const bool near = (p->position - centre).length() < radius;
            EXPECT_TRUE(!near || std::binary_search(found.begin(), found.end(), p));
        }
    }
}

TEST(FastRepulsion, InsertTwiceFilesOnce) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    Particle* a = floaters.createParticle({5, 5, 5}, 1);
    grid.insert(a);
    grid.insert(a);
    EXPECT_EQ(grid.getCount(), 1);
    EXPECT_EQ(queried(grid, {5, 5, 5}, 1.0).size(), 1u);
    EXPECT_TRUE(grid.holdsExactly(floaters));
}

// A filed floater knows the grid and the cell that hold it: another grid cannot unlink it,
// its own grid unlinks it from the cell it is filed in wherever it now stands, and filing
// it again anywhere is refused.
TEST(FastRepulsion, FiledFloatersKnowTheirGridAndCell) {
    FastRepulsion grid(5, 1000.0), other(5, 1000.0);
    ParticleList floaters(false);
    Particle* a = floaters.createParticle({5, 5, 5}, 1);
    Particle* b = floaters.createParticle({6, 5, 5}, 1);
    grid.insert(a);
    grid.insert(b);
    EXPECT_FALSE(other.remove(a));
    a->position = {500, 5, 5};  // not through move()
    grid.insert(a);
    EXPECT_EQ(grid.getCount(), 2);
    a->position = {5, 5, 5};
    EXPECT_TRUE(grid.holdsExactly(floaters));
    a->position = {500, 5, 5};
    EXPECT_TRUE(grid.remove(a));
    EXPECT_EQ(queried(grid, {5, 5, 5}, 1.0), (std::vector<Particle*>{b}));
    grid.insert(a);  // out of the grid, it may be filed again
    EXPECT_TRUE(grid.holdsExactly(floaters));
}

TEST(FastRepulsion, RemoveUnlinksHeadAndMiddle) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    Particle* a = floaters.createParticle({1, 1, 1}, 1);
    Particle* b = floaters.createParticle({2, 2, 2}, 1);
    Particle* c = floaters.createParticle({3, 3, 3}, 1);
    grid.insert(a);
    grid.insert(b);
    grid.insert(c);  // chain c, b, a
    EXPECT_TRUE(grid.remove(b));
    EXPECT_EQ(queried(grid, {1, 1, 1}, 1.0), (std::vector<Particle*>{c, a}));
    EXPECT_TRUE(grid.remove(c));
    EXPECT_EQ(queried(grid, {1, 1, 1}, 1.0), (std::vector<Particle*>{a}));
    EXPECT_EQ(grid.getCount(), 1);
    EXPECT_FALSE(grid.remove(b));  // already out
    EXPECT_EQ(grid.getCount(), 1);
}

// A floater that was never filed is refused without touching any chain; one moved behind
// the grid's back comes out of the chain it is in, and only it.
TEST(FastRepulsion, RemoveOfAnUnfiledFloaterChangesNothing) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    for (int i = 0; i < 20; ++i) grid.insert(floaters.createParticle({i * 3.0, 1, 1}, 1));
    const std::vector<Particle*> before = queried(grid, {0, 0, 0}, 1e6);
    Particle stranger;
    stranger.position = {3, 1, 1};
    EXPECT_FALSE(grid.remove(&stranger));
    EXPECT_EQ(grid.getCount(), 20);
    EXPECT_EQ(queried(grid, {0, 0, 0}, 1e6), before);
    Particle* moved = floaters.at(0);
    moved->position = {500, 500, 500};  // not through move()
    EXPECT_TRUE(grid.remove(moved));
    EXPECT_EQ(grid.getCount(), 19);
    std::vector<Particle*> rest(before);
    rest.erase(std::find(rest.begin(), rest.end(), moved));
    EXPECT_EQ(queried(grid, {0, 0, 0}, 1e6), rest);
}

// The list itself is only read: every floater stays in it, in order, and alive.
TEST(FastRepulsion, RemoveAllEmptiesTheGridAndKeepsTheList) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    for (int i = 0; i < 5; ++i) grid.insert(floaters.createParticle({i * 50.0, 0, 0}, 1));
    const std::vector<Particle*> before = asVector(floaters);
    grid.removeAll(floaters);
    EXPECT_EQ(grid.getCount(), 0);
    EXPECT_TRUE(queried(grid, {0, 0, 0}, 1e6).empty());
    EXPECT_EQ(asVector(floaters), before);
    for (Particle* p : before) EXPECT_FALSE(grid.remove(p));
}

TEST(FastRepulsion, MoveByZeroChangesNothing) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    Particle* a = floaters.createParticle({1, 1, 1}, 1);
    Particle* b = floaters.createParticle({2, 2, 2}, 1);
    grid.insert(a);
    grid.insert(b);  // b, a
    grid.move(a, {0, 0, 0});
    grid.move(a, {-0.0, 0, -0.0});
    EXPECT_EQ(a->position, geo::Vertex(1, 1, 1));
    EXPECT_EQ(queried(grid, {1, 1, 1}, 1.0), (std::vector<Particle*>{b, a}));
}

// Within the same cell only the position changes; the chain keeps its order.
TEST(FastRepulsion, MoveWithinTheCellKeepsChainOrder) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    Particle* a = floaters.createParticle({1, 1, 1}, 1);
    Particle* b = floaters.createParticle({2, 2, 2}, 1);
    Particle* c = floaters.createParticle({3, 3, 3}, 1);
    grid.insert(a);
    grid.insert(b);
    grid.insert(c);  // c, b, a
    grid.move(a, {20, 0, 5});
    EXPECT_EQ(a->position, geo::Vertex(21, 1, 6));
    EXPECT_EQ(queried(grid, {1, 1, 1}, 1.0), (std::vector<Particle*>{c, b, a}));
}

TEST(FastRepulsion, MoveAcrossCellsGoesToTheHeadOfTheNewChain) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    Particle* a = floaters.createParticle({1, 1, 1}, 1);
    Particle* b = floaters.createParticle({2, 2, 2}, 1);
    Particle* c = floaters.createParticle({40, 1, 1}, 1);
    grid.insert(a);
    grid.insert(b);
    grid.insert(c);
    grid.move(b, {40, 0, 0});  // to (42, 2, 2), the cell of c
    EXPECT_EQ(queried(grid, {1, 1, 1}, 1.0), (std::vector<Particle*>{a}));
    EXPECT_EQ(queried(grid, {40, 1, 1}, 1.0), (std::vector<Particle*>{b, c}));
    EXPECT_EQ(grid.getCount(), 3);
    grid.move(b, {-2000, 0, 0});  // wraps around
    EXPECT_TRUE(grid.holdsExactly(floaters));
}

TEST(FastRepulsion, AdaptInRangeChangesNothing) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    Particle* a = floaters.createParticle({1, 1, 1}, 1);
    Particle* b = floaters.createParticle({2, 2, 2}, 1);
    grid.insert(a);
    grid.insert(b);
    for (double d : {501.0, 576.0, 1000.0, 1199.0}) {
        grid.adapt(d, 0.85 * 31.25);
        EXPECT_EQ(grid.getLevel(), 5);
        EXPECT_EQ(grid.getCellSize(), 31.25);
    }
    // An unchanged grid is not rebuilt: the chain order would have flipped.
    EXPECT_EQ(queried(grid, {1, 1, 1}, 1.0), (std::vector<Particle*>{b, a}));
    // A domain size that is not positive does nothing, whatever the range.
    grid.adapt(0.0, 1.0);
    grid.adapt(-5.0, 1.0);
    grid.adapt(std::nan(""), 1.0);
    EXPECT_EQ(grid.getCellSize(), 31.25);
}

// A range outside [0.7, 1.0] cells aims for cells of range / sqrt(0.7); the level follows
// the domain one step at a time.
TEST(FastRepulsion, AdaptResizesTowardsTheRange) {
    FastRepulsion grid(5, 1000.0);
    grid.adapt(1000.0, 15.625);  // ratio 0.5: g = 597.6, 1.2 g < 1000, so level 6
    EXPECT_EQ(grid.getLevel(), 6);
    EXPECT_NEAR(grid.getCellSize(), 15.625 / std::sqrt(0.7), 1e-12);

    FastRepulsion shrink(5, 1000.0);
    shrink.adapt(100.0, 0.85 * 31.25);  // 0.5 * 1000 > 100: one level down, same cells
    EXPECT_EQ(shrink.getLevel(), 4);
    EXPECT_EQ(shrink.getCellSize(), 31.25);
    for (int i = 0; i < 10; ++i) shrink.adapt(1.0, shrink.getCellSize() * 0.85);
    EXPECT_EQ(shrink.getLevel(), 0);

    FastRepulsion grow(0, 10.0);
    for (int i = 0; i < 10; ++i) grow.adapt(1e9, grow.getCellSize() * 0.85);
    EXPECT_EQ(grow.getLevel(), 6);
}

// Ranges that would give cells of no size or no end leave the cells as they are.
TEST(FastRepulsion, AdaptIgnoresUnusableRanges) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    for (int i = 0; i < 50; ++i) grid.insert(floaters.createParticle({i * 7.0, -i * 3.0, 2}, 1));
    for (double range : {0.0, -10.0, inf, -inf, 1e-320}) {
        grid.adapt(1000.0, range);
        EXPECT_GT(grid.getCellSize(), 0.0) << range;
        EXPECT_TRUE(std::isfinite(grid.getCellSize())) << range;
        EXPECT_TRUE(grid.holdsExactly(floaters)) << range;
    }
    grid.adapt(1000.0, std::nan(""));
    EXPECT_EQ(grid.getCellSize(), 31.25);
}

// Chains are gathered in cell-index order, each in front of the ones before, and re-filed
// in that order; pushing at the head then reverses them.
TEST(FastRepulsion, RebuildRefilesInGatheredOrder) {
    FastRepulsion grid(1, 2.0);
    ParticleList floaters(false);
    Particle* a = floaters.createParticle({0.5, 0.5, 0.5}, 1);  // cell 0
    Particle* b = floaters.createParticle({1.5, 1.5, 1.5}, 1);  // cell 7
    Particle* c = floaters.createParticle({1.6, 1.6, 1.6}, 1);  // cell 7
    grid.insert(a);
    grid.insert(b);
    grid.insert(c);        // cell 7: c, b
    grid.rebuild(1, 2.0);  // same level and cells: nothing happens
    EXPECT_EQ(queried(grid, {1.5, 1.5, 1.5}, 0.1), (std::vector<Particle*>{c, b}));
    grid.rebuild(-1, 2.0);
    EXPECT_EQ(grid.getLevel(), 1);
    grid.rebuild(0, 2.0);  // gathered c, b, a; filed by pushing: a, b, c
    EXPECT_EQ(grid.getLevel(), 0);
    EXPECT_EQ(grid.getCellSize(), 2.0);
    EXPECT_EQ(queried(grid, {1, 1, 1}, 0.1), (std::vector<Particle*>{a, b, c}));
    EXPECT_TRUE(grid.holdsExactly(floaters));
}

// Whatever sequence of moves, adapts and rebuilds: every floater filed once, in its cell.
TEST(FastRepulsion, EveryFloaterStaysFiledExactlyOnce) {
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> u(-800.0, 800.0);
        std::uniform_real_distribution<double> step(-40.0, 40.0);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        FastRepulsion grid(5, 1000.0);
        ParticleList floaters(false);
        for (int i = 0; i < 1500; ++i)
            grid.insert(floaters.createParticle({u(rng), u(rng), u(rng)}, 1));
        for (int round = 0; round < 30; ++round) {
            for (Particle* p = floaters.first(); p; p = floaters.next())
                grid.move(p, {step(rng), step(rng), unit(rng) < 0.2 ? 0.0 : step(rng)});
            const double domain = 50.0 + 3000.0 * unit(rng);
            const double range = grid.getCellSize() * (0.3 + 1.5 * unit(rng));
            grid.adapt(domain, range);
            ASSERT_TRUE(grid.holdsExactly(floaters)) << "round " << round;
            EXPECT_GE(grid.getLevel(), 0);
            EXPECT_LE(grid.getLevel(), 6);
            // Removing and re-inserting a few keeps the invariant too.
            Particle* p = floaters.at(round * 37 % floaters.size());
            ASSERT_TRUE(grid.remove(p));
            grid.insert(p);
        }
        grid.rebuild(3, 777.0);
        EXPECT_TRUE(grid.holdsExactly(floaters));
        EXPECT_EQ(grid.getCount(), 1500);
    }
}

// The two halves of a move, displaced all at once and refiled in order, leave the chains
// exactly as the moves one by one (some floaters do not move); and a pack done in pieces is
// the whole pack.
TEST(FastRepulsion, SplitMovesAndPiecewisePacksMatchTheWholeOnes) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-60.0, 60.0), step(-4.0, 4.0);
    FastRepulsion whole(3, 100.0), split(3, 100.0);
    ParticleList a(false), b(false);
    std::vector<std::pair<Particle*, int>> refiles;
    for (int i = 0; i < 800; ++i) {
        const geo::Vertex at(u(rng), u(rng), u(rng));
        whole.insert(a.createParticle(at, 1.0 + i % 7));
        split.insert(b.createParticle(at, 1.0 + i % 7));
    }
    for (int i = 0; i < 800; ++i) {
        const geo::Vertex d = i % 11 == 0 ? geo::Vertex() : geo::Vertex(step(rng), 0.0, step(rng));
        whole.move(a.at(i), d);
        const int to = split.displace(b.at(i), d);
        if (to >= 0) refiles.emplace_back(b.at(i), to);
    }
    for (const auto& refile : refiles) split.refile(refile.first, refile.second);
    split.displaced();
    ASSERT_TRUE(split.holdsExactly(b));
    whole.pack();
    const int cells = split.beginPack();
    for (int begin = cells; begin > 0; begin -= 7) split.packCells(std::max(0, begin - 7), begin);
    const FastRepulsion::Packed p = whole.packed(), q = split.packed();
    ASSERT_EQ(p.size, q.size);
    for (int f = 0; f < p.size; ++f) {
        ASSERT_EQ(p.particle[f]->position, q.particle[f]->position) << f;
        ASSERT_EQ(q.particle[f]->position.x, q.floater[f].x);
        ASSERT_EQ(q.particle[f]->radius, q.floater[f].radius);
    }
}

// Positions and queries that are no finite numbers, or too large for an int cell number,
// neither crash nor corrupt the grid (the sanitizer build checks the casts).
TEST(FastRepulsion, NonFiniteAndHugeValuesAreSafe) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    const double values[] = {std::nan(""), inf, -inf, 1e300, -1e300, 3e10, -3e10, 1.7e308};
    for (double v : values) {
        grid.insert(floaters.createParticle({v, 0, 0}, 1));
        grid.insert(floaters.createParticle({1, v, -v}, 1));
    }
    Particle* plain = floaters.createParticle({5, 5, 5}, 1);
    grid.insert(plain);
    EXPECT_TRUE(grid.holdsExactly(floaters));
    for (double v : values) {
        for (double r : {1.0, 100.0, 1e300, inf, -inf, std::nan(""), -1.0}) {
            std::vector<Particle*> out;
            grid.queryInto({v, 0, 0}, r, out);
            grid.queryInto({1, v, 1}, r, out);
            grid.queryInto({5, 5, 5}, r, out);
            for (Particle* p : out) ASSERT_TRUE(p != nullptr);
        }
    }
    EXPECT_EQ(queried(grid, {5, 5, 5}, inf).size(), static_cast<std::size_t>(floaters.size()));
    // A floater moved to NaN is filed where NaN maps, and can still be moved and removed.
    grid.move(plain, {std::nan(""), 0, 0});
    EXPECT_TRUE(grid.holdsExactly(floaters));
    grid.move(plain, {1e308, 1e308, 1e308});
    EXPECT_TRUE(grid.holdsExactly(floaters));
    for (double d : values) {
        grid.adapt(d, d);
        grid.adapt(1000.0, d);
        ASSERT_TRUE(grid.holdsExactly(floaters)) << d;
    }
    grid.removeAll(floaters);
    EXPECT_EQ(grid.getCount(), 0);
}
