#include "view/Mouse.h"

#include "app/Simulator.h"
#include "sim/ImplicitSurface.h"
#include "view/Visualize.h"

namespace {

constexpr int wheelStep = 10;  // camera units per wheel message, whatever its delta

}  // namespace

CameraTurn rotationFor(int mode, int dx, int dy) {
    CameraTurn turn;
    switch (mode) {
        case 1:
            turn.z = dx;
            turn.x = dy;
            break;
        case 2:
            turn.y = dx;
            turn.z = dy;
            break;
        default:
            turn.y = dx;
            turn.x = dy;
            break;
    }
    return turn;
}

int wheelZoom(std::uint16_t word) {
    return word >= 0x8000 ? -wheelStep : wheelStep;
}

DeviceCursor cursorToDevice(int x, int y, const double viewport[4]) {
    DeviceCursor cursor;
    cursor.x = ((x - viewport[0]) - 0.5 * viewport[2]) * 2.0 / viewport[2];
    cursor.y = ((y - viewport[1]) - 0.5 * viewport[3]) * (-2.0) / viewport[3];
    return cursor;
}

int windowRowFromCursor(int viewportHeight, int y) {
    return viewportHeight - (y + 1);
}

void Simulator::mouseButton(int button, bool down) {
    if (button < 0 || button > 1) return;
    buttons[button] = down;
    lastMouseX = mouseX;
    lastMouseY = mouseY;
    // Every button event that leaves the left button down over a picked particle makes a
    // new control particle: a copy held by the user, which the surface follows.
    if (buttons[0] && picked != nullptr) {
        // The model as it was before this hold, for Ctrl+Z once the hold becomes a drag.
        if (picked->state != Particle::Control) history.prepare(*systems);
        Particle* copy = new Particle(*picked);
        copy->state = Particle::Control;
        if (pickedSystem != nullptr && pickedSystem->addControlParticle(copy) != nullptr) {
            picked = copy;
        } else {
            delete copy;
            picked = nullptr;
        }
    }
    if (!buttons[0]) {
        picked = nullptr;
        history.forgetPrepared();
    }
}

void Simulator::mouseMove(std::uint16_t x, std::uint16_t y) {
    mouseX = x;
    mouseY = y;
    if (keys[controlKey]) {
        // With Ctrl the mouse picks and drags; the camera stays.
        if (!buttons[0]) {
            pickParticle(x, y);
        } else {
            dragPicked(x, y);
        }
    } else {
        picked = nullptr;
        const int dx = mouseX - lastMouseX;
        const int dy = mouseY - lastMouseY;
        if (buttons[0]) {
            const CameraTurn turn = rotationFor(rotationMode, dx, dy);
            view->rotate(turn.x, turn.y, turn.z);
        } else if (buttons[1]) {
            // Window rows grow downward, the camera's y upward: dragging up moves the
            // scene up.
            view->pan(dx, lastMouseY - mouseY);
        }
    }
    lastMouseX = mouseX;
    lastMouseY = mouseY;
}

void Simulator::mouseWheel(std::uint16_t word) {
    view->zoom(wheelZoom(word));
}

void Simulator::pickParticle(int x, int y) {
    double transform[16];
    double viewport[4];
    if (!view->pickTransform(transform, viewport)) {
        pickDepth = 1.0;
        picked = nullptr;
        return;
    }
    const DeviceCursor cursor = cursorToDevice(x, y, viewport);
    pickAmong(transform, cursor.x, cursor.y);
}

void Simulator::pickAmong(const double m[16], double cx, double cy) {
    pickDepth = 1.0;
    picked = nullptr;
    for (void* s = systems->first(); s != nullptr; s = systems->next()) {
        ImplicitSurface* system = static_cast<ImplicitSurface*>(s);
        for (Particle* p = system->particles.first(); p != nullptr; p = system->particles.next()) {
            const geo::Vertex& v = p->position;
            const double w = m[3] * v.x + m[7] * v.y + m[11] * v.z + m[15];
            const double x = (m[0] * v.x + m[4] * v.y + m[8] * v.z + m[12]) / w;
            const double y = (m[1] * v.x + m[5] * v.y + m[9] * v.z + m[13]) / w;
            const double z = (m[2] * v.x + m[6] * v.y + m[10] * v.z + m[14]) / w;
            // Nearest in depth among those near the cursor; the first wins a tie. Only a
            // floater inside the view volume, -1 <= z < pickDepth <= 1, can be seen and
            // picked: under the perspective projection one between the eye and the near
            // plane gets a depth below -1, and one behind the eye a depth above 1. In the
            // eye plane (w = 0) the divide gives an infinite or undefined depth, which
            // fails the comparisons too.
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < pickRadius * pickRadius && z >= -1.0 &&
                z < pickDepth) {
                picked = p;
                pickedSystem = system;
                pickDepth = z;
            }
        }
    }
}

void Simulator::dragPicked(int x, int y) {
    // Only a control particle is dragged: the left press makes one of a picked floater.
    if (picked == nullptr || picked->state != Particle::Control) return;
    geo::Vertex moved;
    if (!view->unprojectAtDepth(picked->position, x, y, moved)) return;
    history.commitPrepared();
    picked->repulsionVelocity = moved - picked->position;
    picked->position = moved;
    forceStep = true;
}
