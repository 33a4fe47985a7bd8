#!/usr/bin/env bash
# Reads a corpus of awkward signature files with the POSIX profile reader
# (profile_dump built natively) and with the Windows profile functions
# (profile_dump.exe under Wine) and fails on any difference between them.
# Usage: profile_agreement.sh NATIVE_DUMP WINDOWS_DUMP WORK_DIR [FILE...] -- WINE_COMMAND...
#   FILEs (native paths) are compared too, e.g. the default signature library.
set -euo pipefail
native=$1 windows=$2 work=$3
shift 3
extra=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do extra+=("$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"); shift; done
[ "${1:-}" = "--" ] && shift
wine=("$@")
here=$(cd "$(dirname "$0")" && pwd)

# Written fresh on every run: Wine keeps a profile file by its modification time.
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
"$here/profile_corpus.sh" "$work/corpus"

drive_form() { printf 'Z:%s' "$1" | tr / '\\'; }
files=()
for file in "$work"/corpus/*.ini; do files+=("$(drive_form "$file")"); done
files+=("$(drive_form "$work/corpus/absent.ini")")
for file in "${extra[@]}"; do files+=("$(drive_form "$file")"); done
keys=("--key=#Ext" "--key=Size Off" "--key=garbage line")

"$native" --upper "${keys[@]}" "${files[@]}" > "$work/posix.txt"
"${wine[@]}" "$windows" --upper "${keys[@]}" "${files[@]}" | tr -d '\r' > "$work/windows.txt"

if diff -u --label posix --label windows "$work/posix.txt" "$work/windows.txt" > "$work/diff.txt"; then
  echo "profile readers agree on ${#files[@]} files ($(wc -l < "$work/posix.txt") lines)"
else
  echo "profile readers disagree (- POSIX stand-in, + Windows):"
  cat "$work/diff.txt"
  exit 1
fi
