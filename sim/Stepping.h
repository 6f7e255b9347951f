// The order of work of one simulation step and of the hand-off to triangulation, written
// once so that the interactive frame and the batch program run the very same sequence.
#pragma once

#include <string>

#include "geo/QList.h"

class ImplicitSurface;

// One simulation step: setDensity, solveControl, computeForces, advance,
// controlPopulation, adaptGrid; then, in debug and sanitizer builds, the system's
// invariantFault check. The caller discards the mesh afterwards.
void stepSystem(ImplicitSurface& system, double density);

// The once-per-stabilisation hand-off: releases the control particles and, when a mesh
// is wanted, triangulates the sample.
void handOffSystem(ImplicitSurface& system, bool meshWanted);

// What a frame of work over the systems left behind for its caller.
struct FrameOutcome {
    int stepped = 0;       // systems that ran a simulation step
    int handedOff = 0;     // systems handed off to triangulation
    int triangulated = 0;  // handed-off systems meshed late, as a mesh became wanted
};

// One frame over `systems` (a list of ImplicitSurface), in list order: a system that is
// not stable runs one step. A forced step (`forceStep`, which a change of the density also
// sets) runs on the first system of the list only, stable or not: its step clears the flag,
// so a stable system after it is handed off rather than stepped. A stable system is handed
// off once until any system steps again. A stable system that was handed off without a
// mesh is triangulated as soon as a mesh is wanted. `appliedDensity`, `forceStep` and
// `handedOff` carry over from frame to frame.
FrameOutcome runSystems(geo::QList& systems, double density, bool meshWanted,
                        double& appliedDensity, bool& forceStep, bool& handedOff);

// How sampling a system ends, or that it goes on.
enum class SampleOutcome {
    Sampling,   // not stable yet, and it may still become so
    Stable,     // stable and handed off
    StepLimit,  // the caller's step limit came first
    DiedOut,    // no floater is left and nothing will seed new ones
    Ceiling     // splitting stopped at the floater ceiling before the sample settled
};

// DiedOut or Ceiling when `system` can no longer reach the sample it was asked for,
// whatever the number of further steps; Sampling otherwise.
SampleOutcome sampleFailure(ImplicitSurface& system);

// The summary's word for an outcome: "stable", "step_limit", "died_out", "ceiling".
const char* outcomeName(SampleOutcome outcome);

// One line, without the program name or a newline, saying why there is no sample; `steps`
// is the number of steps run, for the step limit.
std::string outcomeMessage(SampleOutcome outcome, ImplicitSurface& system, double density,
                           long long steps);
