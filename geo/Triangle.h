// One mesh triangle: three corner positions and the normal at each corner.
// Corners are stored so that (corner1 - corner0) x (corner2 - corner0) agrees with
// the mean corner normal: counter-clockwise seen from outside.
#pragma once

#include "geo/Vertex.h"

namespace geo {

struct Triangle {
    Vertex corner0, corner1, corner2;
    Vertex normal0, normal1, normal2;
};

}  // namespace geo
