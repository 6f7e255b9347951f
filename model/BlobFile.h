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
// a temporary file so that a failed write leaves any old file intact. An old file is
// replaced only when nothing of it would be lost: it already holds this text, or it is the
// file the model holds (read completely, or written here before) and has not changed since.
// Any other old file (read in part, changed by someone, or never read) is first kept as
// "<name>.unread" (or ".unread1", ...), and `notice` says so; if it cannot be kept, nothing
// is written. Afterwards the model holds the written file. False, with `error` set, when
// the file could not be written.
bool writeBlobFile(geo::QList& systems, const char* fileName = nullptr,
                   std::string* error = nullptr, std::string* notice = nullptr);

// The blob file a program reads when it is given none, and writes when it ends.
constexpr const char* defaultBlobFileName = "blobs.dat";
// The radius of the one blob, at the origin, that a program starts on when its blob file
// cannot be read.
constexpr double defaultBlobRadius = 30.0;

// Reads the blob file into `system` as both programs start: the blobs it holds, and when it
// cannot be read (or is read in part) one more blob, of defaultBlobRadius at the origin.
void loadBlobFile(ImplicitSurface& system, const std::string& fileName);

// Whether the file can be opened and read; false, with `error` saying why ("cannot read
// NAME: ..."), for a missing file, a folder or one without read permission. A program
// that was given a blob file by name checks it first, rather than start on a model the
// user did not ask for.
bool blobFileReadable(const std::string& fileName, std::string* error = nullptr);
