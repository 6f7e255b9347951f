#include "view/StatusLine.h"

#include <cstdio>

#include "sim/ImplicitSurface.h"

StatusFormat chooseStatusFormat(const StatusInput& input) {
    if (!input.stable || !input.meshMode) return StatusFormat::Running;
    if (input.triangles == 0) return StatusFormat::Triangulating;
    return StatusFormat::Finished;
}

std::string statusLine(const StatusInput& input) {
    // With no floaters the share is taken over one floater: 0 %, never a division by 0.
    const int divisor = input.floaters > 1 ? input.floaters : 1;
    const double percentage = static_cast<double>(input.stableFloaters) / divisor * 100.0;
    char text[256];
    switch (chooseStatusFormat(input)) {
        case StatusFormat::Running:
            std::snprintf(text, sizeof text,
                          "VessikSpheres - Density: %2.2f - Total Floaters: %d - Stable "
                          "Floaters: %d  (%2.2f%c) - Physics %s",
                          input.density, input.floaters, input.stableFloaters, percentage, '%',
                          input.stable ? "Stopped!" : "Running!");
            break;
        case StatusFormat::Triangulating:
            std::snprintf(text, sizeof text,
                          "VessikSpheres - Density: %2.2f - Total Floaters: %d - Stable "
                          "Floaters: %d  (%2.2f%c) - Triangulation in progress...",
                          input.density, input.floaters, input.stableFloaters, percentage, '%');
            break;
        case StatusFormat::Finished:
            std::snprintf(text, sizeof text,
                          "VessikSpheres - Density: %2.2f - Total Floaters: %d - Total "
                          "Triangles: %d - System stopped",
                          input.density, input.floaters, input.triangles);
            break;
    }
    return text;
}

StatusInput statusOf(ImplicitSurface& system, double density, bool meshMode) {
    StatusInput input;
    input.density = density;
    input.floaters = system.particles.size();
    input.stableFloaters = system.stableCount;
    input.stable = system.isStable();
    input.meshMode = meshMode;
    input.triangles = system.reconstruct.triangleCount();
    return input;
}
