#include "sim/FastRepulsion.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <memory>
#include <unordered_map>

#include "sim/Particle.h"

namespace {

std::size_t cellCountFor(int level) {
    return std::size_t(1) << (3 * level);
}

// Cells with a usable edge: positive, and large enough that coordinates divided by it
// stay meaningful (a subnormal edge would turn every position into infinity).
bool usableCellSize(double size) {
    return size >= DBL_MIN && size <= DBL_MAX;
}

}  // namespace

FastRepulsion::FastRepulsion(int level, double domainSize)
    : level(std::min(std::max(level, 0), maxLevel)), mask((1 << this->level) - 1) {
    cells.assign(cellCountFor(this->level), nullptr);
    cellSize = domainSize / static_cast<double>(mask + 1);
    // Between 0.7 and 1.0 cells, so adapt keeps the cells until the force pass has
    // measured the floaters.
    interactionRange = 0.85 * cellSize;
}

int FastRepulsion::wrapCell(double cellNumber) const {
    // Ordinary coordinates fit an int and are cast as they are, then wrapped by the mask.
    // A cell number beyond the int range is first reduced modulo the cells per axis
    // (exact in floating point, and the same residue the mask gives); NaN and infinity
    // map to 0. So the cast is always defined.
    if (!(cellNumber >= -2147483648.0 && cellNumber < 2147483648.0))
        cellNumber =
            std::isfinite(cellNumber) ? std::fmod(cellNumber, static_cast<double>(mask + 1)) : 0.0;
    return static_cast<int>(cellNumber) & mask;
}

int FastRepulsion::cellIndex(const geo::Vertex& position) const {
    return indexOf(wrapCell(std::floor(position.x / cellSize)),
                   wrapCell(std::floor(position.y / cellSize)),
                   wrapCell(std::floor(position.z / cellSize)));
}

double FastRepulsion::domainSize() const {
    return static_cast<double>(mask + 1) * cellSize;
}

void FastRepulsion::push(int index, Particle* particle) {
    packedValid = false;
    particle->nextInCell = cells[index];
    particle->filed = true;
    cells[index] = particle;
}

bool FastRepulsion::unlink(int index, Particle* particle) {
    Particle** link = &cells[index];
    while (*link && *link != particle) link = &(*link)->nextInCell;
    if (!*link) return false;
    packedValid = false;
    *link = particle->nextInCell;
    particle->filed = false;
    return true;
}

void FastRepulsion::appendCell(int index, std::vector<Particle*>& out) const {
    for (Particle* p = cells[index]; p; p = p->nextInCell) out.push_back(p);
}

void FastRepulsion::insert(Particle* particle) {
    const int index = cellIndex(particle->position);
    // Filing a floater twice would link it to itself and make its chain endless. The flag
    // answers at once, where a walk of the chain would make seeding a dense model quadratic.
    if (particle->filed) return;
    push(index, particle);
    ++count;
}

bool FastRepulsion::remove(Particle* particle) {
    if (!unlink(cellIndex(particle->position), particle)) return false;
    --count;
    return true;
}

void FastRepulsion::removeAll(ParticleList& list) {
    // A snapshot leaves the list's own cursor alone for whoever is walking it.
    std::unique_ptr<ParticleList> floaters(list.snapshot());
    for (Particle* p = floaters->first(); p; p = floaters->next()) remove(p);
}

void FastRepulsion::move(Particle* particle, const geo::Vertex& displacement) {
    if (displacement.x == 0.0 && displacement.y == 0.0 && displacement.z == 0.0) return;
    packedValid = false;
    const int from = cellIndex(particle->position);
    particle->position += displacement;
    const int to = cellIndex(particle->position);
    if (from == to) return;
    // A floater missing from its old chain is not filed; pushing it would file it twice
    // or file a stranger, so only a floater that was found changes chains.
    if (unlink(from, particle)) push(to, particle);
}

template <typename Visit>
void FastRepulsion::visitCells(const geo::Vertex& centre, double radius, Visit visit) const {
    const double loX = std::floor((centre.x - radius) / cellSize);
    const double loY = std::floor((centre.y - radius) / cellSize);
    const double loZ = std::floor((centre.z - radius) / cellSize);
    const double widthX = std::floor((centre.x + radius) / cellSize) - loX;
    const double widthY = std::floor((centre.y + radius) / cellSize) - loY;
    const double widthZ = std::floor((centre.z + radius) / cellSize) - loZ;
    if (std::isnan(widthX + widthY + widthZ)) {
        // A centre or radius that is not a number has no cell range: answer with the cell
        // such a floater is filed in.
        const int index = cellIndex(centre);
        visit(index, index);
        return;
    }
    const double span = std::max(widthX, std::max(widthY, widthZ)) + 1.0;
    if (span < 1.0) return;  // a negative radius reaches no cell
    if (span == 1.0) {
        const int index = indexOf(wrapCell(loX), wrapCell(loY), wrapCell(loZ));
        visit(index, index);
        return;
    }
    if (span > static_cast<double>(mask + 1)) {
        visit(0, static_cast<int>(cells.size()) - 1);
        return;
    }

    // Every width is now below the cells per axis, so the loops and casts are bounded.
    // Rows of cells whose nearest face lies beyond the sphere are skipped before their
    // z cells are visited.
    const double cx = std::floor(centre.x / cellSize);
    const double cy = std::floor(centre.y / cellSize);
    const double cz = std::floor(centre.z / cellSize);
    const int nx = widthX < 0.0 ? -1 : static_cast<int>(widthX);
    const int ny = widthY < 0.0 ? -1 : static_cast<int>(widthY);
    const int nz = widthZ < 0.0 ? -1 : static_cast<int>(widthZ);
    const int baseX = wrapCell(loX), baseY = wrapCell(loY), baseZ = wrapCell(loZ);
    // Signed distance from the centre coordinate to the nearest face of cell `cell`.
    auto faceDistance = [this](double cell, double centreCell, double coordinate) {
        if (cell < centreCell) return (cell + 1.0) * cellSize - coordinate;
        if (cell > centreCell) return cell * cellSize - coordinate;
        return 0.0;
    };
    const double r2 = radius * radius;
    for (int i = 0; i <= nx; ++i) {
        const double dx = faceDistance(loX + i, cx, centre.x);
        const int ix = (baseX + i) & mask;
        for (int j = 0; j <= ny; ++j) {
            const double dy = faceDistance(loY + j, cy, centre.y);
            const double rem = r2 - dx * dx - dy * dy;
            if (!(rem >= 0.0)) continue;
            const int iy = (baseY + j) & mask;
            // Cells of one row that follow each other in z are consecutive in index; they
            // are handed over together, split only where z wraps around.
            int first = -1, last = -1;
            for (int k = 0; k <= nz; ++k) {
                const double dz = faceDistance(loZ + k, cz, centre.z);
                if (!(dz * dz < rem)) continue;
                const int index = indexOf(ix, iy, (baseZ + k) & mask);
                if (first >= 0 && index == last + 1) {
                    last = index;
                    continue;
                }
                if (first >= 0) visit(first, last);
                first = last = index;
            }
            if (first >= 0) visit(first, last);
        }
    }
}

void FastRepulsion::queryInto(const geo::Vertex& centre, double radius,
                              std::vector<Particle*>& out) const {
    visitCells(centre, radius, [this, &out](int first, int last) {
        for (int index = first; index <= last; ++index) appendCell(index, out);
    });
}

void FastRepulsion::pack() {
    // Both buffers keep their capacity, so packing a sample of steady size allocates nothing.
    cellStart.resize(cells.size() + 1);
    packed.clear();
    for (std::size_t index = 0; index < cells.size(); ++index) {
        cellStart[index] = static_cast<int>(packed.size());
        for (Particle* p = cells[index]; p; p = p->nextInCell)
            packed.push_back({p->position, p->radius, p});
    }
    cellStart[cells.size()] = static_cast<int>(packed.size());
    packedValid = true;
}

void FastRepulsion::queryPacked(const geo::Vertex& centre, double radius,
                                std::vector<PackedRun>& out) {
    if (!packedValid) pack();
    const PackedFloater* base = packed.data();
    visitCells(centre, radius, [this, base, &out](int first, int last) {
        const PackedFloater* begin = base + cellStart[first];
        const PackedFloater* end = base + cellStart[last + 1];
        if (begin == end) return;
        // Cells adjacent in index order are adjacent in the copy: one run serves both.
        if (out.empty() || out.back().end != begin) {
            out.emplace_back();
            out.back().begin = begin;
        }
        out.back().end = end;
    });
}

ParticleList* FastRepulsion::query(const geo::Vertex& centre, double radius) const {
    std::vector<Particle*> found;
    queryInto(centre, radius, found);
    ParticleList* result = new ParticleList(true);
    for (Particle* p : found) result->append(p);
    return result;
}

void FastRepulsion::adapt(double domainSize, double range) {
    if (!(domainSize > 0.0)) return;
    const double current = this->domainSize();
    double g = current;
    int newLevel = level;
    const double ratio = range / cellSize;
    // Aim for cells of range / sqrt(0.7), about 1.2 times the range, once the range has
    // left [0.7, 1.0] cells.
    if (ratio < 0.7 || ratio > 1.0) g = current * ratio / std::sqrt(0.7);
    if (0.5 * g > domainSize && newLevel > 0) {
        --newLevel;
        g = 0.5 * g;
    } else if (1.2 * g < domainSize && newLevel < 6) {
        ++newLevel;
        g = 2.0 * g;
    }
    if (newLevel == level && current == g) return;
    rebuild(newLevel, g);
}

void FastRepulsion::rebuild(int newLevel, double domainSize) {
    if (newLevel < 0 || newLevel > maxLevel) return;
    const double newCellSize = domainSize / static_cast<double>(1 << newLevel);
    // A zero, negative or unbounded size (from a range of 0 or a runaway floater) would
    // put every floater in one cell or divide by zero; the grid keeps its cells instead.
    if (!usableCellSize(newCellSize)) return;
    if (newLevel == level && newCellSize == cellSize) return;

    // Gather every chain into one, each non-empty chain linked in front of those before.
    Particle* gathered = nullptr;
    for (Particle* head : cells) {
        if (!head) continue;
        Particle* tail = head;
        while (tail->nextInCell) tail = tail->nextInCell;
        tail->nextInCell = gathered;
        gathered = head;
    }
    if (newLevel != level) {
        std::vector<Particle*>(cellCountFor(newLevel), nullptr).swap(cells);
        level = newLevel;
        mask = (1 << level) - 1;
    } else {
        std::fill(cells.begin(), cells.end(), nullptr);
    }
    count = 0;
    cellSize = newCellSize;
    packedValid = false;
    while (gathered) {
        Particle* p = gathered;
        gathered = p->nextInCell;
        push(cellIndex(p->position), p);
        ++count;
    }
}

bool FastRepulsion::holdsExactly(ParticleList& list) const {
    std::unordered_map<const Particle*, int> filed;  // floater -> the cell it is chained in
    int total = 0;
    for (std::size_t index = 0; index < cells.size(); ++index) {
        for (Particle* p = cells[index]; p; p = p->nextInCell) {
            if (++total > count) return false;  // more than counted, or a chain in a loop
            if (!filed.emplace(p, static_cast<int>(index)).second) return false;
        }
    }
    if (total != count || total != list.size()) return false;
    for (Particle* p = list.first(); p; p = list.next()) {
        const auto it = filed.find(p);
        if (it == filed.end() || it->second != cellIndex(p->position)) return false;
        filed.erase(it);
    }
    return filed.empty();
}
