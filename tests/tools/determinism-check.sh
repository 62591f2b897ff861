#!/usr/bin/env bash
# The determinism check: every proof run in tests/data/tracks must give the
# whole-run digest committed beside it (NAME.digest, velto-sim --digest)
# under every build we can make here:
#   normal    the build's own velto-sim
#   no-fma    the same binary, with glibc's math as on a CPU without FMA/AVX2
#   clang     core + velto-sim built by Clang
#   x86-64-v3 core + velto-sim built by GCC with -O2 -march=x86-64-v3
#   arm64     an aarch64 cross build, run under qemu-user
#   windows   a mingw-w64 cross build, run under wine64; unoptimized, so
#             that every call into its C runtime stays a call
#   wasm      the web pages' WebAssembly module (web/build.sh), ridden under
#             node by tests/web/ride-test.js; skipped, with a line saying so,
#             where emscripten or node is not installed
# The extra builds compile only the core and velto-sim, in parallel, through
# ccache when it is there. A digest that differs fails the check with the
# track, the build and the first step where the ride parts from the normal
# one. The x86-64-v3 objects must hold no fused multiply-add.
#
#   determinism-check.sh SOURCE_DIR BUILD_DIR
# VELTO_CORE_FLAGS: the core's exact-arithmetic flags (from CMake).
set -uo pipefail

src=${1:?source folder}
build=${2:?build folder}
work="$build/determinism"
flags=${VELTO_CORE_FLAGS:?the core flags}
flags=${flags//;/ }
jobs=${JOBS:-2}
# Warnings stop the extra builds only where they stop the project's own.
werror=""
[ "${VELTO_WERROR:-OFF}" = ON ] && werror=-Werror
wine=/usr/lib/wine/wine64
export WINEDEBUG=-all

missing=()
for tool in clang++ aarch64-linux-gnu-g++ qemu-aarch64 x86_64-w64-mingw32-g++-posix objdump; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
[ -x "$wine" ] || missing+=("$wine")
if [ ${#missing[@]} -gt 0 ]; then
  echo "determinism check: missing ${missing[*]} (tools/install-deps.sh --test installs them)"
  exit 1
fi

mkdir -p "$work/include"
# Only xxhash.h: the cross compilers must not see the host's /usr/include.
xxhash=$(echo '#include <xxhash.h>' | g++ -E -x c++ - | grep -m1 -o '"/[^"]*xxhash\.h"' | tr -d '"')
cp "$xxhash" "$work/include/" || exit 1
sources=("$src"/src/model/*.cpp "$src"/src/physics/*.cpp "$src"/tools/sim/main.cpp)

# build NAME COMPILER LINKFLAGS CXXFLAGS...: objects in $work/NAME, program $work/NAME/velto-sim
build() {
  local name=$1 cxx=$2 link=$3
  shift 3
  local out="$work/$name"
  mkdir -p "$out"
  local objects=()
  for s in "${sources[@]}"; do
    objects+=("$out/$(basename "$(dirname "$s")")-$(basename "$s" .cpp).o")
  done
  "$src/tests/tools/compile-each.sh" "$out" "$jobs" "$cxx" -std=c++20 -Wall -Wextra $werror "$@" \
      -DXXH_INLINE_ALL -DVELTO_VERSION="\"check\"" -I"$src/src" -I"$work/include" $flags \
      -- "${sources[@]}" || return 1
  "$cxx" "${objects[@]}" $link -o "$out/velto-sim" || return 1
}

start=$(date +%s)
status=0
web=""
if command -v em++ >/dev/null && command -v node >/dev/null; then
  web=yes
  VELTO_CORE_FLAGS="$flags" JOBS=$jobs "$src/web/build.sh" "$src" "$work/wasm" > "$work/wasm.log" 2>&1 & b5=$!
else
  echo "determinism check: SKIPPED the WebAssembly build: emscripten (em++) or node is not installed" \
       "(tools/install-deps.sh --test installs them)"
fi
build clang clang++ "" -O2 > "$work/clang.log" 2>&1 & b1=$!
build x86-64-v3 g++ "-pthread" -O2 -march=x86-64-v3 > "$work/x86-64-v3.log" 2>&1 & b2=$!
build arm64 aarch64-linux-gnu-g++ "-static -pthread" -O2 > "$work/arm64.log" 2>&1 & b3=$!
build windows x86_64-w64-mingw32-g++-posix "-static" -O0 > "$work/windows.log" 2>&1 & b4=$!
for b in clang:$b1 x86-64-v3:$b2 arm64:$b3 windows:$b4; do
  if ! wait "${b#*:}"; then
    echo "determinism check: the ${b%%:*} build failed:"
    tail -20 "$work/${b%%:*}.log"
    status=1
  fi
done
if [ -n "$web" ] && ! wait "$b5"; then
  echo "determinism check: the wasm build failed:"
  tail -20 "$work/wasm.log"
  status=1
fi
[ $status -eq 0 ] || exit 1
built=$(date +%s)
fused=$(objdump -d "$work"/x86-64-v3/*.o | grep -cE '\svfn?m(add|sub)')
if [ "$fused" -ne 0 ]; then
  echo "determinism check: the x86-64-v3 build of the core holds $fused fused multiply-adds:"
  for o in "$work"/x86-64-v3/*.o; do
    objdump -d "$o" | grep -qE '\svfn?m(add|sub)' && echo "  $(basename "$o")"
  done
  status=1
fi

# run BUILD ARGS...: velto-sim of that build
run() {
  local name=$1
  shift
  case $name in
    normal) "$build/velto-sim" "$@" ;;
    no-fma) GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA "$build/velto-sim" "$@" ;;
    arm64) qemu-aarch64 "$work/arm64/velto-sim" "$@" ;;
    windows) "$wine" "$work/windows/velto-sim.exe" "$@" ;;
    *) "$work/$name/velto-sim" "$@" ;;
  esac
}

# check BUILD: every proof run's digest; one line per failure.
check() {
  local name=$1 failed=0
  for replay in "$src"/tests/data/tracks/*.replay; do
    local track
    track=$(basename "$replay" .replay)
    local want got
    want=$(cat "$src/tests/data/tracks/$track.digest" 2>/dev/null || echo "(no $track.digest)")
    # A run that prints nothing did not run (wine's server now and then
    # drops a process on a busy machine): it is run again, up to three
    # times. A digest that differs is never run again.
    local tries=0
    got=""
    while [ -z "$got" ] && [ $tries -lt 3 ]; do
      got=$(cd "$build" && run "$name" "tracks/$track.vlt" --replay "$replay" --digest 2>&1 | tr -d '\r')
      tries=$((tries + 1))
    done
    if [ "$got" != "$want" ]; then
      local first
      first=$(cmp <(cd "$build" && run normal "tracks/$track.vlt" --replay "$replay" --step-digests 2>/dev/null) \
                  <(cd "$build" && run "$name" "tracks/$track.vlt" --replay "$replay" --step-digests 2>/dev/null |
                    tr -d '\r') 2>&1 | head -1)
      local step=""
      if [[ $first =~ line\ ([0-9]+) ]]; then
        step="first different step: ${BASH_REMATCH[1]}"
      elif [[ $first == *EOF* ]]; then
        step="one ride is shorter ($first)"
      else
        step="the rides agree step by step; the digest file differs"
      fi
      echo "determinism check: track $track, build $name: digest '$got', committed $want; $step"
      failed=1
    fi
  done
  return $failed
}

# The wine prefix is made once, before the runs in parallel.
"$wine" "$work/windows/velto-sim.exe" --help > /dev/null 2>&1
pids=()
for name in normal no-fma clang x86-64-v3 arm64 windows; do
  check "$name" > "$work/$name.result" 2>&1 &
  pids+=("$name:$!")
done
if [ -n "$web" ]; then
  node "$src/tests/web/ride-test.js" "$work/wasm" "$build/tracks" "$src/tests/data/tracks" > "$work/wasm.result" 2>&1 &
  pids+=("wasm:$!")
fi
for p in "${pids[@]}"; do
  if ! wait "${p#*:}"; then
    cat "$work/${p%%:*}.result"
    status=1
  fi
done
count=$(ls "$src"/tests/data/tracks/*.replay | wc -l)
[ -n "$web" ] && tail -1 "$work/wasm.result"
echo "determinism check: $count proof runs under $([ -n "$web" ] && echo 7 || echo 6) builds, $(( $(date +%s) - start )) s" \
     "(building $(( built - start )) s)"
exit $status
