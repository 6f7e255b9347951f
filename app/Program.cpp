#include "app/Program.h"

#include <cmath>
#include <cstdio>

#include "app/KeyCommands.h"
#include "app/Simulator.h"
#include "model/VessikSpheres.h"
#include "view/Visualize.h"

namespace {

constexpr const char* defaultBlobFile = "blobs.dat";
constexpr double startDensity = 2.0;
constexpr double defaultBlobRadius = 30.0;

}  // namespace

std::string blobFileFromCommandLine(const char* commandLine) {
    if (commandLine == nullptr || commandLine[0] == '\0') return defaultBlobFile;
    return commandLine;
}

std::string blobFileFromArguments(int argc, const char* const* argv) {
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) joined += ' ';
        joined += argv[i];
    }
    return blobFileFromCommandLine(joined.c_str());
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
        if (!applyKeyCommands(app, system, density)) return 0;
        app.runFrame(density);
    }
}

int runProgram(const std::string& blobFile) {
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
