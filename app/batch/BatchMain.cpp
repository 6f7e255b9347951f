// dazirudo-batch: the interactive program's core without a window, for scripts, tests
// and benchmarks. Runs frames until the system is handed off to triangulation or a step
// limit is reached, writes the same files, and prints one JSON summary on stdout.
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "mesh/MeshExport.h"
#include "model/BlobFile.h"
#include "model/VessikSpheres.h"
#include "sim/FloaterFile.h"
#include "sim/Stepping.h"

namespace {

const char* const kUsage =
    "usage: dazirudo-batch [--density D] [--seed N] [--max-steps N] [--out-dir DIR]\n"
    "                      [--no-files] [--mesh FILE.obj|FILE.ply] [--quiet] [BLOBFILE]\n";

struct Options {
    double density = 2.0;
    bool seeded = false;
    std::uint32_t seed = 0;
    long long maxSteps = 20000;
    std::string outDir = ".";
    bool writeFiles = true;
    bool quiet = false;
    std::string meshFile;  // none when empty
    std::string blobFile = "blobs.dat";
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "dazirudo-batch: %s\n", message.c_str());
    return 2;
}

// Parses a whole argument as a number; false for trailing text, overflow or no digits.
bool parseDouble(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

// `long long` so that every seed fits, also where `long` has 32 bits.
bool parseLong(const char* text, long long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return end != text && *end == '\0' && errno == 0;
}

bool hasMeshExtension(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) return false;
    std::string extension = name.substr(dot);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".obj" || extension == ".ply";
}

// Returns -1 when the options are good, else the exit status after the message.
int parseOptions(int argc, char** argv, Options& options) {
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char*& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        const char* text = nullptr;
        if (arg == "--density") {
            if (!value(text)) return usageError("--density needs a value");
            if (!parseDouble(text, options.density) || options.density <= 0.0)
                return usageError("--density must be a number above 0, not '" +
                                  std::string(text) + "'");
        } else if (arg == "--seed") {
            long long seed = 0;
            if (!value(text)) return usageError("--seed needs a value");
            if (!parseLong(text, seed) || seed < 0 || seed > 4294967295LL)
                return usageError("--seed must be a whole number from 0 to 4294967295, not '" +
                                  std::string(text) + "'");
            options.seeded = true;
            options.seed = static_cast<std::uint32_t>(seed);
        } else if (arg == "--max-steps") {
            if (!value(text)) return usageError("--max-steps needs a value");
            if (!parseLong(text, options.maxSteps) || options.maxSteps < 0)
                return usageError("--max-steps must be a whole number of 0 or more, not '" +
                                  std::string(text) + "'");
        } else if (arg == "--out-dir") {
            if (!value(text)) return usageError("--out-dir needs a value");
            options.outDir = text;
        } else if (arg == "--mesh") {
            if (!value(text)) return usageError("--mesh needs a file name");
            options.meshFile = text;
            if (!hasMeshExtension(options.meshFile))
                return usageError("--mesh takes a .obj or .ply file, not '" + options.meshFile +
                                  "'");
        } else if (arg == "--no-files") {
            options.writeFiles = false;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option '" + arg + "'\n" + kUsage);
        } else if (haveFile) {
            return usageError("only one blob file may be given\n" + std::string(kUsage));
        } else {
            options.blobFile = arg;
            haveFile = true;
        }
    }
    return -1;
}

// The mesh was asked for and has a defect: one line on standard error, and status 4.
int meshNotClosed(const std::string& file, const MeshQuality& q) {
    if (q.boundaryEdges + q.nonmanifoldEdges + q.nonmanifoldVertices + q.orientationErrors == 0)
        std::fprintf(stderr, "dazirudo-batch: the mesh in %s has no triangles\n", file.c_str());
    else
        std::fprintf(stderr,
                     "dazirudo-batch: the mesh in %s is not closed (%d boundary edges, %d "
                     "non-manifold edges, %d non-manifold vertices, %d orientation errors)\n",
                     file.c_str(), q.boundaryEdges, q.nonmanifoldEdges, q.nonmanifoldVertices,
                     q.orientationErrors);
    return 4;
}

std::string inDir(const std::string& dir, const char* name) {
    if (dir.empty() || dir == ".") return name;
    const char last = dir.back();
    return (last == '/' || last == '\\') ? dir + name : dir + "/" + name;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int status = parseOptions(argc, argv, options);
    if (status >= 0) return status;

    geo::QList systems;
    VessikSpheres* system = new VessikSpheres(defaultIsoValue);
    systems.append(system);
    if (options.seeded) system->seedRandom(options.seed);
    if (!system->readBlobFile(options.blobFile.c_str())) {
        VessikObj* blob = system->addBlob(30.0);
        blob->centre() = geo::Vertex(0.0, 0.0, 0.0);
    }
    system->seedParticles();

    const bool showProgress = !options.quiet && isatty(fileno(stderr));
    double appliedDensity = options.density;
    bool forceStep = false, handedOff = false;
    long long steps = 0;
    double simulationSeconds = 0.0, triangulationSeconds = 0.0;
    while (!handedOff) {
        const bool mayStep = steps < options.maxSteps;
        // Once out of steps, only a stable system may still run its hand-off frame.
        if (!mayStep && (!system->isStable() || forceStep)) break;
        const auto start = std::chrono::steady_clock::now();
        const FrameOutcome outcome =
            runSystems(systems, options.density, true, appliedDensity, forceStep, handedOff);
        (outcome.handedOff ? triangulationSeconds : simulationSeconds) += secondsSince(start);
        steps += outcome.stepped;
        if (showProgress && (steps % 20 == 0 || handedOff)) {
            const int n = system->particles.size();
            std::fprintf(stderr, "\rsteps %lld  floaters %d  stable %.1f%%   ", steps, n,
                         100.0 * system->stableCount / (n > 0 ? n : 1));
            std::fflush(stderr);
        }
    }
    if (showProgress) std::fputs("\n", stderr);
    if (system->floaterCeilingReached)
        std::fprintf(stderr,
                     "dazirudo-batch: the sample reached %d floaters; splitting stopped there "
                     "(a larger --density gives fewer, larger floaters)\n",
                     system->maxFloaters);

    int exitStatus = handedOff ? 0 : 3;
    if (options.writeFiles) {
        std::string error;
        if (!writeFloaterFile(systems, inDir(options.outDir, "floaters.dat").c_str(), &error) ||
            !writeBlobFile(systems, inDir(options.outDir, "blobs.dat").c_str(), &error)) {
            std::fprintf(stderr, "dazirudo-batch: %s\n", error.c_str());
            exitStatus = 1;
        }
    }

    if (!options.meshFile.empty()) {
        std::string error;
        if (!writeMesh(system->reconstruct, options.meshFile, &error)) {
            std::fprintf(stderr, "dazirudo-batch: %s\n", error.c_str());
            exitStatus = 1;
        }
    }

    const MeshQuality quality = measureMesh(
        system->reconstruct, [system](const geo::Vertex& x) { return system->fieldValue(x); });
    std::printf(
        "{\"steps\": %lld, \"floaters\": %d, \"stable_floaters\": %d, \"stable\": %s, "
        "\"triangles\": %d, \"density\": %.17g, \"seconds_simulation\": %.3f, "
        "\"seconds_triangulation\": %.3f, \"mesh\": %s}\n",
        steps, system->particles.size(), system->stableCount,
        system->isStable() ? "true" : "false", system->reconstruct.triangleCount(),
        options.density, simulationSeconds, triangulationSeconds,
        meshSummaryJson(quality).c_str());
    if (exitStatus == 0 && !options.meshFile.empty() && !quality.closed)
        exitStatus = meshNotClosed(options.meshFile, quality);

    delete system;
    return exitStatus;
}
