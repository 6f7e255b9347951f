// The GLFW window backend (Linux and other non-Windows systems): window, context, event
// pump, title and buffer swap. Events become the same Simulator calls, with the same
// Windows virtual-key codes, as the Win32 window procedure makes.
#include <GLFW/glfw3.h>

#include <cstdio>

#include "app/Simulator.h"
#include "view/GL.h"
#include "view/Visualize.h"
#include "view/glfw/GlfwKeys.h"

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

// The callbacks reach the one application through its program-wide pointer, as the
// Win32 window procedure does.
void onKey(GLFWwindow*, int key, int, int action, int) {
    ++eventsHandled;
    const std::uint16_t code = virtualKeyFromGlfw(key);
    if (application == nullptr || code == 0) return;
    // A press and every auto-repeat set the key (each acts once per idle pass); a release
    // clears it.
    application->setKeyState(code, action != GLFW_RELEASE);
}

void onIconify(GLFWwindow*, int iconified) {
    ++eventsHandled;
    if (application != nullptr) application->setActive(iconified == GLFW_FALSE);
}

void onFramebufferSize(GLFWwindow*, int width, int height) {
    ++eventsHandled;
    if (application != nullptr) {
        application->view->resize(static_cast<std::uint16_t>(width),
                                  static_cast<std::uint16_t>(height));
    }
}

void onCursor(GLFWwindow* window, double x, double y) {
    ++eventsHandled;
    if (application == nullptr) return;
    int width = 0;
    int height = 0;
    glfwGetWindowSize(window, &width, &height);
    // Windows reports moves only over the client area when the mouse is not captured;
    // X11 keeps reporting during a drag outside, with negative or too large positions.
    if (x < 0.0 || y < 0.0 || x >= width || y >= height) return;
    application->mouseMove(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y));
}

void onButton(GLFWwindow*, int button, int action, int) {
    ++eventsHandled;
    if (application == nullptr) return;
    int index = -1;
    if (button == GLFW_MOUSE_BUTTON_LEFT) index = 0;
    if (button == GLFW_MOUSE_BUTTON_RIGHT) index = 1;
    if (index >= 0) application->mouseButton(index, action == GLFW_PRESS);
}

void onScroll(GLFWwindow*, double, double yOffset) {
    ++eventsHandled;
    if (application != nullptr && yOffset != 0.0) {
        application->mouseWheel(wheelWordFromScroll(yOffset));
    }
}

// A part of the window was uncovered: the next frame draws it again.
void onRefresh(GLFWwindow*) {
    ++eventsHandled;
}

// Files dropped on the window: the first is opened as the new model.
void onDrop(GLFWwindow*, int count, const char** paths) {
    ++eventsHandled;
    if (application != nullptr && count > 0 && paths[0] != nullptr)
        application->dropFile(paths[0], count);
}

}  // namespace

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
