#!/usr/bin/python3
"""Checks a triangle mesh file on its own, without the program's code: is it closed, manifold
and consistently oriented, and do its faces agree with the vertex normals?

    bench/meshcheck.py [--json] FILE.obj|FILE.ply ...

Reads Wavefront OBJ (v, vn, f with v, v/t, v//n or v/t/n corners) and ASCII PLY (vertex x y z
with optional nx ny nz, face vertex_indices lists). Prints one line per file; exit status 0
when every file is closed, 1 when some file is not, 2 when a file cannot be read.

It also reports edge_length_variation, the standard deviation of the edge lengths over their
mean (how even the triangles' sizes are), and longest_side_ratio: the largest ratio of a side's length to the local
spacing at its ends (the median length of the sides meeting at a vertex, the smaller of the
two ends), which is how the program tells a side that bridges empty space.

A file is closed when it has at least one face, no face repeats a corner, every edge borders
exactly two faces, every vertex has one fan of faces around it, no edge is used twice in the
same direction, no face is wound against the mean of its corner normals, and every
component encloses a positive volume (its faces wind outward).
"""

import json
import math
import sys


class BadFile(Exception):
    pass


def read_obj(path):
    positions, normals, faces = [], [], []
    with open(path) as f:
        for number, line in enumerate(f, 1):
            words = line.split()
            if not words or words[0].startswith('#'):
                continue
            tag = words[0]
            if tag in ('v', 'vn'):
                if len(words) < 4:
                    raise BadFile('line %d: %s needs three numbers' % (number, tag))
                (positions if tag == 'v' else normals).append(tuple(float(w) for w in words[1:4]))
            elif tag == 'f':
                corners = []
                for word in words[1:]:
                    index = int(word.split('/')[0])
                    if index < 0:
                        index += len(positions) + 1
                    corners.append(index - 1)
                if len(corners) != 3:
                    raise BadFile('line %d: a face with %d corners' % (number, len(corners)))
                faces.append(tuple(corners))
            elif tag in ('vt', 'o', 'g', 's', 'usemtl', 'mtllib'):
                continue
            else:
                raise BadFile('line %d: unknown tag %r' % (number, tag))
    # The normals are used only when there is exactly one per vertex.
    return positions, normals if len(normals) == len(positions) else [], faces


def read_ply(path):
    with open(path) as f:
        lines = iter(f.read().splitlines())
    if next(lines, None) != 'ply' or next(lines, None) != 'format ascii 1.0':
        raise BadFile('not an ASCII PLY file')
    elements = []  # [name, count, [property names]]
    for line in lines:
        words = line.split()
        if not words or words[0] == 'comment':
            continue
        if words[0] == 'end_header':
            break
        if words[0] == 'element':
            elements.append([words[1], int(words[2]), []])
        elif words[0] == 'property':
            elements[-1][2].append(words[-1])
        else:
            raise BadFile('bad header line %r' % line)
    positions, normals, faces = [], [], []
    for name, count, properties in elements:
        for _ in range(count):
            words = next(lines, None)
            if words is None:
                raise BadFile('file ends inside element %s' % name)
            words = words.split()
            if name == 'vertex':
                value = dict(zip(properties, (float(w) for w in words)))
                positions.append((value['x'], value['y'], value['z']))
                if 'nx' in value:
                    normals.append((value['nx'], value['ny'], value['nz']))
            elif name == 'face':
                corners = [int(w) for w in words[1:1 + int(words[0])]]
                if len(corners) != 3:
                    raise BadFile('a face with %d corners' % len(corners))
                faces.append(tuple(corners))
    return positions, normals if len(normals) == len(positions) else [], faces


def sub(p, q):
    return (p[0] - q[0], p[1] - q[1], p[2] - q[2])


def cross(u, v):
    return (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])


def dot(u, v):
    return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]


def angle(u, v):
    lengths = math.sqrt(dot(u, u) * dot(v, v))
    if lengths == 0.0:
        return 0.0
    return math.degrees(math.acos(max(-1.0, min(1.0, dot(u, v) / lengths))))


def check(positions, normals, faces):
    n = len(positions)
    report = {'vertices': n, 'faces': len(faces)}
    for face in faces:
        for v in face:
            if not 0 <= v < n:
                raise BadFile('a face refers to vertex %d of %d' % (v, n))
    degenerate = sum(1 for a, b, c in faces if a == b or b == c or a == c)

    directed = {}
    undirected = {}
    for f, (a, b, c) in enumerate(faces):
        for p, q in ((a, b), (b, c), (c, a)):
            directed[(p, q)] = directed.get((p, q), 0) + 1
            undirected.setdefault((min(p, q), max(p, q)), []).append(f)
    boundary = sum(1 for fs in undirected.values() if len(fs) == 1)
    nonmanifold_edges = sum(1 for fs in undirected.values() if len(fs) > 2)
    # Each undirected edge counts once when some direction of it is used more than once.
    same_direction = sum(1 for (p, q) in undirected
                         if directed.get((p, q), 0) > 1 or directed.get((q, p), 0) > 1)

    # Fans: the faces around a vertex, joined where they share an edge through it.
    around = [[] for _ in range(n)]
    for f, face in enumerate(faces):
        for v in set(face):
            around[v].append(f)
    nonmanifold_vertices = 0
    for v in range(n):
        fs = around[v]
        if not fs:
            continue
        parent = {f: f for f in fs}

        def root(f):
            while parent[f] != f:
                parent[f] = parent[parent[f]]
                f = parent[f]
            return f

        for f in fs:
            for w in faces[f]:
                if w == v:
                    continue
                for g in undirected[(min(v, w), max(v, w))]:
                    parent[root(g)] = root(f)
        if len({root(f) for f in fs}) > 1:
            nonmanifold_vertices += 1

    against = 0
    if normals:
        for a, b, c in faces:
            k = cross(sub(positions[b], positions[a]), sub(positions[c], positions[a]))
            m = tuple(normals[a][i] + normals[b][i] + normals[c][i] for i in range(3))
            if dot(k, m) < 0.0:
                against += 1

    # Components over the faces, and the volume each encloses (divergence theorem).
    parent = list(range(len(faces)))

    def face_root(f):
        while parent[f] != f:
            parent[f] = parent[parent[f]]
            f = parent[f]
        return f

    for fs in undirected.values():
        for g in fs[1:]:
            parent[face_root(g)] = face_root(fs[0])
    volume = {}
    for f, (a, b, c) in enumerate(faces):
        r = face_root(f)
        volume[r] = volume.get(r, 0.0) + dot(positions[a], cross(positions[b], positions[c])) / 6
    inward = sum(1 for v in volume.values() if v <= 0.0)

    lengths = {}
    edge_lengths = []
    for (p, q) in undirected:
        length = math.dist(positions[p], positions[q])
        edge_lengths.append(length)
        lengths.setdefault(p, []).append(length)
        lengths.setdefault(q, []).append(length)
    mean_length = sum(edge_lengths) / len(edge_lengths) if edge_lengths else 0.0
    variation = 0.0
    if mean_length > 0.0:
        variation = math.sqrt(sum((length - mean_length) ** 2 for length in edge_lengths) /
                              len(edge_lengths)) / mean_length
    spacing = {v: sorted(ls)[len(ls) // 2] for v, ls in lengths.items()}
    ratio = 0.0
    for (p, q) in undirected:
        local = min(spacing[p], spacing[q])
        if local > 0.0:
            ratio = max(ratio, math.dist(positions[p], positions[q]) / local)

    used = {v for face in faces for v in face}
    min_angle = 180.0
    for a, b, c in faces:
        for p, q, r in ((a, b, c), (b, c, a), (c, a, b)):
            min_angle = min(min_angle, angle(sub(positions[q], positions[p]),
                                             sub(positions[r], positions[p])))

    report.update({
        'degenerate_faces': degenerate,
        'boundary_edges': boundary,
        'nonmanifold_edges': nonmanifold_edges,
        'nonmanifold_vertices': nonmanifold_vertices,
        'same_direction_edges': same_direction,
        'faces_against_normals': against,
        'components': len(volume),
        'inward_components': inward,
        'euler_characteristic': len(used) - len(undirected) + len(faces),
        'min_angle_deg': round(min_angle, 4) if faces else 0.0,
        'edge_length_variation': round(variation, 4),
        'longest_side_ratio': round(ratio, 4),
    })
    report['closed'] = bool(faces) and all(
        report[key] == 0 for key in ('degenerate_faces', 'boundary_edges', 'nonmanifold_edges',
                                     'nonmanifold_vertices', 'same_direction_edges',
                                     'faces_against_normals', 'inward_components'))
    return report


def main(argv):
    as_json = '--json' in argv
    paths = [a for a in argv if a != '--json']
    if not paths:
        sys.stderr.write(__doc__)
        return 2
    status = 0
    for path in paths:
        try:
            reader = read_ply if path.lower().endswith('.ply') else read_obj
            report = check(*reader(path))
        except (OSError, ValueError, KeyError, IndexError, BadFile) as error:
            sys.stderr.write('%s: %s\n' % (path, error))
            return 2
        if as_json:
            print(json.dumps(dict(file=path, **report)))
        else:
            print('%s: %s' % (path, ' '.join('%s=%s' % item for item in report.items())))
        if not report['closed']:
            status = 1
    return status


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
