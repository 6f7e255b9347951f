#include "geo/DVector.h"

namespace geo {

DVector DVector::add(const DVector& b) const {
    if (b.length() != length()) return DVector();
    DVector r(length());
    for (int i = 0; i < length(); ++i) r[i] = (*this)[i] + b[i];
    return r;
}

DVector DVector::subtract(const DVector& b) const {
    if (b.length() != length()) return DVector();
    DVector r(length());
    for (int i = 0; i < length(); ++i) r[i] = (*this)[i] - b[i];
    return r;
}

double DVector::dot(const DVector& b) const {
    const int n = length() < b.length() ? length() : b.length();
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += (*this)[i] * b[i];
    return sum;
}

DVector DVector::scaled(double s) const {
    DVector r(length());
    for (int i = 0; i < length(); ++i) r[i] = (*this)[i] * s;
    return r;
}

}  // namespace geo
