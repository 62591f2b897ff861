#!/bin/sh
# Starts an installed Velto. The program keeps its settings and the tracks'
# best times in its own folder; when the installed folder cannot be written,
# the game runs from a per-user copy of it instead: the program itself, a
# link to the textures and the player's own copies of the tracks.
set -e
here=$(dirname "$(readlink -f "$0")")
shipped=$(readlink -f "$here/../lib/velto")
if [ -w "$shipped" ] && [ -w "$shipped/tracks" ]; then
  cd "$shipped"
  exec ./velto "$@"
fi
home="${XDG_DATA_HOME:-$HOME/.local/share}/velto"
mkdir -p "$home/tracks"
if ! cmp -s "$shipped/velto" "$home/velto"; then
  cp -f "$shipped/velto" "$home/velto.new"
  chmod u+wx "$home/velto.new"
  mv -f "$home/velto.new" "$home/velto"
fi
[ -L "$home/textures" ] || [ ! -e "$home/textures" ] && ln -sfn "$shipped/textures" "$home/textures"
# Tracks new to the pack are added; the player's copies keep their best times.
for track in "$shipped"/tracks/*.vlt; do
  [ -e "$track" ] || continue
  copy="$home/tracks/${track##*/}"
  [ -e "$copy" ] || { cp "$track" "$copy" && chmod u+w "$copy"; }
done
cd "$home"
exec ./velto "$@"
