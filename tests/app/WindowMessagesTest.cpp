// The Win32 window procedure's handling of each message, without a window: which Simulator
// call a message makes, with which words of wParam and lParam, and when the mouse capture
// is taken and given back. Only the Windows build has a window procedure.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/Simulator.h"
#include "model/VessikSpheres.h"
#include "sim/ImplicitSurface.h"
#include "view/Visualize.h"
#include "view/win32/WindowMessages.h"

// File drops (DROPFILES); they need the Windows types, which WindowMessages.h brings.
#include <shellapi.h>
#include <shlobj.h>

namespace {

struct WindowMessages : ::testing::Test {
    Simulator app;

    WindowMessageOutcome send(UINT message, WPARAM wParam, LPARAM lParam, bool captured = false) {
        return handleWindowMessage(app, message, wParam, lParam, captured);
    }
};

}  // namespace

TEST_F(WindowMessages, ActivationFollowsTheMinimisedWordOnly) {
    // The high word of wParam is non-zero when the window is minimised; the low word
    // (active, inactive) does not matter, so losing the focus keeps the frames going.
    EXPECT_TRUE(send(WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 1), 0).handled);
    EXPECT_FALSE(app.active);
    send(WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
    EXPECT_TRUE(app.active);
    send(WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), 0);
    EXPECT_TRUE(app.active);
}

TEST_F(WindowMessages, KeysAreTheLowWordOfWParam) {
    // Bits above the low word must not change the code: 0x1006B is key 0x6B.
    EXPECT_TRUE(send(WM_KEYDOWN, 0x1006B, 0).handled);
    EXPECT_TRUE(app.keys[0x6B]);
    EXPECT_FALSE(app.keys[0x6A]);
    send(WM_KEYDOWN, 0x11, 0);
    EXPECT_TRUE(app.keys[Simulator::controlKey]);
    EXPECT_TRUE(send(WM_KEYUP, 0x1006B, 0).handled);
    EXPECT_FALSE(app.keys[0x6B]);
    EXPECT_TRUE(app.keyState(0x6B));  // released, yet the press still waits for its idle pass
    EXPECT_TRUE(app.keys[Simulator::controlKey]);  // only its own key-up clears it
}

TEST_F(WindowMessages, WheelZoomsByTheSignOfTheHighWord) {
    app.view->initGL();
    ASSERT_EQ(app.view->distance, -300);
    // -120 is 0xFF88 as an unsigned word: toward the user, 10 units back. The low word
    // carries the held keys and buttons and does not matter.
    EXPECT_TRUE(send(WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, 0xFF88), 0).handled);
    EXPECT_EQ(app.view->distance, -310);
    send(WM_MOUSEWHEEL, MAKEWPARAM(0, 240), 0);  // two notches at once still zoom 10
    EXPECT_EQ(app.view->distance, -300);
}

TEST_F(WindowMessages, ScreenSaverAndMonitorPowerAreSwallowedOtherCommandsAreNot) {
    EXPECT_TRUE(send(WM_SYSCOMMAND, SC_SCREENSAVE, 0).handled);
    EXPECT_TRUE(send(WM_SYSCOMMAND, SC_MONITORPOWER, 2).handled);
    EXPECT_FALSE(send(WM_SYSCOMMAND, SC_CLOSE, 0).handled);
    EXPECT_FALSE(send(WM_SYSCOMMAND, SC_MOVE, 0).handled);
}

TEST_F(WindowMessages, OtherMessagesGoToTheDefaultProcedure) {
    EXPECT_FALSE(send(WM_PAINT, 0, 0).handled);
    EXPECT_FALSE(send(WM_CHAR, 'a', 0).handled);
    EXPECT_FALSE(send(WM_MBUTTONDOWN, 0, 0).handled);
    EXPECT_FALSE(app.buttons[0]);
    EXPECT_FALSE(app.buttons[1]);
}

TEST_F(WindowMessages, CloseAsksTheLoopToQuit) {
    EXPECT_TRUE(send(WM_CLOSE, 0, 0).handled);
    MSG quit;
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(quit.wParam, 0u);
}

TEST_F(WindowMessages, SizeIsTheClientAreaFromLParam) {
    EXPECT_TRUE(send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(784, 561)).handled);
    EXPECT_EQ(app.view->width, 784);
    EXPECT_EQ(app.view->height, 561);
    send(WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(0, 0));
    EXPECT_EQ(app.view->height, 1);  // never 0
}

TEST_F(WindowMessages, MoveTakesXFromTheLowWordAndYFromTheHighWord) {
    EXPECT_TRUE(send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(123, 45)).handled);
    EXPECT_EQ(app.mouseX, 123);
    EXPECT_EQ(app.mouseY, 45);
    EXPECT_EQ(app.lastMouseX, 123);
    EXPECT_EQ(app.lastMouseY, 45);
}

TEST_F(WindowMessages, ButtonsTakeTheCaptureAndTheLastReleaseGivesItBack) {
    WindowMessageOutcome outcome = send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    EXPECT_TRUE(outcome.handled);
    EXPECT_TRUE(outcome.takeCapture);
    EXPECT_FALSE(outcome.releaseCapture);
    EXPECT_TRUE(app.buttons[0]);
    outcome = send(WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON, MAKELPARAM(10, 10), true);
    EXPECT_TRUE(outcome.takeCapture);
    EXPECT_TRUE(app.buttons[1]);
    // The right button is still down: the capture stays.
    outcome = send(WM_LBUTTONUP, MK_RBUTTON, MAKELPARAM(10, 10), true);
    EXPECT_TRUE(outcome.handled);
    EXPECT_FALSE(outcome.releaseCapture);
    EXPECT_FALSE(app.buttons[0]);
    outcome = send(WM_RBUTTONUP, 0, MAKELPARAM(10, 10), true);
    EXPECT_TRUE(outcome.releaseCapture);
    EXPECT_FALSE(outcome.takeCapture);
    EXPECT_FALSE(app.buttons[1]);
}

// Another window taking the mouse mid-drag (Alt-Tab) is the release this window will
// never see: the buttons come up and the held control particle is let go, so the system
// stops stepping. The window taking the capture back itself changes nothing.
TEST_F(WindowMessages, LostCaptureReleasesTheButtons) {
    VessikSpheres* system = new VessikSpheres(defaultIsoValue);
    app.addSystem(system);
    system->addBlob(30.0);
    system->seedParticles();
    app.picked = system->particles.first();
    app.pickedSystem = system;
    send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    send(WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON, MAKELPARAM(10, 10), true);
    ASSERT_NE(app.picked, nullptr);
    ASSERT_EQ(app.picked->state, Particle::Control);

    EXPECT_TRUE(send(WM_CAPTURECHANGED, 0, 0, true).handled);
    EXPECT_TRUE(app.buttons[0]);
    EXPECT_TRUE(app.buttons[1]);

    EXPECT_TRUE(send(WM_CAPTURECHANGED, 0, 0, false).handled);
    EXPECT_FALSE(app.buttons[0]);
    EXPECT_FALSE(app.buttons[1]);
    EXPECT_EQ(app.picked, nullptr);  // nothing held: frames no longer force a step
}

TEST_F(WindowMessages, CapturedMovesOutsideTheClientAreaAreIgnored) {
    send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(800, 600));
    send(WM_MOUSEMOVE, 0, MAKELPARAM(400, 300));
    send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(400, 300));
    // Five pixels left of the window: the low word is 0xFFFB, which unsigned would read
    // as x = 65531 and turn the camera by some 65000 degrees.
    EXPECT_TRUE(send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(-5, 300), true).handled);
    EXPECT_EQ(app.mouseX, 400);
    EXPECT_EQ(app.view->rotY, 0);
    send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(400, -1), true);   // above
    send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(800, 300), true);  // right of the last column
    send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(400, 600), true);  // below the last row
    EXPECT_EQ(app.mouseX, 400);
    EXPECT_EQ(app.mouseY, 300);
    EXPECT_EQ(app.view->rotX, 0);
    EXPECT_EQ(app.view->rotY, 0);
    // The last column and row are inside: 399 pixels right turns 399 degrees about y.
    send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(799, 599), true);
    EXPECT_EQ(app.mouseX, 799);
    EXPECT_EQ(app.mouseY, 599);
    EXPECT_EQ(app.view->rotY, 399);
    EXPECT_EQ(app.view->rotX, 299);
}

// What Explorer hands over on a drop: a DROPFILES header and the names, each ended by a
// zero and the list by another. DragFinish, which the window procedure calls, frees it.
HGLOBAL makeDrop(const std::vector<std::string>& names) {
    std::size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& name : names) size += name.size() + 1;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    DROPFILES* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = FALSE;
    char* text = reinterpret_cast<char*>(header) + sizeof(DROPFILES);
    for (const std::string& name : names) {
        std::memcpy(text, name.c_str(), name.size() + 1);
        text += name.size() + 1;
    }
    GlobalUnlock(memory);
    return memory;
}

TEST_F(WindowMessages, DroppedFilesGiveTheFirstToOpen) {
    const std::string name = "C:\\my models\\figure.dat";
    EXPECT_TRUE(send(WM_DROPFILES, reinterpret_cast<WPARAM>(makeDrop({name})), 0).handled);
    EXPECT_EQ(app.droppedFile, name);
    ::testing::internal::CaptureStderr();
    send(WM_DROPFILES, reinterpret_cast<WPARAM>(makeDrop({"a.dat", "b.dat"})), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "dazirudo: 2 files were dropped; only a.dat is opened\n");
    EXPECT_EQ(app.droppedFile, "a.dat");
}

TEST_F(WindowMessages, UncapturedMovesPassTheWordsAsTheyAre) {
    // Without capture Windows reports only moves over the client area; the words pass
    // unchanged, whatever size was stored.
    send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(100, 100));
    send(WM_MOUSEMOVE, 0, MAKELPARAM(300, 200));
    EXPECT_EQ(app.mouseX, 300);
    EXPECT_EQ(app.mouseY, 200);
}

#endif  // _WIN32
