#include "app/Program.h"

#include <cstdio>
#include <memory>

#include "app/KeyCommands.h"
#include "app/Simulator.h"
#include "geo/OutOfMemory.h"
#include "model/BlobFile.h"
#include "model/VessikSpheres.h"
#include "view/Visualize.h"

namespace {

constexpr double startDensity = 2.0;

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
    return name.empty() ? defaultBlobFileName : name;
}

std::string blobFileFromArguments(int argc, const char* const* argv) {
    // The shell has already taken the quotes away: every character is the name's.
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) joined += ' ';
        joined += argv[i];
    }
    return joined.empty() ? defaultBlobFileName : joined;
}

bool openDroppedFile(Simulator& app) {
    const std::string name = app.droppedFile;
    app.droppedFile.clear();
    // A drop is a deliberate choice of file: one that cannot be read, or holds no blob (a
    // picture dropped by mistake), must not replace the model with the default blob.
    std::string error;
    if (!blobFileReadable(name, &error)) {
        std::fprintf(stderr, "dazirudo: %s; the model stays as it is\n", error.c_str());
        return false;
    }
    // Read before the current model's files are written, so that a dropped blobs.dat is
    // opened as it was dropped, not as the write leaves it.
    // Read without the start-up's fallback: a file that stops at a bad line would give the
    // blobs before it plus the default blob, a model that is neither the old nor the new;
    // one with lines of numbers that are no blob would lose those lines.
    std::unique_ptr<ImplicitSurface> fresh = std::make_unique<VessikSpheres>(defaultIsoValue);
    if (!fresh->readBlobFile(name.c_str()) || fresh->blobFileIncomplete) {
        std::fprintf(stderr, "dazirudo: %s cannot be read whole; the model stays as it is\n",
                     name.c_str());
        return false;
    }
    if (fresh->blobs.count() == 0) {
        std::fprintf(stderr, "dazirudo: %s holds no blob; the model stays as it is\n",
                     name.c_str());
        return false;
    }
    if (app.drawFlags[Simulator::WriteFilesAtExit] && !app.writeFilesAsAtExit()) {
        std::fprintf(stderr, "dazirudo: %s is not opened, so that the model kept is not lost\n",
                     name.c_str());
        return false;
    }
    ImplicitSurface* system = fresh.release();
    app.replaceModel(system);
    system->startSampling();
    std::fprintf(stderr, "dazirudo: opened %s\n", name.c_str());
    return true;
}

bool runIdlePass(Simulator& app, double& density) {
    // No frame runs while the window is minimised; the keys wait for the next one, or a
    // held key would act on every one of the many passes that show nothing.
    if (!app.framesRun()) return true;
    if (!applyKeyCommands(app, app.modelSystem(), density)) return false;
    if (!app.droppedFile.empty()) openDroppedFile(app);
    app.runFrame(density);
    return true;
}

int runMainLoop(Simulator& app) {
    double density = startDensity;
    // Every message may have changed what the picture shows (a key, the camera, an
    // uncovered window): the first idle pass after one runs a frame, resting or not.
    bool frameOwed = true;
    for (;;) {
        switch (app.view->pumpMessage()) {
            case Visualize::Pump::Quit:
                return 0;
            case Visualize::Pump::Dispatched:
                frameOwed = true;
                continue;
            case Visualize::Pump::Idle:
                break;
        }
        if (!frameOwed && app.resting(density)) {
            app.view->waitMessage();
            frameOwed = true;
            continue;
        }
        frameOwed = false;
        if (!runIdlePass(app, density)) return 0;
    }
}

int runProgram(const std::string& blobFile) {
    endProgramWhenOutOfMemory("dazirudo");
    // Each line on standard error says something about the running program (a file
    // written, a drop refused): it must be there when it happens. The Windows C runtime
    // buffers standard error when it goes to a file or a pipe.
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    if (!Visualize::openPlatform()) {
        std::fprintf(stderr,
                     "dazirudo: no display to open a window on (is DISPLAY set?); "
                     "dazirudo-batch runs the same simulation without a window\n");
        return 1;
    }
    // The window procedure reaches the application through this pointer, also during
    // window creation, so it is set before startUp.
    application = new Simulator;
    ImplicitSurface* system = application->addSystem(new VessikSpheres(defaultIsoValue));
    loadBlobFile(*system, blobFile);
    int status = 1;  // the window could not be made; its error has been shown
    if (application->startUp()) {
        std::fputs("dazirudo: press F1 or H in the window for the keys and mouse gestures\n",
                   stderr);
        status = runMainLoop(*application);
        application->shutDown();
        if (application->writeFailed) status = 1;
    }
    delete application;
    application = nullptr;
    Visualize::closePlatform();
    return status;
}
