#!/usr/bin/env bash
# Installs what is missing, builds, and starts Dazirudo on a bundled example model.
# Usage: scripts/run.sh [BLOBFILE]   (default: examples/figure.dat)
# The program writes floaters.dat and blobs.dat into out/ when it ends with Escape.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
model=$(realpath "${1:-examples/figure.dat}")
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
mkdir -p out
cd out
echo "Starting dazirudo on $model (Escape quits; files are written to $root/out/)" >&2
exec "$root/build/dazirudo" "$model"
