#!/usr/bin/env bash
# Fresh samples across scales, densities and seeds: does every run reach a stable sample,
# with a floater count that depends on neither the seed nor the model's units, and that
# follows the density? One dazirudo-batch run per row, then a summary per group.
#
#   bench/robustness.sh [--batch PROGRAM] [--quick] [--jobs N] [--max-steps N]
#                       [--matrix scale|density|both] [--models "sphere figure ..."]
#                       [--scaled "figure@0.01 figure@100"]
#
# The scale matrix samples a sphere of radius 0.01 to 10,000 and every example scaled by
# 0.01 to 100, at densities 2 and 1 (seed 1), and compares each count with the one at
# scale 1. The density matrix samples every example, and the figure scaled by 0.01 and
# 100, at densities 4 down to 0.3 with seeds 1 to 10, and reports for each model and
# density the median count, the largest deviation from it, and count times density
# squared relative to the model's mean. --quick takes 3 seeds and fewer densities.
# A row reads: model, scale, density, seed, outcome, steps, floaters, closed (when the
# batch program reports it), seconds.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
batch=$root/build/dazirudo-batch
jobs=2
maxSteps=5000
matrix=both
quick=
models="sphere two-blobs chain ring figure"
scaledModels="figure@0.01 figure@100"
while [ $# -gt 0 ]; do
    case $1 in
        --batch) batch=$2; shift ;;
        --jobs) jobs=$2; shift ;;
        --max-steps) maxSteps=$2; shift ;;
        --matrix) matrix=$2; shift ;;
        --models) models=$2; shift ;;
        --scaled) scaledModels=$2; shift ;;
        --quick) quick=1 ;;
        *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done
if [ ! -x "$batch" ]; then
    echo "no batch program at $batch (build it, or name it with --batch)" >&2
    exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# scaled MODEL FACTOR: the example with every radius and coordinate multiplied, written
# with five decimals as the program writes blob files. Prints the file name.
scaled() {
    local out=$work/$1@$2.dat
    if [ ! -f "$out" ]; then
        awk -v f="$2" '/^\/\// { print; next }
            NF > 0 { line = ""; for (i = 1; i <= NF; ++i) line = line sprintf("  %.5f", $i * f); print line }' \
            "$root/examples/$1.dat" >"$out"
    fi
    echo "$out"
}
sphere() {  # sphere RADIUS: one blob at the origin
    local out=$work/sphere-r$1.dat
    printf '  %.5f  0.00000  0.00000  0.00000\n' "$1" >"$out"
    echo "$out"
}

# One run: NAME SCALE DENSITY SEED FILE -> one row.
run() {
    local name=$1 scale=$2 density=$3 seed=$4 file=$5 summary start end
    start=$(date +%s.%N)
    summary=$("$batch" --seed "$seed" --density "$density" --max-steps "$maxSteps" --no-files \
        --quiet --mesh "$work/mesh-$$-$RANDOM.obj" "$file" 2>/dev/null) || true
    end=$(date +%s.%N)
    field() { sed -n "s/.*\"$1\": \([^,}]*\).*/\1/p" <<<"$summary" | head -1; }
    local outcome
    outcome=$(field outcome | tr -d '"')
    [ -n "$outcome" ] || outcome=$([ "$(field stable)" = true ] && echo stable || echo step_limit)
    local closed
    closed=$(field closed)
    printf '%-10s %8s %7s %4s %-10s %6s %8s %6s %7.1f\n' "$name" "$scale" "$density" "$seed" \
        "$outcome" "$(field steps)" "$(field floaters)" "${closed:--}" \
        "$(echo "$end - $start" | bc)"
}
export -f run
export batch maxSteps work

jobsFile=$work/jobs
: >"$jobsFile"
if [ "$matrix" != density ]; then
    for r in 0.01 0.1 1 10 30 100 1000 10000; do
        for d in 2 1; do echo "sphere-r $r $d 1 $(sphere $r)" >>"$jobsFile"; done
    done
    for m in $models; do
        for f in 0.01 0.1 1 3 10 100; do
            for d in 2 1; do echo "$m $f $d 1 $(scaled "$m" "$f")" >>"$jobsFile"; done
        done
    done
fi
if [ "$matrix" != scale ]; then
    if [ -n "$quick" ]; then densities="4 2 1 0.6 0.4 0.3"; seeds="1 2 3"; else
        densities="4 3 2 1.5 1 0.8 0.6 0.5 0.4 0.3"; seeds="1 2 3 4 5 6 7 8 9 10"; fi
    for m in $models $scaledModels; do
        name=${m%@*}
        f=1
        [ "$name" != "$m" ] && f=${m#*@}
        for d in $densities; do
            for s in $seeds; do echo "$name $f $d $s $(scaled "$name" "$f")" >>"$jobsFile"; done
        done
    done
fi

rows=$work/rows
printf '%-10s %8s %7s %4s %-10s %6s %8s %6s %7s\n' model scale density seed outcome steps \
    floaters closed seconds
# Largest runs first, so the parallel jobs end together.
sort -k3,3g "$jobsFile" | xargs -P "$jobs" -L 1 bash -c 'run "$@"' _ | tee "$rows"

echo
echo "Per model, scale and density: runs, runs without a stable sample, median count, largest"
echo "deviation from the median over the seeds, the median against the same model at scale 1,"
echo "and count x density^2 against the model's mean over the densities at that scale."
awk '
    function median(key,    m, i, j, t, v) {
        m = n[key]; for (i = 1; i <= m; ++i) v[i] = count[key, i]
        for (i = 1; i <= m; ++i) for (j = i + 1; j <= m; ++j) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
        return m % 2 ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
    }
    { key = $1 SUBSEP $2 SUBSEP $3; if (!(key in n)) keys[++nk] = key
      n[key]++; count[key, n[key]] = $7; if ($5 != "stable") bad[key]++
      if ($6 + 0 > most[key]) most[key] = $6 + 0; total++; if ($5 != "stable") failed++
      if ($8 == "false") open++ }
    END {
        for (i = 1; i <= nk; ++i) { key = keys[i]; med[key] = median(key)
            split(key, k, SUBSEP); ms = k[1] SUBSEP k[2]; law[ms] += med[key] * k[3] * k[3]; laws[ms]++ }
        for (i = 1; i <= nk; ++i) {
            key = keys[i]; split(key, k, SUBSEP); m = med[key]; dev = 0
            for (j = 1; j <= n[key]; ++j) { d = (count[key, j] - m) / (m > 0 ? m : 1); if (d < 0) d = -d; if (d > dev) dev = d }
            ref = k[1] SUBSEP 1 SUBSEP k[3]
            vs = (ref in med && med[ref] > 0) ? sprintf("%5.2f", m / med[ref]) : "    -"
            ms = k[1] SUBSEP k[2]
            lw = laws[ms] > 1 && law[ms] > 0 ? sprintf("%5.2f", m * k[3] * k[3] / (law[ms] / laws[ms])) : "    -"
            printf "%-10s %8s %5s  runs %3d  unstable %3d  median %7d  spread %5.1f%%  vs scale 1 %s  count*d^2 %s  steps<=%d\n", k[1], k[2], k[3], n[key], bad[key], m, 100 * dev, vs, lw, most[key]
        }
        printf "\n%d runs, %d without a stable sample, %d meshes not closed\n", total, failed, open
    }' "$rows" | sort -k1,1 -k2,2g -k3,3gr
