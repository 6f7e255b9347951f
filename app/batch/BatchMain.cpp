// dazirudo-batch: the interactive program's core without a window, for scripts, tests
// and benchmarks. Runs frames until the system is handed off to triangulation or a step
// limit is reached, writes the same files, and prints one JSON summary on stdout.
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "geo/OutOfMemory.h"
#include "mesh/MeshExport.h"
#include "model/BlobFile.h"
#include "model/SafeWrite.h"
#include "model/VessikSpheres.h"
#include "sim/FloaterFile.h"
#include "sim/Stepping.h"

namespace {

#ifndef DAZIRUDO_VERSION
#define DAZIRUDO_VERSION "unknown"
#endif

const char* const kUsage =
    "usage: dazirudo-batch [--density D] [--seed N] [--max-steps N] [--out-dir DIR]\n"
    "                      [--no-files] [--mesh FILE.obj|FILE.ply] [--quiet] [BLOBFILE]\n";

const char* const kHelp =
    "usage: dazirudo-batch [options] [BLOBFILE]\n"
    "\n"
    "Samples the blob model in BLOBFILE with floaters until the sample is stable,\n"
    "triangulates it, writes floaters.dat and blobs.dat, and prints one JSON summary\n"
    "on standard output (its fields: docs/batch.md). Without BLOBFILE it reads\n"
    "blobs.dat when there is one, else takes one blob of radius 30 at the origin.\n"
    "\n"
    "Options (--option value and --option=value alike):\n"
    "  --density D      floater density, above 0; larger is coarser (default 2.0)\n"
    "  --seed N         random seed, 0 to 4294967295, for a reproducible run\n"
    "                   (default: from the clock)\n"
    "  --max-steps N    simulation steps before giving up (default 20000)\n"
    "  --out-dir DIR    folder for floaters.dat and blobs.dat (default: the current one)\n"
    "  --no-files       write neither floaters.dat nor blobs.dat (default: write both)\n"
    "  --mesh FILE      write the mesh to FILE, .obj or .ply (default: no mesh file)\n"
    "  --quiet          no progress line on standard error (default: one on a terminal)\n"
    "  --help, -h       this text\n"
    "  --version        the version\n"
    "\n"
    "Exit status:\n"
    "  0  stable and triangulated\n"
    "  1  a file could not be written\n"
    "  2  bad usage, or a blob file that is missing or cannot be read\n"
    "  3  no stable sample: step limit, died out or ceiling (files still written)\n"
    "  4  a mesh was asked for (--mesh) and is not closed\n"
    "  5  out of memory\n";

struct Options {
    double density = 2.0;
    bool seeded = false;
    std::uint32_t seed = 0;
    long long maxSteps = 20000;
    std::string outDir = ".";
    bool writeFiles = true;
    bool quiet = false;
    std::string meshFile;  // none when empty
    std::string blobFile = defaultBlobFileName;
    bool blobFileGiven = false;
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

// Returns -1 when the options are good, else the exit status after the message.
int parseOptions(int argc, char** argv, Options& options) {
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        // --option=value is --option value; the value may hold '=' itself.
        std::string inlineValue;
        bool hasInlineValue = false;
        const std::size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            inlineValue = arg.substr(equals + 1);
            arg.erase(equals);
            hasInlineValue = true;
        }
        auto value = [&](const char*& out) {
            if (hasInlineValue) {
                out = inlineValue.c_str();
                hasInlineValue = false;
                return true;
            }
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        const bool isSwitch =
            arg == "--no-files" || arg == "--quiet" || arg == "--help" || arg == "--version";
        if (hasInlineValue && isSwitch)
            return usageError(arg + " takes no value\n" + std::string(kUsage));
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
            if (!isMeshFileName(options.meshFile))
                return usageError("--mesh takes a .obj or .ply file, not '" + options.meshFile +
                                  "'");
        } else if (arg == "--no-files") {
            options.writeFiles = false;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts("dazirudo-batch " DAZIRUDO_VERSION);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option '" + std::string(argv[i]) + "'\n" + kUsage);
        } else if (haveFile) {
            return usageError("only one blob file may be given\n" + std::string(kUsage));
        } else {
            options.blobFile = arg;
            options.blobFileGiven = haveFile = true;
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

// Hours of simulation must not end in a file that cannot be read or written: both are
// checked before the first step. -1 when all is well, else the exit status after the
// message: 2 for a blob file that cannot be read (named, or blobs.dat when it is there),
// 1 for an output file that cannot be written.
int checkFiles(const Options& options) {
    std::string error;
    std::error_code ec;
    if ((options.blobFileGiven || std::filesystem::exists(options.blobFile, ec)) &&
        !blobFileReadable(options.blobFile, &error))
        return usageError(error);
    const std::string outputs[] = {
        options.writeFiles ? inDir(options.outDir, "floaters.dat") : std::string(),
        options.writeFiles ? inDir(options.outDir, defaultBlobFileName) : std::string(),
        options.meshFile};
    for (const std::string& output : outputs) {
        if (output.empty() || canWriteFile(output, &error)) continue;
        std::fprintf(stderr, "dazirudo-batch: %s\n", error.c_str());
        return 1;
    }
    return -1;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    endProgramWhenOutOfMemory("dazirudo-batch");
    Options options;
    int status = parseOptions(argc, argv, options);
    if (status < 0) status = checkFiles(options);
    if (status >= 0) return status;

    geo::QList systems;
    VessikSpheres* system = new VessikSpheres(defaultIsoValue);
    systems.append(system);
    if (options.seeded) system->seedRandom(options.seed);
    loadBlobFile(*system, options.blobFile);
    // A model that needs more seed floaters than the ceiling ends the run at once, as
    // "ceiling", with its reason.
    system->startSampling();

    const bool showProgress = !options.quiet && isatty(fileno(stderr));
    double appliedDensity = options.density;
    bool forceStep = false, handedOff = false;
    long long steps = 0;
    double simulationSeconds = 0.0, triangulationSeconds = 0.0;
    SampleOutcome failure = sampleFailure(*system);
    while (!handedOff && failure == SampleOutcome::Sampling) {
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
        failure = sampleFailure(*system);
    }
    if (showProgress) std::fputs("\n", stderr);
    const SampleOutcome outcome = handedOff ? SampleOutcome::Stable
                                  : failure != SampleOutcome::Sampling ? failure
                                                                       : SampleOutcome::StepLimit;
    if (outcome != SampleOutcome::Stable)
        std::fprintf(stderr, "dazirudo-batch: %s\n",
                     outcomeMessage(outcome, *system, options.density, steps).c_str());

    int exitStatus = handedOff ? 0 : 3;
    if (options.writeFiles) {
        std::string error, notice;
        if (!writeFloaterFile(systems, inDir(options.outDir, "floaters.dat").c_str(), &error) ||
            !writeBlobFile(systems, inDir(options.outDir, defaultBlobFileName).c_str(), &error,
                           &notice)) {
            std::fprintf(stderr, "dazirudo-batch: %s\n", error.c_str());
            exitStatus = 1;
        }
        if (!notice.empty()) std::fprintf(stderr, "dazirudo-batch: %s\n", notice.c_str());
    }

    if (!options.meshFile.empty()) {
        std::string error;
        if (!writeMesh(system->reconstruct, options.meshFile, &error, system->unitScale)) {
            std::fprintf(stderr, "dazirudo-batch: %s\n", error.c_str());
            exitStatus = 1;
        }
    }

    const MeshQuality quality = measureMesh(
        system->reconstruct, [system](const geo::Vertex& x) { return system->fieldValue(x); });
    std::printf(
        "{\"steps\": %lld, \"floaters\": %d, \"stable_floaters\": %d, \"stable\": %s, "
        "\"triangles\": %d, \"density\": %.17g, \"seconds_simulation\": %.3f, "
        "\"seconds_triangulation\": %.3f, \"outcome\": \"%s\", \"mesh\": %s}\n",
        steps, system->particles.size(), system->stableCount,
        system->isStable() ? "true" : "false", system->reconstruct.triangleCount(),
        options.density, simulationSeconds, triangulationSeconds, outcomeName(outcome),
        meshSummaryJson(quality).c_str());
    if (exitStatus == 0 && !options.meshFile.empty() && !quality.closed)
        exitStatus = meshNotClosed(options.meshFile, quality);

    delete system;
    return exitStatus;
}
