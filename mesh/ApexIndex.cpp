#include "mesh/ApexIndex.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int leafSize = 8;

}  // namespace

void ApexIndex::clear() {
    boxes_.clear();
    ids_.clear();
    points_.clear();
    alive_.clear();
    leafOf_.clear();
    slotOf_.clear();
    scale_ = 0.0;
    usable_ = false;
}

void ApexIndex::build(const std::vector<geo::Vertex>& positions, const std::vector<char>& include) {
    clear();
    const int count = static_cast<int>(positions.size());
    slotOf_.assign(count, -1);
    usable_ = true;
    for (int id = 0; id < count; ++id) {
        const geo::Vertex& p = positions[id];
        if (!isFinite(p)) continue;
        for (int i = 0; i < 3; ++i) scale_ = std::max(scale_, std::fabs(p[i]));
        if (include[id]) ids_.push_back(id);
    }
    if (scale_ > maxCoordinate) usable_ = false;
    if (!usable_ || ids_.empty()) return;
    alive_.assign(ids_.size(), 1);
    leafOf_.assign(ids_.size(), -1);
    boxes_.reserve(2 * ids_.size() / leafSize + 2);
    buildBox(0, static_cast<int>(ids_.size()), -1, positions);
    points_.reserve(ids_.size());
    for (int slot = 0; slot < static_cast<int>(ids_.size()); ++slot) {
        slotOf_[ids_[slot]] = slot;
        points_.push_back(positions[ids_[slot]]);
    }
}

int ApexIndex::buildBox(int begin, int end, int parent, const std::vector<geo::Vertex>& positions) {
    const int index = static_cast<int>(boxes_.size());
    boxes_.push_back(Box{});
    Box box{};
    box.begin = begin;
    box.end = end;
    box.parent = parent;
    box.alive = end - begin;
    box.left = box.right = -1;
    box.axis = 0;
    box.split = 0.0;
    for (int i = 0; i < 3; ++i) {
        box.lo[i] = positions[ids_[begin]][i];
        box.hi[i] = box.lo[i];
    }
    for (int slot = begin + 1; slot < end; ++slot) {
        const geo::Vertex& p = positions[ids_[slot]];
        for (int i = 0; i < 3; ++i) {
            box.lo[i] = std::min(box.lo[i], p[i]);
            box.hi[i] = std::max(box.hi[i], p[i]);
        }
    }
    if (end - begin <= leafSize) {
        for (int slot = begin; slot < end; ++slot) leafOf_[slot] = index;
        boxes_[index] = box;
        return index;
    }
    int axis = 0;
    for (int i = 1; i < 3; ++i)
        if (box.hi[i] - box.lo[i] > box.hi[axis] - box.lo[axis]) axis = i;
    const int middle = begin + (end - begin) / 2;
    std::nth_element(ids_.begin() + begin, ids_.begin() + middle, ids_.begin() + end,
                     [&](int p, int q) { return positions[p][axis] < positions[q][axis]; });
    box.axis = axis;
    box.split = positions[ids_[middle]][axis];
    box.left = buildBox(begin, middle, index, positions);
    box.right = buildBox(middle, end, index, positions);
    boxes_[index] = box;
    return index;
}

void ApexIndex::remove(int id) {
    if (!contains(id)) return;
    const int slot = slotOf_[id];
    alive_[slot] = 0;
    for (int box = leafOf_[slot]; box >= 0; box = boxes_[box].parent) --boxes_[box].alive;
}

bool ApexIndex::contains(int id) const {
    if (id < 0 || id >= static_cast<int>(slotOf_.size())) return false;
    const int slot = slotOf_[id];
    return slot >= 0 && alive_[slot];
}

// A score no point in the box can go below, lowered by the allowances: each axis gap by the
// rounding of the centre and of the subtraction, the sum by a relative 1e-12 for the
// rounding of the squares (both in the bound and in the caller's score), and by 1e-300 for
// scores so small that they round in the subnormal range.
double ApexIndex::lowerBound(const Box& box, const Query& query, const Bounds& bounds) const {
    const double slack = bounds.distanceSlack;
    const geo::Vertex& c = query.centre;
    const double gx = std::max(std::max(box.lo[0] - c.x, c.x - box.hi[0]) - slack, 0.0);
    const double gy = std::max(std::max(box.lo[1] - c.y, c.y - box.hi[1]) - slack, 0.0);
    const double gz = std::max(std::max(box.lo[2] - c.z, c.z - box.hi[2]) - slack, 0.0);
    return (gx * gx + gy * gy + gz * gz + query.base) * (1.0 - 1e-12) - 1e-300;
}

double ApexIndex::gapBound(double gap, const Query& query, const Bounds& bounds) const {
    const double g = std::max(gap - bounds.distanceSlack, 0.0);
    return (g * g + query.base) * (1.0 - 1e-12) - 1e-300;
}

// True when every point of the box lies clearly behind the side plane, so the caller's own
// side test would reject each of them.
bool ApexIndex::behind(const Box& box, const Query& query, const Bounds& bounds) const {
    const geo::Vertex& c = query.centre;
    const geo::Vertex& d = query.side;
    const double x = std::max(d.x * (box.lo[0] - c.x), d.x * (box.hi[0] - c.x));
    const double y = std::max(d.y * (box.lo[1] - c.y), d.y * (box.hi[1] - c.y));
    const double z = std::max(d.z * (box.lo[2] - c.z), d.z * (box.hi[2] - c.z));
    return x + y + z < -bounds.sideSlack;
}
