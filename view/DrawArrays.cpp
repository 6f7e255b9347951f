#include "view/DrawArrays.h"

#include <cmath>

#include "view/Visualize.h"

namespace {

constexpr double pi = 3.14159265358979323846;

// The rim of GLU's disk: the angle of slice i rounded to single precision, its sine and
// cosine taken in double and rounded again, the last slice closing on the first.
struct Rim {
    float sine[DiskArrays::slices];
    float cosine[DiskArrays::slices];

    Rim() {
        for (int i = 0; i < DiskArrays::slices; ++i) {
            const float angle =
                static_cast<float>(0.0f + (pi * 360.0 / 180.0) * i / DiskArrays::slices);
            sine[i] = static_cast<float>(std::sin(angle));
            cosine[i] = static_cast<float>(std::cos(angle));
        }
    }
};

const Rim rim;

void put(float*& to, const geo::Vertex& v) {
    *to++ = static_cast<float>(v.x);
    *to++ = static_cast<float>(v.y);
    *to++ = static_cast<float>(v.z);
}

// A disk turned away from the eye by more than this (the sine of the angle between the
// line of sight and its plane) is left out. Only back faces go, which GL culls anyway;
// the margin, far above the rounding of any transform, keeps every disk seen nearly
// edge-on, whose facing single precision might still decide either way.
constexpr double awayMargin = 0.01;

}  // namespace

static_assert(DiskArrays::disksPerDraw * DiskArrays::cornersPerDisk <= 65536,
              "the corners of one draw call are numbered by 16 bits");

DiskArrays::DiskArrays() {
    indices.reserve(static_cast<std::size_t>(disksPerDraw) * indicesPerDisk);
    for (int disk = 0; disk < disksPerDraw; ++disk) {
        const int first = disk * cornersPerDisk;
        for (int j = slices - 1; j >= 0; --j) {
            indices.push_back(static_cast<unsigned short>(first));
            indices.push_back(static_cast<unsigned short>(first + 1 + (j + 1) % slices));
            indices.push_back(static_cast<unsigned short>(first + 1 + j));
        }
    }
}

bool DiskArrays::add(const geo::Vertex& position, double radius, const geo::Vertex& normal,
                     const geo::Vertex& axis, const geo::Vertex* eye) {
    const Visualize::DiskTurn turn = Visualize::diskTurn(axis, normal);
    // The disk's own x, y and z axes turned into place as glRotatef turns them (Rodrigues'
    // formula about the unit turn axis k).
    const geo::Vertex k = turn.turnAxis * (1.0 / turn.turnAxis.length());
    const double radians = turn.angle * (pi / 180.0);
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    const double o = 1.0 - c;
    const geo::Vertex across(c + k.x * k.x * o, k.z * s + k.y * k.x * o, -k.y * s + k.z * k.x * o);
    const geo::Vertex along(-k.z * s + k.x * k.y * o, c + k.y * k.y * o, k.x * s + k.z * k.y * o);
    const geo::Vertex up(k.y * s + k.x * k.z * o, -k.x * s + k.y * k.z * o, c + k.z * k.z * o);
    const geo::Vertex centre(static_cast<float>(position.x), static_cast<float>(position.y),
                             static_cast<float>(position.z));
    if (eye != nullptr) {
        const geo::Vertex sight = *eye - centre;
        if (sight.dot(up) < -awayMargin * sight.length()) return false;
    }

    const std::size_t floats = 3 * cornersPerDisk;
    positions.resize(positions.size() + floats);
    normals.resize(normals.size() + floats);
    float* p = positions.data() + positions.size() - floats;
    float* n = normals.data() + normals.size() - floats;
    // GLU rounds the radius to single precision and multiplies in single precision.
    const float r = static_cast<float>(radius);
    put(p, centre);
    for (int i = 0; i < slices; ++i) {
        const float x = r * rim.sine[i];
        const float y = r * rim.cosine[i];
        put(p, centre + across * x + along * y);
    }
    for (int i = 0; i < cornersPerDisk; ++i) put(n, up);

    ++disks;
    return true;
}

void DiskArrays::clear() {
    positions.clear();
    normals.clear();
    disks = 0;
}

void LineArrays::add(const geo::Vertex& from, const geo::Vertex& to, const geo::Vertex& normal) {
    for (const geo::Vertex& end : {from, to}) {
        positions.push_back(end.x);
        positions.push_back(end.y);
        positions.push_back(end.z);
        normals.push_back(static_cast<float>(normal.x));
        normals.push_back(static_cast<float>(normal.y));
        normals.push_back(static_cast<float>(normal.z));
    }
}

void LineArrays::clear() {
    positions.clear();
    normals.clear();
}
