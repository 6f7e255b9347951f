#include <gtest/gtest.h>

#include <cmath>

#include "view/DrawArrays.h"
#include "view/Framing.h"

namespace {

// Corners are single precision, placed from double: a few float ulps at these sizes.
constexpr double cornerTolerance = 1e-5;

geo::Vertex cornerAt(const DiskArrays& arrays, int index) {
    const float* p = arrays.positions.data() + 3 * index;
    return geo::Vertex(p[0], p[1], p[2]);
}

geo::Vertex normalAt(const DiskArrays& arrays, int index) {
    const float* n = arrays.normals.data() + 3 * index;
    return geo::Vertex(n[0], n[1], n[2]);
}

}  // namespace

// Each disk is the disk gluDisk draws, moved into place: every corner on the circle in the
// plane across the normal, the unit normal at every corner, every triangle facing the way
// the normal points (so culling keeps the same side), and the rim starting where GLU's
// starts, at the disk's own +y, turned as glRotatef turns it.
TEST(DiskArrays, EveryDiskIsGlusFanTurnedIntoItsPlane) {
    const geo::Vertex axis(0.0, 0.0, 1.0);
    struct Case {
        geo::Vertex normal;
        geo::Vertex firstRim;  // unit direction of the first rim corner
    };
    const double h = std::sqrt(0.5);
    const Case cases[] = {
        {{0.0, 0.0, 1.0}, {0.0, 1.0, 0.0}},     // no turn
        {{0.0, 0.0, -1.0}, {0.0, -1.0, 0.0}},   // turned over about x
        {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}},     // 90 degrees about y keeps y
        {{0.0, -2.0, 2.0}, {0.0, h, h}},        // 45 degrees about x, normal not unit
        {{0.0, 0.0, 0.0}, {0.0, 1.0, 0.0}},     // no normal: lies as it is, across z
        {{0.3, -0.5, 0.81}, {0.0, 0.0, 0.0}}};  // a general one; rim start not checked
    const geo::Vertex centre(10.0, -20.0, 5.5);
    const double radius = 1.75;
    for (const Case& c : cases) {
        DiskArrays arrays;
        ASSERT_TRUE(arrays.add(centre, radius, c.normal, axis));
        ASSERT_EQ(arrays.diskCount(), 1);
        ASSERT_EQ(arrays.positions.size(), 3u * DiskArrays::cornersPerDisk);
        const double length = c.normal.length();
        const geo::Vertex unit = length > 0.0 ? c.normal * (1.0 / length) : axis;
        EXPECT_LT((cornerAt(arrays, 0) - centre).length(), cornerTolerance);
        for (int i = 0; i < DiskArrays::cornersPerDisk; ++i) {
            EXPECT_LT((normalAt(arrays, i) - unit).length(), 1e-6) << "corner " << i;
            if (i == 0) continue;
            const geo::Vertex offset = cornerAt(arrays, i) - centre;
            EXPECT_NEAR(offset.length(), radius, cornerTolerance) << "corner " << i;
            EXPECT_NEAR(offset.dot(unit), 0.0, cornerTolerance) << "corner " << i;
        }
        if (c.firstRim.length() > 0.0) {
            EXPECT_LT((cornerAt(arrays, 1) - centre - c.firstRim * radius).length(),
                      cornerTolerance);
        }
        for (int t = 0; t < DiskArrays::slices; ++t) {
            const geo::Vertex a = cornerAt(arrays, static_cast<int>(arrays.indices[3 * t]));
            const geo::Vertex b = cornerAt(arrays, static_cast<int>(arrays.indices[3 * t + 1]));
            const geo::Vertex d = cornerAt(arrays, static_cast<int>(arrays.indices[3 * t + 2]));
            EXPECT_EQ(arrays.indices[3 * t], 0u);  // a fan about the centre
            EXPECT_GT((b - a).cross(d - a).dot(unit), 0.0) << "triangle " << t;
        }
    }
}

// The index list serves every draw call: disk d of a call names only its own corners,
// d * 25 to d * 25 + 24, and the fan's pattern is the same for each.
TEST(DiskArrays, IndicesOfEveryDiskOfACallNameItsOwnCorners) {
    const DiskArrays arrays;
    ASSERT_EQ(arrays.indices.size(),
              static_cast<std::size_t>(DiskArrays::disksPerDraw) * DiskArrays::indicesPerDisk);
    for (int disk = 0; disk < DiskArrays::disksPerDraw; ++disk) {
        const int first = disk * DiskArrays::cornersPerDisk;
        for (int i = 0; i < DiskArrays::indicesPerDisk; ++i) {
            const int index =
                arrays.indices[static_cast<std::size_t>(disk * DiskArrays::indicesPerDisk + i)];
            ASSERT_EQ(index - first, arrays.indices[static_cast<std::size_t>(i)])
                << "disk " << disk << " index " << i;
        }
    }
    EXPECT_EQ(arrays.indices.back(), DiskArrays::disksPerDraw * DiskArrays::cornersPerDisk - 24);
}

// Only a disk plainly turned away from the eye is left out: facing it, or seen edge-on
// (where single precision could decide the side either way), it stays.
TEST(DiskArrays, LeavesOutOnlyDisksWithTheirBackToTheEye) {
    const geo::Vertex axis(0.0, 0.0, 1.0);
    const geo::Vertex eye(0.0, 0.0, 300.0);
    struct Case {
        geo::Vertex position, normal;
        bool kept;
    };
    const Case cases[] = {{{0.0, 0.0, 0.0}, {0.0, 0.0, 1.0}, true},
                          {{0.0, 0.0, 0.0}, {0.0, 0.0, -1.0}, false},
                          {{0.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, true},  // edge-on
                          {{0.0, 0.0, 0.0}, {1.0, 0.0, -0.001}, true},
                          {{0.0, 0.0, 0.0}, {1.0, 0.0, -0.1}, false},
                          // Behind the eye the sides swap.
                          {{0.0, 0.0, 400.0}, {0.0, 0.0, -1.0}, true},
                          {{0.0, 0.0, 400.0}, {0.0, 0.0, 1.0}, false}};
    for (const Case& c : cases) {
        DiskArrays arrays;
        EXPECT_EQ(arrays.add(c.position, 1.0, c.normal, axis, &eye), c.kept);
        EXPECT_EQ(arrays.diskCount(), c.kept ? 1 : 0);
        EXPECT_EQ(arrays.positions.size(), c.kept ? 3u * DiskArrays::cornersPerDisk : 0u);
    }
}

TEST(LineArrays, BothEndsCarryTheLinesNormal) {
    LineArrays lines;
    lines.add({1.0, 2.0, 3.0}, {1.0, 2.0, 7.0}, {0.0, 0.0, 4.0});
    lines.add({0.1, 0.2, 0.3}, {0.5, 0.2, 0.3}, {4.0, 0.0, 0.0});
    ASSERT_EQ(lines.lineCount(), 2);
    const std::vector<double> positions{1.0, 2.0, 3.0, 1.0, 2.0, 7.0, 0.1, 0.2, 0.3, 0.5, 0.2, 0.3};
    EXPECT_EQ(lines.positions, positions);  // doubles as given, as glVertex3d takes them
    const std::vector<float> normals{0, 0, 4, 0, 0, 4, 4, 0, 0, 4, 0, 0};
    EXPECT_EQ(lines.normals, normals);
    lines.clear();
    EXPECT_EQ(lines.lineCount(), 0);
}

// The eye, put through the camera (turns, then the translation), lands on the origin of
// the camera's space, whatever the camera numbers.
TEST(EyeInScene, IsWhereTheCameraPutsTheOrigin) {
    struct Camera {
        int panX, panY, distance, rotX, rotY, rotZ;
    };
    const Camera cameras[] = {{0, 0, -300, 0, 0, 0},
                              {12, -7, -250, 30, 0, 0},
                              {0, 0, -300, 0, 45, 0},
                              {-3, 5, -120, 10, -200, 77},
                              {0, 0, 40, 400, 90, -90}};
    for (const Camera& c : cameras) {
        const geo::Vertex eye = eyeInScene(c.panX, c.panY, c.distance, c.rotX, c.rotY, c.rotZ);
        const geo::Vertex seen =
            turnedByCamera(eye, c.rotX, c.rotY, c.rotZ) + geo::Vertex(c.panX, c.panY, c.distance);
        EXPECT_LT(seen.length(), 1e-9) << c.rotX << " " << c.rotY << " " << c.rotZ;
    }
    const geo::Vertex start = eyeInScene(0, 0, -300, 0, 0, 0);
    EXPECT_EQ(start, geo::Vertex(0.0, 0.0, 300.0));
}
