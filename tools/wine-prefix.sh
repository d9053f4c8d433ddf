#!/usr/bin/env bash
# Makes a Wine prefix ready for the tests at $1 (once; later calls return at
# once): Japanese code page, no crash dialog, a virtual desktop so closing
# windows costs nothing.
set -euo pipefail
prefix=$1
[ -f "$prefix/.updater-ready" ] && exit 0
mkdir -p "$prefix"
export WINEPREFIX=$prefix
wine_run() { bash "$(dirname "$0")/wine-run.sh" "$@"; }
# Output goes to the caller (the scripts keep it in a log and show it when
# this fails); each failure says which step it was.
fail() { echo "wine-prefix: $* failed (prefix $prefix)" >&2; exit 1; }
# wineboot reports harmless trouble with an exit code of its own; the
# registry steps below fail when the prefix really is unusable.
wine_run wineboot -i 2>&1 || echo "wine-prefix: wineboot ended with $? (going on)"
wine_run reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f 2>&1 ||
  fail "turning off the crash dialog"
wine_run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f 2>&1 ||
  fail "choosing the virtual desktop"
wine_run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f 2>&1 ||
  fail "sizing the virtual desktop"
wineserver -w || fail "waiting for the Wine server"
touch "$prefix/.updater-ready"
