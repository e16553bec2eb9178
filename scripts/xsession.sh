# Shared by the end-to-end test and the screenshot script, which source it:
# a virtual X server, the program's window found by title, and waits that
# give up with a message. The sourcing script defines fail (message: exit
# non-zero), work (its temporary directory), WAIT_SECONDS and CHILD_LIMIT.

xvfb_pid=""
program_pid=""
window=""

stop() {  # pid: ends one child of the script, if it still runs
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# wait_until <what> <command...>: polls the command until it succeeds, with
# the program and the X server checked for life at every round.
wait_until() {
  local what=$1
  shift
  local deadline=$((SECONDS + WAIT_SECONDS))
  until "$@"; do
    [ -z "$xvfb_pid" ] || kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb ended while waiting for $what"
    [ -z "$program_pid" ] || kill -0 "$program_pid" 2>/dev/null ||
      fail "kelvane ended while waiting for $what"
    [ "$SECONDS" -lt "$deadline" ] || fail "no $what after ${WAIT_SECONDS} s"
    sleep 0.2
  done
}

# start_xvfb <width>x<height>: a virtual X server on a free display (it
# writes the number when ready), exported as DISPLAY; Qt's offscreen
# platform, which ctest sets for the other window tests, is dropped.
start_xvfb() {
  timeout -k 5 "$CHILD_LIMIT" Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp \
    3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  wait_until "display number from Xvfb" display_ready
  export DISPLAY=":$(head -n 1 "$work/display")"
  unset QT_QPA_PLATFORM
}
display_ready() { grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null; }

# find_window <title>: sets window to the visible window with exactly that
# title (xdotool's search ignores case; an error box is captioned "kelvane").
find_window() {
  local id
  for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
    if [ "$(xdotool getwindowname "$id")" = "$1" ]; then
      window=$id
      return 0
    fi
  done
  return 1
}
