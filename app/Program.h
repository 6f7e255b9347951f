// The program around the application object: the blob file name from the command line,
// start-up with its fallback blob, the main loop, and shut-down.
#pragma once

#include <string>

class Simulator;

// Windows: the whole command-line string is the name, blanks and quotes included, except
// for one pair of double quotes around all of it; "blobs.dat" when it is empty.
std::string blobFileFromCommandLine(const char* commandLine);
// Elsewhere: the arguments after the program name joined by single blanks.
std::string blobFileFromArguments(int argc, const char* const* argv);

// Opens the file dropped on the window as the new model, as the program's start opens its
// blob file, after writing the current model's files as at exit when the O switch is on.
// Refused, with one line on standard error and the current model kept, when the file
// cannot be read, holds no blob, or the current model's files could not be written.
bool openDroppedFile(Simulator& app);

// One pass of the main loop that found no window message waiting: when a frame can run,
// acts on the keys, opens a dropped file and runs the frame. False when Escape ends the
// loop.
bool runIdlePass(Simulator& app, double& density);

// The main loop with the density starting at 2.0: pumps window messages and, whenever
// none waits, acts on the keys and runs one frame; while the application is resting it
// waits for the next message instead, and runs one frame after each. Returns the exit
// status: 0 after Escape or a close of the window.
int runMainLoop(Simulator& app);

// The whole program for one blob file: 0 after a normal end, 1 when the window could
// not be opened or an output file could not be written, outOfMemoryStatus (5) when memory
// ran out.
int runProgram(const std::string& blobFile);
