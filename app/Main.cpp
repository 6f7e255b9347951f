// The entry point of the interactive program: WinMain on Windows, main elsewhere.
#include "app/Program.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    return runProgram(blobFileFromCommandLine(commandLine));
}
#else
int main(int argc, char** argv) {
    return runProgram(blobFileFromArguments(argc, argv));
}
#endif
