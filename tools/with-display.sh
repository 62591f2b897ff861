#!/usr/bin/env bash
# Runs a command with a private X display: Xvfb plus a small window manager.
# Usage: tools/with-display.sh COMMAND [ARGS...]
# The display is 1024x768x24; Xvfb picks a free display number itself, so
# several of these can run side by side. Both servers stop when the command
# ends.
set -u
fifo=$(mktemp -u /tmp/velto-display.XXXXXX)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
disp=""
read -r -t 20 disp <"$fifo"
rm -f "$fifo"
if [ -z "$disp" ]; then
  echo "with-display: Xvfb did not start" >&2
  kill "$xvfb" 2>/dev/null
  exit 1
fi
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
