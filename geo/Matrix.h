// Dense matrix as a vector of `DVector` rows; element [i][j] is element j of row i.
// A product of mismatched shapes gives an empty matrix rather than reading past a row.
#pragma once

#include <vector>

#include "geo/DVector.h"

namespace geo {

class Matrix {
public:
    Matrix() = default;
    Matrix(int rows, int columns);

    int rowCount() const { return static_cast<int>(rows.size()); }
    // The length of row 0; 0 for a matrix without rows.
    int columnCount() const { return rows.empty() ? 0 : rows[0].length(); }
    DVector& operator[](int i) { return rows[static_cast<std::size_t>(i)]; }
    const DVector& operator[](int i) const { return rows[static_cast<std::size_t>(i)]; }

    Matrix transpose() const;
    // Sums run over increasing k, so results are reproducible bit for bit.
    static Matrix multiply(const Matrix& x, const Matrix& y);
    static Matrix rowMatrix(const DVector& v);

private:
    std::vector<DVector> rows;
};

}  // namespace geo
