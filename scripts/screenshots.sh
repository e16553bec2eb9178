#!/usr/bin/env bash
# Makes the README's pictures: docs/window.png, the main window some seconds
# into a run at the defaults at the fastest speed, and docs/molecules.png, the
# molecule view at that moment. Builds kelvane when needed, runs it on a virtual X server
# (Xvfb: no window manager, so the windows have no frames) in a temporary
# directory, and drives it with the mouse through xdotool; ImageMagick's
# import takes the pictures. Installs what it needs on Debian 12.
#
#   scripts/screenshots.sh [seconds of running before the pictures, default 10]
#
# The only coordinates used are those of the controls pressed, relative to
# the main window: the start/pause button in the tool bar, and the speed box
# and "Molecules..." in the run panel below the species group.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
kelvane_install_missing "${KELVANE_BUILD_PACKAGES[@]}" "${KELVANE_TEST_PACKAGES[@]}"

run_seconds=${1:-10}
case $run_seconds in '' | *[!0-9]*) echo "usage: $0 [seconds]" >&2 && exit 2 ;; esac
readonly WAIT_SECONDS=60   # for the server and each window
readonly CHILD_LIMIT=600   # children of a killed script stop by themselves

fail() {
  echo "screenshots: $*" >&2
  exit 1
}

# --- The program, built as scripts/run.sh builds it unless a build exists.
if [ ! -f "$root/build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DKELVANE_GUI=ON \
    -DKELVANE_TESTS=OFF -DKELVANE_BENCH=OFF -DKELVANE_SANITIZE=OFF
fi
cmake --build "$root/build" --target kelvane -j "$(nproc)"
program="$root/build/app/kelvane"
[ -x "$program" ] || fail "no program at $program"

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-screenshots.XXXXXX")
source "$root/scripts/xsession.sh"
cleanup() {
  stop "$program_pid"
  stop "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- A virtual X server on a free display, wide enough for the molecule view
# to open beside the main window.
start_xvfb 1600x1000

(cd "$work" && exec timeout -k 5 "$CHILD_LIMIT" "$program") >"$work/kelvane.log" 2>&1 &
program_pid=$!

wait_until "window titled Kelvane" find_window "Kelvane"
main=$window
eval "$(xdotool getwindowgeometry --shell "$main")"  # X, Y: the client area
click() {  # x y: a left click at that point of the main window
  xdotool mousemove $((X + $1)) $((Y + $2)) click 1
}
take() {  # window file: a picture of the window, without time stamps in the file
  # The pointer out of the way (no button drawn raised under it), then a
  # moment for the last refresh to be painted.
  eval "$(xdotool getdisplaygeometry --shell)"
  xdotool mousemove $((WIDTH - 1)) $((HEIGHT - 1))
  sleep 1
  import -display "$DISPLAY" -window "$1" "$work/shot.png"
  convert "$work/shot.png" -strip "$2"
}
mkdir -p "$root/docs"

# The fastest speed: the speed box at (2, 2) size 56 x 22 in the run panel at
# (1, 374), its last entry chosen with the keys in the list it opens.
click $((1 + 2 + 56 / 2)) $((374 + 2 + 22 / 2))
sleep 0.5
xdotool key End Return
sleep 0.5
# Start: the middle of the start/pause button, at (42, 2) size 39 x 22 in the
# tool bar at (1, 1) in the left column at (0, 0).
click $((1 + 42 + 39 / 2)) $((1 + 2 + 22 / 2))
sleep "$run_seconds"
take "$main" "$root/docs/window.png"

# "Molecules...": at (139, 2) size 76 x 22 in the run panel at (1, 374).
click $((1 + 139 + 76 / 2)) $((374 + 2 + 22 / 2))
wait_until "window titled Kelvane - Molecules" find_window "Kelvane - Molecules"
take "$window" "$root/docs/molecules.png"

echo "written: docs/window.png, docs/molecules.png (after $run_seconds s of running)"
