// Three doubles x, y, z: every position, centre, velocity, gradient and normal.
// A plain value type; no operation keeps a reference to its arguments.
#pragma once

#include <cmath>

namespace geo {

struct Vertex {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    Vertex() = default;
    Vertex(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}

    // Index 0 is x, 1 is y, and any other index reaches z.
    double operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
    double& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }

    Vertex operator+(const Vertex& b) const { return {x + b.x, y + b.y, z + b.z}; }
    Vertex operator-(const Vertex& b) const { return {x - b.x, y - b.y, z - b.z}; }
    Vertex& operator+=(const Vertex& b) {
        x += b.x;
        y += b.y;
        z += b.z;
        return *this;
    }
    Vertex operator*(double s) const { return {x * s, y * s, z * s}; }

    double dot(const Vertex& b) const { return x * b.x + y * b.y + z * b.z; }
    Vertex cross(const Vertex& b) const {
        return {y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x};
    }
    double squaredLength() const { return x * x + y * y + z * z; }
    // Exactly 0 for the zero vector, so callers may compare against 0.
    double length() const;
    // The zero vector stays zero: the scale is then 0, never a division by zero.
    Vertex normalised() const;
    // Radians; 0 when either vector has length 0.
    double angle(const Vertex& b) const;

    bool operator==(const Vertex& b) const { return x == b.x && y == b.y && z == b.z; }
    bool operator!=(const Vertex& b) const { return !(*this == b); }
};

inline Vertex operator*(double s, const Vertex& v) { return v * s; }

// No coordinate is infinite or NaN.
inline bool isFinite(const Vertex& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace geo
