#!/usr/bin/env bash
# Checks what users get from a native build: `cmake --install` into a
# fresh prefix gives the expected layout, and the installed hound finds its
# plug-ins with no option and scans the sample from another folder; then
# `cpack -G DEB` makes a package with the same files and found dependencies.
# Usage: scripts/check-install.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/hound lib/hound/markhound.so lib/hound/photohound.so lib/hound/jpeghound.so lib/hound/formathound.so \
            lib/hound/signs.ini \
            lib/hound/library/images.ini share/doc/hound/README.md share/doc/hound/LICENSE \
            share/man/man1/hound.1; do
    [ -f "$prefix/$file" ] || fail "the installed tree lacks $file"
done

mkdir "$work/elsewhere"
items=$(cd "$work/elsewhere" && "$prefix/bin/hound" scan --quiet --json "$root/examples/sample.img" | wc -l)
truth=$(grep -c -v '^#' "$root/examples/sample.truth")
[ "$items" = "$truth" ] || fail "the installed hound found $items items in the sample, not $truth"

(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
deb=$(ls "$work"/package/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libc6' <<<"$depends" || fail "the package's dependencies ($depends) do not name libc6"
grep -q 'libavformat' <<<"$depends" || fail "the package's dependencies ($depends) do not name libavformat, which hound loads for media checks"
listing=$(dpkg-deb -c "$deb")
for file in ./usr/bin/hound ./usr/lib/hound/markhound.so ./usr/lib/hound/jpeghound.so ./usr/lib/hound/formathound.so \
            ./usr/lib/hound/signs.ini \
            ./usr/share/man/man1/hound.1; do
    grep -q " $file\$" <<<"$listing" || fail "the package lacks $file"
done
echo "check-install: layout, installed hound ($items items in the sample) and $(basename "$deb") (Depends: $depends)"
