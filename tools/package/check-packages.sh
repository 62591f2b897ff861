#!/usr/bin/env bash
# The checks Debian's own tools make on the packages of PACKAGE_FOLDER, and
# ours: lintian (no errors), desktop-file-validate and appstreamcli validate
# on the installed desktop entry and metadata, and no path of the build
# machine in any shipped file but the install prefix.
# Usage: tools/package/check-packages.sh PACKAGE_FOLDER SOURCE_DIR BUILD_DIR
set -euo pipefail
folder=$1 source_dir=$(readlink -f "$2") build_dir=$(readlink -f "$3")
shopt -s nullglob
debs=("$folder"/*.deb)
[ ${#debs[@]} -gt 0 ] || { echo "no packages in $folder" >&2; exit 1; }
status=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for deb in "${debs[@]}"; do
  name=$(dpkg-deb -f "$deb" Package)
  echo "== $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB, installed $(dpkg-deb -f "$deb" Installed-Size) KiB"
  echo "   Depends: $(dpkg-deb -f "$deb" Depends)"
  # Warnings and notes are shown; an error fails the check.
  lintian --tag-display-limit 0 --display-info "$deb" 2>&1 | grep -v "root privileges" | tee "$work/lintian.txt" || true
  if grep -q '^E: ' "$work/lintian.txt"; then
    echo "lintian: errors in $name" >&2
    status=1
  fi
  dpkg-deb -x "$deb" "$work/$name"
  # Strings naming the source or build folder (the build folder may lie
  # inside the source folder, so the source folder covers both).
  if grep -rlF -e "$source_dir" -e "$build_dir" "$work/$name" >"$work/paths.txt"; then
    echo "$name: files that name the build machine's folders:" >&2
    sed 's/^/  /' "$work/paths.txt" >&2
    status=1
  fi
done

for desktop in "$work"/*/usr/share/applications/*.desktop; do
  echo "== desktop-file-validate ${desktop#$work/*/}"
  desktop-file-validate "$desktop" || status=1
done
for metainfo in "$work"/*/usr/share/metainfo/*.xml; do
  echo "== appstreamcli validate ${metainfo#$work/*/}"
  # --no-net: the screenshots' web address is checked where they are published.
  appstreamcli validate --no-net --pedantic "$metainfo" || status=1
done
exit $status
