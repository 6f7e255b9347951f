// Resizable vector of doubles for the blob-parameter velocities and the control solve.
// Element-wise operations on vectors of different lengths give an empty vector.
#pragma once

#include <cstddef>
#include <vector>

namespace geo {

class DVector {
public:
    DVector() = default;
    explicit DVector(int n) : values(n > 0 ? static_cast<std::size_t>(n) : 0, 0.0) {}

    int length() const { return static_cast<int>(values.size()); }
    double operator[](int i) const { return values[static_cast<std::size_t>(i)]; }
    double& operator[](int i) { return values[static_cast<std::size_t>(i)]; }
    void append(double v) { values.push_back(v); }

    DVector add(const DVector& b) const;
    DVector subtract(const DVector& b) const;
    // Callers pass equal lengths; a shorter `b` only contributes its own entries.
    double dot(const DVector& b) const;
    DVector scaled(double s) const;

private:
    std::vector<double> values;
};

}  // namespace geo
