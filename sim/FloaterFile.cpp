#include "sim/FloaterFile.h"

#include <cstdio>

#include "model/SafeWrite.h"
#include "sim/ImplicitSurface.h"

bool writeFloaterFile(geo::QList& systems, const char* fileName, std::string* error) {
    const std::string path = fileName ? fileName : "floaters.dat";
    return writeFileSafely(
        path,
        [&systems](std::FILE* file) {
            for (int i = 0; i < systems.count(); ++i) {
                ImplicitSurface& system = *static_cast<ImplicitSurface*>(systems.at(i));
                std::fprintf(file, "// New Implicit System\n//   Blobs = %d\n//   Floaters = %d\n",
                             system.blobs.count(), system.particles.size());
                for (Particle* p = system.particles.first(); p; p = system.particles.next()) {
                    // Positions in the model's own units; normals have none.
                    const geo::Vertex x = system.toModelUnits(p->position);
                    std::fprintf(file, "  %5.5f  %5.5f  %5.5f  %5.5f  %5.5f  %5.5f\n", x.x, x.y,
                                 x.z, p->normal.x, p->normal.y, p->normal.z);
                }
            }
            return true;
        },
        error);
}
