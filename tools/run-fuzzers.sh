#!/usr/bin/env bash
# Runs every libFuzzer harness of a fuzz build for a number of seconds each,
# starting from the seed corpus in tests/fuzz/corpus/<name> when there is one.
# Usage: tools/run-fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for fuzzer in "$build"/fuzz/fuzz_*; do
  name=$(basename "$fuzzer")
  work="$build/fuzz/corpus-$name"
  mkdir -p "$work"
  seeds=()
  [ -d "$root/tests/fuzz/corpus/$name" ] && seeds=("$root/tests/fuzz/corpus/$name")
  echo "== $name: ${seconds}s"
  if ! "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -artifact_prefix="$build/fuzz/$name-" \
      "$work" "${seeds[@]}" 2>&1 | tail -n 3; then
    status=1
  fi
done
exit $status
