// The comparison peer of bench/compare-cgal.sh, never part of the programs: it meshes the
// same blob field with CGAL's implicit surface mesher. bench/meshcheck.py measures its
// mesh and ours alike.
//
//   cgal-mesher BLOBFILE SIZE OUT.obj   mesh with a 30-degree bound on the smallest angle,
//                                       surface Delaunay balls of radius at most SIZE and a
//                                       distance bound of SIZE / 10; prints the seconds
//                                       from reading the file to the mesh in memory
//
// The field is the program's: F(x) = 1/e - sum exp(-|x - c|^2 / R^2) over the blob file's
// lines "R cx cy cz" (other lines are skipped), negative inside.
#include <CGAL/Complex_2_in_triangulation_3.h>
#include <CGAL/IO/facets_in_complex_2_to_triangle_mesh.h>
#include <CGAL/Implicit_surface_3.h>
#include <CGAL/Surface_mesh.h>
#include <CGAL/Surface_mesh_default_triangulation_3.h>
#include <CGAL/make_surface_mesh.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Triangulation = CGAL::Surface_mesh_default_triangulation_3;
using Complex = CGAL::Complex_2_in_triangulation_3<Triangulation>;
using Traits = Triangulation::Geom_traits;
using Point = Traits::Point_3;
using Sphere = Traits::Sphere_3;

struct Blob {
    double radius, x, y, z;
};

std::vector<Blob> readBlobs(const char* fileName) {
    std::vector<Blob> blobs;
    std::ifstream in(fileName);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("//", 0) == 0) continue;
        std::istringstream fields(line);
        Blob b;
        if (fields >> b.radius >> b.x >> b.y >> b.z) blobs.push_back(b);
    }
    return blobs;
}

struct Field {
    const std::vector<Blob>* blobs;
    double operator()(const Point& p) const {
        double sum = 0.0;
        for (const Blob& b : *blobs) {
            const double dx = p.x() - b.x, dy = p.y() - b.y, dz = p.z() - b.z;
            sum += std::exp(-(dx * dx + dy * dy + dz * dz) / (b.radius * b.radius));
        }
        return 1.0 / std::exp(1.0) - sum;
    }
};

int mesh(const char* blobFile, double size, const char* out) {
    const auto start = std::chrono::steady_clock::now();
    const std::vector<Blob> blobs = readBlobs(blobFile);
    if (blobs.empty()) {
        std::fprintf(stderr, "cgal-mesher: no blobs in %s\n", blobFile);
        return 2;
    }
    const Field field{&blobs};
    // The mesher starts from a point inside: the blob centre deepest in the solid.
    const Blob* deepest = &blobs[0];
    for (const Blob& b : blobs)
        if (field(Point(b.x, b.y, b.z)) < field(Point(deepest->x, deepest->y, deepest->z)))
            deepest = &b;
    const Point centre(deepest->x, deepest->y, deepest->z);
    // Beyond k radii from every centre the blobs sum to less than 1/e when
    // N exp(-k^2) < 1/e, so the surface lies within k radii of some centre. k is taken
    // for twice the blobs: the mesher needs the bounding sphere clear of the surface (a
    // lone blob's surface is the sphere of exactly one radius).
    const double k = std::sqrt(std::log(2.0 * blobs.size() * std::exp(1.0)));
    double reach = 0.0;
    for (const Blob& b : blobs)
        reach = std::max(reach, std::sqrt(CGAL::squared_distance(centre, Point(b.x, b.y, b.z))) +
                                    k * b.radius);
    // Surface points to a millionth of the sphere's radius (the default thousandth lets two
    // nearby segments meet the surface at one point, which the mesher refuses), closer to
    // the surface than our floaters (|F| below 1e-3) in either case.
    CGAL::Implicit_surface_3<Traits, Field> surface(field, Sphere(centre, reach * reach), 1e-6);
    CGAL::Surface_mesh_default_criteria_3<Triangulation> criteria(30.0, size, size / 10.0);
    Triangulation triangulation;
    Complex complex(triangulation);
    CGAL::make_surface_mesh(complex, surface, criteria, CGAL::Manifold_tag());
    CGAL::Surface_mesh<Point> result;
    CGAL::facets_in_complex_2_to_triangle_mesh(complex, result);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ofstream obj(out);
    obj.precision(17);
    for (auto v : result.vertices()) {
        const Point& p = result.point(v);
        obj << "v " << p.x() << ' ' << p.y() << ' ' << p.z() << '\n';
    }
    for (auto f : result.faces()) {
        obj << 'f';
        for (auto v : CGAL::vertices_around_face(result.halfedge(f), result))
            obj << ' ' << (static_cast<int>(v) + 1);
        obj << '\n';
    }
    std::printf("%.3f\n", seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::atof(argv[2]) > 0.0) return mesh(argv[1], std::atof(argv[2]), argv[3]);
    std::fprintf(stderr, "usage: cgal-mesher BLOBFILE SIZE OUT.obj\n");
    return 2;
}
