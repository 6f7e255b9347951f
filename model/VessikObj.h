// A Gaussian blob (its defining points, the first being its centre, and its radius)
// and the list of blobs of one system. The list owns its blobs, the blob its points.
#pragma once

#include <cstdint>

#include "geo/QList.h"
#include "geo/Vertex.h"

class VessikObj {
public:
    // `kind` 1 gives one defining point, 2 gives two, anything else none; all at the origin.
    VessikObj(char kind, double radius);
    ~VessikObj();
    VessikObj(const VessikObj&) = delete;
    VessikObj& operator=(const VessikObj&) = delete;

    int pointCount() const { return points.count(); }
    // Every way to a point that could change it counts as a change of the blob list that
    // holds the blob (see VessikList::changes), whether the caller writes or only reads.
    geo::Vertex* point(int i) {
        touch();
        return static_cast<geo::Vertex*>(points.at(i));
    }
    // The first defining point; the only one that enters the field.
    geo::Vertex& centre() {
        touch();
        return *firstPoint;
    }
    // The same, only for reading: no change is counted.
    const geo::Vertex& centre() const { return *firstPoint; }
    double getRadius() const { return radius; }
    // R multiplied by itself n times, starting from 1.0.
    double radiusPower(int n) const;
    // Multiplies the radius and every defining point by `factor` (exact for a power of two).
    void scale(double factor);
    // True for a radius the field can use: positive, with R^2 a normal finite double.
    static bool usableRadius(double radius);

private:
    friend class VessikList;
    void touch() {
        if (changes) ++*changes;
    }

    geo::QList points;
    geo::Vertex* firstPoint = nullptr;  // the centre, or none for a blob without points
    double radius;
    std::uint64_t* changes = nullptr;  // the counter of the list that holds the blob, if any
};

class VessikList {
public:
    explicit VessikList(char kind) : kind(kind) {}
    ~VessikList();
    VessikList(const VessikList&) = delete;
    VessikList& operator=(const VessikList&) = delete;

    VessikObj* add(double radius);
    // Destroys `blob` if it is in the list (by identity); false and no change otherwise.
    bool remove(VessikObj* blob);
    int count() const { return items.count(); }
    VessikObj* first() { return static_cast<VessikObj*>(items.first()); }
    VessikObj* next() { return static_cast<VessikObj*>(items.next()); }
    VessikObj* at(int index) { return static_cast<VessikObj*>(items.at(index)); }
    // Counts every event that may have changed the model: a blob added or removed, a blob
    // scaled, and every hand-out of a blob's point for writing. Whatever keeps data derived
    // from the blobs compares it with the count it saw, so no change can slip past it.
    std::uint64_t changes() const { return changeCount; }

private:
    char kind;
    geo::QList items;
    std::uint64_t changeCount = 0;
};
