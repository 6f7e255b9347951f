// The blobs near a point. A blob's contribution exp(-|x - c|^2 / R^2) falls below any
// bound a few radii from its centre, so the field at x is summed over the blobs whose
// cut-off sphere holds x, found through a hashed grid of cells, instead of over all of
// them. The cut-off is set by the number of blobs and the smallest radius so that the
// terms left out change no value, gradient or parameter gradient by more than 1e-12
// (derivation in BlobIndex.cpp). Whether a blob counts depends only on x and the blob,
// never on the cells, and the blobs that count are summed in list order, so every result
// is a function of the point and the model alone.
//
// The index is a copy: it is brought up to date from the blob list by `refresh`, which
// the field's owner calls before any evaluation whenever the list's change count differs
// from the one the index last saw. Evaluations only read, so any number of threads may
// evaluate at once while nobody refreshes.
#pragma once

#include <cstdint>
#include <vector>

#include "geo/DVector.h"
#include "geo/Vertex.h"

class VessikList;

class BlobIndex {
public:
    // True when the list has not changed since the last refresh.
    bool isCurrent(const VessikList& blobs) const;
    // Copies the blobs' centres and radii; when they differ from the copy held, rebuilds
    // the cells and moves to a new version. Walks `blobs` with its cursor.
    void refresh(VessikList& blobs);
    // Changes whenever a refresh finds the model different (a blob moved, resized, added or
    // removed); never 0. Unchanged when the list was only touched.
    std::uint64_t version() const { return modelVersion; }
    int size() const { return static_cast<int>(centreX.size()); }
    // L: a blob counts at x when -|x - c|^2 / R^2 >= -L.
    double cutoffExponent() const { return cutoff; }

    // The sum of the contributions f_i of the blobs that count at x, in list order. With
    // `gradient`, also the sum of (x - c_i) f_i / R_i^2 (half the field's gradient), taken
    // in the same pass.
    double sum(const geo::Vertex& x, geo::Vertex* gradient) const;
    // Sets entries 3i, 3i + 1, 3i + 2 of `out` to blob i's dF/dc_i = (-2 f_i / R_i^2)(x - c_i)
    // for each blob i that counts; the other entries are left as they are.
    void blobGradients(const geo::Vertex& x, geo::DVector& out) const;
    // The dot product of the vector blobGradients gives (zeros elsewhere) with `v`, summed
    // in entry order like geo::DVector::dot, entries beyond v's length left out.
    double blobGradientsDot(const geo::Vertex& x, const geo::DVector& v) const;
    // One blob's contribution at x, zero beyond the cut-off, as the sums count it.
    double contribution(const geo::Vertex& x, int blob) const;

    // How many blobs a query at x looks at (those counting and some beyond): for tests and
    // benchmarks of the index itself.
    int candidateCount(const geo::Vertex& x) const;

private:
    // Hands the blobs that may count at x to visit(indices, count), in ascending order, in
    // blocks of at most `block` indices.
    template <typename Visit>
    void forCandidates(const geo::Vertex& x, Visit visit) const;
    // Hands each blob that counts at x to visit(i, g) with its dF/dc_i in g[0..2].
    template <typename Visit>
    void forBlobGradients(const geo::Vertex& x, Visit visit) const;
    void buildCells(const std::vector<double>& reach);
    int findCell(std::uint64_t key) const;

    std::uint64_t seenChanges = ~std::uint64_t(0);  // the list's change count at the last refresh
    std::uint64_t modelVersion = 1;

    // Every blob with a centre, in list order; blobs without a defining point (a kind
    // that no system of the program uses) count nowhere.
    std::vector<double> centreX, centreY, centreZ, radiusSquared;
    std::vector<int> everyBlob;  // indices of the blobs with a centre, for the full scan
    double cutoff = 0.0;

    // Cells of edge `cellSize`, cell (i, j, k) covering [i, i+1) * cellSize along x and so
    // on; a blob is filed in every cell its cut-off sphere reaches. Only cells holding a
    // blob exist, found by hashing. Blobs whose sphere would reach too many cells are in
    // `wide` and are candidates everywhere. No cells at all (`cellSize` 0): every query
    // looks at every blob.
    double cellSize = 0.0;
    std::vector<std::uint64_t> slotKey;  // open addressing; emptySlot marks a free slot
    std::vector<int> slotCell;
    int slotShift = 64;
    std::vector<int> cellStart;  // blobs of cell c: cellBlobs[cellStart[c] .. cellStart[c+1])
    std::vector<int> cellBlobs;
    std::vector<int> wide;
};
