// Fuzz target for the blob file. Whatever the bytes, the reader must not crash, must hold
// exactly the lines a line-by-line parse accepts, must put no blob into the model that the
// field cannot use, and what it read must write, read back and write again to the very
// same text. A file it could not fully read must survive being written over. A failed
// CHECK is a finding in every build type: it aborts rather than asserts.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "geo/Check.h"
#include "model/BlobFile.h"
#include "model/VessikSpheres.h"
#include "sim/Stepping.h"

namespace {

namespace fs = std::filesystem;

// Scratch names of this process, so that several runs may share the temporary folder.
std::string scratch(const char* name) {
    static const fs::path folder = fs::temp_directory_path();
    return (folder / ("dazirudo-fuzz-" + std::to_string(getpid()) + "-" + name)).string();
}

void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    CHECK(file != nullptr, "cannot create the scratch input");
    CHECK(size == 0 || std::fwrite(data, 1, size, file) == size, "cannot write the scratch input");
    std::fclose(file);
}

std::string readBytes(const std::string& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    std::fclose(file);
    return bytes;
}

std::string textOf(ImplicitSurface& system) {
    geo::QList systems;
    systems.append(&system);
    return blobFileText(systems);
}

struct Blob {
    double radius;
    geo::Vertex centre;
};

// What the reader should hold: the lines as the reader sees them (split after each line
// feed, a carriage return before it dropped, the text ending at a zero byte), each given
// to parseBlobLine; reading stops after the first accepted line without exactly one point.
std::vector<Blob> expectedBlobs(ImplicitSurface& system, const std::uint8_t* data, std::size_t size,
                                bool& stopped) {
    std::vector<Blob> blobs;
    stopped = false;
    std::size_t start = 0;
    while (start < size) {
        std::size_t end = start;
        while (end < size && data[end] != '\n') ++end;
        std::string line(reinterpret_cast<const char*>(data) + start,
                         end < size ? end + 1 - start : end - start);
        start = end + 1;
        const std::size_t n = line.size();
        if (n >= 2 && line[n - 1] == '\n' && line[n - 2] == '\r') line.erase(n - 2, 1);
        double radius = 0.0;
        std::vector<geo::Vertex> points;
        if (!system.parseBlobLine(line.c_str(), radius, points)) continue;
        blobs.push_back({radius, points.size() == 1 ? points[0] : geo::Vertex()});
        if (points.size() != 1) {
            stopped = true;
            break;
        }
    }
    return blobs;
}

// The field, its gradient and its derivative by the centres are finite wherever the
// simulation may evaluate them: at the origin, at the blob centres and on their spheres.
void checkField(VessikSpheres& system) {
    std::vector<geo::Vertex> points{geo::Vertex()};
    for (int i = 0; i < system.blobs.count() && i < 4; ++i) {
        VessikObj* blob = system.blobs.at(i);
        const geo::Vertex c = blob->centre();
        const double r = blob->getRadius();
        points.push_back(c);
        points.push_back(c + geo::Vertex(r, 0.0, 0.0));
        points.push_back(c - geo::Vertex(0.0, 0.0, 0.5 * r));
    }
    for (const geo::Vertex& x : points) {
        if (!geo::isFinite(x))
            continue;  // a centre plus its radius may overflow; no floater goes there
        CHECK(std::isfinite(system.fieldValue(x)), "field value is not finite");
        CHECK(geo::isFinite(system.fieldGradient(x)), "field gradient is not finite");
        const geo::DVector dq = system.parameterGradient(x);
        for (int i = 0; i < dq.length(); ++i)
            CHECK(std::isfinite(dq[i]), "derivative by the centres is not finite");
    }
}

// A few steps and a triangulation on whatever model was read, so that the core's validators
// (run after every step and triangulation in debug and sanitizer builds) meet hostile
// models too. Last, as bringing the model to the working scale changes its blobs.
void sampleBriefly(VessikSpheres& system) {
    system.seedRandom(1);
    system.threads = 1;
    system.startSampling();
    for (int step = 0; step < 3; ++step) stepSystem(system, 2.0);
    system.triangulate();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = scratch("in.dat");
    const std::string output = scratch("out.dat");
    writeBytes(input, data, size);

    // Every blob the reader keeps is one the field can use.
    VessikSpheres system(defaultIsoValue);
    const bool complete = system.readBlobFile(input.c_str());
    CHECK(complete || system.blobFileIncomplete, "a failed read must mark the file incomplete");
    for (VessikObj* blob = system.blobs.first(); blob; blob = system.blobs.next()) {
        CHECK(VessikObj::usableRadius(blob->getRadius()), "a blob with an unusable radius");
        CHECK(blob->pointCount() == 1, "a blob without exactly one centre");
        CHECK(geo::isFinite(blob->centre()), "a blob centre that is not finite");
    }

    // The file reader holds exactly what the line parser accepts, in order. (Parsing leaves
    // the system as it is, and a system is costly to build: its grid has 32768 cells.)
    bool stopped = false;
    const std::vector<Blob> expected = expectedBlobs(system, data, size, stopped);
    CHECK(static_cast<int>(expected.size()) == system.blobs.count(),
          "the reader and the line parser disagree on the blob count");
    CHECK(complete == !stopped, "the reader's result disagrees with the line parser");
    for (std::size_t i = 0; i < expected.size(); ++i) {
        VessikObj* blob = system.blobs.at(static_cast<int>(i));
        CHECK(blob->getRadius() == expected[i].radius, "a radius differs from the parsed one");
        CHECK(blob->centre() == expected[i].centre, "a centre differs from the parsed one");
    }

    // The whole input as one line: whatever the parser accepts is usable.
    {
        std::string line(reinterpret_cast<const char*>(data), size);
        double radius = 0.0;
        std::vector<geo::Vertex> points;
        if (system.parseBlobLine(line.c_str(), radius, points)) {
            CHECK(VessikObj::usableRadius(radius), "the parser accepted an unusable radius");
            for (const geo::Vertex& p : points)
                CHECK(geo::isFinite(p), "the parser accepted a non-finite point");
        }
    }

    checkField(system);

    // Write, read, write: the second text is the first, and it reads back completely.
    geo::QList systems;
    systems.append(&system);
    std::string error;
    CHECK(writeBlobFile(systems, output.c_str(), &error), "writing the model failed");
    const std::string text = textOf(system);
    VessikSpheres back(defaultIsoValue);
    CHECK(back.readBlobFile(output.c_str()), "the written file does not read back");
    CHECK(!back.blobFileIncomplete, "the written file reads back incompletely");
    CHECK(back.blobs.count() == system.blobs.count(), "the blob count changed on the way back");
    CHECK(textOf(back) == text, "write, read, write is not stable");

    // Written over, a file the model does not fully hold is kept aside first, byte for byte.
    if (system.blobFileIncomplete) {
        CHECK(writeBlobFile(systems, input.c_str(), &error), "writing over the input failed");
        const std::string aside = input + ".unread";
        CHECK(readBytes(aside) == std::string(reinterpret_cast<const char*>(data), size),
              "the incompletely read file was not kept aside intact");
        std::remove(aside.c_str());
    }

    // Few blobs, so that a large input does not slow the fuzzer down.
    if (system.blobs.count() > 0 && system.blobs.count() <= 16) sampleBriefly(system);

    std::remove(input.c_str());
    std::remove(output.c_str());
    return 0;
}
