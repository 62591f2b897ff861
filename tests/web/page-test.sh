#!/usr/bin/env bash
# A track page of a real hub on loopback, in headless Chromium: the player
# rides the record to its end and shows the digest committed for that proof
# run, "the same ride as verified". Chromium's virtual time runs the page's
# frames as fast as they can be drawn, so the machine's speed only changes
# how long the test takes. Pictures of the page at the start, mid-ride and
# at the end are left in BUILD_DIR/web-page/ for a person to look at.
#
#   page-test.sh SOURCE_DIR BUILD_DIR
# Exit status 77 (a skip) when emscripten, node or Chromium is missing.
set -uo pipefail

src=${1:?source folder}
build=${2:?build folder}
track=02-first-ride
out="$build/web-page"

missing=()
for tool in em++ node chromium curl; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "web page test: SKIPPED: ${missing[*]} not installed (tools/install-deps.sh --test installs them)"
  exit 77
fi

rm -rf "$out"
mkdir -p "$out"
tmp=$(mktemp -d)
hub=""
cleanup() {
  [ -n "$hub" ] && kill "$hub" 2>/dev/null && wait "$hub" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
  echo "web page test: $*"
  exit 1
}

"$src/web/build.sh" "$src" "$build/web" > "$out/build.log" 2>&1 || { tail -20 "$out/build.log"; fail "make web failed"; }

"$build/velto-hub" --listen 127.0.0.1:0 --db "$tmp/hub.sqlite" --cache "$tmp/cache" --metrics-listen off \
    --registrations-per-hour 0 --web "$build/web" > "$tmp/hub.out" 2> "$out/hub.err" &
hub=$!
port=""
for _ in $(seq 1 300); do
  port=$(sed -n 's/^velto-hub: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$tmp/hub.out")
  [ -n "$port" ] && break
  kill -0 "$hub" 2>/dev/null || break
  sleep 0.1
done
[ -n "$port" ] || fail "the hub did not start: $(cat "$out/hub.err")"
base="http://127.0.0.1:$port"

token=$(curl -sf --max-time 30 -X POST -d '{"name":"Ann"}' "$base/api/players" | sed -n 's/.*"token":"\([^"]*\)".*/\1/p')
[ -n "$token" ] || fail "cannot register a player"
digest=$(curl -sf --max-time 30 -X POST -H "X-Velto-Player: Ann" -H "X-Velto-Token: $token" \
    -H "X-Velto-Name: $track.vlt" --data-binary "@$build/tracks/$track.vlt" "$base/api/tracks" |
    sed -n 's/.*"digest":"\([0-9a-f]*\)".*/\1/p')
[ -n "$digest" ] || fail "cannot upload the track"
status=$(curl -s --max-time 60 -o /dev/null -w '%{http_code}' -X POST -H "X-Velto-Player: Ann" \
    -H "X-Velto-Token: $token" --data-binary "@$src/tests/data/tracks/$track.replay" "$base/api/runs")
[ "$status" = 201 ] || fail "the proof run was not taken ($status)"

# chrome URL BUDGET_MS ARGS...: headless Chromium on the page, with its
# virtual time budget; a private profile, bounded in real time.
chrome() {
  local url=$1 budget=$2
  shift 2
  timeout 300 chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-extensions \
      --user-data-dir="$tmp/profile" --window-size=1000,1100 --hide-scrollbars \
      --virtual-time-budget="$budget" "$@" "$url" 2>> "$out/chromium.err"
}

page="$base/tracks/$digest"
steps=$(sed -n 's/^# result: finished steps: \([0-9]*\) .*/\1/p' "$src/tests/data/tracks/$track.replay")
want=$(cat "$src/tests/data/tracks/$track.digest")

# The whole record at 8x: its end, its digest and the verdict.
chrome "$page#speed=8" 60000 --dump-dom > "$out/end.html"
verdict=$(grep -o '<p id="verdict"[^>]*>.*</p>' "$out/end.html" | head -1)
got=$(sed -n 's/.*data-digest="\([0-9a-f]*\)".*/\1/p' <<<"$verdict")
[ -n "$verdict" ] || fail "the page shows no verdict (the player did not run?): $(grep -o '<p id="watching">[^<]*' "$out/end.html")"
[ "$got" = "$want" ] || fail "the page shows digest '$got', committed $want"
grep -q 'data-same="yes"' <<<"$verdict" || fail "the page does not call it the same ride: $verdict"
grep -q 'the same ride as verified' <<<"$verdict" || fail "the verdict's words are missing: $verdict"
clock=$(sed -n 's/.*<span id="clock" class="clock">\([^<]*\)<.*/\1/p' "$out/end.html" | head -1)
want_clock=$(sed -n 's/^# result: finished steps: [0-9]* time: \(.*\)$/\1/p' "$src/tests/data/tracks/$track.replay")
[ "$clock" = "$want_clock" ] || fail "the clock shows '$clock' at the end, the run's time is $want_clock"

# Pictures: the start (paused at once is not possible without a click, so a
# short budget), the middle at 1x, the end.
chrome "$page#speed=0.25" 400 --screenshot="$out/start.png" > /dev/null
chrome "$page" $((steps * 10 / 2)) --screenshot="$out/mid.png" > /dev/null
chrome "$page#speed=8" 60000 --screenshot="$out/end.png" > /dev/null
for picture in start mid end; do
  [ -s "$out/$picture.png" ] || fail "no picture $picture.png"
done
echo "web page test: $track rides to $got in the page, \"the same ride as verified\"; pictures in $out"
