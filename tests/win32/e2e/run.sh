#!/usr/bin/env bash
# Runs the end-to-end driver with the drives its cases need, its output going
# to a file (logged-run.sh).
#
#   run.sh LOGFILE DRIVES_FOLDER COMMAND [ARGS...]
#
# Drives made in the Wine prefix of the run (WINEPREFIX, chosen as
# tools/wine-run.sh chooses it):
#   P: and Q:  CD-ROM drives on the folders DRIVES_FOLDER/p and DRIVES_FOLDER/q.
#              The cases put a disk's files into a folder, or empty it (no
#              disc in that drive).
#   Y:         /proc, a file system that reports no free space at all. The
#              free-space cases reach their installation folder through it
#              (Y:\self\root\... is the whole Unix tree again).
# A drive is a link in the prefix's dosdevices folder; its type is the value
# HKLM\Software\Wine\Drives\<letter:> of the 64-bit registry view, which
# Wine's mount manager reads when it starts. When a value has to be written,
# a running Wine server is therefore restarted once (persistent again, as
# tools/test.sh keeps it); later runs find the values in place. The links go
# again at the end, the values stay.
set -u
log=$1
drives=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
: "${WINEPREFIX:=${UPDATER_WINEPREFIX:-$root/build/wineprefix}}"
export WINEPREFIX WINEDEBUG=-all
wine_run() { bash "$root/tools/wine-run.sh" "$@"; }
devices=$WINEPREFIX/dosdevices
if [ ! -d "$devices" ]; then
  echo "run.sh: $devices does not exist; prepare the prefix with tools/wine-prefix.sh" >"$log"
  cat "$log"
  exit 1
fi

mkdir -p "$drives/p" "$drives/q"
# Wine's mount manager learns of drives when the server starts: a link that
# was not there then is no drive until the next start.
links_new=0
link() {
  [ "$(readlink "$devices/$2" 2>/dev/null)" = "$1" ] || links_new=1
  ln -sfn "$1" "$devices/$2"
}
link "$drives/p" p:
link "$drives/q" q:
link /proc y:
remove_links() { rm -f "$devices/p:" "$devices/q:" "$devices/y:"; }
trap remove_links EXIT

server_was_running=0
wineserver -k0 </dev/null >/dev/null 2>&1 && server_was_running=1
changed=0
for letter in p q; do
  wine_run reg query 'HKLM\Software\Wine\Drives' /v "$letter:" /reg:64 >"$log.reg" 2>&1
  if ! grep -q cdrom "$log.reg"; then
    wine_run reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /d cdrom /f /reg:64 >"$log.reg" 2>&1 ||
      { echo "run.sh: cannot set the type of $letter:"; cat "$log.reg"; exit 1; }
    changed=1
  fi
done
rm -f "$log.reg"
if [ $changed -eq 1 ] || [ $links_new -eq 1 ]; then
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
  if [ $server_was_running -eq 1 ]; then
    # The server outlives this script: it must not keep the caller's output.
    wineserver -p </dev/null >/dev/null 2>&1
    # Wine's services start with the first program; started here, with
    # output to a file, they cannot hold the caller's pipes open.
    wine_run wineboot >"$log.wineboot" 2>&1
  fi
fi

bash "$here/logged-run.sh" "$log" "$@"
