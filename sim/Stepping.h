// The order of work of one simulation step and of the hand-off to triangulation, written
// once so that the interactive frame and the batch program run the very same sequence.
#pragma once

#include "geo/QList.h"

class ImplicitSurface;

// One simulation step: setDensity, solveControl, computeForces, advance,
// controlPopulation, adaptGrid. The caller discards the mesh afterwards.
void stepSystem(ImplicitSurface& system, double density);

// The once-per-stabilisation hand-off: releases the control particles and, when a mesh
// is wanted, triangulates the sample.
void handOffSystem(ImplicitSurface& system, bool meshWanted);

// What a frame of work over the systems left behind for its caller.
struct FrameOutcome {
    int stepped = 0;     // systems that ran a simulation step
    int handedOff = 0;   // systems handed off to triangulation
};

// One frame over `systems` (a list of ImplicitSurface), in list order: a system that is
// not stable, or every system when a step is forced or the density changed, runs one step;
// a stable system is handed off once until any system steps again. `appliedDensity`,
// `forceStep` and `handedOff` carry over from frame to frame.
FrameOutcome runSystems(geo::QList& systems, double density, bool meshWanted,
                        double& appliedDensity, bool& forceStep, bool& handedOff);
