#!/usr/bin/env bash
# End-to-end test of the real program on a virtual X server: start kelvane,
# find its window by title, press the buttons with the mouse (start, pause,
# the two exports) and compare the exported files with those of kelvane-run
# through the same number of steps. Then start the run again and
# close the window: the program must end with exit code 0.
#
#   tests/e2e_test.sh <kelvane> <kelvane-run> [<e2e_close>]
#
# Without e2e_close (it needs Xlib) the window is not closed, only killed.
#
# Exit 0 on success, 1 on failure, 77 (skipped) when Xvfb or xdotool is
# missing. Runs in a temporary working directory; Xvfb and the program are
# killed by pid when the script ends, however it ends.
set -euo pipefail

# Seconds the run goes on between start and pause, per round.
readonly RUN_SECONDS=2
# A round is repeated (start again, pause, export) until the curves hold at
# least this many points; a loaded machine may tick slowly.
readonly MIN_POINTS=3
readonly MAX_ROUNDS=6
# Upper bound on everything else the script waits for, in seconds. Well below
# the CTest timeout so that the script always gets to clean up.
readonly WAIT_SECONDS=60
# Children that outlive a killed script stop by themselves after this long.
readonly CHILD_LIMIT=600

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAILED: $*" >&2
  if [ -n "${xdisplay:-}" ] && command -v import >/dev/null 2>&1; then
    import -display "$xdisplay" -window root "$work/screen.png" 2>/dev/null || true
  fi
  exit 1
}

[ $# -eq 2 ] || [ $# -eq 3 ] || fail "usage: e2e_test.sh <kelvane> <kelvane-run> [<e2e_close>]"
[ -x "$1" ] || fail "no program at $1"
[ -x "$2" ] || fail "no kelvane-run at $2"
[ $# -eq 2 ] || [ -x "$3" ] || fail "no close helper at $3"
program=$(realpath "$1")  # the script runs in its own directory
runner=$(realpath "$2")
closer=""
if [ $# -eq 3 ]; then closer=$(realpath "$3"); fi
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (scripts/deps.sh installs it)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-e2e.XXXXXX")
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/xsession.sh"

cleanup() {
  local status=$?
  stop "$program_pid"
  stop "$xvfb_pid"
  if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
    echo "--- program output" >&2
    cat "$work/kelvane.log" >&2 2>/dev/null || true
    echo "--- kept for inspection: $work (screen.png: the screen at the failure)" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- A virtual X server on a free display.
start_xvfb 1024x768
xdisplay=$DISPLAY

# --- The program, on that display, in the temporary directory.
cd "$work"
timeout -k 5 "$CHILD_LIMIT" "$program" >"$work/kelvane.log" 2>&1 &
program_pid=$!

wait_until "visible window titled Kelvane" find_window "Kelvane"
eval "$(xdotool getwindowgeometry --shell "$window")"  # X, Y of the client area
origin_x=$X
origin_y=$Y

# The run and export buttons: ToolBar1 at (1, 1) in Panel1, which is at (0, 0)
# in the window; each button at (x, 2) in the tool bar, 22 px high.
press() {  # name: one left click at the middle of that button
  local left width
  case $1 in
    start-pause) left=42 width=39 ;;
    C1) left=81 width=68 ;;
    N1) left=149 width=64 ;;
    *) fail "unknown button $1" ;;
  esac
  # No --sync: it waits for the pointer to move, forever when it is already
  # there. The warp and the click go to the server in order anyway.
  xdotool mousemove $((origin_x + 1 + left + width / 2)) $((origin_y + 1 + 2 + 22 / 2)) click 1
}

# A file that exists and kept its size for one more poll: the export has
# finished writing it.
last_size=""
file_written() {
  [ -f "$1" ] || return 1
  local size
  size=$(stat -c %s "$1")
  if [ "$size" = "$last_size" ]; then return 0; fi
  last_size=$size
  return 1
}
export_both() {
  rm -f "C1(t).txt" "N1(t).txt"
  press C1
  press N1
  last_size=""
  wait_until "file C1(t).txt" file_written "C1(t).txt"
  last_size=""
  wait_until "file N1(t).txt" file_written "N1(t).txt"
}
lines() { tr -cd '\n' <"$1" | wc -c; }

# Right after start-up the curves are empty: an export writes an empty file.
# This also shows that the window takes clicks before the run starts.
export_both
if [ -s "C1(t).txt" ] || [ -s "N1(t).txt" ]; then
  fail "exports before the first tick are not empty"
fi

# --- Run, pause, export; again until enough points were taken.
points=0
for round in $(seq "$MAX_ROUNDS"); do
  press start-pause
  sleep "$RUN_SECONDS"
  press start-pause  # handled before the exports' clicks, with no tick in between
  export_both
  points=$(lines "N1(t).txt")
  [ "$points" -ge "$MIN_POINTS" ] && break
  echo "round $round: $points points, running again"
done
[ "$points" -ge "$MIN_POINTS" ] || fail "only $points points after $MAX_ROUNDS rounds"
[ "$(lines "C1(t).txt")" -eq "$points" ] ||
  fail "C1(t).txt has $(lines "C1(t).txt") lines, N1(t).txt $points: was the run paused?"

# No other window (an error box) came up: the display is the program's alone.
for other in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
  [ "$other" = "$window" ] || fail "another window is open: '$(xdotool getwindowname "$other")'"
done

# --- The files' form: CR LF after every line and nowhere else, and times
# that are the running sums of the 0.0001 s time step, as the stream writes
# them (6 significant digits).
for file in "C1(t).txt" "N1(t).txt"; do
  [ "$(tail -c 1 "$file" | od -An -tx1 | tr -d ' ')" = "0a" ] || fail "$file: last line has no end"
  LC_ALL=C awk -v file="$file" '
    BEGIN { RS = "\n"; t = 0 }
    {
      if (substr($0, length($0)) != "\r" || index(substr($0, 1, length($0) - 1), "\r"))
        { print file ": line " NR " does not end in CR LF"; exit 1 }
      split(substr($0, 1, length($0) - 1), field, " ; ")
      t += 0.0001
      if (field[1] != sprintf("%.6g", t))
        { print file ": line " NR " has time " field[1] ", expected " sprintf("%.6g", t); exit 1 }
      if (NR > 1 && !(field[1] + 0 > previous))
        { print file ": line " NR ": time does not ascend"; exit 1 }
      previous = field[1] + 0
    }' "$file" >&2 || fail "$file is malformed"
done

# --- The same number of steps of kelvane-run gives the same bytes.
"$runner" --steps "$points" --curves reference > /dev/null || fail "kelvane-run failed"
cmp "N1(t).txt" "reference/N1(t).txt" || fail "N1(t).txt differs from kelvane-run's $points steps"
cmp "C1(t).txt" "reference/C1(t).txt" || fail "C1(t).txt differs from kelvane-run's $points steps"


# --- Closing the window while the run goes on ends the program with code 0
# (an error at shutdown, or a leak report of the sanitizer build, would not).
if [ -n "$closer" ]; then
  press start-pause
  sleep 0.5
  "$closer" "$window" || fail "could not ask the window to close"
  pid=$program_pid
  program_pid=""  # from here on its end is expected
  deadline=$((SECONDS + WAIT_SECONDS))
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      program_pid=$pid
      fail "kelvane still runs ${WAIT_SECONDS} s after its window was closed"
    fi
    sleep 0.2
  done
  status=0
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || fail "kelvane ended with exit code $status after its window was closed"
  closed="; closed while running, exit code 0"
else
  closed="; window not closed (no e2e_close)"
fi

echo "PASSED: $points steps; both exports match the engine's headless run byte for byte$closed"
