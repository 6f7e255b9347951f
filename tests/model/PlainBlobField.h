// The blob field as the plain walk over every blob computes it, with the C runtime's exp
// and nothing left out: what the blob index must stay within 1e-12 of. Shared by the unit
// test and the accuracy tool in bench/.
#pragma once

#include <cmath>
#include <vector>

#include "model/VessikSpheres.h"

struct PlainBlobField {
    double value = 0.0;
    geo::Vertex gradient;
    std::vector<double> parameters;  // dF/dc_i, three entries a blob
};

inline PlainBlobField plainBlobField(VessikSpheres& system, const geo::Vertex& x) {
    PlainBlobField plain;
    double sum = 0.0;
    geo::Vertex half;
    // The list's cursor, not at(i), which walks from the head each time.
    for (const VessikObj* b = system.blobs.first(); b; b = system.blobs.next()) {
        const VessikObj& blob = *b;
        const geo::Vertex d = x - blob.centre();
        const double r2 = blob.radiusPower(2);
        const double f = std::exp(-d.dot(d) / r2);
        sum += f;
        if (f != 0.0) half += d * (f / r2);
        const geo::Vertex g = f == 0.0 ? geo::Vertex() : d * (f * -2.0 / r2);
        plain.parameters.insert(plain.parameters.end(), {g.x, g.y, g.z});
    }
    plain.value = system.isoValue - sum;
    plain.gradient = 2.0 * half;
    return plain;
}

inline VessikObj* blobAt(VessikSpheres& system, double radius, const geo::Vertex& centre) {
    VessikObj* blob = system.addBlob(radius);
    blob->centre() = centre;
    return blob;
}

// The sum and half gradient of the blobs the index counts, walked over every blob in list
// order with the index's own rule: what BlobIndex::sum must give bit for bit.
inline double sameRuleSum(VessikSpheres& system, const geo::Vertex& x, geo::Vertex& half) {
    const BlobIndex& index = system.blobIndex();
    double sum = 0.0;
    half = geo::Vertex();
    int i = 0;
    for (const VessikObj* blob = system.blobs.first(); blob; blob = system.blobs.next(), ++i) {
        const double f = index.contribution(x, i);
        sum += f;
        if (f != 0.0) half += (x - blob->centre()) * (f / blob->radiusPower(2));
    }
    return sum;
}
