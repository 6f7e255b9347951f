#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <deque>
#include <string>
#include <vector>

#include "TempFile.h"
#include "model/BlobFile.h"
#include "model/VessikSpheres.h"

namespace {

struct Example {
    const char* name;
    int minBlobs;
    int maxBlobs;
};

const Example examples[] = {
    {"sphere.dat", 1, 1}, {"two-blobs.dat", 2, 2}, {"chain.dat", 5, 5},
    {"ring.dat", 8, 8},   {"figure.dat", 15, 30},
};

std::string examplePath(const char* name) {
    return std::string(DAZIRUDO_EXAMPLES_DIR) + "/" + name;
}

std::string textOf(ImplicitSurface& system) {
    geo::QList systems;
    systems.append(&system);
    return blobFileText(systems);
}

// Solid voxels (F < 0 at the voxel centre) over the model's bounding box, and how many
// face-connected groups they form.
int solidComponents(VessikSpheres& system, double step) {
    geo::Vertex lo(1e300, 1e300, 1e300), hi(-1e300, -1e300, -1e300);
    for (VessikObj* b = system.blobs.first(); b; b = system.blobs.next()) {
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], b->centre()[a] - 1.5 * b->getRadius());
            hi[a] = std::max(hi[a], b->centre()[a] + 1.5 * b->getRadius());
        }
    }
    const int nx = static_cast<int>((hi.x - lo.x) / step) + 1;
    const int ny = static_cast<int>((hi.y - lo.y) / step) + 1;
    const int nz = static_cast<int>((hi.z - lo.z) / step) + 1;
    std::vector<char> solid(static_cast<std::size_t>(nx) * ny * nz);
    auto at = [&](int i, int j, int k) { return (static_cast<std::size_t>(i) * ny + j) * nz + k; };
    for (int i = 0; i < nx; ++i)
        for (int j = 0; j < ny; ++j)
            for (int k = 0; k < nz; ++k)
                solid[at(i, j, k)] =
                    system.fieldValue({lo.x + i * step, lo.y + j * step, lo.z + k * step}) < 0.0;
    int components = 0;
    for (int i = 0; i < nx; ++i)
        for (int j = 0; j < ny; ++j)
            for (int k = 0; k < nz; ++k) {
                if (solid[at(i, j, k)] != 1) continue;
                ++components;
                std::deque<std::array<int, 3>> open{{i, j, k}};
                solid[at(i, j, k)] = 2;
                while (!open.empty()) {
                    const std::array<int, 3> c = open.front();
                    open.pop_front();
                    const int d[6][3] = {{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                         {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};
                    for (const auto& o : d) {
                        const int a = c[0] + o[0], b = c[1] + o[1], e = c[2] + o[2];
                        if (a < 0 || b < 0 || e < 0 || a >= nx || b >= ny || e >= nz) continue;
                        if (solid[at(a, b, e)] != 1) continue;
                        solid[at(a, b, e)] = 2;
                        open.push_back({a, b, e});
                    }
                }
            }
    return components;
}

}  // namespace

// Each shipped model reads completely and is already in the writer's exact format. It has
// the size the simulation's constants are made for, so it is simulated in its own units
// and its results stay what they were.
TEST(Examples, ReadCompletelyInTheWritersFormat) {
    for (const Example& example : examples) {
        SCOPED_TRACE(example.name);
        VessikSpheres system(defaultIsoValue);
        ASSERT_TRUE(system.readBlobFile(examplePath(example.name).c_str()));
        EXPECT_FALSE(system.blobFileIncomplete);
        EXPECT_GE(system.blobs.count(), example.minBlobs);
        EXPECT_LE(system.blobs.count(), example.maxBlobs);
        EXPECT_EQ(textOf(system), readWhole(examplePath(example.name), "rt"));
        system.startSampling();
        EXPECT_EQ(system.unitScale, 1.0);
    }
}

// Write, read, write: the two written files are byte for byte the same (with the
// platform's line ends on disk).
TEST(Examples, WriteReadWriteIsByteIdentical) {
    TempFolder temp;
    for (const Example& example : examples) {
        SCOPED_TRACE(example.name);
        VessikSpheres original(defaultIsoValue);
        ASSERT_TRUE(original.readBlobFile(examplePath(example.name).c_str()));
        geo::QList first;
        first.append(&original);
        const std::string a = temp.path("a.dat"), b = temp.path("b.dat");
        ASSERT_TRUE(writeBlobFile(first, a.c_str()));
        VessikSpheres back(defaultIsoValue);
        ASSERT_TRUE(back.readBlobFile(a.c_str()));
        geo::QList second;
        second.append(&back);
        ASSERT_TRUE(writeBlobFile(second, b.c_str()));
        const std::string bytesA = readWhole(a, "rb");
        EXPECT_FALSE(bytesA.empty());
        EXPECT_EQ(bytesA, readWhole(b, "rb"));
        EXPECT_EQ(bytesA, onDisk(textOf(original)));
    }
}

// Every model is one solid: the voxels inside it form one connected group, and every
// blob's centre is inside (no blob floats apart or is swallowed without a trace).
TEST(Examples, EachModelIsOneConnectedSolid) {
    for (const Example& example : examples) {
        SCOPED_TRACE(example.name);
        VessikSpheres system(defaultIsoValue);
        ASSERT_TRUE(system.readBlobFile(examplePath(example.name).c_str()));
        // By index: fieldValue walks the blob list with its own cursor.
        for (int i = 0; i < system.blobs.count(); ++i)
            EXPECT_LT(system.fieldValue(system.blobs.at(i)->centre()), 0.0) << "blob " << i;
        EXPECT_EQ(solidComponents(system, 1.0), 1);
    }
}

// The ring is a ring: its middle is outside the solid.
TEST(Examples, RingHasAHole) {
    VessikSpheres system(defaultIsoValue);
    ASSERT_TRUE(system.readBlobFile(examplePath("ring.dat").c_str()));
    geo::Vertex middle;
    for (VessikObj* b = system.blobs.first(); b; b = system.blobs.next())
        middle += b->centre() * (1.0 / system.blobs.count());
    EXPECT_GT(system.fieldValue(middle), 0.1);
}
