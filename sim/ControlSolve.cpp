// Surface control: the blob-centre velocity qDot that keeps every control particle on
// the surface while it moves, in the least-squares sense, through the normal equations
// of the Gram matrix of the particles' parameter gradients and a Cholesky solve.
#include <cmath>

#include "geo/Matrix.h"
#include "sim/ImplicitSurface.h"

namespace {

// Pivots below this share of the matrix's largest diagonal entry are rounding noise of a
// singular system (two particles pulling on the same parameters); solving with them would
// divide by almost zero and fling the blobs away.
const double kPivotTolerance = 1e-12;

}  // namespace

void ImplicitSurface::solveControl() {
    qDot = baseParameterVelocity();
    const int n = controlParticles.size();
    if (n == 0) return;

    geo::DVector b(n);
    int i = 0;
    for (Particle* p = controlParticles.first(); p; p = controlParticles.next(), ++i)
        b[i] = parameterGradient(p->position).dot(qDot) +
               fieldGradient(p->position).dot(p->repulsionVelocity) +
               fieldValue(p->position) * phi;

    // The outer walk goes over a snapshot so that the inner one can use the list's cursor.
    geo::Matrix a(n, n);
    ParticleList* outer = controlParticles.snapshot();
    i = 0;
    for (Particle* p = outer->first(); p; p = outer->next(), ++i) {
        int j = 0;
        for (Particle* q = controlParticles.first(); q; q = controlParticles.next(), ++j)
            a[i][j] = parameterGradient(p->position).dot(parameterGradient(q->position));
    }
    delete outer;

    const geo::Matrix bColumn =
        geo::Matrix::multiply(a.transpose(), geo::Matrix::rowMatrix(b).transpose());
    b = bColumn.transpose()[0];
    a = geo::Matrix::multiply(a, a.transpose());

    double largestDiagonal = 0.0;
    for (i = 0; i < n; ++i)
        if (a[i][i] > largestDiagonal) largestDiagonal = a[i][i];
    const double pivotFloor = largestDiagonal * kPivotTolerance;

    geo::Matrix l(n, n);
    for (i = 0; i < n; ++i) {
        double s = a[i][i];
        for (int k = 0; k < i; ++k) s -= l[i][k] * l[i][k];
        // A negative, NaN, zero or vanishing pivot abandons the solve: qDot stays zero.
        if (!(s >= 0.0) || !(s > pivotFloor)) {
            qDot = baseParameterVelocity();
            return;
        }
        l[i][i] = std::sqrt(s);
        for (int j = i + 1; j < n; ++j) {
            double t = a[j][i];
            for (int k = 0; k < i; ++k) t -= l[j][k] * l[i][k];
            l[j][i] = t / l[i][i];
        }
    }

    geo::DVector y(n), x(n);
    for (i = 0; i < n; ++i) {
        double t = b[i];
        for (int k = 0; k < i; ++k) t -= l[i][k] * y[k];
        y[i] = t / l[i][i];
    }
    for (i = n - 1; i >= 0; --i) {
        double t = y[i];
        for (int k = n - 1; k > i; --k) t -= l[k][i] * x[k];
        x[i] = t / l[i][i];
    }

    i = 0;
    for (Particle* p = controlParticles.first(); p; p = controlParticles.next(), ++i)
        qDot = qDot.subtract(parameterGradient(p->position).scaled(x[i]));
}
