#include "view/Visualize.h"

#include <algorithm>
#include <cmath>

#include "mesh/Reconstruct.h"
#include "view/Framing.h"
#include "view/GL.h"
#include "view/Mouse.h"

namespace {

// The near plane is a single-precision constant, as the projection has always used.
constexpr float nearPlane = 0.1f;
constexpr double farPlane = 1000.0;
constexpr double pi = 3.14159265358979323846;

}  // namespace

Visualize::Visualize() : quadric(gluNewQuadric()) {}

Visualize::~Visualize() {
    gluDeleteQuadric(quadric);
    kill();
}

void Visualize::clear(double red, double green, double blue) {
    if (!hasContext()) return;
    if (red >= 0.0 && green >= 0.0 && blue >= 0.0) {
        glClearColor(static_cast<GLfloat>(red), static_cast<GLfloat>(green),
                     static_cast<GLfloat>(blue), 0.0f);
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void Visualize::resize(std::uint16_t newWidth, std::uint16_t newHeight) {
    if (newHeight == 0) newHeight = 1;
    width = newWidth;
    height = newHeight;
    // A size message during window creation comes before the context exists: the size
    // is kept and initGL applies it.
    if (!hasContext()) return;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(fieldOfView, static_cast<double>(width) / static_cast<double>(height), nearPlane,
                   farPlane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void Visualize::initGL() {
    // A new context holds none of the lists of an old one.
    forgetMeshLists(false);
    if (hasContext()) {
        glShadeModel(GL_SMOOTH);
        clear(0.0, 0.0, 0.0);
        glClearDepth(1.0);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        resize(width, height);
        glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
        glCullFace(GL_BACK);
        glEnable(GL_CULL_FACE);
        gluQuadricDrawStyle(quadric, GLU_FILL);

        // One directional light along the viewing axis (GL's default position).
        const GLfloat ambient[] = {0.1f, 0.1f, 0.1f, 1.0f};
        const GLfloat diffuse[] = {0.4f, 0.4f, 0.4f, 1.0f};
        const GLfloat specular[] = {1.0f, 1.0f, 1.0f, 1.0f};
        glLightfv(GL_LIGHT1, GL_AMBIENT, ambient);
        glLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse);
        glLightfv(GL_LIGHT1, GL_SPECULAR, specular);
        glEnable(GL_LIGHT1);

        // glColor sets ambient and diffuse from here on.
        glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
        const GLfloat white[] = {1.0f, 1.0f, 1.0f, 1.0f};
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, white);
        glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
        glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 20.0f);
        glEnable(GL_LIGHTING);
        glEnable(GL_COLOR_MATERIAL);
    }
    framesDrawn = 0;
    distance = -300;
    panY = 0;
    panX = 0;
    rotZ = 0;
    rotY = 0;
    rotX = 0;
}

void Visualize::applyCamera() {
    if (!hasContext()) return;
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(static_cast<GLfloat>(panX), static_cast<GLfloat>(panY),
                 static_cast<GLfloat>(distance));
    glRotatef(static_cast<GLfloat>(rotX), 1.0f, 0.0f, 0.0f);
    glRotatef(static_cast<GLfloat>(rotY), 0.0f, 1.0f, 0.0f);
    glRotatef(static_cast<GLfloat>(rotZ), 0.0f, 0.0f, 1.0f);
}

void Visualize::rotate(int a, int b, int c) {
    rotX += a;
    rotY += b;
    rotZ += c;
}

void Visualize::pan(int a, int b) {
    panX += a;
    panY += b;
}

void Visualize::zoom(int a) {
    distance += a;
}

void Visualize::frame(const Bounds& bounds) {
    if (bounds.empty) return;
    const CameraPlacement placement =
        frameBounds(bounds, rotX, rotY, rotZ, fieldOfView,
                    static_cast<double>(width) / static_cast<double>(height > 0 ? height : 1));
    panX = placement.panX;
    panY = placement.panY;
    distance = placement.distance;
}

void Visualize::drawSphere(const geo::Vertex& centre, double radius) {
    if (!hasContext()) return;
    gluQuadricDrawStyle(quadric, GLU_LINE);
    applyCamera();
    glTranslatef(static_cast<GLfloat>(centre.x), static_cast<GLfloat>(centre.y),
                 static_cast<GLfloat>(centre.z));
    glColor3d(0.0, 0.0, 0.7);
    gluSphere(quadric, radius, 12, 12);
}

Visualize::DiskTurn Visualize::diskTurn(const geo::Vertex& axis, const geo::Vertex& normal) {
    geo::Vertex turnAxis = axis.cross(normal);
    const double lengths = normal.length() * axis.length();
    double angle = 0.0;
    if (lengths != 0.0) {
        // Rounding can push the cosine a hair past 1 for a normal along the axis.
        const double cosine = std::clamp(axis.dot(normal) / lengths, -1.0, 1.0);
        angle = std::acos(cosine) * 180.0 * (1.0 / pi);
    }
    // A normal along the axis leaves no axis to turn about: at 0 degrees none is needed,
    // at 180 the disk is turned over about x.
    if (turnAxis.x == 0.0 && turnAxis.y == 0.0 && turnAxis.z == 0.0) {
        turnAxis = geo::Vertex(1.0, 0.0, 0.0);
    }
    return {angle, turnAxis};
}

void Visualize::drawDisk(const geo::Vertex& position, double radius, const geo::Vertex& normal,
                         bool highlight) {
    if (!hasContext()) return;
    gluQuadricDrawStyle(quadric, GLU_FILL);
    applyCamera();
    const DiskTurn turn = diskTurn(diskAxis, normal);
    glTranslatef(static_cast<GLfloat>(position.x), static_cast<GLfloat>(position.y),
                 static_cast<GLfloat>(position.z));
    glRotatef(static_cast<GLfloat>(turn.angle), static_cast<GLfloat>(turn.turnAxis.x),
              static_cast<GLfloat>(turn.turnAxis.y), static_cast<GLfloat>(turn.turnAxis.z));
    if (highlight) {
        glDisable(GL_LIGHTING);
        glColor3f(1.0f, 0.0f, 0.0f);
    } else {
        glColor3f(1.0f, 1.0f, 1.0f);
    }
    gluDisk(quadric, 0.0, radius, 24, 1);
    if (highlight) glEnable(GL_LIGHTING);
}

namespace {

void normalAndCorner(const geo::Vertex& normal, const geo::Vertex& corner) {
    glNormal3f(static_cast<GLfloat>(normal.x), static_cast<GLfloat>(normal.y),
               static_cast<GLfloat>(normal.z));
    glVertex3f(static_cast<GLfloat>(corner.x), static_cast<GLfloat>(corner.y),
               static_cast<GLfloat>(corner.z));
}

void corner(const geo::Vertex& point) {
    glVertex3f(static_cast<GLfloat>(point.x), static_cast<GLfloat>(point.y),
               static_cast<GLfloat>(point.z));
}

// The corners of a filled triangle and the ends of its three edges, inside glBegin and
// glEnd. Independent triangles and segments draw the same whether each has a glBegin of
// its own or many share one.
void filledCorners(const geo::Triangle& triangle) {
    normalAndCorner(triangle.normal0, triangle.corner0);
    normalAndCorner(triangle.normal1, triangle.corner1);
    normalAndCorner(triangle.normal2, triangle.corner2);
}

void edgeEnds(const geo::Triangle& triangle) {
    normalAndCorner(triangle.normal0, triangle.corner0);
    corner(triangle.corner1);
    normalAndCorner(triangle.normal1, triangle.corner1);
    corner(triangle.corner2);
    normalAndCorner(triangle.normal2, triangle.corner2);
    corner(triangle.corner0);
}

const GLfloat filledGrey = 0.2f;
const GLfloat edgeGrey = 0.7f;

// Triangles [begin, end) of `triangles` as the mesh view shows them: first the filled
// ones, then their edges.
void meshTriangles(const std::vector<const geo::Triangle*>& triangles, int begin, int end,
                   bool filled, bool edges) {
    if (filled) {
        glColor3f(filledGrey, filledGrey, filledGrey);
        glBegin(GL_TRIANGLES);
        for (int i = begin; i < end; ++i) filledCorners(*triangles[static_cast<std::size_t>(i)]);
        glEnd();
    }
    if (edges) {
        glColor3f(edgeGrey, edgeGrey, edgeGrey);
        glBegin(GL_LINES);
        for (int i = begin; i < end; ++i) edgeEnds(*triangles[static_cast<std::size_t>(i)]);
        glEnd();
    }
}

// Position and normal arrays on for as long as it lives; the rest of the drawing uses
// glBegin/glEnd and wants them off.
struct PositionAndNormalArrays {
    PositionAndNormalArrays() {
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
    }
    ~PositionAndNormalArrays() {
        glDisableClientState(GL_NORMAL_ARRAY);
        glDisableClientState(GL_VERTEX_ARRAY);
    }
    PositionAndNormalArrays(const PositionAndNormalArrays&) = delete;
    PositionAndNormalArrays& operator=(const PositionAndNormalArrays&) = delete;
};

// Triangles per display list of a mesh: few enough lists to call, and a progressive view
// draws at most this many triangles one call at a time.
constexpr int meshBlock = 4096;

}  // namespace

void Visualize::drawTriangle(const geo::Triangle& triangle) {
    if (!hasContext()) return;
    applyCamera();
    glColor3f(filledGrey, filledGrey, filledGrey);
    glBegin(GL_TRIANGLES);
    filledCorners(triangle);
    glEnd();
}

void Visualize::drawTriangleEdges(const geo::Triangle& triangle) {
    if (!hasContext()) return;
    applyCamera();
    glColor3f(edgeGrey, edgeGrey, edgeGrey);
    glBegin(GL_LINES);
    edgeEnds(triangle);
    glEnd();
}

void Visualize::drawMesh(Reconstruct& mesh, int shown, bool filled, bool edges) {
    if (!hasContext() || shown <= 0 || !(filled || edges)) return;
    MeshLists& lists = meshLists;
    if (lists.first == 0 || lists.revision != mesh.triangleRevision() || lists.filled != filled ||
        lists.edges != edges) {
        forgetMeshLists(true);
        for (geo::Triangle* t = mesh.firstTriangle(); t != nullptr; t = mesh.nextTriangle())
            lists.triangles.push_back(t);
        const int count = static_cast<int>(lists.triangles.size());
        const int blocks = (count + meshBlock - 1) / meshBlock;
        lists.first = blocks > 0 ? glGenLists(blocks) : 0;
        if (lists.first != 0) {
            lists.blocks = blocks;
            lists.revision = mesh.triangleRevision();
            lists.filled = filled;
            lists.edges = edges;
            for (int b = 0; b < blocks; ++b) {
                glNewList(lists.first + static_cast<GLuint>(b), GL_COMPILE);
                meshTriangles(lists.triangles, b * meshBlock, std::min(count, (b + 1) * meshBlock),
                              filled, edges);
                glEndList();
            }
        }
    }
    // Every triangle was drawn with the camera loaded afresh; it is the same matrix each
    // time, so once serves all.
    applyCamera();
    const int end = std::min(shown, static_cast<int>(lists.triangles.size()));
    // Without lists (none to be had) every block is drawn as it would have been kept.
    const int fullBlocks = lists.first == 0 ? 0 : end / meshBlock;
    for (int b = 0; b < fullBlocks; ++b) glCallList(lists.first + static_cast<GLuint>(b));
    for (int begin = fullBlocks * meshBlock; begin < end; begin += meshBlock)
        meshTriangles(lists.triangles, begin, std::min(end, begin + meshBlock), filled, edges);
}

void Visualize::forgetMeshLists(bool inContext) {
    if (inContext && hasContext() && meshLists.first != 0)
        glDeleteLists(meshLists.first, meshLists.blocks);
    meshLists = MeshLists();
}

void Visualize::drawDisks() {
    if (!hasContext() || disks.diskCount() == 0) return;
    applyCamera();
    glColor3f(1.0f, 1.0f, 1.0f);
    {
        PositionAndNormalArrays arrays;
        // In calls of disksPerDraw disks, in order: the arrays start at each call's first disk.
        for (int first = 0; first < disks.diskCount(); first += DiskArrays::disksPerDraw) {
            const std::size_t offset =
                static_cast<std::size_t>(first) * 3 * DiskArrays::cornersPerDisk;
            const int count = std::min(DiskArrays::disksPerDraw, disks.diskCount() - first);
            glVertexPointer(3, GL_FLOAT, 0, disks.positions.data() + offset);
            glNormalPointer(GL_FLOAT, 0, disks.normals.data() + offset);
            glDrawElements(GL_TRIANGLES, count * DiskArrays::indicesPerDisk, GL_UNSIGNED_SHORT,
                           disks.indices.data());
        }
    }
    // The current normal is undefined after an array draw; gluDisk left it at the disk's
    // own axis.
    glNormal3f(0.0f, 0.0f, 1.0f);
}

void Visualize::drawNormals() {
    if (!hasContext() || normalLines.lineCount() == 0) return;
    applyCamera();
    glColor3d(0.2, 0.8, 0.8);
    {
        PositionAndNormalArrays arrays;
        glVertexPointer(3, GL_DOUBLE, 0, normalLines.positions.data());
        glNormalPointer(GL_FLOAT, 0, normalLines.normals.data());
        glDrawArrays(GL_LINES, 0, 2 * normalLines.lineCount());
    }
    // As drawNormal leaves it: the last line's normal.
    glNormal3fv(normalLines.normals.data() + normalLines.normals.size() - 3);
}

void Visualize::drawNormal(const geo::Vertex& point, const geo::Vertex& vector) {
    if (!hasContext()) return;
    applyCamera();
    glColor3d(0.2, 0.8, 0.8);
    glBegin(GL_LINES);
    glNormal3f(static_cast<GLfloat>(vector.x), static_cast<GLfloat>(vector.y),
               static_cast<GLfloat>(vector.z));
    const geo::Vertex end = point + vector;
    glVertex3d(point.x, point.y, point.z);
    glVertex3d(end.x, end.y, end.z);
    glEnd();
}

bool Visualize::pickTransform(double transform[16], double viewport[4]) {
    if (!hasContext()) return false;
    applyCamera();
    GLdouble modelView[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
    // Let GL form projection * model-view on the projection stack, then restore it. The
    // projection stays the current mode; the next applyCamera switches back.
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMultMatrixd(modelView);
    glGetDoublev(GL_PROJECTION_MATRIX, transform);
    glPopMatrix();
    glGetDoublev(GL_VIEWPORT, viewport);
    return true;
}

bool Visualize::unprojectAtDepth(const geo::Vertex& point, int x, int y, geo::Vertex& moved) {
    if (!hasContext()) return false;
    applyCamera();
    GLdouble modelView[16];
    GLdouble projection[16];
    GLint viewport[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLdouble wx, wy, wz;
    if (gluProject(point.x, point.y, point.z, modelView, projection, viewport, &wx, &wy, &wz) ==
        GL_FALSE) {
        return false;
    }
    // Window rows count upward in GL, downward in the mouse position.
    GLdouble ox, oy, oz;
    if (gluUnProject(static_cast<GLdouble>(x),
                     static_cast<GLdouble>(windowRowFromCursor(viewport[3], y)), wz, modelView,
                     projection, viewport, &ox, &oy, &oz) == GL_FALSE) {
        return false;
    }
    moved = geo::Vertex(ox, oy, oz);
    return true;
}
