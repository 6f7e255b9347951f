// Writing the blob model of every system as text: per system a three-line header, then one
// line per blob with its radius and defining points, every number "%5.5f". The reader is
// ImplicitSurface::readBlobFile; a written file reads back to the same model.
#pragma once

#include <string>

#include "geo/QList.h"

class ImplicitSurface;

// The text of the blob file for `systems` (a list of ImplicitSurface pointers), with "\n"
// line ends: the file holds exactly this once text mode has mapped the line ends.
std::string blobFileText(geo::QList& systems);

// Writes blobFileText(systems) in text mode to `fileName`, or "blobs.dat" when null, through
// a temporary file so that a failed write leaves any old file intact. When the target is
// the file a system of the list read only in part (ImplicitSurface::blobFileIncomplete),
// that file is first renamed aside with keepAside ("<name>.unread"), and the system's flag
// cleared; if it cannot be moved, nothing is written. False, with `error` set, when the file
// could not be written.
bool writeBlobFile(geo::QList& systems, const char* fileName = nullptr,
                   std::string* error = nullptr);
