// floaters.dat: every floater's position and unit normal, system by system, for use
// outside the program. Written through a temporary file, so a failure keeps the old file.
#pragma once

#include <string>

#include "geo/QList.h"

// `systems` holds ImplicitSurface pointers; no name means "floaters.dat".
// False (and `error` set) when the file could not be written; the old file is then intact.
bool writeFloaterFile(geo::QList& systems, const char* fileName = nullptr,
                      std::string* error = nullptr);
