// The blob field: F(x) = T - sum_i exp(-|x - c_i|^2 / R_i^2). With T = 1/e a lone blob's
// surface is exactly the sphere of its radius. Every blob has one defining point.
#pragma once

#include "model/BlobIndex.h"
#include "sim/ImplicitSurface.h"

class VessikSpheres : public ImplicitSurface {
public:
    explicit VessikSpheres(double isoValue);

    // Each sums the blobs near x through the index (a blob beyond its cut-off adds less
    // than the index's bound, see BlobIndex), in list order.
    double fieldValue(const geo::Vertex& x) override;
    geo::Vertex fieldGradient(const geo::Vertex& x) override;
    geo::DVector parameterGradient(const geo::Vertex& x) override;
    geo::DVector baseParameterVelocity() override;
    int parameterCount() override;
    void fieldAndGradient(const geo::Vertex& x, double& value, geo::Vertex& gradient) override;
    double parameterGradientDot(const geo::Vertex& x, const geo::DVector& v) override;
    std::uint64_t fieldVersion() override;

    // dF/dc_i at x, which is also the derivative of f_i by x; zero beyond the cut-off.
    geo::Vertex blobGradient(const geo::Vertex& x, VessikObj* blob);

    // The index over the blobs, brought up to date first.
    const BlobIndex& blobIndex();

private:
    BlobIndex index;
};

// 1 / e, the iso-value of the program's system.
constexpr double defaultIsoValue = 0.36787944117144233;
