#!/bin/sh
# Writes the Debian changelog of PACKAGE from CHANGELOG.md: one entry per
# "## VERSION — YYYY-MM-DD" heading, one item per "- " line of it.
# Usage: debian-changelog.sh CHANGELOG.md PACKAGE "NAME <ADDRESS>" > changelog
set -eu
[ $# -eq 3 ] || { echo "usage: $0 CHANGELOG.md PACKAGE MAINTAINER" >&2; exit 2; }
source=$1 package=$2 maintainer=$3
[ -r "$source" ] || { echo "$0: cannot read $source" >&2; exit 1; }

# Each entry's items as single lines, then folded to the changelog's width.
awk -v package="$package" -v maintainer="$maintainer" '
  function flush() { if (item != "") { print "ITEM " item; item = "" } }
  /^## / {
    flush()
    if (version != "") print "END " version " " date
    version = $2; date = $NF
    if (date !~ /^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$/) { print "BAD " $0; exit 1 }
    print "HEAD " version
    next
  }
  version == "" { next }
  /^- / { flush(); item = substr($0, 3); next }
  /^  +[^ ]/ && item != "" { sub(/^ +/, ""); item = item " " $0; next }
  /^$/ { flush(); next }
  END { flush(); if (version != "") print "END " version " " date }
' "$source" | while IFS= read -r line; do
  kind=${line%% *} rest=${line#* }
  case $kind in
    BAD) echo "$0: a heading without a date: $rest" >&2; exit 1 ;;
    HEAD) printf '%s (%s) unstable; urgency=medium\n\n' "$package" "$rest" ;;
    ITEM)
      # Markdown emphasis and code marks are dropped; lines stay under 80.
      text=$(printf '%s' "$rest" | sed -e 's/\*\*//g' -e 's/`//g')
      printf '%s\n' "$text" | fold -s -w 72 | sed -e 's/ *$//' -e '1s/^/  * /' -e '2,$s/^/    /'
      ;;
    END)
      date=${rest#* }
      printf '\n -- %s  %s\n\n' "$maintainer" "$(LC_ALL=C date -u -R -d "$date 12:00:00")"
      ;;
  esac
done
