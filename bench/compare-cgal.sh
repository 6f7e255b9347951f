#!/bin/bash
# Time from a blob file to a closed mesh, side by side: dazirudo-batch (one thread, and all
# of DAZIRUDO_THREADS=2) against a small mesher of the same field built on CGAL's implicit
# surface mesher (bench/peer/CgalMesher.cpp: 30-degree angle bound, its size bound chosen
# so that its mesh has about our vertex count). The figure and sphere examples at about
# 2,000, 8,000 and 30,000 vertices; one process at a time. bench/meshcheck.py measures
# every mesh the same way: vertices, smallest angle, edge-length variation, closed or not.
#
#   bench/compare-cgal.sh [--build DIR] [--out DIR] [--seed N] [--models "figure sphere"]
#                         [--sizes "2000 8000 30000"]
#
# DIR defaults to build (it must hold dazirudo-batch) and build/compare-cgal. CGAL is a
# benchmark peer only: libcgal-dev is installed here with apt-get when it is missing (as
# root), and the peer is built with g++ directly, outside the project's build.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
out=
seed=1
models="figure sphere"
sizes="2000 8000 30000"
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        --seed) seed=$2; shift 2 ;;
        --models) models=$2; shift 2 ;;
        --sizes) sizes=$2; shift 2 ;;
        *) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
    esac
done
out=${out:-$build/compare-cgal}
batch=$build/dazirudo-batch
if [ ! -x "$batch" ]; then
    echo "compare-cgal: no $batch; build the program first" >&2
    exit 2
fi
mkdir -p "$out" || exit 1

if ! dpkg-query -W -f='${Status}' libcgal-dev 2>/dev/null | grep -q 'install ok installed'; then
    echo "compare-cgal: installing libcgal-dev (the peer's headers)" >&2
    apt-get install -y --no-install-recommends libcgal-dev >&2 || exit 1
fi
peer=$out/cgal-mesher
if [ ! -x "$peer" ] || [ "$root/bench/peer/CgalMesher.cpp" -nt "$peer" ]; then
    echo "compare-cgal: building $peer" >&2
    g++ -std=c++17 -O2 -DNDEBUG -DCGAL_NDEBUG -o "$peer" "$root/bench/peer/CgalMesher.cpp" \
        -lgmp -lmpfr || exit 1
fi

exec /usr/bin/python3 - "$root" "$batch" "$peer" "$out" "$seed" "$models" "$sizes" <<'EOF'
import json
import math
import os
import resource
import subprocess
import sys
import time

root, batch, peer, out, seed, models, sizes = sys.argv[1:]
meshcheck = os.path.join(root, 'bench', 'meshcheck.py')

# Floaters of a stable sample at density d: about 1960 / d^2 on the figure and 3000 / d^2
# on the sphere (bench/StepBench.cpp); the mesh has one vertex per floater.
per_unit_density = {'figure': 1960.0, 'sphere': 3000.0}


def timed(command, env=None):
    """Runs command; its result, wall-clock seconds and CPU seconds (user and system, all
    threads): on a shared machine the CPU seconds show the work when the wall clock waits."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    result = subprocess.run(command, capture_output=True, text=True, env=env)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return result, wall, cpu


def check(mesh):
    result = subprocess.run([sys.executable, meshcheck, '--json', mesh], capture_output=True,
                            text=True)
    if result.returncode == 2 or not result.stdout:
        return None
    return json.loads(result.stdout)


def ours(model, target, threads):
    density = math.sqrt(per_unit_density[model] / target)
    mesh = os.path.join(out, '%s-%d-ours-%dt.obj' % (model, target, threads))
    if os.path.exists(mesh):
        os.remove(mesh)
    env = dict(os.environ, DAZIRUDO_THREADS=str(threads))
    run, wall, cpu = timed([batch, '--seed', seed, '--density', '%.4f' % density, '--no-files',
                            '--quiet', '--mesh', mesh,
                            os.path.join(root, 'examples', model + '.dat')], env)
    summary = json.loads(run.stdout) if run.stdout.strip() else {}
    seconds = summary.get('seconds_simulation', 0.0) + summary.get('seconds_triangulation', 0.0)
    note = 'density %.4f, %s steps, %s' % (density, summary.get('steps'), summary.get('outcome'))
    return seconds, wall, cpu, check(mesh) if run.returncode in (0, 4) else None, note


def cgal(model, target):
    # The vertex count goes with 1 / size^2: start from the sizes that gave about 1,900
    # vertices on the figure and 1,400 on the sphere, and correct until the count is within
    # 10 % of the target.
    size = (3.0 * math.sqrt(1880.0 / target) if model == 'figure' else
            2.4 * math.sqrt(1375.0 / target))
    mesh = os.path.join(out, '%s-%d-cgal.obj' % (model, target))
    for attempt in range(5):
        run, wall, cpu = timed([peer, os.path.join(root, 'examples', model + '.dat'),
                                '%.5f' % size, mesh])
        if run.returncode != 0:
            return 0.0, wall, cpu, None, 'failed: ' + run.stderr.strip()
        report = check(mesh)
        if report is None or abs(report['vertices'] - target) <= 0.1 * target:
            break
        size *= math.sqrt(report['vertices'] / target)
    return float(run.stdout.split()[0]), wall, cpu, report, 'size %.4f' % size


rows = []
for model in models.split():
    for target in (int(s) for s in sizes.split()):
        for threads in (1, 2):
            rows.append((model, target, 'ours, %d thread%s' % (threads, 's' * (threads > 1))) +
                        ours(model, target, threads))
        # The peer meets the count of our mesh, so that the meshes compared are alike.
        made = rows[-1][6]['vertices'] if rows[-1][6] else target
        rows.append((model, target, 'CGAL surface mesher') + cgal(model, made))
        for row in rows[-3:]:
            print('%s %d %s: %.2f s; %s' % (row[:4] + (row[7],)), file=sys.stderr)

print('| model, about | program | vertices | seconds | wall seconds | CPU seconds | '
      'smallest angle | edge-length variation | closed | run |')
print('|---|---|---|---|---|---|---|---|---|---|')
for model, target, name, seconds, wall, cpu, report, note in rows:
    if report is None:
        print('| %s, %d | %s | no mesh | %.2f | %.2f | %.2f | | | no | %s |' %
              (model, target, name, seconds, wall, cpu, note))
        continue
    print('| %s, %d | %s | %d | %.2f | %.2f | %.2f | %.1f | %.3f | %s | %s |' %
          (model, target, name, report['vertices'], seconds, wall, cpu, report['min_angle_deg'],
           report['edge_length_variation'], 'yes' if report['closed'] else 'no', note))
print('\nseconds: from reading the blob file to the closed mesh in memory, as each program '
      'reports it (ours: seconds_simulation + seconds_triangulation); wall and CPU seconds: '
      'the whole process, writing the mesh included.')
print('load average at the end: %.2f %.2f %.2f' % os.getloadavg())
EOF
