#include "geo/Matrix.h"

namespace geo {

Matrix::Matrix(int rowCount_, int columns) {
    for (int i = 0; i < rowCount_; ++i) rows.emplace_back(columns);
}

Matrix Matrix::transpose() const {
    Matrix t(columnCount(), rowCount());
    for (int i = 0; i < rowCount(); ++i)
        for (int j = 0; j < columnCount(); ++j) t[j][i] = (*this)[i][j];
    return t;
}

Matrix Matrix::multiply(const Matrix& x, const Matrix& y) {
    if (x.columnCount() != y.rowCount()) return Matrix();
    Matrix r(x.rowCount(), y.columnCount());
    for (int i = 0; i < x.rowCount(); ++i)
        for (int j = 0; j < y.columnCount(); ++j) {
            double sum = 0.0;
            for (int k = 0; k < x.columnCount(); ++k) sum += x[i][k] * y[k][j];
            r[i][j] = sum;
        }
    return r;
}

Matrix Matrix::rowMatrix(const DVector& v) {
    Matrix m;
    m.rows.push_back(v);
    return m;
}

}  // namespace geo
