// A k-d tree over the nodes' positions that finds the best candidate of a front-edge search
// without scanning every node. It only prunes: the caller evaluates every candidate it is
// handed with its own exact score and tie rule, and a box is skipped only when no point in
// it can score at or below the best found so far, even allowing for rounding. So the search
// returns exactly what a scan of all nodes would. Points can be removed (closed nodes never
// take part again); the tree itself is never rebuilt during a run.
#pragma once

#include <cmath>
#include <vector>

#include "geo/Vertex.h"

class ApexIndex {
public:
    // One search: candidates are ranked by a score that is, in exact arithmetic,
    // |c - centre|^2 + base; a nonzero `side` also drops every c with side . (c - centre) < 0.
    struct Query {
        geo::Vertex centre;
        double base = 0.0;
        geo::Vertex side;
    };

    // Indexes the finite positions whose `include` entry is set, under their index in
    // `positions` as id. Non-finite positions are left out: their scores are never finite.
    void build(const std::vector<geo::Vertex>& positions, const std::vector<char>& include);
    // False when some finite coordinate is beyond maxCoordinate, where the rounding
    // allowances no longer hold; the caller must then scan instead.
    bool usable() const { return usable_; }
    void clear();
    void remove(int id);
    bool contains(int id) const;

    // Calls visit(id, position) for every indexed point that may score at or below `best`
    // (the position is an exact copy of the one given to build); `best` is read again at
    // every box, so the visitor may lower it as it goes.
    template <class Visit>
    void search(const Query& query, const double& best, Visit&& visit) const;

    // Coordinates beyond this could overflow the squared distances the scores are made of.
    static constexpr double maxCoordinate = 1e100;
    // Median splits keep the tree balanced: 64 levels are far more than any node count needs.
    static constexpr int maxDepth = 64;

private:
    struct Box {
        double lo[3];
        double hi[3];
        int begin;  // slots [begin, end) of `ids_`
        int end;
        int left;  // child boxes, -1 for a leaf
        int right;
        int parent;
        int alive;     // points below this box that are still indexed
        int axis;      // of an inner box: the axis it is split along
        double split;  // and where: left holds coordinates up to it, right from it on
    };

    struct Bounds {
        double distanceSlack;  // rounding allowance on each axis gap, in length units
        double sideSlack;      // rounding allowance on the side product
    };

    int buildBox(int begin, int end, int parent, const std::vector<geo::Vertex>& positions);
    double lowerBound(const Box& box, const Query& query, const Bounds& bounds) const;
    bool behind(const Box& box, const Query& query, const Bounds& bounds) const;
    // The bound of lowerBound for points at least `gap` away from the centre.
    double gapBound(double gap, const Query& query, const Bounds& bounds) const;
    // `bound` is lowerBound of the box, worked out by the caller.
    template <class Visit>
    void searchBox(int index, double bound, const Query& query, const Bounds& bounds,
                   const double& best, Visit& visit) const;

    std::vector<Box> boxes_;
    std::vector<int> ids_;             // point ids in slot order
    std::vector<geo::Vertex> points_;  // their positions, so a leaf is read from one place
    std::vector<char> alive_;          // per slot
    std::vector<int> leafOf_;          // per slot: its leaf box
    std::vector<int> slotOf_;          // per id: its slot, -1 when not indexed
    double scale_ = 0.0;               // largest finite coordinate magnitude seen at build
    bool usable_ = false;
};

// The search starts in the leaf around the centre, where the winner usually is, and then
// climbs, searching the other half below each ancestor. Every point outside an ancestor's
// cell lies beyond one of the split planes above it, so once the nearest of those planes is
// too far to hold a point that could still win, the climb ends.
template <class Visit>
void ApexIndex::search(const Query& query, const double& best, Visit&& visit) const {
    if (boxes_.empty() || !usable_ || boxes_[0].alive == 0) return;
    // Every rounding error of the caller's score, of the centre and of the box distances is
    // a few units in the last place of scale_; these allowances are a thousand times that.
    const double sideNorm =
        std::fabs(query.side.x) + std::fabs(query.side.y) + std::fabs(query.side.z);
    const Bounds bounds{1e-12 * scale_, 1e-12 * scale_ * sideNorm + 1e-300};
    // path[k] is the box at depth k on the way down; planeGap[k] the distance from the
    // centre to the nearest split plane above it (the border of its cell).
    int path[maxDepth];
    double planeGap[maxDepth];
    int depth = 0;
    path[0] = 0;
    planeGap[0] = 0.0;
    while (boxes_[path[depth]].left >= 0) {
        const Box& box = boxes_[path[depth]];
        const double gap = std::fabs(query.centre[box.axis] - box.split);
        planeGap[depth + 1] = depth == 0 ? gap : std::min(planeGap[depth], gap);
        path[depth + 1] = query.centre[box.axis] < box.split ? box.left : box.right;
        ++depth;
    }
    searchBox(path[depth], lowerBound(boxes_[path[depth]], query, bounds), query, bounds, best,
              visit);
    for (; depth > 0; --depth) {
        if (gapBound(planeGap[depth], query, bounds) > best) return;
        const Box& above = boxes_[path[depth - 1]];
        const int other = above.left == path[depth] ? above.right : above.left;
        searchBox(other, lowerBound(boxes_[other], query, bounds), query, bounds, best, visit);
    }
}

template <class Visit>
void ApexIndex::searchBox(int index, double bound, const Query& query, const Bounds& bounds,
                          const double& best, Visit& visit) const {
    const Box& box = boxes_[index];
    if (box.alive == 0 || bound > best) return;
    if (box.left < 0) {
        // The caller's side test on each point is cheaper than the box test here.
        for (int slot = box.begin; slot < box.end; ++slot)
            if (alive_[slot]) visit(ids_[slot], points_[slot]);
        return;
    }
    if (behind(box, query, bounds)) return;
    // Nearer child first, so `best` drops early and prunes more of the other one.
    const double leftBound = lowerBound(boxes_[box.left], query, bounds);
    const double rightBound = lowerBound(boxes_[box.right], query, bounds);
    if (leftBound <= rightBound) {
        searchBox(box.left, leftBound, query, bounds, best, visit);
        searchBox(box.right, rightBound, query, bounds, best, visit);
    } else {
        searchBox(box.right, rightBound, query, bounds, best, visit);
        searchBox(box.left, leftBound, query, bounds, best, visit);
    }
}
