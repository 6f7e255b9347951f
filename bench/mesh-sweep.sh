#!/usr/bin/env bash
# Meshes every example model at several densities and seeds with the batch program and
# counts the meshes that are not closed (a boundary edge, a non-manifold edge or vertex, or
# an orientation error), the smallest triangle angle over all runs, and the time taken.
# Runs that end without a stable sample (exit status 3) are counted apart: they have no mesh.
#
#   bench/mesh-sweep.sh [--batch PROGRAM] [--seeds FIRST-LAST] [--densities "2 1 0.6"]
#                       [--models "sphere chain ..."] [--jobs N] [--check-every K]
#                       [--results FILE] [--examples DIR]
#
# Defaults: build/dazirudo-batch of this tree, seeds 1-100, densities 2 1 0.6, every model
# in examples/ (or in DIR, for models that are not in the repository), 2 runs at a time.
# Every K-th run (default 10; 0 for none) also has its mesh file read back by
# bench/meshcheck.py, an independent reader, alternately as .obj and .ply; a run the
# checker judges otherwise than the program is listed and counted as a mismatch.
# A program that does not report "closed" itself is judged by the checker on every run.
# --results keeps one line per run: model density seed status closed min-angle check seconds
# and the md5 sum of the mesh file, so two programs' meshes can be compared run by run.
# A hard case for the mend (docs/mesh.md): --seeds 1-5 --densities 0.3 --models two-blobs,
# a neck still being sampled at hand-off, with split floaters and bare patches.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
batch=$root/build/dazirudo-batch
first=1
last=100
densities="2 1 0.6"
models=""
jobs=2
check_every=10
results=""
examples=$root/examples

while [ $# -gt 0 ]; do
    case $1 in
    --batch) batch=$2; shift 2 ;;
    --seeds) first=${2%-*}; last=${2#*-}; shift 2 ;;
    --densities) densities=$2; shift 2 ;;
    --models) models=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --check-every) check_every=$2; shift 2 ;;
    --results) results=$2; shift 2 ;;
    --examples) examples=$(cd "$2" && pwd); shift 2 ;;
    -h | --help) sed -n '2,18p' "$0"; exit 0 ;;
    *) echo "mesh-sweep: unknown argument '$1' (see --help)" >&2; exit 2 ;;
    esac
done
if [ -z "$models" ]; then
    models=$(cd "$examples" && ls *.dat | sed 's/\.dat$//' | tr '\n' ' ')
fi
if [ ! -x "$batch" ]; then
    echo "mesh-sweep: no batch program at $batch (build it, or name it with --batch)" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/mesh-sweep.XXXXXX")
trap 'rm -rf "$work"' EXIT
export batch root work check_every examples

# One run: prints "model density seed status closed min_angle checker triangulation_s md5".
# closed is 1/0, or - without a stable sample; checker is ok, bad (it disagrees with the
# program) or - when the run was not checked.
run_one() {
    local model=$1 density=$2 seed=$3 index=$4
    local ext=obj
    [ $((seed % 2)) -eq 0 ] && ext=ply
    local mesh=$work/$model-$density-$seed.$ext
    local out status=0
    out=$("$batch" --seed "$seed" --density "$density" --no-files --quiet --mesh "$mesh" \
        "$examples/$model.dat" 2>/dev/null) || status=$?
    field() { sed -n "s/.*\"$1\": \([^,}]*\).*/\1/p" <<<"$out"; }
    local closed angle seconds checked=- verdict
    closed=$(field closed)
    angle=$(field min_angle_deg)
    seconds=$(field seconds_triangulation)
    local check=0
    if [ "$check_every" -gt 0 ] && [ $((index % check_every)) -eq 0 ]; then check=1; fi
    if [ -z "$closed" ]; then check=1; fi
    if [ "$status" -ne 3 ] && [ "$check" -eq 1 ]; then
        verdict=false
        python3 "$root/bench/meshcheck.py" "$mesh" >"$mesh.check" 2>&1 && verdict=true
        if [ -z "$closed" ]; then
            closed=$verdict
        elif [ "$closed" = "$verdict" ]; then
            checked=ok
        else
            checked=bad
        fi
    fi
    local sum=-
    [ -f "$mesh" ] && sum=$(md5sum <"$mesh" | cut -c1-32)
    rm -f "$mesh" "$mesh.check"
    [ "$status" -eq 3 ] && closed=-
    case $closed in true) closed=1 ;; false) closed=0 ;; esac
    echo "$model $density $seed $status $closed ${angle:-0} $checked ${seconds:-0} $sum"
}
export -f run_one

start=$(date +%s)
index=0
for model in $models; do
    for density in $densities; do
        for seed in $(seq "$first" "$last"); do
            index=$((index + 1))
            echo "$model $density $seed $index"
        done
    done
done | xargs -P "$jobs" -n 4 bash -c 'run_one "$@"' _ >"$work/results"
end=$(date +%s)
[ -n "$results" ] && sort -k1,1 -k2,2gr -k3,3n "$work/results" >"$results"

sort -k1,1 -k2,2gr -k3,3n "$work/results" | awk -v wall=$((end - start)) '
function row(label, r) {
    printf "%-10s %7s %5d %9d %10d %9d %9.2f %8d\n", label, density[r], runs[r], unstable[r],
        open[r], sliver[r], angle[r], mismatch[r]
}
BEGIN {
    printf "%-10s %7s %5s %9s %10s %9s %9s %8s\n", "model", "density", "runs", "unstable",
        "not-closed", "under-10", "min-angle", "mismatch"
}
{
    key = $1 " " $2
    if (!(key in runs)) { order[++keys] = key; model[key] = $1; density[key] = $2; angle[key] = 180 }
    runs[key]++; total++
    if ($4 == 3) { unstable[key]++; totalUnstable++; next }
    if ($5 == 0) { open[key]++; totalOpen++; bad = bad sprintf("  %s %s seed %s (exit %s)\n", $1, $2, $3, $4) }
    if ($6 < angle[key]) angle[key] = $6
    if ($6 < 10) { sliver[key]++; totalSliver++ }
    if (!seen || $6 < smallest) { smallest = $6; seen = 1 }
    if ($7 == "bad") { mismatch[key]++; totalMismatch++; miss = miss sprintf("  %s %s seed %s\n", $1, $2, $3) }
    if ($7 != "-") checked++
    triangulation += $8
}
END {
    for (i = 1; i <= keys; i++) { k = order[i]; row(model[k], k) }
    printf "total: %d runs, %d without a stable sample, %d not closed, %d with an angle under 10 deg, smallest angle %.2f deg\n",
        total, totalUnstable, totalOpen, totalSliver, smallest
    printf "independent check: %d meshes read back, %d judged otherwise than the program\n",
        checked, totalMismatch
    printf "time: %d s wall, %.2f s of triangulation as the program reports it\n", wall,
        triangulation
    if (bad != "") printf "not closed:\n%s", bad
    if (miss != "") printf "checker disagrees:\n%s", miss
}'
