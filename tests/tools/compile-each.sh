#!/usr/bin/env bash
# Compiles each source on its own into OUT_DIR/FOLDER-NAME.o, JOBS at a time,
# through ccache when ccache is on PATH. Exits non-zero when any compile fails
# (after the others have finished).
#
#   compile-each.sh OUT_DIR JOBS COMPILER [FLAGS...] -- SOURCES...
set -uo pipefail

out=${1:?output folder}
jobs=${2:?jobs}
shift 2
compile=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  compile+=("$1")
  shift
done
[ $# -gt 0 ] || { echo "compile-each: no -- before the sources" >&2; exit 2; }
shift
[ ${#compile[@]} -gt 0 ] || { echo "compile-each: no compiler" >&2; exit 2; }
command -v ccache >/dev/null && compile=(ccache "${compile[@]}")

mkdir -p "$out"
status=0
running=0
for s in "$@"; do
  "${compile[@]}" -c "$s" -o "$out/$(basename "$(dirname "$s")")-$(basename "$s" .cpp).o" &
  running=$((running + 1))
  if [ $running -ge "$jobs" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
done
while [ $running -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
exit $status
