#!/bin/sh
# Starts an installed Velto. The program keeps its settings and the tracks'
# best times in its own folder; when the installed folder cannot be written,
# the game runs from a per-user copy of it instead: the program itself, a
# link to the textures and the player's own copies of the tracks.
set -e
# The launcher lives in <prefix>/bin or, for /usr, in /usr/games.
here=$(dirname "$(readlink -f "$0")")
shipped=$(readlink -f "$here/../lib/velto")
if [ "$#" -eq 1 ] && [ "$1" = "--version" ]; then
  exec "$shipped/velto" --version
fi
# A folder of its own, such as a build installed under the player's home, is
# played in place. A system-wide one under /usr belongs to the package
# manager and is never written, not even by root.
case "$shipped" in
  /usr/*) in_place=false ;;
  *) in_place=true ;;
esac
if $in_place && [ -w "$shipped" ] && [ -w "$shipped/tracks" ]; then
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
# Tracks new to the pack are added; the player's copies keep their best times,
# and the player's replays are never touched. What else the pack keeps beside
# its tracks is the pack's own and follows the installed version.
for file in "$shipped"/tracks/*; do
  [ -f "$file" ] || continue
  copy="$home/tracks/${file##*/}"
  case "$file" in
    *.vlt) [ -e "$copy" ] || { cp "$file" "$copy" && chmod u+w "$copy"; } ;;
    *.replay) ;;
    *)
      if ! cmp -s "$file" "$copy"; then
        cp -f "$file" "$copy.new" && chmod u+w "$copy.new" && mv -f "$copy.new" "$copy"
      fi
      ;;
  esac
done
cd "$home"
exec ./velto "$@"
