#include "sim/Stepping.h"

#include "sim/ImplicitSurface.h"

void stepSystem(ImplicitSurface& system, double density) {
    system.setDensity(density);
    system.solveControl();
    system.computeForces();
    system.advance();
    system.controlPopulation();
    system.adaptGrid();
}

void handOffSystem(ImplicitSurface& system, bool meshWanted) {
    system.releaseControlParticles();
    if (meshWanted) system.triangulate();
}

FrameOutcome runSystems(geo::QList& systems, double density, bool meshWanted,
                        double& appliedDensity, bool& forceStep, bool& handedOff) {
    FrameOutcome outcome;
    if (appliedDensity != density) forceStep = true;
    // By index: a system's step must not disturb this walk, whatever it does to lists.
    for (int i = 0; i < systems.count(); ++i) {
        ImplicitSurface& system = *static_cast<ImplicitSurface*>(systems.at(i));
        if (!system.isStable() || forceStep) {
            appliedDensity = density;
            stepSystem(system, density);
            handedOff = false;
            forceStep = false;
            system.discardMesh();
            ++outcome.stepped;
        } else if (!handedOff) {
            handOffSystem(system, meshWanted);
            handedOff = true;
            ++outcome.handedOff;
        }
    }
    return outcome;
}
