# A clean Debian 12 in a folder, for the tests that need a machine with
# nothing installed by hand (make package-test, make fresh-test). Sourced by
# them; they define say and fail, and set root, cache and out before calling
# bootstrap_root, and call release_root from their exit trap.

mounts=()

# Sets mirror to the first Debian archive this machine's apt reads, and
# sources to its deb822 source files (empty for one-line sources). The root
# gets the same sources, so that the versions the packages' dependencies
# were computed against are there.
find_debian_mirror() {
  mirror=""
  sources=()
  local f
  for f in /etc/apt/sources.list.d/*.sources; do [ -e "$f" ] && sources+=("$f"); done
  for f in "${sources[@]}"; do
    mirror=$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }' "$f")
    [ -n "$mirror" ] && break
  done
  if [ -z "$mirror" ] && [ -r /etc/apt/sources.list ]; then
    mirror=$(awk '$1 == "deb" && $0 !~ /security/ { for (i = 2; i <= NF; i++) if ($i ~ /^https?:/) { print $i; exit } }' \
      /etc/apt/sources.list)
  fi
  [ -n "$mirror" ] || fail "no Debian mirror in this machine's apt sources"
}

mount_in() { # TYPE-OR-bind SOURCE TARGET-inside-root
  mkdir -p "$root$3"
  if [ "$1" = bind ]; then mount --bind "$2" "$root$3"; else mount -t "$1" "$2" "$root$3"; fi
  mounts+=("$root$3")
}

# A minimal bookworm in $root from the mirror, with /proc, /dev and a fresh
# /dev/shm, the machine's apt sources and name servers, and apt keeping what
# it downloads in $cache for the next run.
bootstrap_root() {
  find_debian_mirror
  mkdir -p "$cache" "$out"
  say "debootstrap bookworm from $mirror into $root"
  timeout 1200 debootstrap --variant=minbase --cache-dir="$cache" bookworm "$root" "$mirror" \
    >"$out/debootstrap.log" 2>&1 || { tail -20 "$out/debootstrap.log"; fail "debootstrap"; }
  say "debootstrap done ($(du -sm "$root" | cut -f1) MB)"

  mount_in proc proc /proc
  mount_in bind /dev /dev
  mount_in tmpfs tmpfs /dev/shm
  mkdir -p "$cache/archives/partial"
  mount_in bind "$cache/archives" /var/cache/apt/archives
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  rm -f "$root/etc/apt/sources.list"
  local f
  for f in "${sources[@]}"; do cp "$f" "$root/etc/apt/sources.list.d/"; done
  [ ${#sources[@]} -gt 0 ] || cp /etc/apt/sources.list "$root/etc/apt/sources.list"
  echo 'Binary::apt::APT::Keep-Downloaded-Packages "true";' >"$root/etc/apt/apt.conf.d/90keep"
}

in_root() { # COMMAND...: as root inside the root
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}
apt_in_root() { # apt-get ARGS... inside the root, bounded in time
  timeout 1200 chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive apt-get -y -q -o Dpkg::Use-Pty=0 "$@"
}

# Kills whatever still runs inside the root (everything there was started by
# the test), unmounts what bootstrap_root mounted and removes the root.
release_root() {
  local p i
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && kill -9 "${p#/proc/}" 2>/dev/null
  done
  sleep 0.2
  for (( i = ${#mounts[@]} - 1; i >= 0; i-- )); do
    umount "${mounts[$i]}" 2>/dev/null || umount -l "${mounts[$i]}" 2>/dev/null
  done
  if grep -q " $root" /proc/mounts; then
    echo "mounts left under $root; not removing it" >&2
  else
    rm -rf --one-file-system "$root"
  fi
}
