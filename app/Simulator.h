// The application object: owns the view and the implicit systems, runs one frame of work,
// keeps the key, mouse and draw-mode state that the window reports, draws the scene and
// writes the output files at exit. Everything runs on the window's one thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "app/BlobHistory.h"
#include "geo/QList.h"

class ImplicitSurface;
class Particle;
class Visualize;

class Simulator {
public:
    // Indices of `drawFlags`: view switches, and whether shutDown writes the files.
    enum DrawFlag {
        DrawFloaters = 0,
        DrawNormals = 1,
        DrawBlobs = 2,
        DrawTriangles = 3,
        DrawEdges = 4,
        DrawProgressive = 5,
        WriteFilesAtExit = 6,
        DrawFlagCount = 7
    };
    static constexpr int keyCount = 256;
    static constexpr std::uint16_t controlKey = 0x11;  // VK_CONTROL; stays set while held

    Simulator();
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    ImplicitSurface* addSystem(ImplicitSurface* system);
    // The system the keys change (Insert, Delete): the first, the one the program made at
    // start or the one a dropped file replaced it by; null when there is none.
    ImplicitSurface* modelSystem();
    // Every system is deleted and `fresh` takes their place, with nothing picked, held,
    // handed off or undoable left over from the old model.
    void replaceModel(ImplicitSurface* fresh);
    bool startUp();
    bool shutDown();
    void runFrame(double density);

    // Down, or pressed since the last frame: a key pressed and released between two
    // idle passes still acts once. Codes of 256 and more are no virtual keys this program
    // knows: read as up, ignored.
    bool keyState(std::uint16_t code) const;
    void setKeyState(std::uint16_t code, bool down);
    // The key as keyState reads it, pressed while Ctrl was held or read together with a
    // held Ctrl: a chord such as Ctrl+Z counts whichever idle passes its key messages fall
    // between, also when Ctrl is already up again when the pass comes.
    bool keyWithControl(std::uint16_t code) const;
    // Every key-down so far has been acted on once; each frame ends with this.
    void keysActedOn();
    void toggleDrawFlag(int index);
    void cycleRotationMode();
    void setActive(bool isActive);
    // Frames run, and keys act, only once started and while the window is not minimised.
    bool framesRun() const { return started && active; }
    bool meshWanted() const { return drawFlags[DrawTriangles] || drawFlags[DrawEdges]; }
    // True when a frame would change nothing: frames do not run, or every system is
    // stable and handed off (and meshed, and fully revealed, when the mesh is shown) or
    // has died out, the density is applied, no key or button is down and no dropped file
    // waits. The main loop then waits for the next window message instead of running
    // frames.
    bool resting(double density);

    // Scene (view/Scene.cpp): one system, or every system when none is given; sets the
    // status line and swaps the buffers.
    void drawScene(ImplicitSurface* only = nullptr);

    // Mouse camera, picking and dragging (view/Mouse.cpp).
    void mouseButton(int button, bool down);
    void mouseMove(std::uint16_t x, std::uint16_t y);
    void mouseWheel(std::uint16_t word);
    void pickParticle(int x, int y);
    void dragPicked(int x, int y);
    // The selection of a pick pass: `transform` maps model space to clip space
    // (column-major), (cx, cy) is the cursor in normalised device coordinates.
    void pickAmong(const double transform[16], double cx, double cy);

    // The output files; no name means "floaters.dat" and "blobs.dat". False when the
    // file could not be written (the previous file is then intact).
    bool writeFloaterFile(const char* fileName = nullptr);
    bool writeBlobFile(const char* fileName = nullptr);
    // The mesh of the first triangulated system, in the model's units, to `fileName`
    // ("mesh.obj" when null), as dazirudo-batch --mesh writes it. With no mesh nothing is
    // written. `announce` (the E key) says in one line on standard error what was written,
    // or why nothing was. False only when the file could not be written.
    bool writeMeshFile(const char* fileName = nullptr, bool announce = false);
    // What shutDown writes when the O switch is on: floaters.dat, blobs.dat and mesh.obj.
    // False when any of them could not be written.
    bool writeFilesAsAtExit();

    // Undo and redo of the blob model (Ctrl+Z, Ctrl+Y); false when there is nothing to
    // undo or redo. Insert and Delete record the model before they change it.
    bool undoBlobChange();
    bool redoBlobChange();
    // Places the camera so that the whole sample fills the window (Home).
    void frameSample();
    // A file dropped on the window (`count` files were dropped; the first is taken). The
    // next idle pass opens it.
    void dropFile(const std::string& path, int count = 1);

    std::unique_ptr<Visualize> view;
    std::unique_ptr<geo::QList> systems;      // ImplicitSurface pointers, owned, in added order
    Particle* picked = nullptr;               // floater under the cursor, or the one dragged
    double pickDepth = 1.0;                   // depth of the best candidate in a pick pass
    ImplicitSurface* pickedSystem = nullptr;  // the system that owns `picked`
    bool active = true;                       // false while the window is minimised
    bool keys[keyCount] = {};                 // down flag per Windows virtual-key code
    bool pressed[keyCount] = {};              // key-downs that no frame has followed yet
    bool pressedWithControl[keyCount] = {};   // ... of them, those that came while Ctrl was down
    bool buttons[2] = {};                     // left, right mouse button down
    bool started = false;                     // between a successful startUp and shutDown
    bool forceStep = false;                   // the next frame steps even stable systems
    int mouseX = 0, mouseY = 0;               // cursor at the latest move, client pixels
    int lastMouseX = 0, lastMouseY = 0;       // cursor at the previous mouse event
    std::uint8_t rotationMode = 0;            // which mouse axes turn which camera angles
    double appliedDensity = 2.0;              // the density of the last simulation step
    bool drawFlags[DrawFlagCount] = {true, false, false, true, true, false, true};
    bool helpShown = false;   // the help overlay of F1 or H
    BlobHistory history;      // the blob models before the latest changes
    std::string droppedFile;  // dropped on the window, not opened yet

    // Set by shutDown when an output file could not be written.
    bool writeFailed = false;

private:
    void drawSystem(ImplicitSurface& system);
    void drawSimulationView(ImplicitSurface& system);
    void drawMeshView(ImplicitSurface& system);
    // Clears `picked` unless it is still a floater or control particle of its system.
    void forgetLostPick();
    // Says on standard error, once each time it happens, that a system can no longer
    // reach its sample (every floater died out, or splitting hit the ceiling).
    void reportSampleFailures();

    std::map<const ImplicitSurface*, bool> failureReported;
};

// The one application, reached by the window procedure; set before the window exists.
extern Simulator* application;
// Set when a stable system has been handed off to triangulation; cleared by any step.
// One flag for the whole program, not one per system.
extern bool handedOff;
