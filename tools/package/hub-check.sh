#!/usr/bin/env bash
# velto-hub as packaged, inside the system at ROOT: started with the options
# of its default configuration (on a free loopback port instead of its own),
# asked for its health check, stopped with SIGTERM. Its output goes to
# OUT/hub.log.
# Usage: tools/package/hub-check.sh ROOT OUT
set -euo pipefail
root=$1 out=$2
# The folders the example unit's StateDirectory and CacheDirectory give it.
mkdir -p "$root/var/lib/velto-hub" "$root/var/cache/velto-hub"
chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin sh -c \
  '. /etc/default/velto-hub && exec velto-hub $VELTO_HUB_OPTIONS --listen 127.0.0.1:0' >"$out/hub.log" 2>&1 &
pid=$!
trap 'kill -9 $pid 2>/dev/null || true' EXIT
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^velto-hub: listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$out/hub.log")
  [ -n "$port" ] && break
  kill -0 $pid 2>/dev/null || { cat "$out/hub.log"; echo "velto-hub ended at start" >&2; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { cat "$out/hub.log"; echo "velto-hub did not listen within 10 s" >&2; exit 1; }
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET /api/health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' >&3
answer=$(timeout 10 cat <&3)
exec 3<&-
printf '%s\n' "$answer" >"$out/hub-health.txt"
status=$(printf '%s' "$answer" | head -n1 | tr -d '\r')
body=$(printf '%s' "$answer" | tail -n1)
echo "    port $port: $status, $body"
[[ $status == "HTTP/1."?" 200"* ]] || { echo "health check: $status" >&2; exit 1; }
[[ $body == *'"status":"ok"'* ]] || { echo "health check body: $body" >&2; exit 1; }
kill -TERM $pid
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then echo "velto-hub did not stop on SIGTERM" >&2; exit 1; fi
rc=0
wait $pid || rc=$?
[ $rc -eq 0 ] || { echo "velto-hub ended with status $rc" >&2; exit 1; }
echo "    stopped on SIGTERM"
