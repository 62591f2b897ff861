#!/usr/bin/env bash
# Builds the physics into a WebAssembly module and copies the page's script
# beside it, with Debian's emscripten, offline (its prebuilt, frozen library
# cache; no ports):
#   OUT/velto-core.js    the module's loader (createVeltoCore)
#   OUT/velto-core.wasm  the model and physics, with web/VeltoWeb.cpp
#   OUT/ride.js          a ride through the module, with kept copies to go back to
#   OUT/player.js        the track page's player
#
#   web/build.sh SOURCE_DIR OUT_DIR
# VELTO_CORE_FLAGS: the core's exact-arithmetic flags (CMake's list); the
# project's own set when not given. JOBS: compiles at a time (2).
set -euo pipefail

src=${1:?source folder}
out=${2:?output folder}
jobs=${JOBS:-2}

if ! command -v em++ >/dev/null; then
  echo "web build: em++ is missing (tools/install-deps.sh --web installs emscripten)" >&2
  exit 1
fi
flags=${VELTO_CORE_FLAGS:-$(sed -n '/^set(VELTO_EXACT_ARITHMETIC_FLAGS/,/)/p' "$src/CMakeLists.txt" |
                            grep -o -- '-f[^ )]*' | tr '\n' ' ')}
flags=${flags//;/ }
# Clang 14 takes -fno-unsafe-math-optimizations as asking for trapping
# floating point as well, which WebAssembly lacks (it never traps) and which
# it refuses with a warning; the flags that the option stands for besides
# (no reassociation, no reciprocals, signed zeros) stay in the set on their
# own. WebAssembly has no fused multiply-add without relaxed SIMD, which is
# never enabled here, and -ffp-contract=off forbids fusing in any case.
flags=${flags//-fno-unsafe-math-optimizations/}

# emscripten's optimiser needs acorn, which Debian keeps in /usr/share/nodejs
# (node-acorn): a node from elsewhere does not look there by itself.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

obj="$out/obj"
mkdir -p "$obj/include"
# Only xxhash.h: emscripten must not see the host's /usr/include.
pre=$(echo '#include <xxhash.h>' | g++ -E -x c++ -)
xxhash=$(grep -o '"/[^"]*xxhash\.h"' <<<"$pre" | head -1 | tr -d '"')
cp "$xxhash" "$obj/include/"

sources=("$src"/src/model/*.cpp "$src"/src/physics/*.cpp "$src"/web/VeltoWeb.cpp)
# The Windows file seam is not built here.
keep=()
for s in "${sources[@]}"; do
  [[ $s == *Windows.cpp ]] || keep+=("$s")
done
sources=("${keep[@]}")

"$src/tests/tools/compile-each.sh" "$obj" "$jobs" em++ -std=c++20 -O2 -Wall -Wextra -Werror \
    -DXXH_INLINE_ALL -DVELTO_VERSION="\"web\"" -I"$src/web/compat" -I"$src/src" -I"$obj/include" $flags \
    -- "${sources[@]}"

objects=()
for s in "${sources[@]}"; do
  objects+=("$obj/$(basename "$(dirname "$s")")-$(basename "$s" .cpp).o")
done
exports=_velto_load_track,_velto_load_replay,_velto_step,_velto_state,_velto_digest,_velto_clock
exports+=,_velto_replay_steps,_velto_replay_result,_velto_geometry,_velto_apples,_velto_buffer
exports+=,_velto_apple_buffer,_velto_error,_velto_memory_used,_malloc,_free
em++ -O2 "${objects[@]}" -o "$out/velto-core.js" \
    -sMODULARIZE=1 -sEXPORT_NAME=createVeltoCore -sENVIRONMENT=web,node \
    -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=4194304 -sTOTAL_STACK=262144 -sMALLOC=emmalloc \
    -sDYNAMIC_EXECUTION=0 -sEXPORTED_FUNCTIONS="$exports" \
    -sEXPORTED_RUNTIME_METHODS=UTF8ToString,HEAPU8,HEAPF64 \
    -sINCOMING_MODULE_JS_API=locateFile,print,printErr,wasmBinary
cp "$src/web/ride.js" "$src/web/player.js" "$out/"
echo "web build: $out/velto-core.js, velto-core.wasm, ride.js, player.js"
