#include "app/Program.h"

#include <cmath>
#include <cstdio>

#include "app/KeyCommands.h"
#include "app/Simulator.h"
#include "geo/OutOfMemory.h"
#include "model/VessikSpheres.h"
#include "view/Visualize.h"

namespace {

constexpr const char* defaultBlobFile = "blobs.dat";
constexpr double startDensity = 2.0;
constexpr double defaultBlobRadius = 30.0;

}  // namespace

std::string blobFileFromCommandLine(const char* commandLine) {
    std::string name = commandLine != nullptr ? commandLine : "";
    // Explorer, and cmd on a name typed with its quotes, pass a path that holds a blank as
    // "C:\my models\figure.dat"; the quotes are no part of it (no Windows file name can
    // hold one). Anything else is the name as it stands.
    const std::size_t first = name.find_first_not_of(" \t");
    const std::size_t last = name.find_last_not_of(" \t");
    if (first != std::string::npos && last > first && name[first] == '"' && name[last] == '"' &&
        name.find('"', first + 1) == last) {
        name = name.substr(first + 1, last - first - 1);
    }
    return name.empty() ? defaultBlobFile : name;
}

std::string blobFileFromArguments(int argc, const char* const* argv) {
    // The shell has already taken the quotes away: every character is the name's.
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) joined += ' ';
        joined += argv[i];
    }
    return joined.empty() ? defaultBlobFile : joined;
}

bool runIdlePass(Simulator& app, ImplicitSurface* system, double& density) {
    // No frame runs while the window is minimised; the keys wait for the next one, or a
    // held key would act on every one of the many passes that show nothing.
    if (!app.framesRun()) return true;
    if (!applyKeyCommands(app, system, density)) return false;
    app.runFrame(density);
    return true;
}

int runMainLoop(Simulator& app, ImplicitSurface* system) {
    double density = startDensity;
    for (;;) {
        switch (app.view->pumpMessage()) {
            case Visualize::Pump::Quit:
                return 0;
            case Visualize::Pump::Dispatched:
                continue;
            case Visualize::Pump::Idle:
                break;
        }
        if (!runIdlePass(app, system, density)) return 0;
    }
}

int runProgram(const std::string& blobFile) {
    endProgramWhenOutOfMemory("dazirudo");
    if (!Visualize::openPlatform()) {
        std::fprintf(stderr,
                     "dazirudo: no display to open a window on (is DISPLAY set?); "
                     "dazirudo-batch runs the same simulation without a window\n");
        return 1;
    }
    // The window procedure reaches the application through this pointer, also during
    // window creation, so it is set before startUp.
    application = new Simulator;
    ImplicitSurface* system = application->addSystem(new VessikSpheres(1.0 / std::exp(1.0)));
    application->blobFileName = blobFile;
    if (!system->readBlobFile(blobFile.c_str())) {
        VessikObj* blob = system->addBlob(defaultBlobRadius);
        blob->centre() = geo::Vertex(0.0, 0.0, 0.0);
    }
    int status = 1;  // the window could not be made; its error has been shown
    if (application->startUp()) {
        status = runMainLoop(*application, system);
        application->shutDown();
        if (application->writeFailed) status = 1;
    }
    delete application;
    application = nullptr;
    Visualize::closePlatform();
    return status;
}
