// Frame time of the drawing alone, through the program's own scene code in a real window
// (under Xvfb on a machine without a screen): no simulation step runs, only drawScene.
//
//   DISPLAY=:99 build/DrawTime [--frames N] [--floaters N,N,...] [--turn X,Y,Z] [--shots DIR]
//
// For each floater count it builds a settled-looking sample of that many floaters evenly
// spread over a sphere of radius 30 (a Fibonacci spiral: outward normals, radii that make
// neighbouring disks touch), frames it as Home does, and times frames of four kinds:
//   disks          the simulation view as it starts: floaters as disks
//   disks+normals  the same with the normals drawn
//   mesh           the mesh view of the sample's triangulation: filled triangles and edges
//   mesh-filled    the mesh view with filled triangles only
// plus an empty frame (the same window with nothing in it) as the baseline. Each frame is
// drawScene followed by glFinish; the median of N frames is printed in milliseconds, and
// "drawing" is that median less the empty frame's. --shots writes the last frame of each
// kind as a binary PPM (rows top first), so two builds' pictures can be compared; --turn
// sets the camera's turns in degrees (as the mouse would) before the sample is framed.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/Simulator.h"
#include "model/VessikSpheres.h"
#include "sim/ImplicitSurface.h"
#include "view/GL.h"
#include "view/Visualize.h"

namespace {

constexpr double sphereRadius = 30.0;
constexpr double pi = 3.14159265358979323846;

// N floaters on the sphere along a Fibonacci spiral: every floater covers the same area,
// so the sample looks like a settled one.
void spreadFloaters(ImplicitSurface& system, int count) {
    const double golden = pi * (3.0 - std::sqrt(5.0));
    const double spacing = std::sqrt(4.0 * pi * sphereRadius * sphereRadius / count);
    for (int i = 0; i < count; ++i) {
        const double z = 1.0 - (2.0 * i + 1.0) / count;
        const double ring = std::sqrt(1.0 - z * z);
        const double angle = golden * i;
        const geo::Vertex normal(ring * std::cos(angle), ring * std::sin(angle), z);
        Particle* p = system.particles.createParticle(normal * sphereRadius, spacing);
        p->normal = normal;
    }
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// Milliseconds of `frames` frames of the scene as it is set up now, median.
double frameTime(Simulator& simulator, ImplicitSurface* only, int frames) {
    std::vector<double> times;
    // The first frames fill whatever the drawing keeps (display lists, arrays, compiled
    // shaders of the GL) and are not counted.
    for (int i = 0; i < 3; ++i) {
        simulator.drawScene(only);
        glFinish();
    }
    for (int i = 0; i < frames; ++i) {
        const auto start = std::chrono::steady_clock::now();
        simulator.drawScene(only);
        glFinish();
        const auto stop = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    return median(times);
}

// The frame just drawn as a PPM with the top row first.
void writeShot(const std::string& path, int width, int height) {
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "DrawTime: cannot write %s\n", path.c_str());
        return;
    }
    bool written = std::fprintf(file, "P6\n%d %d\n255\n", width, height) > 0;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    for (int row = height - 1; row >= 0 && written; --row)
        written = std::fwrite(pixels.data() + row * rowBytes, 1, rowBytes, file) == rowBytes;
    if (std::fclose(file) != 0 || !written)
        std::fprintf(stderr, "DrawTime: %s is incomplete\n", path.c_str());
}

std::vector<int> parseList(const char* text) {
    std::vector<int> numbers;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) numbers.push_back(std::atoi(item.c_str()));
    return numbers;
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 21;
    std::vector<int> counts{10000, 100000};
    std::string shots;
    std::vector<int> turn{0, 0, 0};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            frames = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--floaters") == 0 && i + 1 < argc) {
            counts = parseList(argv[++i]);
            counts.erase(std::remove_if(counts.begin(), counts.end(), [](int n) { return n <= 0; }),
                         counts.end());
        } else if (std::strcmp(argv[i], "--turn") == 0 && i + 1 < argc) {
            turn = parseList(argv[++i]);
            turn.resize(3, 0);
        } else if (std::strcmp(argv[i], "--shots") == 0 && i + 1 < argc) {
            shots = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: DrawTime [--frames N] [--floaters N,N,...] [--turn X,Y,Z] "
                         "[--shots DIR]\n");
            return 2;
        }
    }

    if (!Visualize::openPlatform()) {
        std::fprintf(stderr, "DrawTime: no display (set DISPLAY, e.g. to an Xvfb server)\n");
        return 1;
    }
    Simulator simulator;
    simulator.drawFlags[Simulator::WriteFilesAtExit] = false;
    application = &simulator;
    if (!simulator.startUp()) {
        std::fprintf(stderr, "DrawTime: no window\n");
        return 1;
    }
    Visualize& view = *simulator.view;
    view.pumpMessage();  // let the window take its size before the first timed frame
    ImplicitSurface* empty = simulator.addSystem(new VessikSpheres(1.0 / std::exp(1.0)));
    const double emptyFrame = frameTime(simulator, empty, frames);
    std::printf("window %dx%d, %d frames per figure, median ms (drawing = frame - empty)\n",
                view.width, view.height, frames);
    std::printf("%-10s %-14s %9s %10s %10s\n", "floaters", "kind", "triangles", "frame", "drawing");
    std::printf("%-10s %-14s %9s %10.2f %10s\n", "0", "empty", "-", emptyFrame, "-");

    for (const int count : counts) {
        // Each sample is a system of its own; drawScene is given only the one timed.
        auto* system = new VessikSpheres(1.0 / std::exp(1.0));
        simulator.addSystem(system);
        system->addBlob(sphereRadius);
        spreadFloaters(*system, count);
        view.rotX = turn[0];
        view.rotY = turn[1];
        view.rotZ = turn[2];
        simulator.frameSample();

        struct Kind {
            const char* name;
            bool stable, normals, triangles, edges;
        };
        const Kind kinds[] = {{"disks", false, false, false, false},
                              {"disks+normals", false, true, false, false},
                              {"mesh", true, false, true, true},
                              {"mesh-filled", true, false, true, false}};
        for (const Kind& kind : kinds) {
            if (kind.stable && system->reconstruct.triangleCount() == 0) {
                system->stableCount = system->particles.size();
                system->triangulate();
            }
            system->stableCount = kind.stable ? system->particles.size() : 0;
            simulator.drawFlags[Simulator::DrawNormals] = kind.normals;
            simulator.drawFlags[Simulator::DrawTriangles] = kind.triangles;
            simulator.drawFlags[Simulator::DrawEdges] = kind.edges;
            const double time = frameTime(simulator, system, frames);
            std::printf("%-10d %-14s %9d %10.2f %10.2f\n", count, kind.name,
                        kind.stable ? system->reconstruct.triangleCount() : 0, time,
                        time - emptyFrame);
            std::fflush(stdout);
            // The picture just timed, still in the back buffer: the software GL under Xvfb
            // copies it to the window on a swap and leaves it there.
            if (!shots.empty()) {
                writeShot(shots + "/" + std::to_string(count) + "-" + kind.name + ".ppm",
                          view.width, view.height);
            }
        }
    }
    simulator.shutDown();
    application = nullptr;
    Visualize::closePlatform();
    return 0;
}
