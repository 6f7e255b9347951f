#include <gtest/gtest.h>

#include "geo/DVector.h"
#include "geo/Matrix.h"

using geo::DVector;
using geo::Matrix;

namespace {
DVector vec(std::initializer_list<double> values) {
    DVector v;
    for (double x : values) v.append(x);
    return v;
}
}  // namespace

TEST(DVector, ConstructsZerosAndOperatesElementWise) {
    const DVector z(3);
    ASSERT_EQ(z.length(), 3);
    EXPECT_EQ(z[2], 0.0);
    const DVector a = vec({1, 2, 3}), b = vec({4, 5, 6});
    const DVector s = a.add(b), d = a.subtract(b), k = a.scaled(-2);
    EXPECT_EQ(s[0], 5);
    EXPECT_EQ(s[2], 9);
    EXPECT_EQ(d[1], -3);
    EXPECT_EQ(k[2], -6);
    EXPECT_EQ(a.dot(b), 32);
    EXPECT_EQ(DVector(-4).length(), 0);
}

TEST(DVector, DifferentLengthsGiveAnEmptyVector) {
    const DVector a = vec({1, 2, 3}), b = vec({1, 2});
    EXPECT_EQ(a.add(b).length(), 0);
    EXPECT_EQ(a.subtract(b).length(), 0);
    EXPECT_EQ(DVector().add(DVector()).length(), 0);
}

TEST(Matrix, ShapeTransposeAndRowMatrix) {
    Matrix m(2, 3);
    EXPECT_EQ(m.rowCount(), 2);
    EXPECT_EQ(m.columnCount(), 3);
    EXPECT_EQ(Matrix().columnCount(), 0);
    m[0][2] = 7;
    m[1][0] = -1;
    const Matrix t = m.transpose();
    EXPECT_EQ(t.rowCount(), 3);
    EXPECT_EQ(t.columnCount(), 2);
    EXPECT_EQ(t[2][0], 7);
    EXPECT_EQ(t[0][1], -1);
    const Matrix r = Matrix::rowMatrix(vec({1, 2, 3, 4}));
    EXPECT_EQ(r.rowCount(), 1);
    EXPECT_EQ(r.columnCount(), 4);
    EXPECT_EQ(r[0][3], 4);
}

TEST(Matrix, MultiplyComputesTheProduct) {
    Matrix x(2, 3), y(3, 2);
    double v = 1;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j) x[i][j] = v++;      // [[1 2 3] [4 5 6]]
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j) y[i][j] = v++;      // [[7 8] [9 10] [11 12]]
    const Matrix p = Matrix::multiply(x, y);
    ASSERT_EQ(p.rowCount(), 2);
    ASSERT_EQ(p.columnCount(), 2);
    EXPECT_EQ(p[0][0], 1 * 7 + 2 * 9 + 3 * 11);
    EXPECT_EQ(p[0][1], 1 * 8 + 2 * 10 + 3 * 12);
    EXPECT_EQ(p[1][0], 4 * 7 + 5 * 9 + 6 * 11);
    EXPECT_EQ(p[1][1], 4 * 8 + 5 * 10 + 6 * 12);
}

TEST(Matrix, MismatchedShapesGiveAnEmptyMatrix) {
    const Matrix p = Matrix::multiply(Matrix(2, 3), Matrix(2, 3));
    EXPECT_EQ(p.rowCount(), 0);
    EXPECT_EQ(p.columnCount(), 0);
    // A column vector times a row vector is fine: (3x1)(1x3) gives 3x3.
    const Matrix col = Matrix::rowMatrix(vec({1, 2, 3})).transpose();
    const Matrix outer = Matrix::multiply(col, Matrix::rowMatrix(vec({1, 1, 2})));
    EXPECT_EQ(outer.rowCount(), 3);
    EXPECT_EQ(outer[2][2], 6);
}
