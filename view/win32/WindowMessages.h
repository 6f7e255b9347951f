// What the window procedure of the class "OpenGL" does with one message, apart from the
// calls that need the window itself: the Simulator calls, and the decision to take or give
// back the mouse capture, which the window procedure then carries out.
#pragma once

#include "view/GL.h"

class Simulator;

struct WindowMessageOutcome {
    bool handled = false;         // true: the window procedure returns 0; false: the
                                  // message goes on to DefWindowProcA
    bool takeCapture = false;     // a button went down: follow the mouse outside too
    bool releaseCapture = false;  // a button came up and none is down any more
};

// `captured` tells whether the window holds the mouse capture now. While it does, moves
// outside the client area (as stored by the last size message) are ignored, as Windows
// never reports them without capture; their coordinates would wrap as unsigned words.
// WM_CAPTURECHANGED with `captured` false (the capture went to another window) releases
// every button that is down.
WindowMessageOutcome handleWindowMessage(Simulator& app, UINT message, WPARAM wParam, LPARAM lParam,
                                         bool captured);
