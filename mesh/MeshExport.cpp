#include "mesh/MeshExport.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

#include "mesh/MeshCheck.h"
#include "mesh/Reconstruct.h"
#include "model/SafeWrite.h"

namespace {

std::string lowerExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot);
    for (char& ch : extension) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return extension;
}

// The mesh as the files see it: the used nodes in node order, and each triangle's corners
// as 0-based indices into that vertex list.
struct Indexed {
    std::vector<ReconNode*> vertices;
    std::vector<MeshFace> faces;
};

bool indexMesh(Reconstruct& mesh, Indexed* out) {
    const std::vector<std::array<int, 3>>& corners = mesh.triangleNodes();
    if (static_cast<int>(corners.size()) != mesh.triangleCount()) return false;
    std::vector<ReconNode*> nodes;
    nodes.reserve(mesh.nodeCount());
    for (ReconNode* n = mesh.firstNode(); n; n = mesh.nextNode()) nodes.push_back(n);
    std::vector<int> vertexOf(nodes.size(), -1);
    for (const std::array<int, 3>& t : corners)
        for (int order : t) {
            if (order < 0 || order >= static_cast<int>(nodes.size())) return false;
            vertexOf[order] = 0;
        }
    for (std::size_t order = 0; order < nodes.size(); ++order) {
        if (vertexOf[order] < 0) continue;
        vertexOf[order] = static_cast<int>(out->vertices.size());
        out->vertices.push_back(nodes[order]);
    }
    for (const std::array<int, 3>& t : corners)
        out->faces.push_back({vertexOf[t[0]], vertexOf[t[1]], vertexOf[t[2]]});
    return true;
}

// Nine significant digits: finer than any sample spacing, and the files stay compact.
bool writeObj(std::FILE* file, const Indexed& mesh, double toModel) {
    bool ok = std::fprintf(file, "# Dazirudo mesh: %d vertices, %d triangles\n",
                           static_cast<int>(mesh.vertices.size()),
                           static_cast<int>(mesh.faces.size())) >= 0;
    for (const ReconNode* n : mesh.vertices)
        ok = ok && std::fprintf(file, "v %.9g %.9g %.9g\n", n->position.x * toModel,
                                n->position.y * toModel, n->position.z * toModel) >= 0;
    for (const ReconNode* n : mesh.vertices)
        ok = ok &&
             std::fprintf(file, "vn %.9g %.9g %.9g\n", n->normal.x, n->normal.y, n->normal.z) >= 0;
    for (const std::array<int, 3>& f : mesh.faces)
        ok = ok && std::fprintf(file, "f %d//%d %d//%d %d//%d\n", f[0] + 1, f[0] + 1, f[1] + 1,
                                f[1] + 1, f[2] + 1, f[2] + 1) >= 0;
    return ok;
}

bool writePly(std::FILE* file, const Indexed& mesh, double toModel) {
    bool ok = std::fprintf(file,
                           "ply\nformat ascii 1.0\ncomment Dazirudo mesh\n"
                           "element vertex %d\nproperty double x\nproperty double y\n"
                           "property double z\nproperty double nx\nproperty double ny\n"
                           "property double nz\nelement face %d\n"
                           "property list uchar int vertex_indices\nend_header\n",
                           static_cast<int>(mesh.vertices.size()),
                           static_cast<int>(mesh.faces.size())) >= 0;
    for (const ReconNode* n : mesh.vertices)
        ok = ok &&
             std::fprintf(file, "%.9g %.9g %.9g %.9g %.9g %.9g\n", n->position.x * toModel,
                          n->position.y * toModel, n->position.z * toModel, n->normal.x,
                          n->normal.y, n->normal.z) >= 0;
    for (const std::array<int, 3>& f : mesh.faces)
        ok = ok && std::fprintf(file, "3 %d %d %d\n", f[0], f[1], f[2]) >= 0;
    return ok;
}

}  // namespace

MeshQuality measureMesh(Reconstruct& mesh, const std::function<double(const geo::Vertex&)>& field) {
    MeshQuality quality;
    Indexed indexed;
    if (!indexMesh(mesh, &indexed)) return quality;

    std::vector<geo::Vertex> positions, normals;
    positions.reserve(indexed.vertices.size());
    normals.reserve(indexed.vertices.size());
    for (const ReconNode* n : indexed.vertices) {
        positions.push_back(n->position);
        normals.push_back(n->normal);
    }
    const MeshSoundness s = checkMesh(positions, normals, indexed.faces);
    quality.boundaryEdges = s.boundaryEdges;
    quality.nonmanifoldEdges = s.nonmanifoldEdges;
    quality.nonmanifoldVertices = s.nonmanifoldVertices;
    quality.orientationErrors = s.orientationErrors;
    quality.components = s.components;
    quality.eulerCharacteristic = s.eulerCharacteristic;
    quality.closed = s.closed;
    quality.minAngleDeg = s.minAngleDeg;

    if (field)
        for (const ReconNode* n : indexed.vertices)
            quality.maxAbsField = std::max(quality.maxAbsField, std::fabs(field(n->position)));
    return quality;
}

std::string meshSummaryJson(const MeshQuality& q) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"boundary_edges\": %d, \"nonmanifold_edges\": %d, "
                  "\"nonmanifold_vertices\": %d, \"orientation_errors\": %d, "
                  "\"components\": %d, \"euler_characteristic\": %d, \"closed\": %s, "
                  "\"min_angle_deg\": %.6g, \"max_abs_field\": %.6g}",
                  q.boundaryEdges, q.nonmanifoldEdges, q.nonmanifoldVertices, q.orientationErrors,
                  q.components, q.eulerCharacteristic, q.closed ? "true" : "false", q.minAngleDeg,
                  q.maxAbsField);
    return text;
}

bool writeMesh(Reconstruct& mesh, const std::string& path, std::string* error,
               double unitScale) {
    const bool obj = lowerExtension(path) == ".obj";
    if (!isMeshFileName(path)) {
        setError(error, path + ": unknown mesh format; the file name must end in .obj or .ply");
        return false;
    }
    Indexed indexed;
    if (!indexMesh(mesh, &indexed)) {
        setError(error, path + ": the mesh no longer matches its nodes; triangulate again");
        return false;
    }
    return writeFileSafely(
        path,
        [&](std::FILE* file) {
            // A power of two: the model's units come back exactly.
            const double toModel = 1.0 / unitScale;
            return obj ? writeObj(file, indexed, toModel) : writePly(file, indexed, toModel);
        },
        error);
}

bool isMeshFileName(const std::string& path) {
    const std::string extension = lowerExtension(path);
    return extension == ".obj" || extension == ".ply";
}
