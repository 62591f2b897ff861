#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Velto need.
# Does nothing when everything is present; uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libsdl2-dev libfltk1.3-dev libglu1-mesa-dev libgl-dev libgl1-mesa-dri
  libjpeg-dev libfreetype-dev libfontconfig-dev libx11-dev libgtk2.0-0
  fonts-liberation2 xfonts-base
  libgtest-dev libgmock-dev libbenchmark-dev
  libxxhash-dev
  libboost-dev nlohmann-json3-dev libsqlite3-dev libpq-dev libssl-dev
  libcurl4-openssl-dev ca-certificates
)
# --web: emscripten for make web (node-acorn for its optimiser; node comes
# with it). --test: what the test suite needs besides, the web build too.
# --package: what make package and make package-test need: the test display
# tools, ImageMagick for the icons, the checks Debian runs on packages, and
# debootstrap for a clean system.
if [ "${1:-}" = "--test" ] || [ "${1:-}" = "--package" ]; then
  packages+=(xvfb xauth xdotool x11-utils imagemagick)
fi
if [ "${1:-}" = "--test" ]; then
  packages+=(clang libclang-rt-14-dev postgresql chromium)
fi
if [ "${1:-}" = "--test" ] || [ "${1:-}" = "--web" ]; then
  packages+=(emscripten node-acorn)
fi
if [ "${1:-}" = "--package" ]; then
  packages+=(debootstrap lintian appstream desktop-file-utils)
fi
# openbox comes without its recommendations, which would pull in GTK3.
# The determinism check's cross builds: arm64 under qemu-user, Windows under
# wine64 (without wine's recommendations, which add fonts and 32-bit wine).
bare=()
[ "${1:-}" = "--test" ] && bare=(openbox qemu-user g++-aarch64-linux-gnu g++-mingw-w64-x86-64 wine64)
[ "${1:-}" = "--package" ] && bare=(openbox)

missing=()
for p in "${packages[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
missing_bare=()
for p in "${bare[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing_bare+=("$p"); done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_bare[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]} ${missing_bare[*]}"
$sudo apt-get update -qq
export DEBIAN_FRONTEND=noninteractive
[ ${#missing[@]} -gt 0 ] && $sudo apt-get install -y -qq "${missing[@]}"
[ ${#missing_bare[@]} -gt 0 ] && $sudo apt-get install -y -qq --no-install-recommends "${missing_bare[@]}"
exit 0
