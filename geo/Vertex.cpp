#include "geo/Vertex.h"

#include <cmath>

namespace geo {

double Vertex::length() const {
    const double sq = squaredLength();
    return sq > 0.0 ? std::sqrt(sq) : 0.0;
}

Vertex Vertex::normalised() const {
    const double len = length();
    const double scale = len > 0.0 ? 1.0 / len : 0.0;
    return *this * scale;
}

double Vertex::angle(const Vertex& b) const {
    const double lengths = length() * b.length();
    if (lengths == 0.0) return 0.0;
    double c = dot(b) / lengths;
    // Rounding can push the cosine of parallel vectors just past 1.
    if (c > 1.0) c = 1.0;
    if (c < -1.0) c = -1.0;
    return std::acos(c);
}

}  // namespace geo
