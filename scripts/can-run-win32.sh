#!/usr/bin/env bash
# Probes whether this machine can run a 32-bit Windows program: builds a
# tiny i686 program and runs it under Wine in the given prefix (which the
# Windows tests then use). Kernels without 32-bit support answer "Exec
# format error" at once; exit 0 only when the program ran and said so.
# Usage: scripts/can-run-win32.sh WORK_DIR
set -uo pipefail
work=${1:?usage: $0 WORK_DIR}
mkdir -p "$work"
work=$(cd "$work" && pwd)
command -v wine >/dev/null 2>&1 || { echo "probe: Wine is not installed"; exit 1; }
printf '#include <stdio.h>\nint main(void) { puts("32-bit ok"); return 0; }\n' >"$work/probe.c"
i686-w64-mingw32-gcc -O0 -o "$work/probe.exe" "$work/probe.c" || exit 1
answer=$(env WINEDEBUG=-all WINEARCH=win32 WINEPREFIX="$work/wineprefix" \
             WINEDLLOVERRIDES=mscoree,mshtml= timeout 180 wine "$work/probe.exe" 2>&1)
if grep -q '32-bit ok' <<<"$answer"; then
    exit 0
fi
echo "probe: ${answer:-no answer}" | head -n 3
exit 1
