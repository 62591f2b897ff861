#!/usr/bin/env bash
# make package-test: the packages of build/packages on a clean Debian 12.
#
# Bootstraps a minimal bookworm into a temporary folder from the mirror this
# machine's apt uses, then inside it, as a player would:
#   1. installs an older version of the packages (the same build, its version
#      lowered, one pack track and the program's bytes changed), plays once
#      and leaves best times, a replay and settings in the player's home;
#   2. upgrades to the packages under test with apt-get install ./*.deb and
#      checks that the player's data survived and the new track arrived;
#   3. rides every shipped track that has a proof replay with velto-sim;
#   4. opens the game on a shipped track under Xvfb (installed in the chroot
#      for the test only), sees its first frame and quits;
#   5. starts velto-hub and asks its health check (when the hub is packaged);
#   6. checks that nothing the programs wrote landed outside the home folder;
#   7. purges the packages and checks that no file of theirs is left.
# The X clients that drive and watch the game (xdotool, openbox, ImageMagick)
# run on this machine and reach the chroot's Xvfb through its abstract socket.
#
# Usage: tools/package/package-test.sh [PACKAGE_FOLDER]
# Needs root, debootstrap, and the test tools of tools/install-deps.sh.
# Downloaded packages are kept in build/package-test-cache between runs.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
packages=$(readlink -f "${1:-$source_dir/build/packages}")
cache=$(readlink -f "${VELTO_PACKAGE_CACHE:-$source_dir/build/package-test-cache}")
out="$packages/package-test"
started=$(date +%s)

say() { printf '[%4ds] %s\n' $(( $(date +%s) - started )) "$*"; }
fail() {
  say "FAILED: $*"
  # What the screen showed, and which windows were up, when the display runs.
  if [ -n "${DISPLAY_IN_ROOT:-}" ]; then
    import -window root "$out/failure.png" 2>/dev/null || true
    xwininfo -root -tree 2>/dev/null | grep -E '^ *0x[0-9a-f]+ "' | grep -v -E '"(velto|Openbox)": ' \
      | sed 's/^ */    window /'
  fi
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "run as root (debootstrap, chroot, mount)"
for tool in debootstrap dpkg-deb xdotool import Xvfb openbox timeout; do
  command -v "$tool" >/dev/null || fail "$tool is missing: tools/install-deps.sh --package"
done
shopt -s nullglob
game_debs=("$packages"/velto_*_*.deb)
hub_debs=("$packages"/velto-hub_*_*.deb)
game_deb=${game_debs[0]:-}
hub_deb=${hub_debs[0]:-}
[ -n "$game_deb" ] || fail "no velto_*.deb in $packages: make package"
version=$(dpkg-deb -f "$game_deb" Version)
say "testing $(basename "$game_deb")${hub_deb:+ and $(basename "$hub_deb")}"

# shellcheck source=bootstrap.sh
. "$source_dir/tools/package/bootstrap.sh"

# --- the chroot, and its clean-up --------------------------------------------
root=$(mktemp -d /tmp/velto-package-test.XXXXXX)
chmod 755 "$root"  # the root folder of the system, which the player must enter
work=$(mktemp -d /tmp/velto-package-debs.XXXXXX)
pids=()
cleanup() {
  local rc=$?
  set +e
  for pid in "${pids[@]}"; do { kill -9 "$pid"; wait "$pid"; } 2>/dev/null; done
  release_root
  rm -rf "$work"
  say "took $(( $(date +%s) - started )) s, exit status $rc"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$out"
rm -f "$out"/*
bootstrap_root

as_player() { # COMMAND...: as the player, in the player's home
  chroot --userspec=player:player "$root" /usr/bin/env -i PATH=/usr/games:/usr/bin:/bin HOME=/home/player \
    USER=player LANG=C.UTF-8 ${DISPLAY_IN_ROOT:+DISPLAY=$DISPLAY_IN_ROOT} \
    SDL_AUDIODRIVER=dummy /bin/sh -c 'cd "$HOME" && exec "$@"' player "$@"
}

apt_in_root update >"$out/apt-update.log" 2>&1 || { tail "$out/apt-update.log"; fail "apt-get update"; }
in_root useradd -m -s /bin/sh player
# What the system holds before the packages come: the purge is checked
# against it.
snapshot() { # FILE: every path outside the homes, /proc, /dev, /tmp, apt and dpkg's own records
  (cd "$root" && find . -xdev \( -path ./home -o -path ./proc -o -path ./dev -o -path ./tmp \
    -o -path ./var/cache/apt -o -path ./var/lib/apt/lists -o -path ./run -o -path ./var/log \) -prune \
    -o -print | sort) >"$1"
}

# --- the older version --------------------------------------------------------
# The same build repacked as an older version: the program's bytes differ
# (one byte appended), so the player's copy must be replaced on the upgrade,
# and the last pack track is missing, so the upgrade brings it.
older="${version%%[-+~]*}~older1"
repack() { # DEB: writes the older version into $work
  local deb=$1 dir="$work/repack"
  rm -rf "$dir" && mkdir -p "$dir"
  dpkg-deb -R "$deb" "$dir"
  sed -i "s/^Version: .*/Version: $older/" "$dir/DEBIAN/control"
  if [ -f "$dir/usr/lib/velto/velto" ]; then
    printf '\0' >>"$dir/usr/lib/velto/velto"
    local last
    last=$(ls "$dir/usr/lib/velto/tracks/"*.vlt | sort | tail -n1)
    rm -f "$last"
    basename "$last" >"$work/new-track"
  fi
  (cd "$dir" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z | xargs -0 md5sum \
    >DEBIAN/md5sums)
  dpkg-deb --root-owner-group -Zxz -b "$dir" "$work/" >/dev/null
}
repack "$game_deb"
[ -n "$hub_deb" ] && repack "$hub_deb"
new_track=$(cat "$work/new-track")
# The server keeps its database under /var/lib and its copies of tracks
# under /var/cache, in folders the test makes as systemd would for the
# example unit (which changes the times of /var/lib and /var/cache); the
# purge takes them.
hub_state_pattern='^\./var/(lib|cache)$|^\./var/(lib|cache)/(private/)?velto-hub(/|$)'
[ -n "$hub_deb" ] || hub_state_pattern='^$' 
mkdir -p "$root/tmp/older"
cp "$work"/*.deb "$root/tmp/older/"
cp "$game_deb" ${hub_deb:+"$hub_deb"} "$root/tmp/"
older_in_root=()
for deb in "$root"/tmp/older/*.deb; do older_in_root+=("/tmp/older/$(basename "$deb")"); done

snapshot "$out/files-before.txt"
say "install the older version $older"
apt_in_root install "${older_in_root[@]}" >"$out/install-older.log" 2>&1 || { tail -20 "$out/install-older.log"; fail "installing $older"; }
say "installed: $(in_root dpkg-query -W -f '${Package} ${Version}, ' velto velto-hub 2>/dev/null)"

# --- the game under Xvfb ----------------------------------------------------
say "install Xvfb in the chroot, for the test only"
apt_in_root install --no-install-recommends xvfb xauth >"$out/install-xvfb.log" 2>&1 \
  || { tail -20 "$out/install-xvfb.log"; fail "installing xvfb"; }
display=""
start_display() {
  # A display number no server of this machine uses: the chroot's Xvfb
  # cannot see their lock files, but shares their abstract sockets.
  display=140
  while grep -q "@/tmp/.X11-unix/X$display\$" /proc/net/unix; do display=$(( display + 1 )); done
  chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin \
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
  pids+=($!)
  wait_for 20 grep -q "@/tmp/.X11-unix/X$display\$" /proc/net/unix || fail "Xvfb did not start"
  export DISPLAY=":$display"
  DISPLAY_IN_ROOT=":$display"
  # The abstract socket is shared with this machine's X clients.
  xdpyinfo >/dev/null 2>&1 || xdotool getmouselocation >/dev/null 2>&1 \
    || fail "this machine's X clients cannot reach the chroot's Xvfb on :$display"
  openbox >/dev/null 2>&1 &
  pids+=($!)
  sleep 0.5
}
window_of() { # NAME = | !=: the first viewable window named NAME whose class is (=) or is not (!=) FLTK
  # xwininfo reads the name whether it is stored as STRING or UTF8_STRING,
  # which SDL's window uses, and walks the windows a window manager wraps.
  local id cls
  while read -r id cls; do
    if { [ "$2" = "=" ] && [ "$cls" = FLTK ]; } || { [ "$2" = "!=" ] && [ "$cls" != FLTK ]; }; then
      if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
        echo "$id"
        return 0
      fi
    fi
  done < <(xwininfo -root -tree 2>/dev/null | sed -n "s/^ *\(0x[0-9a-f]*\) \"$1\": (\"[^\"]*\" \"\([^\"]*\)\").*/\1 \2/p")
  return 1
}
wait_for() { # SECONDS COMMAND...: until COMMAND succeeds
  local end=$(( $(date +%s) + $1 )); shift
  until "$@"; do [ "$(date +%s)" -lt "$end" ] || return 1; sleep 0.2; done
}
key() { xdotool keydown "$1" sleep 0.1 keyup "$1"; }
game_pid=""
start_game() {
  as_player velto >"$out/game-$1.log" 2>&1 &
  game_pid=$!
  pids+=($game_pid)
  wait_for 30 window_of Velto = >/dev/null || fail "no start window ($1)"
  form=$(window_of Velto =)
  xdotool windowactivate --sync "$form" >/dev/null 2>&1 || true
  sleep 0.5
}
quit_game() { # LABEL: Esc in the start window ends the program, which must say nothing
  key Escape
  local rc=0
  timeout 15 tail --pid="$game_pid" -f /dev/null || fail "the game did not end on Esc ($1)"
  wait "$game_pid" || rc=$?
  [ "$rc" -eq 0 ] || fail "the game ended with status $rc ($1)"
  [ ! -s "$out/game-$1.log" ] || { cat "$out/game-$1.log"; fail "the game wrote to the console ($1)"; }
}
start_display

home=/home/player/.local/share/velto
say "play the older version once (start window, Esc)"
start_game older
quit_game older
[ -f "$root$home/tracks/02-first-ride.vlt" ] || fail "the launcher made no copy of the tracks in the home folder"
[ -f "$root/usr/lib/velto/tracks/02-first-ride.demo" ] || fail "the package ships no demos beside its tracks"
cmp -s "$root/usr/lib/velto/tracks/02-first-ride.demo" "$root$home/tracks/02-first-ride.demo" \
  || fail "the launcher did not copy the demos with the tracks"
[ ! -e "$root$home/tracks/$new_track" ] || fail "$new_track was there before the upgrade"

# The player's data, as the game writes it: a best time of 9.67 s in the
# track's first 8 bytes, that run's replay beside it, and settings of
# 1024x768, 32 bits, frame rate shown.
say "leave best times, a replay and settings in the player's home"
cp "$source_dir/tests/data/tracks/02-first-ride.replay" "$root/tmp/"
as_player velto-sim "$home/tracks/02-first-ride.vlt" --replay /tmp/02-first-ride.replay \
  --record "$home/tracks/02-first-ride.replay" >"$out/record.log" 2>&1 || { cat "$out/record.log"; fail "recording"; }
as_player sh -c "perl -e 'print pack(\"d<\", 967 * 0.01 / 86400)' \
  | dd of=$home/tracks/02-first-ride.vlt bs=8 count=1 conv=notrunc status=none"
as_player sh -c "perl -e 'print pack(\"vvCCC\", 1024, 768, 32, 1, 0)' >$home/Velto.dat"
player_data=("$home/tracks/02-first-ride.vlt" "$home/tracks/02-first-ride.replay" "$home/Velto.dat")
(cd "$root" && md5sum "${player_data[@]#/}") >"$out/player-data.md5"

# --- the upgrade ----------------------------------------------------------------
say "upgrade to $version"
new_in_root=()
for deb in "$game_deb" ${hub_deb:+"$hub_deb"}; do new_in_root+=("/tmp/$(basename "$deb")"); done
apt_in_root install "${new_in_root[@]}" >"$out/install.log" 2>&1 || { tail -20 "$out/install.log"; fail "upgrading"; }
installed=$(in_root dpkg-query -W -f '${Version}' velto)
[ "$installed" = "$version" ] || fail "velto $installed is installed, not $version"
say "installed: $(in_root dpkg-query -W -f '${Package} ${Version} ${Installed-Size} KiB, ' velto velto-hub 2>/dev/null)"

# From here on only the programs run: whatever changes on the disk is theirs.
sleep 1
touch "$out/marker"
say "versions"
# The games as the player; the server, in /usr/sbin, as the administrator.
for program in velto velto-sim ${hub_deb:+velto-hub}; do
  if [ "$program" = velto-hub ]; then
    line=$(in_root "$program" --version) || fail "$program --version"
  else
    line=$(as_player "$program" --version) || fail "$program --version"
  fi
  [ "$line" = "$program ${version%%[-+~]*}" ] || fail "$program --version says '$line'"
  echo "    $line"
done

# --- velto-sim rides the proof replays ----------------------------------------
say "velto-sim rides the shipped tracks' proof replays"
mkdir -p "$root/tmp/proofs"
cp "$source_dir"/tests/data/tracks/*.replay "$root/tmp/proofs/"
rides=0
for replay in "$root"/tmp/proofs/*.replay; do
  name=$(basename "$replay" .replay)
  [ -f "$root/usr/lib/velto/tracks/$name.vlt" ] || continue
  result=$(as_player velto-sim "/usr/lib/velto/tracks/$name.vlt" --replay "/tmp/proofs/$name.replay") \
    || fail "velto-sim: $name's proof replay does not hold"
  [[ $result == *"result: finished"* ]] || fail "$name: $result"
  rides=$(( rides + 1 ))
done
[ "$rides" -gt 0 ] || fail "no shipped track has a proof replay"
say "    $rides proof replays ride to their finish"

# --- the game's first frame on a shipped track ---------------------------------
say "the game: the start window, Game, a shipped track, its first frame, Esc"
start_game new
xdotool mousemove --window "$form" 64 48 click 1
wait_for 20 window_of Open != >/dev/null || fail "no file dialog"
sleep 0.7
key ctrl+l
sleep 0.3
xdotool type --delay 30 -- "$home/tracks/03-valley.vlt"
sleep 0.5
key Return
wait_for 30 window_of Velto != >/dev/null || fail "no game window"
game_window=$(window_of Velto !=)
coloured() { # the window's pixels are not all black
  local mean
  mean=$(import -window "$game_window" -colorspace gray -format '%[fx:mean]' info: 2>/dev/null) || return 1
  awk -v m="$mean" 'BEGIN { exit !(m > 0.05) }'
}
wait_for 30 coloured || fail "the game window stayed black"
sleep 1
import -window "$game_window" "$out/game.png" 2>/dev/null || true
say "    first frame seen ($(import -window "$game_window" -colorspace gray -format 'mean grey %[fx:mean]' info: 2>/dev/null))"
key Escape
sleep 0.3
key Escape
wait_for 15 window_of Velto = >/dev/null || fail "the start window did not come back"
form=$(window_of Velto =)
xdotool windowactivate --sync "$form" >/dev/null 2>&1 || true
sleep 0.5
quit_game new

# --- the player's data after the upgrade ----------------------------------------
say "the player's data after the upgrade"
(cd "$root" && md5sum -c --quiet "$out/player-data.md5") || fail "the player's best time, replay or settings changed"
echo "    best time, replay and settings kept byte for byte"
[ -f "$root$home/tracks/$new_track" ] || fail "the upgrade's new track $new_track did not reach the home folder"
echo "    the new track $new_track arrived"
cmp -s "$root/usr/lib/velto/velto" "$root$home/velto" || fail "the player's copy of the program was not updated"
echo "    the player's copy of the program follows the upgrade"
as_player velto-sim "$home/tracks/02-first-ride.vlt" --replay "$home/tracks/02-first-ride.replay" >/dev/null \
  || fail "the kept replay no longer rides the player's track"

# --- the server ---------------------------------------------------------------
if [ -n "$hub_deb" ]; then
  say "velto-hub starts and answers its health check"
  "$source_dir/tools/package/hub-check.sh" "$root" "$out" || fail "velto-hub"
fi

# --- nothing of ours outside the home folder -----------------------------------
say "what the programs wrote"
# Every file changed since the upgrade, outside the homes and the places a
# running system keeps its scratch (/tmp, /proc, /dev, /run). Xvfb's compiled
# keymaps (/var/lib/xkb) are the test's own.
(cd "$root" && find . -xdev \( -path ./home -o -path ./tmp -o -path ./proc -o -path ./dev -o -path ./run \
  -o -path ./var/lib/xkb \) -prune -o -newer "$out/marker" -print | grep -v '^\.$' || true) >"$out/written.txt"
grep -v -E "$hub_state_pattern" "$out/written.txt" >"$out/stray-files.txt" || true
if [ -s "$out/stray-files.txt" ]; then
  head -20 "$out/stray-files.txt"
  fail "the programs wrote outside the home folder"
fi
[ -z "$(find "$root/usr" -newer "$out/marker" -print -quit)" ] || fail "something under /usr changed"
echo "    nothing written outside /home and /tmp${hub_deb:+, but for the state of the hub}"
echo "    the player's folder: $(ls "$root$home/tracks" | wc -l) files in tracks/, and $(ls "$root$home" | tr '\n' ' ')"

# --- purge --------------------------------------------------------------------
say "purge"
in_root dpkg-query -L velto ${hub_deb:+velto-hub} >"$out/ours.txt"
{ kill -9 "${pids[@]}"; wait "${pids[@]}"; } 2>/dev/null || true
pids=()
apt_in_root purge velto ${hub_deb:+velto-hub} xvfb xauth >"$out/purge.log" 2>&1 || { tail "$out/purge.log"; fail "purge"; }
apt_in_root autoremove --purge >>"$out/purge.log" 2>&1 || { tail "$out/purge.log"; fail "autoremove"; }
# Every file the packages held (not the folders they share, such as
# /usr/bin), and anything named after us, must be gone.
left=()
while IFS= read -r path; do
  [ -e "$root$path" ] && [ ! -d "$root$path" ] && left+=("$path")
done <"$out/ours.txt"
# (/tmp holds only the test's own copies of the packages.)
(cd "$root" && find . -xdev \( -path ./home -o -path ./proc -o -path ./tmp \) -prune -o -iname '*velto*' -print) \
  >"$out/ours-left.txt"
printf '%s\n' "${left[@]}" >>"$out/ours-left.txt"
sed -i '/^$/d' "$out/ours-left.txt"
if [ -s "$out/ours-left.txt" ]; then
  cat "$out/ours-left.txt"
  fail "files of ours left after the purge"
fi
snapshot "$out/files-after-purge.txt"
comm -13 "$out/files-before.txt" "$out/files-after-purge.txt" >"$out/new-after-purge.txt" || true
echo "    no file of ours outside /home; $(wc -l <"$out/new-after-purge.txt") paths new since the start," \
  "none of them ours (see new-after-purge.txt)"
[ -f "$root$home/tracks/02-first-ride.vlt" ] || fail "the purge took the player's home folder"
echo "    the player's folder stays"
say "PASSED"
