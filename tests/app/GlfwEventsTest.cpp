// The GLFW callbacks' handling of each event, without a window: which Simulator call an
// event makes, with which virtual-key code, position or wheel word, and which events are
// dropped. Only the builds other than Windows have the GLFW backend.
#ifndef _WIN32

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <string>

#include "app/Simulator.h"
#include "view/Visualize.h"
#include "view/glfw/GlfwEvents.h"

namespace {

struct GlfwEvents : ::testing::Test {
    Simulator app;

    void key(int glfwKey, int action) {
        GlfwEvent event{GlfwEvent::Key};
        event.code = glfwKey;
        event.action = action;
        handleGlfwEvent(app, event);
    }
    void cursor(double x, double y, int width = 800, int height = 600) {
        GlfwEvent event{GlfwEvent::CursorPos};
        event.x = x;
        event.y = y;
        event.width = width;
        event.height = height;
        handleGlfwEvent(app, event);
    }
    void button(int glfwButton, int action) {
        GlfwEvent event{GlfwEvent::MouseButton};
        event.code = glfwButton;
        event.action = action;
        handleGlfwEvent(app, event);
    }
    void scroll(double x, double y) {
        GlfwEvent event{GlfwEvent::Scroll};
        event.x = x;
        event.y = y;
        handleGlfwEvent(app, event);
    }
};

}  // namespace

// Each row follows the one before on the same application.
TEST_F(GlfwEvents, KeysSetAndClearTheirVirtualKeyCodes) {
    struct Row {
        int glfwKey, action;
        int code;   // the virtual-key code looked at after the event
        bool down;  // ... and whether it is down
    } rows[] = {
        {GLFW_KEY_KP_ADD, GLFW_PRESS, 0x6B, true},
        {GLFW_KEY_KP_ADD, GLFW_RELEASE, 0x6B, false},
        {GLFW_KEY_KP_ADD, GLFW_REPEAT, 0x6B, true},  // a repeat acts again, as a key-down
        {GLFW_KEY_LEFT_CONTROL, GLFW_PRESS, Simulator::controlKey, true},
        {GLFW_KEY_RIGHT_CONTROL, GLFW_RELEASE, Simulator::controlKey, false},
        {GLFW_KEY_EQUAL, GLFW_PRESS, 0xBB, true},
        {GLFW_KEY_ESCAPE, GLFW_PRESS, 0x1B, true},
    };
    for (const Row& row : rows) {
        key(row.glfwKey, row.action);
        EXPECT_EQ(app.keys[row.code], row.down)
            << "key " << row.glfwKey << " action " << row.action;
    }
}

TEST_F(GlfwEvents, KeysOfNoUseChangeNothing) {
    key(GLFW_KEY_TAB, GLFW_PRESS);
    key(GLFW_KEY_UNKNOWN, GLFW_PRESS);
    for (int code = 0; code < Simulator::keyCount; ++code) EXPECT_FALSE(app.keys[code]) << code;
}

// Positions are in the window's screen coordinates; those outside it come from X11 during a
// drag that left the window and must not reach the Simulator (they would wrap as words).
TEST_F(GlfwEvents, CursorInsideTheWindowMovesOutsideIsDropped) {
    struct Row {
        double x, y;
        int mouseX, mouseY;  // the Simulator's cursor afterwards
    } rows[] = {
        {10.7, 20.2, 10, 20},   // truncated, as Windows' whole pixels
        {-1.0, 50.0, 10, 20},   // left of the window
        {50.0, -0.5, 10, 20},   // above it
        {800.0, 50.0, 10, 20},  // one past the right edge
        {50.0, 600.0, 10, 20},  // one past the bottom
        {799.9, 599.9, 799, 599},
    };
    for (const Row& row : rows) {
        cursor(row.x, row.y);
        EXPECT_EQ(app.mouseX, row.mouseX) << row.x << ", " << row.y;
        EXPECT_EQ(app.mouseY, row.mouseY) << row.x << ", " << row.y;
    }
}

TEST_F(GlfwEvents, LeftAndRightButtonsOnly) {
    button(GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
    EXPECT_TRUE(app.buttons[0]);
    button(GLFW_MOUSE_BUTTON_RIGHT, GLFW_PRESS);
    EXPECT_TRUE(app.buttons[1]);
    button(GLFW_MOUSE_BUTTON_MIDDLE, GLFW_RELEASE);  // no third button: both stay down
    EXPECT_TRUE(app.buttons[0] && app.buttons[1]);
    button(GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
    EXPECT_FALSE(app.buttons[0]);
    EXPECT_TRUE(app.buttons[1]);
}

TEST_F(GlfwEvents, VerticalScrollZoomsOneNotchHorizontalDoesNothing) {
    app.view->initGL();
    ASSERT_EQ(app.view->distance, -300);
    scroll(0.0, 1.0);  // forward: 10 units nearer
    EXPECT_EQ(app.view->distance, -290);
    scroll(0.0, -0.25);  // a touchpad's fraction backward: a whole notch back
    EXPECT_EQ(app.view->distance, -300);
    scroll(3.0, 0.0);
    EXPECT_EQ(app.view->distance, -300);
}

TEST_F(GlfwEvents, IconifyStopsTheFramesAndRestoringStartsThem) {
    GlfwEvent event{GlfwEvent::Iconify};
    event.iconified = true;
    handleGlfwEvent(app, event);
    EXPECT_FALSE(app.active);
    event.iconified = false;
    handleGlfwEvent(app, event);
    EXPECT_TRUE(app.active);
}

TEST_F(GlfwEvents, FramebufferSizeIsTheViewSize) {
    GlfwEvent event{GlfwEvent::FramebufferSize};
    event.width = 1024;
    event.height = 700;
    handleGlfwEvent(app, event);
    EXPECT_EQ(app.view->width, 1024);
    EXPECT_EQ(app.view->height, 700);
    event.height = 0;
    handleGlfwEvent(app, event);
    EXPECT_EQ(app.view->height, 1);  // never 0
}

TEST_F(GlfwEvents, DropHandsOverTheFirstPathOnly) {
    const char* paths[] = {"first.dat", "second.dat"};
    GlfwEvent event{GlfwEvent::Drop};
    event.count = 0;
    event.paths = paths;
    handleGlfwEvent(app, event);
    EXPECT_TRUE(app.droppedFile.empty());
    event.count = 2;
    handleGlfwEvent(app, event);
    EXPECT_EQ(app.droppedFile, "first.dat");
}

TEST(GlfwKeys, KeysBecomeWindowsVirtualKeyCodes) {
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_ESCAPE), 0x1B);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_SPACE), 0x20);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_F), 'F');
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_O), 'O');
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_KP_0), 0x60);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_KP_2), 0x62);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_KP_6), 0x66);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_KP_9), 0x69);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_KP_DECIMAL), 0x6E);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_KP_ADD), 0x6B);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_KP_SUBTRACT), 0x6D);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_KP_DIVIDE), 0x6F);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_F4), 0x73);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_F5), 0x74);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_INSERT), 0x2D);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_DELETE), 0x2E);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_LEFT_CONTROL), 0x11);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_RIGHT_CONTROL), 0x11);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_HOME), 0x24);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_F1), 0x70);
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_EQUAL), 0xBB);  // VK_OEM_PLUS, the = and + key
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_MINUS), 0xBD);  // VK_OEM_MINUS
    EXPECT_EQ(virtualKeyFromGlfw(GLFW_KEY_UNKNOWN), 0);
}

TEST(GlfwKeys, ScrollBecomesAWheelWordOfOneNotch) {
    EXPECT_EQ(wheelWordFromScroll(1.0), 0x0078);   // forward: +120, below 0x8000
    EXPECT_EQ(wheelWordFromScroll(-1.0), 0xFF88);  // backward: -120 in 16 bits
    EXPECT_EQ(wheelWordFromScroll(0.25), 0x0078);  // a touchpad's fraction is one notch
}
#endif
