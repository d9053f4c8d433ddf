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
wine_run wineboot -i >/dev/null 2>&1 || true
wine_run reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine_run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine_run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
wineserver -w
touch "$prefix/.updater-ready"
