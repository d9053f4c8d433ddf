#!/usr/bin/env bash
# Runs a Windows program under Wine the way the tests need it: a private
# prefix (WINEPREFIX, set by tools/test.sh, else one beside this build), the
# Japanese ANSI code page (932), and no debug chatter. Exit code is the
# program's.
set -u
: "${WINEPREFIX:=${UPDATER_WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix}}"
export WINEPREFIX
export LC_ALL=ja_JP.UTF-8
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Where 32-bit programs cannot run (tools/windows-width.sh tells, and the
# 64-bit build runs instead), the 64-bit loader is started directly: the wine command
# would start the 32-bit one, which such a machine cannot execute.
if [ "${UPDATER_WINE64:-0}" = 1 ]; then
  export WINELOADER=/usr/lib/wine/wine64
  exec /usr/lib/wine/wine64 "$@"
fi
exec wine "$@"
