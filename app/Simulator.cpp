#include "app/Simulator.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "mesh/MeshExport.h"
#include "model/BlobFile.h"
#include "sim/FloaterFile.h"
#include "sim/ImplicitSurface.h"
#include "sim/Particle.h"
#include "sim/Stepping.h"
#include "view/Framing.h"
#include "view/Scene.h"
#include "view/Visualize.h"

Simulator* application = nullptr;
bool handedOff = false;

namespace {

constexpr std::uint16_t windowWidth = 800;
constexpr std::uint16_t windowHeight = 600;
constexpr std::uint16_t windowBits = 32;
constexpr const char* defaultMeshFile = "mesh.obj";

// True when `particle` lies in `list`, compared by identity only: the
// particle behind a stale pointer must not be touched.
bool holds(ParticleList& list, const Particle* particle) {
    for (Particle* p = list.first(); p != nullptr; p = list.next()) {
        if (p == particle) return true;
    }
    return false;
}

}  // namespace

Simulator::Simulator()
    : view(std::make_unique<Visualize>()), systems(std::make_unique<geo::QList>()) {}

Simulator::~Simulator() {
    view.reset();
    for (void* system = systems->first(); system != nullptr; system = systems->next()) {
        delete static_cast<ImplicitSurface*>(system);
    }
    systems->clear();
}

ImplicitSurface* Simulator::addSystem(ImplicitSurface* system) {
    systems->append(system);
    return system;
}

ImplicitSurface* Simulator::modelSystem() {
    return systems->count() > 0 ? static_cast<ImplicitSurface*>(systems->at(0)) : nullptr;
}

void Simulator::replaceModel(ImplicitSurface* fresh) {
    for (int i = 0; i < systems->count(); ++i) delete static_cast<ImplicitSurface*>(systems->at(i));
    systems->clear();
    systems->append(fresh);
    picked = nullptr;
    pickedSystem = nullptr;
    forceStep = false;
    handedOff = false;
    history.clear();
    // A new system may be made where an old one was: its reports start afresh.
    failureReported.clear();
}

bool Simulator::startUp() {
    if (started) return true;
    if (!view->create(windowWidth, windowHeight, windowBits)) return false;
    view->clear(0.0, 0.0, 0.0);
    // A model that needs more seed floaters than the ceiling is said by the first frame.
    for (void* system = systems->first(); system != nullptr; system = systems->next()) {
        static_cast<ImplicitSurface*>(system)->startSampling();
    }
    drawScene();
    started = true;
    return true;
}

bool Simulator::shutDown() {
    if (!started) return true;
    view->kill();
    if (drawFlags[WriteFilesAtExit]) writeFailed = !writeFilesAsAtExit();
    started = false;
    return true;
}

void Simulator::runFrame(double density) {
    if (!framesRun()) return;
    // While the left button holds a control particle the surface keeps following it. A
    // frame that found the system stable would otherwise hand it off, which deletes the
    // held particle: a drag on a settled surface would end after its first move.
    if (buttons[0] && picked != nullptr && picked->state == Particle::Control) forceStep = true;
    const FrameOutcome outcome =
        runSystems(*systems, density, meshWanted(), appliedDensity, forceStep, handedOff);
    // The hand-off deletes the control particles, one of which may be the dragged one.
    if (outcome.handedOff > 0) picked = nullptr;
    forgetLostPick();
    reportSampleFailures();
    drawScene();
    keysActedOn();
}

bool Simulator::resting(double density) {
    // Minimised (or not started): no frame runs until a message changes that.
    if (!framesRun()) return true;
    if (forceStep || buttons[0] || buttons[1] || !droppedFile.empty()) return false;
    if (appliedDensity != density) return false;
    for (int code = 0; code < keyCount; ++code)
        if (keys[code] || pressed[code]) return false;
    for (int i = 0; i < systems->count(); ++i) {
        ImplicitSurface* system = static_cast<ImplicitSurface*>(systems->at(i));
        // With no floater left, steps change nothing until the user changes the model.
        if (sampleFailure(*system) == SampleOutcome::DiedOut) continue;
        if (!system->isStable() || !handedOff) return false;
        if (!meshWanted()) continue;
        // A mesh still to be made, or still being revealed triangle by triangle.
        if (!system->meshCurrent) return false;
        const int count = system->reconstruct.triangleCount();
        if (nextProgress(drawFlags[DrawProgressive], count, progressCount) != progressCount)
            return false;
    }
    return true;
}

void Simulator::keysActedOn() {
    // A held key acts again on its next key-down (the keyboard's repeat); codes below 32
    // (Ctrl) stay down until released.
    for (int code = 0; code < keyCount; ++code) {
        pressed[code] = false;
        pressedWithControl[code] = false;
        if (code >= 32) keys[code] = false;
    }
}

void Simulator::forgetLostPick() {
    if (picked == nullptr) return;
    if (pickedSystem != nullptr &&
        (holds(pickedSystem->controlParticles, picked) || holds(pickedSystem->particles, picked))) {
        return;
    }
    // A step removed the floater (death, removal); the pointer must not be used again.
    picked = nullptr;
}

void Simulator::reportSampleFailures() {
    for (int i = 0; i < systems->count(); ++i) {
        ImplicitSurface* system = static_cast<ImplicitSurface*>(systems->at(i));
        const SampleOutcome failure = sampleFailure(*system);
        bool& reported = failureReported[system];
        if (failure != SampleOutcome::Sampling && !reported)
            std::fprintf(stderr, "dazirudo: %s\n",
                         outcomeMessage(failure, *system, appliedDensity, 0).c_str());
        reported = failure != SampleOutcome::Sampling;
    }
}

bool Simulator::keyState(std::uint16_t code) const {
    return code < keyCount && (keys[code] || pressed[code]);
}

void Simulator::setKeyState(std::uint16_t code, bool down) {
    if (code >= keyCount) return;
    keys[code] = down;
    // A release does not undo the press: the main loop has not necessarily seen it yet.
    if (down) {
        pressed[code] = true;
        if (keys[controlKey]) pressedWithControl[code] = true;
    }
}

bool Simulator::keyWithControl(std::uint16_t code) const {
    if (code >= keyCount) return false;
    return pressedWithControl[code] || (keyState(code) && keyState(controlKey));
}

void Simulator::toggleDrawFlag(int index) {
    if (index >= 0 && index < DrawFlagCount) drawFlags[index] = !drawFlags[index];
}

void Simulator::cycleRotationMode() {
    rotationMode = rotationMode >= 2 ? 0 : rotationMode + 1;
}

void Simulator::setActive(bool isActive) {
    active = isActive;
}

bool Simulator::writeFloaterFile(const char* fileName) {
    std::string error;
    if (::writeFloaterFile(*systems, fileName, &error)) return true;
    std::fprintf(stderr, "dazirudo: %s\n", error.c_str());
    return false;
}

bool Simulator::writeBlobFile(const char* fileName) {
    // The core writer keeps a blob file the model does not fully hold aside before
    // replacing it, for every program alike.
    std::string error, notice;
    if (::writeBlobFile(*systems, fileName, &error, &notice)) {
        if (!notice.empty()) std::fprintf(stderr, "dazirudo: %s\n", notice.c_str());
        return true;
    }
    std::fprintf(stderr, "dazirudo: %s\n", error.c_str());
    return false;
}

bool Simulator::writeMeshFile(const char* fileName, bool announce) {
    const std::string path = fileName != nullptr ? fileName : defaultMeshFile;
    ImplicitSurface* meshed = nullptr;
    int meshedCount = 0;
    for (int i = 0; i < systems->count(); ++i) {
        ImplicitSurface* system = static_cast<ImplicitSurface*>(systems->at(i));
        if (system->reconstruct.triangleCount() == 0) continue;
        if (meshed == nullptr) meshed = system;
        ++meshedCount;
    }
    if (meshed == nullptr) {
        std::error_code ec;
        if (announce) {
            std::fprintf(stderr, "dazirudo: no mesh to write yet: %s\n",
                         meshWanted() ? "the sample has not settled"
                                      : "switch the mesh on with T or M first");
        } else if (std::filesystem::exists(path, ec)) {
            // A mesh.obj of an earlier model would pass for this one's.
            std::fprintf(stderr, "dazirudo: %s is left as it was: this model has no mesh\n",
                         path.c_str());
        }
        return true;
    }
    std::string error;
    if (!writeMesh(meshed->reconstruct, path, &error, meshed->unitScale)) {
        std::fprintf(stderr, "dazirudo: %s\n", error.c_str());
        return false;
    }
    // One file holds one mesh; the program itself makes one system.
    if (meshedCount > 1)
        std::fprintf(stderr, "dazirudo: %s holds the mesh of the first of %d meshed systems\n",
                     path.c_str(), meshedCount);
    if (announce) {
        std::error_code ec;
        const std::filesystem::path shown = std::filesystem::absolute(path, ec);
        std::fprintf(stderr, "dazirudo: mesh written to %s (%d triangles)\n",
                     ec ? path.c_str() : shown.string().c_str(),
                     meshed->reconstruct.triangleCount());
    }
    return true;
}

bool Simulator::writeFilesAsAtExit() {
    const bool floatersWritten = writeFloaterFile();
    const bool blobsWritten = writeBlobFile();
    const bool meshWritten = writeMeshFile();
    return floatersWritten && blobsWritten && meshWritten;
}

bool Simulator::undoBlobChange() {
    if (!history.undo(*systems)) return false;
    // The held control particles went with the change they made.
    picked = nullptr;
    return true;
}

bool Simulator::redoBlobChange() {
    if (!history.redo(*systems)) return false;
    picked = nullptr;
    return true;
}

void Simulator::frameSample() {
    view->frame(sampleBounds(*systems));
}

void Simulator::dropFile(const std::string& path, int count) {
    droppedFile = path;
    if (count > 1)
        std::fprintf(stderr, "dazirudo: %d files were dropped; only %s is opened\n", count,
                     path.c_str());
}
