// Writing a finished mesh to a file, and the figures that tell how sound it is. Vertices are
// the nodes that some triangle uses, in node order, each once, with its normal; faces keep
// the stored winding. The field is passed in as a function so this stays free of the model.
#pragma once

#include <functional>
#include <string>

#include "geo/Vertex.h"

class Reconstruct;

struct MeshQuality {
    int boundaryEdges = 0;        // undirected edges bordered by exactly one triangle
    int nonmanifoldEdges = 0;     // undirected edges bordered by more than two
    int nonmanifoldVertices = 0;  // vertices whose triangles form more than one fan
    // Edges used twice in the same direction, plus triangles wound against the corner normals.
    int orientationErrors = 0;
    int components = 0;           // pieces joined through shared vertices
    int eulerCharacteristic = 0;  // vertices - edges + triangles; 2 per piece for a sphere
    bool closed = false;          // some triangle, and none of the defects above
    double minAngleDeg = 0.0;     // smallest corner angle of any triangle; 0 without triangles
    double maxAbsField = 0.0;     // largest |F| at a mesh vertex; 0 without vertices or field
};

// Edges are told apart by node identity and counted from the triangles themselves (the
// records' use counts stop at 2 and cannot show a third triangle); the rules are those of
// checkMesh (MeshCheck.h).
MeshQuality measureMesh(Reconstruct& mesh,
                        const std::function<double(const geo::Vertex&)>& field = nullptr);

// The figures as the JSON object of the batch program's summary, fields in a fixed order:
// boundary_edges, nonmanifold_edges, nonmanifold_vertices, orientation_errors, components,
// euler_characteristic, closed, min_angle_deg, max_abs_field.
std::string meshSummaryJson(const MeshQuality& quality);

// Writes `.obj` (v, vn, f a//a b//b c//c, 1-based) or ASCII `.ply` (x y z nx ny nz, face
// lists), chosen by the extension in any letter case, through a temporary file renamed over
// `path`. False with `error` set for another extension, a mesh whose nodes were replaced
// since it was made, or a failed write. Positions are divided by `unitScale`, the working
// units per model unit of the system the mesh samples, so the file is in the model's units.
bool writeMesh(Reconstruct& mesh, const std::string& path, std::string* error = nullptr,
               double unitScale = 1.0);
// Whether writeMesh takes the name: it ends in .obj or .ply, in any letter case, after its
// last slash or backslash.
bool isMeshFileName(const std::string& path);
