#!/bin/sh
# Installs the build into a temporary prefix and checks what lands there: the binary answers
# the shipped example (run by $DRAVOK_RUNNER if set: an emulator), and the manual page renders
# without warnings.
#   usage: install_test.sh BUILD_DIR EXAMPLES_DIR
set -eu
build=$1 examples=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
test -x "$tmp/prefix/bin/dravok"
cp "$examples/dravok.in" "$tmp/"
(cd "$tmp" && ${DRAVOK_RUNNER:-} "$tmp/prefix/bin/dravok")
test "$(cat "$tmp/dravok.out")" = 689
page=$tmp/prefix/share/man/man1/dravok.1
warn=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
test -z "$warn" || { echo "$warn"; exit 1; }
for s in NAME SYNOPSIS DESCRIPTION INPUT OUTPUT 'EXIT STATUS' EXAMPLES; do
  grep -q "^\.SH $s\$" "$page" || { echo "no section $s"; exit 1; }
done
${DRAVOK_RUNNER:-} "$tmp/prefix/bin/dravok" --version | grep -qx "dravok [0-9.]*"
echo "installed and answered 689"
