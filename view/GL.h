// The one place that includes the system's OpenGL 1.x and GLU headers. On Windows they
// need the Windows types declared first, and the min/max macros would break std::min.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <GL/gl.h>
#include <GL/glu.h>
