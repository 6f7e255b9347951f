#include "view/Scene.h"

#include "app/Simulator.h"
#include "sim/ImplicitSurface.h"
#include "view/StatusLine.h"
#include "view/Visualize.h"

int progressCount = 1;

SceneView chooseView(bool stable, bool meshMode) {
    return stable && meshMode ? SceneView::Mesh : SceneView::Simulation;
}

int trianglesShown(bool progressive, int triangleCount, int progress) {
    if (!progressive || progress >= triangleCount) return triangleCount;
    return progress > 0 ? progress : 0;
}

int nextProgress(bool progressive, int triangleCount, int progress) {
    return progressive && triangleCount >= progress ? progress + 1 : progress;
}

namespace {

constexpr double floaterDiskScale = 0.5;  // floaters show as disks of half their radius
constexpr double normalLength = 4.0;      // model units of a drawn normal

}  // namespace

void Simulator::drawScene(ImplicitSurface* only) {
    view->clear(-1.0, -1.0, -1.0);
    if (only != nullptr) {
        drawSystem(*only);
    } else {
        for (void* system = systems->first(); system != nullptr; system = systems->next()) {
            drawSystem(*static_cast<ImplicitSurface*>(system));
        }
    }
    if (helpShown) view->drawHelp();
    view->swap();
}

void Simulator::drawSystem(ImplicitSurface& system) {
    const bool picking = keys[controlKey];
    if (picking && picked != nullptr) {
        view->drawDisk(picked->position, picked->radius, picked->normal, true);
    }
    if (chooseView(system.isStable(), meshWanted()) == SceneView::Mesh) {
        drawMeshView(system);
    } else {
        drawSimulationView(system);
    }
    // While picking, every floater shows, even with the floater mode off.
    if (picking) {
        for (Particle* p = system.particles.first(); p != nullptr; p = system.particles.next()) {
            if (p != picked)
                view->drawDisk(p->position, floaterDiskScale * p->radius, p->normal, false);
        }
    }
}

void Simulator::drawSimulationView(ImplicitSurface& system) {
    if (drawFlags[DrawBlobs]) {
        for (VessikObj* blob = system.blobs.first(); blob != nullptr; blob = system.blobs.next()) {
            view->drawSphere(blob->centre(), blob->getRadius());
        }
    }
    for (Particle* p = system.particles.first(); p != nullptr; p = system.particles.next()) {
        if (drawFlags[DrawFloaters]) {
            view->drawDisk(p->position, floaterDiskScale * p->radius, p->normal, false);
        }
        if (drawFlags[DrawNormals]) view->drawNormal(p->position, p->normal * normalLength);
    }
    for (Particle* c = system.controlParticles.first(); c != nullptr;
         c = system.controlParticles.next()) {
        view->drawDisk(c->position, c->radius, c->normal, true);
    }
    view->setTitle(statusLine(statusOf(system, appliedDensity, meshWanted())));
    progressCount = 1;
}

void Simulator::drawMeshView(ImplicitSurface& system) {
    Reconstruct& mesh = system.reconstruct;
    const int count = mesh.triangleCount();
    const int shown = trianglesShown(drawFlags[DrawProgressive], count, progressCount);
    int i = 0;
    for (geo::Triangle* t = mesh.firstTriangle(); t != nullptr && i < shown;
         t = mesh.nextTriangle()) {
        if (drawFlags[DrawTriangles]) view->drawTriangle(*t);
        if (drawFlags[DrawEdges]) view->drawTriangleEdges(*t);
        ++i;
    }
    progressCount = nextProgress(drawFlags[DrawProgressive], count, progressCount);
    if (count == 0 && drawFlags[DrawFloaters]) {
        for (Particle* p = system.particles.first(); p != nullptr; p = system.particles.next()) {
            view->drawDisk(p->position, floaterDiskScale * p->radius, p->normal, false);
        }
    }
    view->setTitle(statusLine(statusOf(system, appliedDensity, meshWanted())));
}
