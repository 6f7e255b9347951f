#!/usr/bin/env bash
# Processor time of the interactive program at rest: starts it on its own virtual X display
# on MODEL, waits for the finished mesh, then reads the user and system time of the
# program (and, under Wine, of the whole Wine process tree of a private prefix: wineserver
# and Wine's services) over SECONDS seconds.
#
#   bench/idle-cpu.sh native|windows PROGRAM [MODEL] [SECONDS]
#
# PROGRAM is build/dazirudo or build-win/dazirudo.exe (any build, to compare two). Windows
# runs use WINEPREFIX when set, else ~/.wine; a private prefix keeps other Wine programs
# out of the figures. A timed tool run, not a test: the figures go to standard output.
set -u
flavour=${1:?native or windows}
program=$(realpath "${2:?program}")
root=$(cd "$(dirname "$0")/.." && pwd)
model=$(realpath "${3:-$root/examples/sphere.dat}")
seconds=${4:-10}
work=$(mktemp -d /tmp/dazirudo-idle.XXXXXX)
xvfbPid=
appPid=
cleanup() {
    [ -n "$appPid" ] && kill "$appPid" 2>/dev/null && wait "$appPid" 2>/dev/null
    [ -n "$xvfbPid" ] && kill "$xvfbPid" 2>/dev/null && wait "$xvfbPid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 +extension GLX -nolisten tcp 3>"$work/display" \
    >/dev/null 2>&1 &
xvfbPid=$!
for _ in $(seq 150); do grep -q '^[0-9]' "$work/display" 2>/dev/null && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")"
cp "$model" "$work/model.dat"
if [ "$flavour" = windows ]; then
    (cd "$work" && WINEDEBUG=-all exec wine "$program" model.dat >/dev/null 2>&1) &
else
    (cd "$work" && exec "$program" model.dat >/dev/null 2>&1) &
fi
appPid=$!
window=
for _ in $(seq 1800); do
    window=$(xdotool search --name 'System stopped$' 2>/dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "the mesh was not finished in three minutes" >&2; exit 1; }
sleep 2  # the frames after the hand-off

pids=$appPid
if [ "$flavour" = windows ]; then
    for p in $(ps -eo pid,args | awk '/wineserver|C:.windows.system32/ && !/awk/ { print $1 }'); do
        # Only this prefix's: its processes carry its name in their environment, or, for
        # the default prefix, no WINEPREFIX at all.
        env=$(tr '\000' '\n' <"/proc/$p/environ" 2>/dev/null | grep '^WINEPREFIX=')
        [ "${env#WINEPREFIX=}" = "${WINEPREFIX:-}" ] && pids="$pids $p"
    done
fi
ticks() { sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | awk '{ print $12 + $13 }'; }
hz=$(getconf CLK_TCK)
declare -A first
for p in $pids; do first[$p]=$(ticks "$p"); done
start=$(date +%s.%N)
sleep "$seconds"
wall=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
total=0
for p in $pids; do
    used=$(($(ticks "$p") - ${first[$p]}))
    total=$((total + used))
    printf '  %6.2f s  %s\n' "$(awk -v t=$used -v hz="$hz" 'BEGIN { print t / hz }')" \
        "$(tr '\000' ' ' <"/proc/$p/cmdline" | cut -c1-60)"
done
awk -v t=$total -v hz="$hz" -v w="$wall" \
    'BEGIN { printf "processor time at rest: %.2f s over %s s (%.0f%% of a core)\n", t / hz, w, 100 * t / hz / w }'
xdotool key --window "$window" Escape 2>/dev/null
