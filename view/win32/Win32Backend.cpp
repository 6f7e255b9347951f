// The Win32 + WGL window backend: the window class "OpenGL" and its window procedure, the
// device and rendering contexts, the message pump, the title and the buffer swap. The
// procedure hands each message to handleWindowMessage (WindowMessages.h) and carries out
// its capture decision.
//
// How it differs from the GLFW backend (view/glfw/GlfwBackend.cpp):
// - keys arrive as virtual-key codes already; a held key repeats as further WM_KEYDOWNs;
// - a pressed button captures the mouse, so moves outside the window are seen (and dropped)
//   and the release outside arrives; losing the capture to another window releases the
//   buttons;
// - the wheel word is passed on as Windows gives it;
// - minimising comes as WM_ACTIVATE's minimised word, and a close as WM_CLOSE, which posts
//   WM_QUIT for the pump;
// - the size handed to resize is the client area's;
// - a pump takes one message, and waitMessage only waits, leaving the message for the pump;
// - there is no platform to open;
// - the screen saver and monitor power-down are refused while the program runs, and errors
//   are message boxes;
// - colour and depth bits are both asked of the pixel format.
#include <string>

#include "app/Simulator.h"
#include "view/GL.h"
#include "view/Visualize.h"
#include "view/win32/WindowMessages.h"

// File drops; it needs the Windows types, which view/GL.h brings, declared first.
#include <shellapi.h>

namespace {

constexpr const char* className = "OpenGL";
constexpr const char* windowTitle = "- D a z i r u d o -";

HWND hwnd(void* handle) {
    return static_cast<HWND>(handle);
}
HDC hdc(void* handle) {
    return static_cast<HDC>(handle);
}
HGLRC hglrc(void* handle) {
    return static_cast<HGLRC>(handle);
}

// Hands each message to handleWindowMessage and carries out its capture decision.
LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Simulator* app = application;
    if (app == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    const WindowMessageOutcome outcome =
        handleWindowMessage(*app, message, wParam, lParam, GetCapture() == window);
    if (outcome.takeCapture) SetCapture(window);
    if (outcome.releaseCapture) ReleaseCapture();
    if (outcome.handled) return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

WindowMessageOutcome handleWindowMessage(Simulator& app, UINT message, WPARAM wParam, LPARAM lParam,
                                         bool captured) {
    WindowMessageOutcome outcome;
    outcome.handled = true;
    switch (message) {
        case WM_ACTIVATE:
            // Active unless minimised: losing the focus alone keeps the frames running.
            app.setActive(HIWORD(wParam) == 0);
            break;
        case WM_SYSCOMMAND:
            // Neither the screen saver nor monitor power-down starts while the program runs.
            outcome.handled = wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER;
            break;
        case WM_CLOSE:
            PostQuitMessage(0);
            break;
        case WM_KEYDOWN:
            app.setKeyState(LOWORD(wParam), true);
            break;
        case WM_KEYUP:
            app.setKeyState(LOWORD(wParam), false);
            break;
        case WM_SIZE:
            app.view->resize(LOWORD(lParam), HIWORD(lParam));
            break;
        case WM_MOUSEMOVE:
            if (captured) {
                // The words are signed client coordinates: left of or above the window
                // they are negative.
                const int x = static_cast<short>(LOWORD(lParam));
                const int y = static_cast<short>(HIWORD(lParam));
                if (x < 0 || y < 0 || x >= app.view->width || y >= app.view->height) break;
            }
            app.mouseMove(LOWORD(lParam), HIWORD(lParam));
            break;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
            // Captured, the window also sees a button released outside it, which would
            // otherwise stay down and, over a held control particle, keep the system
            // stepping.
            app.mouseButton(message == WM_LBUTTONDOWN ? 0 : 1, true);
            outcome.takeCapture = true;
            break;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
            app.mouseButton(message == WM_LBUTTONUP ? 0 : 1, false);
            outcome.releaseCapture = !app.buttons[0] && !app.buttons[1];
            break;
        case WM_MOUSEWHEEL:
            app.mouseWheel(HIWORD(wParam));
            break;
        case WM_DROPFILES: {
            // Files dropped from Explorer: the first is opened as the new model by the next
            // idle pass. The drop's memory is ours to give back.
            HDROP drop = reinterpret_cast<HDROP>(wParam);
            const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
            const UINT length = count > 0 ? DragQueryFileA(drop, 0, nullptr, 0) : 0;
            if (length > 0) {
                std::string name(length + 1, '\0');
                name.resize(DragQueryFileA(drop, 0, &name[0], length + 1));
                app.dropFile(name, static_cast<int>(count));
            }
            DragFinish(drop);
            break;
        }
        case WM_CAPTURECHANGED:
            // Another window took the mouse (Alt-Tab, a message box): this window will see
            // no release, so the lost capture is the release. A held control particle
            // would otherwise keep the system stepping.
            if (!captured) {
                for (int button = 0; button < 2; ++button)
                    if (app.buttons[button]) app.mouseButton(button, false);
            }
            break;
        default:
            outcome.handled = false;
            break;
    }
    return outcome;
}

bool Visualize::openPlatform() {
    return true;
}

void Visualize::closePlatform() {}

void Visualize::showMessage(const char* text, const char* caption, unsigned icon) {
    MessageBoxA(nullptr, text, caption, MB_OK | icon);
}

bool Visualize::create(std::uint16_t newWidth, std::uint16_t newHeight, std::uint16_t bits) {
    width = newWidth;
    height = newHeight;
    instance = GetModuleHandleA(nullptr);

    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = static_cast<HINSTANCE>(instance);
    windowClass.hIcon = LoadIconA(nullptr, IDI_WINLOGO);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr;
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = className;
    if (RegisterClassA(&windowClass) == 0) {
        showMessage("Failed To Register The Window Class.", "ERROR", iconError);
        return false;
    }

    const DWORD extendedStyle = WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
    const DWORD style = WS_OVERLAPPEDWINDOW;
    // The outer window is width by height; the client area is what the size message says.
    HWND made = CreateWindowExA(extendedStyle, className, windowTitle,
                                style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, width, height,
                                nullptr, nullptr, static_cast<HINSTANCE>(instance), nullptr);
    if (made == nullptr) {
        kill();
        showMessage("Window Creation Error!", "ERROR", iconError);
        return false;
    }
    window = made;
    title = windowTitle;
    // A blob file dropped from Explorer arrives as WM_DROPFILES.
    DragAcceptFiles(made, TRUE);

    deviceContext = GetDC(made);
    if (deviceContext == nullptr) {
        kill();
        showMessage("Can't Create A GL Device Context.", "ERROR", iconError);
        return false;
    }

    PIXELFORMATDESCRIPTOR format = {};
    format.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    format.iPixelType = PFD_TYPE_RGBA;
    format.cColorBits = static_cast<BYTE>(bits & 0xFF);
    format.cDepthBits = static_cast<BYTE>(bits & 0xFF);
    format.iLayerType = PFD_MAIN_PLANE;
    const int formatIndex = ChoosePixelFormat(hdc(deviceContext), &format);
    if (formatIndex == 0) {
        kill();
        showMessage("Can't Find A Suitable PixelFormat.", "ERROR", iconError);
        return false;
    }
    if (!SetPixelFormat(hdc(deviceContext), formatIndex, &format)) {
        kill();
        showMessage("Can't Set The PixelFormat.", "ERROR", iconError);
        return false;
    }
    renderContext = wglCreateContext(hdc(deviceContext));
    if (renderContext == nullptr) {
        kill();
        showMessage("Can't Create A GL Rendering Context.", "ERROR", iconError);
        return false;
    }
    if (!wglMakeCurrent(hdc(deviceContext), hglrc(renderContext))) {
        kill();
        showMessage("Can't Activate The GL Rendering Context.", "ERROR", iconError);
        return false;
    }

    // Showing sends the size message, which stores the client size for initGL.
    ShowWindow(made, SW_SHOW);
    SetForegroundWindow(made);
    SetFocus(made);
    initGL();
    return true;
}

void Visualize::kill() {
    if (window == nullptr) return;
    forgetMeshLists(true);
    if (renderContext != nullptr) {
        if (!wglMakeCurrent(nullptr, nullptr)) {
            showMessage("Release Of DC And RC Failed.", "SHUTDOWN ERROR", iconError);
        }
        if (!wglDeleteContext(hglrc(renderContext))) {
            showMessage("Release Rendering Context Failed.", "SHUTDOWN ERROR", iconError);
        }
        renderContext = nullptr;
    }
    if (deviceContext != nullptr && !ReleaseDC(hwnd(window), hdc(deviceContext))) {
        showMessage("Release Device Context Failed.", "SHUTDOWN ERROR", iconInformation);
    }
    deviceContext = nullptr;
    if (!DestroyWindow(hwnd(window))) {
        showMessage("Could Not Release hWnd.", "SHUTDOWN ERROR", iconInformation);
    }
    window = nullptr;
}

void Visualize::setTitle(const std::string& text) {
    // The title is set once per frame; an unchanged one is not set again, as every
    // SetWindowTextA makes messages that would wake a resting main loop.
    if (text == title) return;
    title = text;
    if (window != nullptr) SetWindowTextA(hwnd(window), text.c_str());
}

void Visualize::swap() {
    if (deviceContext == nullptr) return;
    SwapBuffers(hdc(deviceContext));
    ++framesDrawn;
}

Visualize::Pump Visualize::pumpMessage() {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return Pump::Idle;
    if (message.message == WM_QUIT) return Pump::Quit;
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return Pump::Dispatched;
}

void Visualize::waitMessage() {
    WaitMessage();
}
