// The blob field: F(x) = T - sum_i exp(-|x - c_i|^2 / R_i^2). With T = 1/e a lone blob's
// surface is exactly the sphere of its radius. Every blob has one defining point.
#pragma once

#include "sim/ImplicitSurface.h"

class VessikSpheres : public ImplicitSurface {
public:
    explicit VessikSpheres(double isoValue);

    double fieldValue(const geo::Vertex& x) override;
    geo::Vertex fieldGradient(const geo::Vertex& x) override;
    geo::DVector parameterGradient(const geo::Vertex& x) override;
    geo::DVector baseParameterVelocity() override;
    int parameterCount() override;

    // dF/dc_i at x, which is also the derivative of f_i by x.
    geo::Vertex blobGradient(const geo::Vertex& x, VessikObj* blob);
};

// 1 / e, the iso-value of the program's system.
constexpr double defaultIsoValue = 0.36787944117144233;
