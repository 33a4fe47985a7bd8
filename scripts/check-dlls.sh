#!/usr/bin/env bash
# Static checks of the Windows plug-ins, without running them: each DLL is
# a 32-bit x86 image that exports KX_QueryInterface alone, at ordinal 1, and
# imports from no DLL but KERNEL32, USER32 and msvcrt.
# Usage: scripts/check-dlls.sh DLL...
set -euo pipefail
objdump=${HOUND_OBJDUMP:-i686-w64-mingw32-objdump}
[ $# -gt 0 ] || { echo "usage: $0 DLL..." >&2; exit 2; }

failed=0
for dll in "$@"; do
    name=$(basename "$dll")
    dump=$("$objdump" -p "$dll")
    problems=()
    grep -q '^Magic.*010b' <<<"$dump" && grep -q 'file format pei-i386' <<<"$dump" ||
        problems+=("not a 32-bit x86 image")
    # The export table: "[Ordinal/Name Pointer] Table" lists "[i] name", and
    # the ordinal of entry i is the ordinal base plus i.
    base=$(sed -n 's/^Ordinal Base[[:space:]]*//p' <<<"$dump")
    exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
              sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p')
    [ "$base" = 1 ] && [ "$exports" = "0 KX_QueryInterface" ] ||
        problems+=("exports '${exports//$'\n'/, }' with ordinal base '${base}', not KX_QueryInterface alone at ordinal 1")
    imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | sort -u)
    while read -r import; do
        [ -z "$import" ] && continue
        case "${import,,}" in
            kernel32.dll|user32.dll|msvcrt.dll) ;;
            *) problems+=("imports $import") ;;
        esac
    done <<<"$imports"
    if [ ${#problems[@]} -eq 0 ]; then
        echo "check-dlls: $name: i386, exports KX_QueryInterface @1 only, imports ${imports//$'\n'/ }"
    else
        printf 'check-dlls: %s: %s\n' "$name" "${problems[@]}" >&2
        failed=1
    fi
done
exit $failed
