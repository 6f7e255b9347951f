// Uniform grid of cubic cells with periodic wrap-around; floaters are chained through
// their own link, so insert, remove and move allocate nothing. A floater's position may
// change only through `move` while it is filed, or `remove` cannot find it.
#pragma once

#include <cstdint>
#include <vector>

#include "geo/Vertex.h"

class Particle;
class ParticleList;

class FastRepulsion {
public:
    FastRepulsion(int level, double domainSize);
    FastRepulsion(const FastRepulsion&) = delete;
    FastRepulsion& operator=(const FastRepulsion&) = delete;

    void insert(Particle* particle);
    // False, with the grid unchanged, when the floater is not filed in this grid.
    bool remove(Particle* particle);
    void removeAll(ParticleList& list);
    void move(Particle* particle, const geo::Vertex& displacement);
    // `move` in two halves, for a pass that moves many floaters on several threads.
    // `displace` changes the floater's position and nothing else, so threads may displace
    // different floaters at once; it answers the cell the floater must be refiled in, or -1
    // when it stays where it is filed. `refile` then files it there, on one thread: done in
    // the order in which the moves would have been made, the chains end up exactly as those
    // moves leave them. After displacing, call `displaced` once, as the packed copy no
    // longer holds the positions.
    int displace(Particle* particle, const geo::Vertex& displacement) const;
    void refile(Particle* particle, int to);
    void displaced() { packedValid = false; }
    // Whole cells that the sphere may reach; may hold the centre floater itself and
    // floaters farther than `radius`. The caller deletes the shared list.
    ParticleList* query(const geo::Vertex& centre, double radius) const;
    // The same floaters in the same order, appended to `out` without allocating a list.
    void queryInto(const geo::Vertex& centre, double radius, std::vector<Particle*>& out) const;

    // The packed copy: the position and radius of every filed floater, one entry per
    // floater, so that the pair sums read a run of neighbours from consecutive memory, each
    // neighbour from a single cache line.
    struct PackedFloater {
        double x, y, z, radius;
    };
    struct Packed {
        const PackedFloater* floater;
        Particle* const* particle;
        int size;
    };
    // Entries begin, begin + 1, ..., end - 1 of the packed copy: one or more whole cells,
    // each cell in chain order.
    struct PackedRun {
        int begin;
        int end;
    };
    // Copies the position and radius of every filed floater into the packed copy, cell by
    // cell in index order and each cell in chain order, so that a pass which changes no
    // position or radius can query without following chains. Any insert, remove, move or
    // rebuild, and any change of a radius, leaves the copy stale until the next `pack`.
    void pack();
    // `pack` in two halves, so that several threads may share the copying: `beginPack`
    // lays out the copy and answers the number of occupied cells; `packCells` then copies
    // occupied cells [begin, end) in index order, and calls on disjoint ranges may run at
    // once. The copy is current once every cell has been copied.
    int beginPack();
    void packCells(int begin, int end);
    // Exactly the floaters, in exactly the order, that `queryInto` gives, as runs of the
    // packed copy, appended to `out`. Packs first when the chains changed since the last
    // `pack`; the radii are those of that pack. The runs are valid until the next pack.
    void queryPacked(const geo::Vertex& centre, double radius, std::vector<PackedRun>& out);
    // The same for a copy known to be current (`isPacked`): it changes nothing, so passes
    // on several threads may query at once.
    void queryPackedRuns(const geo::Vertex& centre, double radius,
                         std::vector<PackedRun>& out) const;
    bool isPacked() const { return packedValid; }
    // Every floater of the last pack, cell by cell in index order.
    Packed packed() const {
        return {packedFloater.data(), packedParticle.data(),
                static_cast<int>(packedFloater.size())};
    }
    void adapt(double domainSize, double range);
    void rebuild(int newLevel, double domainSize);

    double domainSize() const;
    int cellIndex(const geo::Vertex& position) const;
    int getLevel() const { return level; }
    double getCellSize() const { return cellSize; }
    int getCount() const { return count; }
    int occupiedCells() const { return occupiedCount; }
    // Walks every chain; true when each of `list`'s floaters is filed exactly once, in the
    // cell of its position, and nothing else is filed. The validator of the grid: tests and
    // the debug checks after every step call it. Leaves the list's cursor be.
    bool holdsExactly(const ParticleList& list) const;

    // Three times the mean floater radius, written by the force pass before it queries.
    double interactionRange;

    // Levels beyond this would overflow the cell index (3 bits per level in an int).
    static constexpr int maxLevel = 10;

private:
    // Reduces a floored cell coordinate to 0..mask; defined for every double.
    int wrapCell(double cellNumber) const;
    int indexOf(int ix, int iy, int iz) const { return (((ix << level) | iy) << level) | iz; }
    void resetCellMarks();  // every cell empty, for a new or emptied cell array
    void push(int index, Particle* particle);
    // Takes `particle` out of the chain of `index`; false, chain untouched, if not there.
    bool unlink(int index, Particle* particle);
    void appendCell(int index, std::vector<Particle*>& out) const;
    // Calls `visit` (first, last) for every range of cells the sphere may reach, in query
    // order: cells first, first + 1, ..., last, all in one row along z.
    template <typename VisitRange>
    void visitCellRanges(const geo::Vertex& centre, double radius, VisitRange visit) const;
    // Calls `visit` (index) for every cell the sphere may reach, in query order.
    template <typename Visit>
    void visitCells(const geo::Vertex& centre, double radius, Visit visit) const;

    std::vector<Particle*> cells;
    int level;
    int mask;
    double cellSize;
    int count = 0;
    // Bit c of `occupied` is set while cell c's chain is not empty; `occupiedCount` counts
    // those cells.
    std::vector<std::uint64_t> occupied;
    int occupiedCount = 0;
    // The packed copy: the floaters of cell c are entries cellStart[c] up to, not including,
    // cellStart[c + 1]. Buffers are kept from pack to pack.
    std::vector<PackedFloater> packedFloater;
    std::vector<Particle*> packedParticle;
    std::vector<int> cellStart;
    std::vector<int> cellCounts;     // the length of each cell's chain
    std::vector<int> occupiedIndex;  // the occupied cells in index order, as of beginPack
    std::vector<Particle*> previousParticle;  // packedParticle as the pack before left it
    bool packedValid = false;  // false after any change to the chains or the cells
};
