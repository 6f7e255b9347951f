// The view: the window, its OpenGL rendering context, one GLU quadric and the camera
// numbers. GL state, camera and drawing primitives are shared by both platforms; the
// window, the context, the message pump, the title and the buffer swap live in one
// backend file per platform (view/win32/, view/glfw/).
//
// Without a rendering context (before `create`, after `kill`, or in unit tests) every call
// that reaches GL state is skipped, so the frame logic above the view runs the same with or
// without a window; the title text is still remembered in `title`. Only the GLU quadric is
// made and freed regardless: until a drawing uses it, it is plain memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geo/Triangle.h"
#include "geo/Vertex.h"
#include "view/DrawArrays.h"

class GLUquadric;
class Reconstruct;
struct Bounds;

class Visualize {
public:
    // What one pass of the message pump found.
    enum class Pump { Dispatched, Idle, Quit };

    // The icons of the error boxes (the Windows MessageBox styles).
    static constexpr unsigned iconError = 0x10;
    static constexpr unsigned iconInformation = 0x40;
    static constexpr double fieldOfView = 45.0;  // degrees, vertical

    Visualize();
    ~Visualize();
    Visualize(const Visualize&) = delete;
    Visualize& operator=(const Visualize&) = delete;

    // Platform backend. `openPlatform` is false when no display can be reached.
    static bool openPlatform();
    static void closePlatform();
    bool create(std::uint16_t width, std::uint16_t height, std::uint16_t bits);
    void kill();
    void setTitle(const std::string& text);
    void swap();
    // Takes at most one batch of waiting window events and never blocks: Dispatched when
    // it handed any to the application, Idle when none was waiting.
    Pump pumpMessage();
    // Blocks until the next window event arrives (GLFW handles it here, Win32 leaves it
    // for pumpMessage): the main loop's rest while there is nothing to compute or draw.
    void waitMessage();
    // A message box on Windows, a line on standard error elsewhere.
    static void showMessage(const char* text, const char* caption, unsigned icon);

    // Shared GL state and camera.
    void clear(double red, double green, double blue);
    void resize(std::uint16_t newWidth, std::uint16_t newHeight);
    void initGL();
    void applyCamera();
    void rotate(int a, int b, int c);
    void pan(int a, int b);
    void zoom(int a);
    // Pan and distance that make `bounds` fill the window at the present turn.
    void frame(const Bounds& bounds);

    // Drawing primitives; each loads the camera first and sets every state it needs.
    void drawSphere(const geo::Vertex& centre, double radius);
    void drawDisk(const geo::Vertex& position, double radius, const geo::Vertex& normal,
                  bool highlight);
    void drawTriangle(const geo::Triangle& triangle);
    void drawTriangleEdges(const geo::Triangle& triangle);
    void drawNormal(const geo::Vertex& point, const geo::Vertex& vector);
    // Many at once, each as drawDisk (not highlighted) or drawNormal draws one, in one
    // call: `disks` and `normalLines` hold them, filled by the caller.
    void drawDisks();
    void drawNormals();
    // The first `shown` triangles of `mesh`, each with drawTriangle if `filled` and then
    // drawTriangleEdges if `edges`, in the mesh's order. The same calls are kept in display
    // lists, made again only when the mesh or the two switches change.
    void drawMesh(Reconstruct& mesh, int shown, bool filled, bool edges);
    // The help over the picture (view/HelpOverlay.cpp).
    void drawHelp();

    // Picking support. `pickTransform` gives projection * model-view (column-major, as GL
    // stores it) and the viewport; `unprojectAtDepth` gives the model-space point under
    // window pixel (x, y), y growing downward, at the depth of `point`. Both are false
    // without a rendering context.
    bool pickTransform(double transform[16], double viewport[4]);
    bool unprojectAtDepth(const geo::Vertex& point, int x, int y, geo::Vertex& moved);

    bool hasContext() const { return renderContext != nullptr; }

    // How a disk that lies across `axis` is turned to lie across `normal`: the angle in
    // degrees about `turnAxis`. A normal straight against the axis is turned over about x.
    struct DiskTurn {
        double angle;
        geo::Vertex turnAxis;
    };
    static DiskTurn diskTurn(const geo::Vertex& axis, const geo::Vertex& normal);

    std::uint16_t width = 0;   // client width after every resize
    std::uint16_t height = 0;  // client height after every resize, never 0 after one
    // Platform handles: HWND, HDC, HINSTANCE and HGLRC on Windows; with GLFW the window
    // is the GLFWwindow, which is also its own context, and the other two stay null.
    void* window = nullptr;
    void* deviceContext = nullptr;
    void* instance = nullptr;
    void* renderContext = nullptr;
    geo::Vertex diskAxis{0.0, 0.0, 1.0};  // a floater disk lies across this before turning
    GLUquadric* quadric;                  // shared by every sphere and disk
    int framesDrawn = 0;                  // buffer swaps since initGL
    int rotX = 0, rotY = 0, rotZ = 0;     // camera rotations, whole degrees
    int panX = 0, panY = 0;               // camera translation in x and y, whole units
    int distance = -300;                  // camera translation in z, whole units
    std::string title;                    // the latest window title set
    DiskArrays disks;                     // for drawDisks, kept from frame to frame
    LineArrays normalLines;               // for drawNormals

private:
    // Deletes the display lists of drawMesh; `inContext` is false when the context they
    // were made in is gone already (the lists went with it).
    void forgetMeshLists(bool inContext);

    // The display lists of the mesh drawn last: one per block of meshBlock triangles, in
    // order, so that a progressive view calls the full blocks and draws only the rest.
    struct MeshLists {
        unsigned first = 0;  // name of the first list; 0: none
        int blocks = 0;
        std::uint64_t revision = 0;
        bool filled = false;
        bool edges = false;
        std::vector<const geo::Triangle*> triangles;  // the mesh in order, for the rest
    };
    MeshLists meshLists;
};
