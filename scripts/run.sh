#!/usr/bin/env bash
# Installs what is missing, builds, and runs Dazirudo on a bundled example model.
# Usage: scripts/run.sh [BLOBFILE]   (default: examples/figure.dat)
set -euo pipefail
cd "$(dirname "$0")/.."
model=${1:-examples/figure.dat}
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
out=out
mkdir -p "$out"
echo "Running dazirudo-batch on $model; floaters.dat and blobs.dat go to $out/" >&2
build/dazirudo-batch --seed 1 --out-dir "$out" "$model"
