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
exec wine "$@"
