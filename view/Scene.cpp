#include "view/Scene.h"

#include "app/Simulator.h"
#include "sim/ImplicitSurface.h"
#include "view/Framing.h"
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

// Every floater of `system` but `skip`: with `disks` as a disk of half its radius, with
// `normals` its normal line. All the disks go in one draw call, then all the lines; a
// line starts at its own disk's centre and leaves the surface, so drawing it after every
// disk rather than right after its own changes nothing that the depth test lets show.
void drawFloaters(Visualize& view, ImplicitSurface& system, const Particle* skip, bool disks,
                  bool normals) {
    if (!view.hasContext() || !(disks || normals)) return;
    view.disks.clear();
    view.normalLines.clear();
    // Back faces are culled (initGL), so a disk turned away from the eye is not sent.
    const geo::Vertex eye =
        eyeInScene(view.panX, view.panY, view.distance, view.rotX, view.rotY, view.rotZ);
    for (const Particle* p : system.particles.inOrder()) {
        if (p == skip) continue;
        if (disks)
            view.disks.add(p->position, floaterDiskScale * p->radius, p->normal, view.diskAxis,
                           &eye);
        if (normals) {
            const geo::Vertex vector = p->normal * normalLength;
            view.normalLines.add(p->position, p->position + vector, vector);
        }
    }
    view.drawDisks();
    view.drawNormals();
}

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
    if (picking) drawFloaters(*view, system, picked, true, false);
}

void Simulator::drawSimulationView(ImplicitSurface& system) {
    if (drawFlags[DrawBlobs]) {
        for (VessikObj* blob = system.blobs.first(); blob != nullptr; blob = system.blobs.next()) {
            view->drawSphere(blob->centre(), blob->getRadius());
        }
    }
    drawFloaters(*view, system, nullptr, drawFlags[DrawFloaters], drawFlags[DrawNormals]);
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
    view->drawMesh(mesh, shown, drawFlags[DrawTriangles], drawFlags[DrawEdges]);
    progressCount = nextProgress(drawFlags[DrawProgressive], count, progressCount);
    if (count == 0) drawFloaters(*view, system, nullptr, drawFlags[DrawFloaters], false);
    view->setTitle(statusLine(statusOf(system, appliedDensity, meshWanted())));
}
