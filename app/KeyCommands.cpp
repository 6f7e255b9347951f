#include "app/KeyCommands.h"

#include "app/Simulator.h"
#include "sim/ImplicitSurface.h"

namespace {

constexpr double insertedBlobRadius = 50.0;

}  // namespace

double lowerDensity(double density) {
    // Repeated steps of 0.05 do not land exactly on 0.05; the tolerance keeps the last
    // step that reaches it in decimal.
    const double lowered = density - densityStep;
    return lowered >= minimumDensity - 1e-9 ? lowered : density;
}

bool applyKeyCommands(Simulator& app, ImplicitSurface* system, double& density) {
    if (app.keyState(vk::escape)) return false;
    if (app.keyState(vk::space)) app.cycleRotationMode();
    if (app.keyState(vk::numpad6) || app.keyState('F')) {
        app.toggleDrawFlag(Simulator::DrawFloaters);
    }
    if (app.keyState(vk::decimal) || app.keyState('N')) {
        app.toggleDrawFlag(Simulator::DrawNormals);
    }
    if (app.keyState(vk::numpad2) || app.keyState('B')) app.toggleDrawFlag(Simulator::DrawBlobs);
    if (app.keyState(vk::f5) || app.keyState('T')) app.toggleDrawFlag(Simulator::DrawTriangles);
    // Keypad minus both toggles the edges here and lowers the density below.
    if (app.keyState(vk::subtract) || app.keyState('M')) app.toggleDrawFlag(Simulator::DrawEdges);
    if (app.keyState(vk::f4) || app.keyState('S')) app.toggleDrawFlag(Simulator::DrawProgressive);
    if (app.keyState(vk::divide) || app.keyState('O')) {
        app.toggleDrawFlag(Simulator::WriteFilesAtExit);
    }
    // The main-row keys for keyboards without a keypad; its minus leaves the edges be.
    if (app.keyState(vk::add) || app.keyState(vk::oemPlus)) density += densityStep;
    if (app.keyState(vk::subtract) || app.keyState(vk::oemMinus)) density = lowerDensity(density);
    if (app.keyState(vk::insert) && system != nullptr) {
        // In working units, like everything on screen. The new blob gets its six seed
        // floaters: where it stands apart from the model no floater would ever reach it.
        app.history.record(*app.systems);
        VessikObj* blob = system->addBlob(insertedBlobRadius);
        if (blob != nullptr) {
            blob->centre() = geo::Vertex(0.0, 0.0, 0.0);
            system->seedBlob(blob);
        }
    }
    // The oldest blob; the system refuses to remove its only one.
    if (app.keyState(vk::del) && system != nullptr && system->blobs.count() > 1) {
        app.history.record(*app.systems);
        system->removeBlob(system->blobs.first());
    }
    if (app.keyWithControl('Z')) app.undoBlobChange();
    if (app.keyWithControl('Y')) app.redoBlobChange();
    if (app.keyState(vk::f1) || app.keyState('H')) app.helpShown = !app.helpShown;
    if (app.keyState(vk::home)) app.frameSample();
    if (app.keyState('E')) app.writeMeshFile(nullptr, true);
    return true;
}
