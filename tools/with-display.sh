#!/usr/bin/env bash
# Runs a command with a private X display: Xvfb plus a small window manager.
# Usage: tools/with-display.sh COMMAND [ARGS...]
# The display is 1024x768x24; both servers are stopped when the command ends.
set -u
for n in $(seq 90 140); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { disp=$n; break; }
done
Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$disp" ] && break; sleep 0.05; done
export DISPLAY=":$disp"
wm=""
if command -v openbox >/dev/null 2>&1; then
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 0.3
fi
"$@"
rc=$?
[ -n "$wm" ] && kill "$wm" 2>/dev/null
kill "$xvfb" 2>/dev/null
wait 2>/dev/null
exit $rc
