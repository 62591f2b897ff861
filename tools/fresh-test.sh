#!/usr/bin/env bash
# make fresh-test: make test on a newly bootstrapped Debian 12, as a newcomer
# runs it, so that a step missing from tools/install-deps.sh shows here before
# it reaches a player.
#
# Bootstraps a minimal bookworm into a temporary folder from the mirror this
# machine's apt uses, installs what a newcomer brings (make and git), copies
# this checkout in (tracked and untracked files, not what .gitignore leaves
# out, so no build folder), then inside it:
#   1. make test-deps, with the network: tools/install-deps.sh --test;
#   2. make test without the network (its own install step must find
#      nothing missing), under its own Xvfb, with no ccache on the machine.
# Logs and the time of each step go to build/fresh-test/.
#
# Usage: tools/fresh-test.sh      Needs root, debootstrap and unshare.
# Downloaded packages are kept in build/fresh-test-cache between runs.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
cache=$(readlink -f "${VELTO_FRESH_CACHE:-$source_dir/build/fresh-test-cache}")
out="$source_dir/build/fresh-test"
started=$(date +%s)

say() { printf '[%5ds] %s\n' $(( $(date +%s) - started )) "$*" | tee -a "$out/steps.txt"; }
fail() {
  say "FAILED: $*"
  exit 1
}

mkdir -p "$out"
rm -f "$out"/*
[ "$(id -u)" -eq 0 ] || fail "run as root (debootstrap, chroot, mount)"
for tool in debootstrap unshare git; do
  command -v "$tool" >/dev/null || fail "$tool is missing (apt-get install debootstrap util-linux git)"
done

# shellcheck source=package/bootstrap.sh
. "$source_dir/tools/package/bootstrap.sh"

root=$(mktemp -d /var/tmp/velto-fresh-test.XXXXXX)
chmod 755 "$root"
cleanup() {
  local rc=$?
  set +e
  release_root
  say "took $(( $(date +%s) - started )) s, exit status $rc"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bootstrap_root
# Services that packages start on installing (PostgreSQL's default cluster)
# stay off: the tests start their own.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
apt_in_root update >"$out/apt-update.log" 2>&1 || { tail "$out/apt-update.log"; fail "apt-get update"; }
apt_in_root install --no-install-recommends make git ca-certificates >"$out/newcomer.log" 2>&1 \
  || { tail -20 "$out/newcomer.log"; fail "installing make and git"; }
in_root sh -c 'command -v ccache' >/dev/null && fail "the fresh machine has ccache"

say "copy the checkout into /root/velto"
mkdir -p "$root/root/velto"
(cd "$source_dir" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf -) \
  | tar -xf - -C "$root/root/velto"

say "make test-deps (the set-up, with the network)"
timeout 2400 chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
  sh -c 'cd /root/velto && make test-deps' >"$out/test-deps.log" 2>&1 \
  || { tail -20 "$out/test-deps.log"; fail "make test-deps"; }
say "installed: $(( $(grep -m1 '^Installing:' "$out/test-deps.log" | wc -w) - 1 )) packages asked for and what they need"

# Without the network, on its own loopback: no server or display of this
# machine's can answer the tests, and the set-up must already be complete.
say "make test (no network)"
if ! timeout 5400 unshare --net sh -c "ip link set lo up 2>/dev/null || true
    exec chroot '$root' /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
      sh -c 'cd /root/velto && make test'" >"$out/test.log" 2>&1; then
  grep -E '(Failed|\*\*\*|Error|error:|not found)' "$out/test.log" | tail -30
  fail "make test (whole log: $out/test.log)"
fi
grep -E 'tests passed|tests failed' "$out/test.log" | sed 's/^/    /' | tee -a "$out/steps.txt"
say "make test passed"
