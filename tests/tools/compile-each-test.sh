#!/usr/bin/env bash
# compile-each.sh with ccache on PATH (every compile goes through it, the
# compiler still given) and with none on PATH (the compiler alone), and a
# failing compile reported as a failure.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "compile-each test: $*"; exit 1; }

mkdir -p "$tmp/src/a" "$tmp/src/b" "$tmp/fake" "$tmp/bare"
echo 'int first() { return 1; }' >"$tmp/src/a/one.cpp"
echo 'int second() { return 2; }' >"$tmp/src/b/two.cpp"
echo 'int broken() { return }' >"$tmp/src/b/broken.cpp"

# A ccache that records what it was asked to run, then runs it.
cat >"$tmp/fake/ccache" <<EOS
#!/bin/sh
echo "\$*" >>"$tmp/ccache.log"
exec "\$@"
EOS
chmod +x "$tmp/fake/ccache"
# A PATH with every program of the system's but ccache.
for dir in /usr/local/bin /usr/bin /bin; do
  for f in "$dir"/*; do
    name=${f##*/}
    [ "$name" = ccache ] || [ -e "$tmp/bare/$name" ] || ln -s "$f" "$tmp/bare/$name"
  done
done

sources=("$tmp/src/a/one.cpp" "$tmp/src/b/two.cpp")
PATH="$tmp/fake:$tmp/bare" "$here/compile-each.sh" "$tmp/with" 2 c++ -O1 -- "${sources[@]}" \
  || fail "with ccache: the compile failed"
[ -s "$tmp/with/a-one.o" ] && [ -s "$tmp/with/b-two.o" ] || fail "with ccache: objects missing"
[ "$(grep -c '^c++ -O1 -c ' "$tmp/ccache.log")" -eq 2 ] \
  || fail "with ccache: not every compile went through it: $(cat "$tmp/ccache.log")"

PATH="$tmp/bare" "$here/compile-each.sh" "$tmp/without" 2 c++ -O1 -- "${sources[@]}" \
  || fail "without ccache: the compile failed"
[ -s "$tmp/without/a-one.o" ] && [ -s "$tmp/without/b-two.o" ] || fail "without ccache: objects missing"

if PATH="$tmp/bare" "$here/compile-each.sh" "$tmp/broken" 1 c++ -- "${sources[@]}" "$tmp/src/b/broken.cpp" \
    2>/dev/null; then
  fail "a source that does not compile was reported as built"
fi
[ -s "$tmp/broken/b-two.o" ] || fail "a failing compile stopped the others"
echo "compile-each test: passed"
