// The GLFW window backend (Linux and other non-Windows systems): window, context, event
// pump, title and buffer swap. Each callback hands its event to handleGlfwEvent, which
// makes the same Simulator calls, with the same Windows virtual-key codes, as the Win32
// window procedure makes.
//
// How it differs from the Win32 backend (view/win32/Win32Backend.cpp):
// - keys arrive as GLFW key codes and are turned into virtual-key codes; a held key repeats
//   as GLFW_REPEAT, not as further key-downs;
// - there is no mouse capture: X11 reports a drag that leaves the window, and those outside
//   positions are dropped; a release outside arrives anyway, so a lost capture needs nothing;
// - a scroll event is one wheel notch of 120 whatever its offset;
// - minimising comes as the iconify callback rather than WM_ACTIVATE's minimised word, and a
//   close as glfwWindowShouldClose rather than WM_CLOSE posting WM_QUIT;
// - the size handed to resize is the drawable's in pixels, not the client area's;
// - a pump takes every waiting event at once, and waitMessage handles the event it waited
//   for (Win32 takes one message per pump and leaves it waiting);
// - the platform must be opened (glfwInit, which fails without a display);
// - no veto of the screen saver, and errors are lines on standard error, not message boxes;
// - only the depth bits are asked of the pixel format.
#include <GLFW/glfw3.h>

#include <cstdio>

#include "app/Simulator.h"
#include "view/GL.h"
#include "view/Visualize.h"
#include "view/glfw/GlfwEvents.h"

namespace {

constexpr const char* windowTitle = "- D a z i r u d o -";
constexpr int wheelNotch = 120;  // one wheel notch in Windows' WHEEL_DELTA units

GLFWwindow* glfwWindow(void* handle) {
    return static_cast<GLFWwindow*>(handle);
}

// Events handed to the application; pumpMessage reports Dispatched when it handled any.
unsigned eventsHandled = 0;

void reportError(int code, const char* description) {
    std::fprintf(stderr, "dazirudo: GLFW error 0x%x: %s\n", code, description);
}

// Every callback counts its event and hands it to handleGlfwEvent; the application is
// reached through its program-wide pointer, as the Win32 window procedure reaches it.
void dispatch(const GlfwEvent& event) {
    ++eventsHandled;
    if (application != nullptr) handleGlfwEvent(*application, event);
}

// A key or a mouse button, pressed, repeated or released.
void dispatchPress(GlfwEvent::Type type, int code, int action) {
    GlfwEvent event{type};
    event.code = code;
    event.action = action;
    dispatch(event);
}

void onKey(GLFWwindow*, int key, int, int action, int) {
    dispatchPress(GlfwEvent::Key, key, action);
}

void onIconify(GLFWwindow*, int iconified) {
    GlfwEvent event{GlfwEvent::Iconify};
    event.iconified = iconified != GLFW_FALSE;
    dispatch(event);
}

void onFramebufferSize(GLFWwindow*, int width, int height) {
    GlfwEvent event{GlfwEvent::FramebufferSize};
    event.width = width;
    event.height = height;
    dispatch(event);
}

void onCursor(GLFWwindow* window, double x, double y) {
    GlfwEvent event{GlfwEvent::CursorPos};
    event.x = x;
    event.y = y;
    glfwGetWindowSize(window, &event.width, &event.height);
    dispatch(event);
}

void onButton(GLFWwindow*, int button, int action, int) {
    dispatchPress(GlfwEvent::MouseButton, button, action);
}

void onScroll(GLFWwindow*, double xOffset, double yOffset) {
    GlfwEvent event{GlfwEvent::Scroll};
    event.x = xOffset;
    event.y = yOffset;
    dispatch(event);
}

// A part of the window was uncovered: the next frame draws it again.
void onRefresh(GLFWwindow*) {
    dispatch(GlfwEvent{GlfwEvent::Refresh});
}

// Files dropped on the window: the first is opened as the new model.
void onDrop(GLFWwindow*, int count, const char** paths) {
    GlfwEvent event{GlfwEvent::Drop};
    event.count = count;
    event.paths = paths;
    dispatch(event);
}

}  // namespace

void handleGlfwEvent(Simulator& app, const GlfwEvent& event) {
    switch (event.type) {
        case GlfwEvent::Key: {
            const std::uint16_t code = virtualKeyFromGlfw(event.code);
            if (code != 0) app.setKeyState(code, event.action != GLFW_RELEASE);
            break;
        }
        case GlfwEvent::Iconify:
            app.setActive(!event.iconified);
            break;
        case GlfwEvent::FramebufferSize:
            app.view->resize(static_cast<std::uint16_t>(event.width),
                             static_cast<std::uint16_t>(event.height));
            break;
        case GlfwEvent::CursorPos:
            // Windows reports moves only over the client area when the mouse is not captured;
            // X11 keeps reporting during a drag outside, with negative or too large positions.
            if (event.x < 0.0 || event.y < 0.0 || event.x >= event.width ||
                event.y >= event.height)
                break;
            app.mouseMove(static_cast<std::uint16_t>(event.x), static_cast<std::uint16_t>(event.y));
            break;
        case GlfwEvent::MouseButton:
            if (event.code == GLFW_MOUSE_BUTTON_LEFT || event.code == GLFW_MOUSE_BUTTON_RIGHT)
                app.mouseButton(event.code == GLFW_MOUSE_BUTTON_LEFT ? 0 : 1,
                                event.action == GLFW_PRESS);
            break;
        case GlfwEvent::Scroll:
            if (event.y != 0.0) app.mouseWheel(wheelWordFromScroll(event.y));
            break;
        case GlfwEvent::Refresh:
            break;
        case GlfwEvent::Drop:
            if (event.count > 0 && event.paths != nullptr && event.paths[0] != nullptr)
                app.dropFile(event.paths[0], event.count);
            break;
    }
}

std::uint16_t virtualKeyFromGlfw(int key) {
    if (key >= GLFW_KEY_A && key <= GLFW_KEY_Z) return static_cast<std::uint16_t>(key);
    if (key >= GLFW_KEY_0 && key <= GLFW_KEY_9) return static_cast<std::uint16_t>(key);
    if (key >= GLFW_KEY_KP_0 && key <= GLFW_KEY_KP_9) {
        return static_cast<std::uint16_t>(0x60 + (key - GLFW_KEY_KP_0));
    }
    if (key >= GLFW_KEY_F1 && key <= GLFW_KEY_F24) {
        return static_cast<std::uint16_t>(0x70 + (key - GLFW_KEY_F1));
    }
    switch (key) {
        case GLFW_KEY_ESCAPE:
            return 0x1B;
        case GLFW_KEY_SPACE:
            return 0x20;
        case GLFW_KEY_INSERT:
            return 0x2D;
        case GLFW_KEY_DELETE:
            return 0x2E;
        case GLFW_KEY_HOME:
            return 0x24;
        case GLFW_KEY_EQUAL:  // the main-row key of = and +
            return 0xBB;
        case GLFW_KEY_MINUS:
            return 0xBD;
        case GLFW_KEY_KP_MULTIPLY:
            return 0x6A;
        case GLFW_KEY_KP_ADD:
            return 0x6B;
        case GLFW_KEY_KP_SUBTRACT:
            return 0x6D;
        case GLFW_KEY_KP_DECIMAL:
            return 0x6E;
        case GLFW_KEY_KP_DIVIDE:
            return 0x6F;
        case GLFW_KEY_LEFT_CONTROL:
        case GLFW_KEY_RIGHT_CONTROL:
            return 0x11;
        case GLFW_KEY_LEFT_SHIFT:
        case GLFW_KEY_RIGHT_SHIFT:
            return 0x10;
        case GLFW_KEY_ENTER:
        case GLFW_KEY_KP_ENTER:
            return 0x0D;
        default:
            return 0;
    }
}

std::uint16_t wheelWordFromScroll(double yOffset) {
    const int delta = yOffset > 0.0 ? wheelNotch : -wheelNotch;
    return static_cast<std::uint16_t>(delta & 0xFFFF);
}

bool Visualize::openPlatform() {
    // Set first, so a failed initialisation says why.
    glfwSetErrorCallback(reportError);
    return glfwInit() == GLFW_TRUE;
}

void Visualize::closePlatform() {
    glfwTerminate();
}

void Visualize::showMessage(const char* text, const char* caption, unsigned) {
    std::fprintf(stderr, "dazirudo: %s: %s\n", caption, text);
}

bool Visualize::create(std::uint16_t newWidth, std::uint16_t newHeight, std::uint16_t bits) {
    width = newWidth;
    height = newHeight;
    // A legacy (compatibility) context: the drawing is OpenGL 1.x immediate mode.
    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_DOUBLEBUFFER, GLFW_TRUE);
    glfwWindowHint(GLFW_DEPTH_BITS, bits & 0xFF);
    glfwWindowHint(GLFW_ALPHA_BITS, 0);
    glfwWindowHint(GLFW_STENCIL_BITS, 0);
    GLFWwindow* made = glfwCreateWindow(width, height, windowTitle, nullptr, nullptr);
    if (made == nullptr) {
        showMessage("Window Creation Error!", "ERROR", iconError);
        return false;
    }
    window = made;
    glfwMakeContextCurrent(made);
    // No wait for the display's refresh: the simulation advances one step per frame, and
    // its pace must not be tied to the monitor.
    glfwSwapInterval(0);
    renderContext = made;
    title = windowTitle;

    glfwSetKeyCallback(made, onKey);
    glfwSetWindowIconifyCallback(made, onIconify);
    glfwSetFramebufferSizeCallback(made, onFramebufferSize);
    glfwSetCursorPosCallback(made, onCursor);
    glfwSetMouseButtonCallback(made, onButton);
    glfwSetScrollCallback(made, onScroll);
    glfwSetWindowRefreshCallback(made, onRefresh);
    glfwSetDropCallback(made, onDrop);

    // The projection must fit the drawable area, not the size asked for.
    int drawableWidth = 0;
    int drawableHeight = 0;
    glfwGetFramebufferSize(made, &drawableWidth, &drawableHeight);
    resize(static_cast<std::uint16_t>(drawableWidth), static_cast<std::uint16_t>(drawableHeight));
    glfwShowWindow(made);
    glfwFocusWindow(made);
    initGL();
    return true;
}

void Visualize::kill() {
    if (window == nullptr) return;
    forgetMeshLists(true);
    glfwMakeContextCurrent(nullptr);
    glfwDestroyWindow(glfwWindow(window));
    renderContext = nullptr;
    deviceContext = nullptr;
    window = nullptr;
}

void Visualize::setTitle(const std::string& text) {
    // The title changes at most once per frame; X11 is spared identical updates.
    if (text == title) return;
    title = text;
    if (window != nullptr) glfwSetWindowTitle(glfwWindow(window), text.c_str());
}

void Visualize::swap() {
    if (window == nullptr) return;
    glfwSwapBuffers(glfwWindow(window));
    ++framesDrawn;
}

Visualize::Pump Visualize::pumpMessage() {
    const unsigned before = eventsHandled;
    glfwPollEvents();
    if (window != nullptr && glfwWindowShouldClose(glfwWindow(window))) return Pump::Quit;
    return eventsHandled != before ? Pump::Dispatched : Pump::Idle;
}

void Visualize::waitMessage() {
    glfwWaitEvents();
}
