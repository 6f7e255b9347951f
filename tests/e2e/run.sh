#!/usr/bin/env bash
# End-to-end tests of the interactive program: each scenario starts the real dazirudo on
# its own virtual X display in a fresh working folder with the one-blob example model,
# drives it with xdotool like a user, and checks the window title, screenshots and the
# files written at exit.
#
#   tests/e2e/run.sh [native|windows] [SCENARIO...]
#
# native runs build/dazirudo (or $DAZIRUDO_BUILD/dazirudo); windows runs
# build-win/dazirudo.exe (or $DAZIRUDO_BUILD_WIN/dazirudo.exe) under Wine. Every wait polls
# for the state it needs, with a time limit. The last line is "N passed, N failed".
set -uo pipefail

flavour=${1:-native}
shift
only=" $* "  # scenarios to run; all when none is named
root=$(cd "$(dirname "$0")/../.." && pwd)
case $flavour in
    native)
        build=${DAZIRUDO_BUILD:-$root/build}
        program=("$build/dazirudo")
        startLimit=30
        ;;
    windows)
        build=${DAZIRUDO_BUILD_WIN:-$root/build-win}
        program=(wine "$build/dazirudo.exe")
        startLimit=90
        export WINEDEBUG=-all
        ;;
    *)
        echo "usage: $0 [native|windows]" >&2
        exit 2
        ;;
esac
# The program runs in its own folder: its path must not be relative.
case ${program[-1]} in
    /*) ;;
    *) program[-1]=$PWD/${program[-1]} ;;
esac
model=$root/examples/sphere.dat
settleLimit=120  # seconds for the sphere to settle and triangulate, slow machines included
passed=0
failed=0
work=$(mktemp -d /tmp/dazirudo-e2e.XXXXXX)
xvfbPid=
appPid=
spyPid=

cleanup() {
    end_process spyPid
    end_process appPid
    end_process xvfbPid
    # DAZIRUDO_E2E_KEEP=1 keeps the folders, screenshots and titles for a look.
    if [ -n "${DAZIRUDO_E2E_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

summary() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

note() { echo "    $*"; }

# end_process VARIABLE: ends the process whose id VARIABLE holds, if any, and empties it.
end_process() {
    local pid=${!1}
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    fi
    printf -v "$1" '%s' ''
}

# ---- waiting -------------------------------------------------------------------------
# until LIMIT_SECONDS COMMAND...: polls COMMAND until it succeeds; false at the limit.
until_ok() {
    local limit=$1
    shift
    local deadline=$((SECONDS + limit))
    while ! "$@"; do
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.02
    done
}

# ---- the virtual display -------------------------------------------------------------
start_display() {
    # Xvfb takes the first free display number itself (its lock file is made atomically)
    # and writes it to descriptor 3 once it accepts clients, so runs started at the same
    # time never share, or tear down, one display. Autorepeat is put beyond reach: a key
    # held while a test waits for its effect must act once, as one press of a user's key
    # does.
    Xvfb -displayfd 3 -screen 0 1024x768x24 +extension GLX -nolisten tcp \
        -ardelay 65000 -arinterval 65000 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfbPid=$!
    if until_ok 15 grep -q '^[0-9]' "$work/display"; then
        export DISPLAY=":$(head -1 "$work/display")"
        until_ok 15 xdpyinfo >/dev/null 2>&1 && return 0
    fi
    end_process xvfbPid
    return 1
}

# ---- the program ---------------------------------------------------------------------
window=
folder=

find_window() {
    window=$(xdotool search --name '^(VessikSpheres|- D a z i r u d o -)' 2>/dev/null | head -1)
    [ -n "$window" ]
}

# start NAME [FILE [MODEL]]: a fresh folder holding MODEL (the one-blob example) as FILE
# (model.dat); the program runs there on it. MODEL "-" puts nothing there.
start() {
    folder=$work/$1
    local file=${2:-model.dat}
    mkdir -p "$folder"
    [ "${3:-}" = - ] || cp "${3:-$model}" "$folder/$file"
    (cd "$folder" && exec "${program[@]}" "$file" >stdout.txt 2>stderr.txt) &
    appPid=$!
    if ! until_ok "$startLimit" find_window; then
        note "no window appeared: $(cat "$folder/stderr.txt")"
        return 1
    fi
    xdotool windowfocus "$window" 2>/dev/null
    return 0
}

# start_meshed NAME [FILE [MODEL]]: start, then wait until the sample is meshed.
start_meshed() {
    start "$@" || return 1
    wait_title "$finished" || { note "no mesh: $(title)"; return 1; }
}

title() { xdotool getwindowname "$window" 2>/dev/null; }

# wait_title REGEX [LIMIT]: until the title matches; the titles seen go to titles.txt.
title_matches() {
    local t
    t=$(title)
    [ "$t" != "$lastTitle" ] && echo "$t" >>"$folder/titles.txt" && lastTitle=$t
    [[ $t =~ $1 ]]
}
lastTitle=
wait_title() { until_ok "${2:-$settleLimit}" title_matches "$1"; }

running='^VessikSpheres - Density: [0-9]+\.[0-9]{2} - Total Floaters: [0-9]+ - Stable Floaters: [0-9]+  \([0-9]+\.[0-9]{2}%\) - Physics (Running|Stopped)!$'
triangulating='^VessikSpheres - Density: [0-9]+\.[0-9]{2} - Total Floaters: [0-9]+ - Stable Floaters: [0-9]+  \([0-9]+\.[0-9]{2}%\) - Triangulation in progress\.\.\.$'
finished='^VessikSpheres - Density: ([0-9]+\.[0-9]{2}) - Total Floaters: ([0-9]+) - Total Triangles: ([1-9][0-9]*) - System stopped$'

# said PATTERN: the program's standard error has, or soon has, a line matching PATTERN.
said() {
    until_ok 30 grep -q "$1" "$folder/stderr.txt" && return 0
    note "stderr: $(cat "$folder/stderr.txt")"
    return 1
}

# Keys are mostly held until their effect shows, as a user's keystroke lasts several
# frames; `tap` presses and releases at once, quicker than a frame.
key_down() {
    xdotool windowfocus "$window" 2>/dev/null
    xdotool keydown "$@"
}
key_up() { xdotool keyup "$@"; }

tap() {
    xdotool windowfocus "$window" 2>/dev/null
    # One command, so that the release follows the press at once, in the same batch of
    # window events: the main loop never finds the key down.
    xdotool keydown --delay 0 "$1" keyup --delay 0 "$1"
}

# holding KEYS COMMAND...: holds KEYS (one word, several keys apart by blanks) down while
# COMMAND waits for their effect; COMMAND's status.
holding() {
    local keys=$1
    shift
    # shellcheck disable=SC2086
    key_down $keys
    "$@"
    local ok=$?
    # shellcheck disable=SC2086
    key_up $keys
    return $ok
}

exited() { ! kill -0 "$appPid" 2>/dev/null; }

# finish: waits for the program to end; its exit status goes to `status`.
status=
finish() {
    status=
    if until_ok 60 exited; then
        wait "$appPid"
        status=$?
        appPid=
        return 0
    fi
    note "the program did not end"
    end_process appPid
    return 1
}

# quit [tap]: Escape, held or tapped, ends the program with status 0.
quit() {
    if [ "${1:-}" = tap ]; then
        tap Escape
        finish
    else
        holding Escape finish
    fi || return 1
    [ "$status" -eq 0 ] || { note "exit status $status after Escape"; return 1; }
}

# ---- the window ----------------------------------------------------------------------
# window_centre: the window's place and size (X, Y, WIDTH, HEIGHT) and its centre (cx, cy).
window_centre() {
    eval "$(xdotool getwindowgeometry --shell "$window")"
    cx=$((WIDTH / 2))
    cy=$((HEIGHT / 2))
}

# ---- screenshots ---------------------------------------------------------------------
shots=0
shot() {  # shot: a new screenshot; its file goes to `lastShot`
    shots=$((shots + 1))
    lastShot=$folder/shot$shots.png
    import -window root "$lastShot"
}
differing_pixels() { compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1; }
shot_differs_from() {
    shot
    [ "$(differing_pixels "$1" "$lastShot")" != 0 ]
}
# A frame in flight, or a queue of mouse events, may still change the picture: a settled
# picture is one that two screenshots in a row agree on.
shot_repeats() {
    local previous=$lastShot
    shot
    [ "$(differing_pixels "$previous" "$lastShot")" = 0 ]
}
settled_shot() {
    shot
    until_ok 30 shot_repeats
}
# wait_change REFERENCE: until the picture differs from REFERENCE and has settled; the
# settled picture is lastShot.
wait_change() { until_ok 30 shot_differs_from "$1" && until_ok 30 shot_repeats; }
# press_for_picture KEY: holds KEY until the picture changes; the new picture is lastShot.
press_for_picture() { holding "$1" wait_change "$lastShot"; }
# Mean of a channel expression over the picture, 0..1 (fx on image statistics only).
imageConvert=/usr/bin/convert
[ -x "$imageConvert" ] || imageConvert=convert
measure() { "$imageConvert" "$1" -format "%[fx:$2]" info:; }
greater() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }
# more_of EXPRESSION WHAT LESS MORE: picture MORE has more of EXPRESSION than picture LESS.
more_of() {
    local less more
    less=$(measure "$3" "$1")
    more=$(measure "$4" "$1")
    note "$2: $less < $more"
    greater "$more" "$less"
}
red_shows() {
    shot
    greater "$(measure "$lastShot" 'mean.r-mean.g')" 0
}

# Height in pixels of what the picture shows: the box around every pixel that is not black.
shown_height() { "$imageConvert" "$1" -trim -format '%h' info:; }

# ---- titles as they change -----------------------------------------------------------
# spy_titles: every change of the title from now on goes to spy.txt, as xprop reports it,
# so that a title that lasts a frame is seen too.
spy_titles() {
    xprop -id "$window" -spy WM_NAME >"$folder/spy.txt" 2>/dev/null &
    spyPid=$!
    until_ok 10 test -s "$folder/spy.txt"  # xprop reports the present title first
}
stop_spy() { end_process spyPid; }
spied() { sed 's/^[^"]*"//; s/"$//' "$folder/spy.txt"; }  # the titles spied so far
spied_since() {  # spied_since LINE REGEX: a title after line LINE of spy.txt matches
    spied | tail -n +$(($1 + 1)) | grep -qE "$2"
}
first_spied() { spied | grep -nE "$1" | head -1 | cut -d: -f1; }  # its line, or nothing
# resettle_each KEY...: presses each KEY in turn (xdotool's names, ctrl+z for a chord) and
# waits until the system has stepped again (a running title after the press) and finished
# once more.
resettle_each() {
    local key seen
    spy_titles
    for key; do
        seen=$(wc -l <"$folder/spy.txt")
        xdotool windowfocus "$window" 2>/dev/null
        xdotool key "$key"
        until_ok 60 spied_since "$seen" "$running" || { note "$key did not make the system step"; return 1; }
        wait_title "$finished" || { note "no mesh again after $key: $(title)"; return 1; }
    done
    stop_spy
}

# ---- the blob model --------------------------------------------------------------------
sphereBlob='  30.00000  0.00000  0.00000  0.00000'
insertedBlob='  50.00000  0.00000  0.00000  0.00000'  # what Insert adds to the sphere

# The lines of a blob file without the header and with Unix line ends.
blob_lines() { tr -d '\r' <"$1" | grep -v '^//'; }

# model_is FILE ROWS: FILE is the blob file that the program writes for the blobs in ROWS
# (lines); its lines may end in CR LF.
model_is() {
    local want got
    want=$(printf '// New Implicit System\n//   Blobs = %d\n//   Stability = 0.90000\n%s' \
        "$(wc -l <<<"$2")" "$2")
    got=$(tr -d '\r' <"$1" 2>/dev/null)
    [ "$got" = "$want" ] || { note "$(basename "$1"): $got"; return 1; }
}

# kept_unread ORIGINAL MESSAGE: the blobs.dat that the program did not hold at exit was
# kept, a copy of ORIGINAL, as blobs.dat.unread, and the program said MESSAGE.
kept_unread() {
    cmp -s "$1" "$folder/blobs.dat.unread" || { note "blobs.dat was not kept: $(ls "$folder")"; return 1; }
    said "$2"
}

# ---- the program's processor time ----------------------------------------------------
clockTicks=$(getconf CLK_TCK)
# User and system time of a process so far, in clock ticks (fields 14 and 15 of its stat;
# the name in parentheses may hold blanks, so the count starts after it).
cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }

# ---- scenarios -----------------------------------------------------------------------
scenario_titles_and_files() {
    start titles || return 1
    # xprop reports every change of the title as it happens, so the triangulating title,
    # which lasts one frame, is seen too.
    spy_titles
    wait_title "$finished" || { note "never finished: $(title)"; return 1; }
    local last n triangles
    last=$(title)
    [[ $last =~ $finished ]]
    n=${BASH_REMATCH[2]}
    triangles=${BASH_REMATCH[3]}
    until_ok 10 grep -q 'System stopped' "$folder/spy.txt"
    stop_spy
    local firstRunning firstTriangulating firstFinished
    firstRunning=$(first_spied "$running")
    firstTriangulating=$(first_spied "$triangulating")
    firstFinished=$(first_spied "$finished")
    note "titles seen: $(spied | wc -l); running from $firstRunning," \
        "triangulating at ${firstTriangulating:-none}, finished at $firstFinished"
    if [ -z "$firstRunning" ] || [ -z "$firstTriangulating" ] || [ -z "$firstFinished" ] ||
        [ "$firstRunning" -ge "$firstTriangulating" ] ||
        [ "$firstTriangulating" -ge "$firstFinished" ]; then
        note "the titles did not go running, triangulating, finished"
        return 1
    fi
    note "$n floaters, $triangles triangles"
    # Once handed off the system rests: the picture settles.
    if ! settled_shot; then
        note "the picture still changes after the hand-off"
        return 1
    fi
    quit || return 1
    local floaters
    floaters=$(tr -d '\r' <"$folder/floaters.dat" 2>/dev/null)
    if [ "$(head -3 <<<"$floaters")" != "$(printf '// New Implicit System\n//   Blobs = 1\n//   Floaters = %s' "$n")" ]; then
        note "floaters.dat header: $(head -3 <<<"$floaters")"
        return 1
    fi
    if [ "$(($(wc -l <<<"$floaters") - 3))" -ne "$n" ]; then
        note "floaters.dat does not hold $n floater lines"
        return 1
    fi
    model_is "$folder/blobs.dat" "$sphereBlob" || return 1
    if [ "$flavour" = windows ] && ! grep -q $'\r$' "$folder/blobs.dat"; then
        note "blobs.dat lines do not end in CR LF"
        return 1
    fi
}

# density_step HOW KEY DENSITY_REGEX: KEY sets the density, pressed as HOW says (`hold`
# keeps it down until the title shows the new density, `tap` is quicker than a frame). The
# change steps the system: the mesh goes and comes back.
density_step() {
    local shows="^VessikSpheres - Density: $3 "
    if [ "$1" = tap ]; then
        tap "$2"
    else
        holding "$2" wait_title "$shows" 30 || { note "$2: $(title)"; return 1; }
    fi
    wait_title "$shows.*System stopped\$" || { note "$2 did not resettle: $(title)"; return 1; }
}

# density_round NAME HOW PLUS MINUS EDGES: on the finished sphere, PLUS raises the density
# a step and MINUS lowers it again, each pressed as HOW says, each once; MINUS leaves the
# mesh edges EDGES (on or off), which the mean brightness shows. Escape, pressed as HOW
# says too, ends the program.
density_round() {
    start_meshed "$1" || return 1
    settled_shot
    local withEdges=$lastShot
    density_step "$2" "$3" '2\.05' && density_step "$2" "$4" '2\.00' || return 1
    if [ "$5" = off ]; then
        wait_change "$withEdges" || { note "$4 changed nothing"; return 1; }
    else
        settled_shot
    fi
    local on after
    on=$(measure "$withEdges" mean)
    after=$(measure "$lastShot" mean)
    note "mean brightness with edges $on, after $4 $after"
    if [ "$5" = off ]; then
        greater "$on" "$(awk -v a="$after" 'BEGIN { print a * 1.1 }')" || { note "$4 left the edges on"; return 1; }
    else
        greater "$after" "$(awk -v a="$on" 'BEGIN { print a / 1.1 }')" || { note "$4 turned the edges off"; return 1; }
    fi
    quit "$2"
}

# The density keys, held as a user holds a key or tapped quicker than a frame (a tap is
# released before the main loop comes round and must act exactly once all the same).
# Keypad minus also turns the mesh edges off, so the mesh is darker; the main-row = (+) and
# - keys, for keyboards without a keypad, leave them on.
#                                           folder  press plus   minus       edges
scenario_density_keys() { density_round      density hold  KP_Add KP_Subtract off; }
scenario_key_taps() { density_round          taps    tap   KP_Add KP_Subtract off; }
scenario_main_row_density() { density_round  mainrow tap   equal  minus       on; }

scenario_draw_modes() {
    start_meshed modes || return 1
    settled_shot
    press_for_picture t || { note "T changed nothing"; return 1; }
    local edgesOnly=$lastShot
    # Both mesh modes off: the stable sample is shown as floaters again.
    holding m wait_title 'Physics Stopped!$' 30 || { note "M did not leave the mesh view: $(title)"; return 1; }
    wait_change "$edgesOnly" || return 1
    local floaters=$lastShot
    press_for_picture b || { note "B changed nothing"; return 1; }
    local withBlobs=$lastShot
    more_of 'mean.b-mean.r' "blue excess without blobs, with" "$floaters" "$withBlobs" ||
        { note "B drew no blue wire sphere"; return 1; }
    press_for_picture n || { note "N changed nothing"; return 1; }
    local withNormals=$lastShot
    more_of 'mean.g-mean.r' "cyan excess without normals, with" "$withBlobs" "$withNormals" ||
        { note "N drew no normals"; return 1; }
    press_for_picture f || { note "F changed nothing"; return 1; }
    more_of 'mean.r' "red without floaters, with" "$lastShot" "$withNormals" ||
        { note "F did not hide the white floaters"; return 1; }
    # Triangles on again: the mesh made at the hand-off is still there (only a step
    # discards it). S then reveals it from one triangle, one more per frame.
    holding t wait_title "$finished" 30 || { note "T did not bring the mesh back: $(title)"; return 1; }
    settled_shot
    local wholeMesh=$lastShot
    holding s until_ok 30 shot_differs_from "$wholeMesh" || { note "S changed nothing"; return 1; }
    local partial=$lastShot
    until_ok 30 shot_differs_from "$partial" || { note "the mesh did not grow"; return 1; }
    until_ok 120 shot_repeats || { note "the mesh never became whole"; return 1; }
    if [ "$(differing_pixels "$wholeMesh" "$lastShot")" != 0 ]; then
        note "the fully revealed mesh differs from the whole mesh"
        return 1
    fi
    quit
}

# start_pointed NAME: start_meshed, with the mouse at the window's centre (cx, cy) and the
# picture settled (lastShot).
start_pointed() {
    start_meshed "$1" || return 1
    window_centre
    xdotool mousemove --window "$window" "$cx" "$cy"
    settled_shot
}

scenario_rotate_and_zoom() {
    start_pointed camera || return 1
    local before=$lastShot
    xdotool mousedown 1
    local step
    for step in 1 2 3 4 5 6 7 8; do
        xdotool mousemove --window "$window" $((cx + 8 * step)) $((cy + 5 * step))
    done
    xdotool mouseup 1
    wait_change "$before" || { note "a left drag did not turn the view"; return 1; }
    local turned=$lastShot
    xdotool click 4  # one notch forward: 10 units closer
    wait_change "$turned" || { note "the wheel did not zoom"; return 1; }
    more_of mean "mean brightness before zoom, after" "$turned" "$lastShot" ||
        { note "the sphere did not grow"; return 1; }
    quit
}

# pick_floater: at the start camera, Ctrl with a move picks the floater nearest in depth
# under the window's centre, drawn red. Ctrl stays down for the drag that follows.
pick_floater() {
    window_centre
    xdotool mousemove --window "$window" $((cx - 3)) "$cy"
    key_down ctrl
    xdotool mousemove --window "$window" "$cx" "$cy"
    until_ok 30 red_shows && return 0
    key_up ctrl
    note "no floater was picked"
    return 1
}

# pull_floater: picks the floater at the window's centre and drags it right and up in six
# steps (`followed` says how many the surface followed); then the system settles again.
followed=0
pull_floater() {
    followed=0
    pick_floater || return 1
    # Each step of the drag waits for the picture to follow, as a hand does; a burst of
    # moves would be merged into one by the window system. While the left button holds
    # the control particle every frame steps the system, so a surface that has settled
    # between two moves is not handed off (which would delete the held particle) and
    # every step of the drag pulls it further: all six must show.
    xdotool mousedown 1
    local steps=6 step reference
    for step in $(seq "$steps"); do
        reference=$lastShot
        xdotool mousemove --window "$window" $((cx + 15 * step)) $((cy - 8 * step))
        until_ok 5 shot_differs_from "$reference" || break
        followed=$step
    done
    xdotool mouseup 1
    key_up ctrl
    note "the surface followed $followed of $steps drag steps"
    [ "$followed" -eq "$steps" ] || { note "the drag stopped following"; return 1; }
    wait_title "$finished" || { note "no mesh after the drag: $(title)"; return 1; }
}

scenario_drag_floater() {
    start_meshed drag || return 1
    pull_floater || return 1
    quit || return 1
    local line
    line=$(blob_lines "$folder/blobs.dat")
    note "blob after dragging right and up: $line"
    # Dragged right (+x) and up (+y) on the screen at the start camera.
    awk '{ exit !($2 > 1.0 && $3 > 0.5) }' <<<"$line"
}

# A drag that leaves the window and lets go outside it: the program must still see the
# release, or the held control particle would keep the system stepping for ever.
scenario_release_outside() {
    start_meshed outside || return 1
    pick_floater || return 1
    xdotool mousedown 1
    xdotool mousemove --window "$window" $((cx + 15)) $((cy - 8))
    wait_title "$running" 30
    local ok=$?
    # Out to the right of the window (the screen is wider), and let go there.
    xdotool mousemove $((X + WIDTH + 40)) $((Y + cy))
    xdotool mouseup 1
    key_up ctrl
    [ $ok -eq 0 ] || { note "the drag did not step the system: $(title)"; return 1; }
    wait_title "$finished" || { note "the system never settled after the release"; return 1; }
    quit
}

scenario_no_files_after_o() {
    start_meshed nofiles || return 1
    # O shows nothing; it is held together with T, whose effect on the resting mesh
    # proves that an idle pass saw both keys.
    settled_shot
    holding o press_for_picture t || return 1
    quit || return 1
    if [ -e "$folder/floaters.dat" ] || [ -e "$folder/blobs.dat" ] || [ -e "$folder/mesh.obj" ]; then
        note "files were written after O"
        return 1
    fi
}

# blob_view NAME: the finished sphere in the simulation view (both mesh modes off) with its
# blob drawn (B).
blob_view() {
    start_meshed "$1" || return 1
    holding "t m" wait_title 'Physics Stopped!$' 30 || return 1
    settled_shot
    press_for_picture b
}

scenario_insert_and_delete() {
    blob_view blobs || return 1
    local one=$lastShot
    press_for_picture Insert || { note "Insert showed nothing"; return 1; }
    more_of 'mean.b-mean.r' "blue excess with one blob, with two" "$one" "$lastShot" ||
        { note "no larger wire sphere"; return 1; }
    quit || return 1
    model_is "$folder/blobs.dat" "$sphereBlob"$'\n'"$insertedBlob" || return 1

    # Insert, then Delete twice: the oldest goes, the last one stays.
    blob_view blobs2 || return 1
    press_for_picture Insert || return 1
    press_for_picture Delete || { note "Delete showed nothing"; return 1; }
    # The second Delete changes nothing visible; B held with it proves its pass.
    holding Delete press_for_picture b || return 1
    quit || return 1
    model_is "$folder/blobs.dat" "$insertedBlob"
}

# Insert on a finished mesh: the system steps again and the new mesh lies on the merged
# surface (a sphere of radius 53 around the blobs of radius 30 and 50).
scenario_insert_resettles() {
    start_meshed resettle || return 1
    holding Insert wait_title "$running" 30 || { note "Insert did not make the system step: $(title)"; return 1; }
    wait_title "$finished" || { note "never resettled: $(title)"; return 1; }
    quit || return 1
    local mean
    mean=$(tr -d '\r' <"$folder/floaters.dat" | awk '!/^\/\// { s += sqrt($1*$1 + $2*$2 + $3*$3); n++ }
        END { if (n) printf "%.1f", s / n }')
    note "mean distance of the floaters from the origin: $mean"
    greater "$mean" 52 && greater 54 "$mean"
}

# Mesh modes off until the sample is stable, then T: the mesh is made at once.
scenario_mesh_mode_later() {
    start later || return 1
    # Under Wine, keys pressed while the window is still being shown can be lost; the
    # first running title says it is up.
    wait_title "$running" 30 || return 1
    holding "t m" wait_title 'Physics Stopped!$' || return 1
    holding t wait_title "$finished" 30 || { note "no mesh after T: $(title)"; return 1; }
    quit
}

# A file name with a blank in it: Windows hands it over in double quotes, which are no part
# of the name. The two-blob model must be read, not replaced by the default blob.
scenario_name_with_blank() {
    start_meshed blank "my model.dat" "$root/examples/two-blobs.dat" || return 1
    quit || return 1
    model_is "$folder/blobs.dat" "$(blob_lines "$root/examples/two-blobs.dat")" ||
        { note "stderr: $(cat "$folder/stderr.txt")"; return 1; }
}

# The program never writes over a blobs.dat that it does not hold: one it never read (the
# name on the command line was mistyped, so the default blob was used), or one the user
# edited while the program ran. Either is kept as blobs.dat.unread, and the program says so.
scenario_blobs_kept() {
    mkdir -p "$work/typo"
    cp "$root/examples/figure.dat" "$work/typo/blobs.dat"
    start_meshed typo figure-typo.dat - || return 1
    quit || return 1
    kept_unread "$root/examples/figure.dat" \
        'blobs.dat is not the file the model was read from; it is kept as blobs.dat.unread' || return 1

    start_meshed edited blobs.dat || return 1
    printf '  20.00000  40.00000  0.00000  0.00000\n' >>"$folder/blobs.dat"
    cp "$folder/blobs.dat" "$folder/edited.txt"
    quit || return 1
    kept_unread "$folder/edited.txt" 'blobs.dat has changed since it was read; it is kept as blobs.dat.unread'
}

scenario_no_display() {
    local folder=$work/nodisplay
    mkdir -p "$folder"
    env -u DISPLAY "${program[@]}" "$model" >"$folder/out.txt" 2>"$folder/err.txt"
    local code=$?
    note "status $code: $(cat "$folder/err.txt")"
    # Two lines: why the window system could not be opened, then what to run instead.
    [ "$code" -ne 0 ] && [ "$(wc -l <"$folder/err.txt")" -eq 2 ] &&
        sed -n 1p "$folder/err.txt" | grep -q '^dazirudo: GLFW error .*DISPLAY' &&
        sed -n 2p "$folder/err.txt" | grep -q 'dazirudo-batch'
}

# The mesh leaves with the model: E writes mesh.obj at once and names it on standard error;
# Escape writes it again beside floaters.dat and blobs.dat.
scenario_mesh_file() {
    start_meshed mesh || return 1
    [[ $(title) =~ $finished ]]
    local triangles=${BASH_REMATCH[3]}
    tap e
    said 'mesh written to' || { note "E wrote no mesh"; return 1; }
    local line
    line=$(grep 'mesh written to' "$folder/stderr.txt" | tr -d '\r')
    note "$line"
    [[ $line =~ ^dazirudo:\ mesh\ written\ to\ .*mesh\.obj\ \(${triangles}\ triangles\)$ ]] ||
        { note "not the line expected for $triangles triangles"; return 1; }
    [ "$(grep -c '^f ' "$folder/mesh.obj")" -eq "$triangles" ] || { note "mesh.obj: $(head -1 "$folder/mesh.obj")"; return 1; }
    rm "$folder/mesh.obj"
    quit || return 1
    [ -e "$folder/floaters.dat" ] && [ -e "$folder/blobs.dat" ] || { note "no files at exit"; return 1; }
    [ "$(grep -c '^f ' "$folder/mesh.obj" 2>/dev/null)" = "$triangles" ] ||
        { note "no mesh.obj of $triangles triangles at exit"; return 1; }
    # The sphere of radius 30 at the origin, in the model's units.
    awk '/^v / { r = sqrt($2 * $2 + $3 * $3 + $4 * $4); if (r < 29.5 || r > 30.5) bad++; n++ }
        END { exit !(n > 0 && bad == 0) }' "$folder/mesh.obj" || { note "mesh.obj is not the sphere"; return 1; }
}

# Home frames the sample: far away (the wheel turned back) the sphere is small; Home makes
# it fill the window again.
scenario_home_frames() {
    start_pointed home || return 1
    local near=$lastShot
    local notch
    for notch in $(seq 25); do xdotool click 5; done  # 250 units further back
    wait_change "$near" || { note "the wheel did not zoom"; return 1; }
    local far=$lastShot
    press_for_picture Home || { note "Home changed nothing"; return 1; }
    local farHeight homeHeight
    farHeight=$(shown_height "$far")
    homeHeight=$(shown_height "$lastShot")
    note "the sphere is $farHeight pixels high far away, $homeHeight after Home, in a window of $HEIGHT"
    [ "$homeHeight" -gt $((HEIGHT * 6 / 10)) ] && [ "$homeHeight" -gt $((farHeight * 2)) ] ||
        { note "Home did not frame the sample"; return 1; }
    quit
}

# F1 and H show the help over the picture and hide it again; the program points to it at
# start.
scenario_help_overlay() {
    start_meshed help || return 1
    said '^dazirudo: press F1 or H' || { note "no hint at start"; return 1; }
    settled_shot
    local plain=$lastShot
    press_for_picture F1 || { note "F1 showed nothing"; return 1; }
    local help=$lastShot
    # The sphere is grey; the keys are listed in yellow.
    note "yellow excess without help $(measure "$plain" 'mean.r-mean.b'), with $(measure "$help" 'mean.r-mean.b')"
    greater "$(measure "$help" 'mean.r-mean.b')" 0.005 || { note "no yellow text"; return 1; }
    press_for_picture F1 || { note "F1 did not hide the help"; return 1; }
    [ "$(differing_pixels "$plain" "$lastShot")" = 0 ] || { note "the picture is not as before"; return 1; }
    press_for_picture h || { note "H showed nothing"; return 1; }
    [ "$(differing_pixels "$help" "$lastShot")" = 0 ] || { note "H shows another help"; return 1; }
    quit
}

# Ctrl+Z takes back Insert, Delete and a drag, Ctrl+Y redoes; each time the system settles
# again on the model restored.
scenario_undo_redo() {
    start_meshed undo || return 1
    # {30} -> Insert {30, 50} -> Delete {50} -> undo {30, 50} -> undo {30} -> redo {30, 50}
    resettle_each Insert Delete ctrl+z ctrl+z ctrl+y || return 1
    quit || return 1
    model_is "$folder/blobs.dat" "$sphereBlob"$'\n'"$insertedBlob" ||
        { note "(after Insert, Delete, undo, undo, redo)"; return 1; }

    start_meshed undodrag || return 1
    pull_floater || return 1
    resettle_each ctrl+z || return 1
    quit || return 1
    model_is "$folder/blobs.dat" "$sphereBlob" || { note "(after the drag was undone)"; return 1; }
}

# A blob file dropped on the window becomes the model, after the model so far is written as
# at exit. Its name holds a blank, as names do.
scenario_drop_file() {
    [ -x "$work/xdnd_drop" ] || { note "no drop tool: $(cat "$work/xdnd_drop.log")"; return 1; }
    start drop || return 1
    cp "$root/examples/two-blobs.dat" "$folder/two blobs.dat"
    wait_title "$finished" || return 1
    "$work/xdnd_drop" "$window" "$folder/two blobs.dat" || { note "the window took no drop"; return 1; }
    said '^dazirudo: opened .*two blobs\.dat' || { note "nothing opened"; return 1; }
    # The sphere, written as at exit before the new model came.
    model_is "$folder/blobs.dat" "$sphereBlob" && [ -e "$folder/mesh.obj" ] ||
        { note "the sphere's files were not written: $(ls "$folder")"; return 1; }
    wait_title "$running" 30 || { note "the new model is not sampled: $(title)"; return 1; }
    wait_title "$finished" || return 1
    quit || return 1
    model_is "$folder/blobs.dat" "$(blob_lines "$root/examples/two-blobs.dat")" || return 1
    # The sphere's blobs.dat, which the new model was not read from, is kept.
    model_is "$folder/blobs.dat.unread" "$sphereBlob" ||
        { note "the sphere's blobs.dat was not kept: $(ls "$folder")"; return 1; }
}

# At rest the program waits for the window system: with a finished mesh it takes next to no
# processor time, and a message still wakes it to draw.
scenario_rests() {
    start_meshed rest || return 1
    settled_shot
    local resting=$lastShot before after
    before=$(cpu_ticks "$appPid")
    sleep 3  # the span measured, not a wait for a state
    after=$(cpu_ticks "$appPid")
    local used
    used=$(awk -v t=$((after - before)) -v hz="$clockTicks" 'BEGIN { printf "%.2f", t / hz }')
    note "processor time over 3 seconds at rest: $used s"
    greater 0.3 "$used" || { note "the program does not rest"; return 1; }
    xdotool mousemove --window "$window" 400 300
    xdotool click 4
    wait_change "$resting" || { note "the wheel did not wake the program to draw"; return 1; }
    quit
}

run() {  # run NAME: one scenario, counted
    [ "$only" = "  " ] || [[ $only == *" $1 "* ]] || return 0
    echo "--- $1"
    lastTitle=
    # The virtual display has once gone away between two scenarios (every later one then
    # failed to open it): a fresh one takes over, and the old one's last words are shown.
    if ! xdpyinfo >/dev/null 2>&1; then
        echo "    the display was gone; a fresh one takes over. Its log ended:"
        tail -5 "$work/xvfb.log" | sed 's/^/        /'
        end_process xvfbPid
        start_display || { echo "FAIL $1 (no display)"; failed=$((failed + 1)); return; }
    fi
    if "scenario_$1"; then
        echo "PASS $1"
        passed=$((passed + 1))
    else
        echo "FAIL $1"
        failed=$((failed + 1))
        end_process spyPid
        end_process appPid
    fi
}

if [ ! -x "${program[-1]}" ] && [ ! -f "${program[-1]}" ]; then
    echo "no program at ${program[-1]}; build it first" >&2
    failed=1
    summary
fi
if [ "$flavour" = windows ] && [ ! -d "${WINEPREFIX:-$HOME/.wine}" ]; then
    wine wineboot --init >/dev/null 2>&1
    wineserver -w
fi
# The drop tool speaks XDND to the window, which GLFW and Wine both understand.
cc -O2 -o "$work/xdnd_drop" "$root/tests/e2e/xdnd_drop.c" -lX11 >"$work/xdnd_drop.log" 2>&1
if ! start_display; then
    echo "could not start Xvfb" >&2
    failed=1
    summary
fi

run titles_and_files
run density_keys
run draw_modes
run rotate_and_zoom
run drag_floater
run release_outside
run no_files_after_o
run insert_and_delete
run insert_resettles
run mesh_mode_later
run key_taps
run name_with_blank
run blobs_kept
run mesh_file
run home_frames
run help_overlay
run main_row_density
run undo_redo
run drop_file
run rests
[ "$flavour" = native ] && run no_display
summary
