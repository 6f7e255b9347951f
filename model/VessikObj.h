// A Gaussian blob (its defining points, the first being its centre, and its radius)
// and the list of blobs of one system. The list owns its blobs, the blob its points.
#pragma once

#include "geo/QList.h"
#include "geo/Vertex.h"

class VessikObj {
public:
    // `kind` 1 gives one defining point, 2 gives two, anything else none; all at the origin.
    VessikObj(char kind, double radius);
    ~VessikObj();
    VessikObj(const VessikObj&) = delete;
    VessikObj& operator=(const VessikObj&) = delete;

    char getKind() const { return kind; }
    int pointCount() const { return points.count(); }
    geo::Vertex* point(int i) { return static_cast<geo::Vertex*>(points.at(i)); }
    // The first defining point; the only one that enters the field.
    geo::Vertex& centre() { return *static_cast<geo::Vertex*>(points.first()); }
    double getRadius() const { return radius; }
    // R multiplied by itself n times, starting from 1.0.
    double radiusPower(int n) const;
    // Multiplies the radius and every defining point by `factor` (exact for a power of two).
    void scale(double factor);
    // True for a radius the field can use: positive, with R^2 a normal finite double.
    static bool usableRadius(double radius);

private:
    char kind;
    geo::QList points;
    double radius;
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

private:
    char kind;
    geo::QList items;
};
