#include "sim/Stepping.h"

#include <cstdio>

#include "geo/Check.h"
#include "sim/ImplicitSurface.h"

void stepSystem(ImplicitSurface& system, double density) {
    system.setDensity(density);
    system.solveControl();
    system.computeForces();
    system.advance();
    system.controlPopulation();
    system.adaptGrid();
    DCHECK_NO_FAULT(system.invariantFault());
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
        } else if (meshWanted && !system.meshCurrent) {
            // Handed off while no mesh was wanted: the sample has not changed since, so
            // its mesh is made now rather than after the next change.
            system.triangulate();
            ++outcome.triangulated;
        }
    }
    return outcome;
}

SampleOutcome sampleFailure(ImplicitSurface& system) {
    // Floaters come only from seeding and from splitting floaters: with none left, none
    // ever will be, until the model is changed.
    if (system.particles.size() == 0 && system.blobs.count() > 0) return SampleOutcome::DiedOut;
    if (system.floaterCeilingReached && !system.isStable()) return SampleOutcome::Ceiling;
    return SampleOutcome::Sampling;
}

const char* outcomeName(SampleOutcome outcome) {
    switch (outcome) {
        case SampleOutcome::Sampling:
            return "sampling";
        case SampleOutcome::Stable:
            return "stable";
        case SampleOutcome::StepLimit:
            return "step_limit";
        case SampleOutcome::DiedOut:
            return "died_out";
        case SampleOutcome::Ceiling:
            return "ceiling";
    }
    return "sampling";
}

std::string outcomeMessage(SampleOutcome outcome, ImplicitSurface& system, double density,
                           long long steps) {
    const int n = system.particles.size();
    char text[256];
    switch (outcome) {
        case SampleOutcome::DiedOut:
            std::snprintf(text, sizeof text, "no sample: every floater died out at density %.2f",
                          density);
            break;
        case SampleOutcome::Ceiling:
            if (n < 6 * system.blobs.count())
                std::snprintf(text, sizeof text,
                              "no sample: the model's %d blobs need more seed floaters than "
                              "the ceiling of %d",
                              system.blobs.count(), system.maxFloaters);
            else
                std::snprintf(text, sizeof text,
                              "no sample: splitting stopped at the ceiling of %d floaters "
                              "before the sample settled (a larger density gives fewer, "
                              "larger floaters)",
                              system.maxFloaters);
            break;
        case SampleOutcome::StepLimit:
            std::snprintf(text, sizeof text,
                          "no stable sample after %lld steps: %d floaters, %.1f%% stable", steps, n,
                          100.0 * system.stableCount / (n > 0 ? n : 1));
            break;
        default:
            text[0] = '\0';
            break;
    }
    return text;
}
