#!/usr/bin/env bash
# The example from end to end, the way a publisher works: builds the base
# updater (Windows) and qk2 (host), makes the example updater with
# `qk2 make-updater` from examples/update, installs examples/install into a
# throwaway Wine prefix (registry key, installation and data folders), gives
# the prefix a CD-ROM drive Q: for the game's disk (examples/disk), prints
# `qk2 preview` of that installation, runs the updater, and checks that the
# installation afterwards is what the preview said.
#
# With a reachable X display ($DISPLAY) the wizard is yours to click through;
# the disk is in the drive from the start. Without one, a private Xvfb is
# started and the end-to-end driver walks the wizard (accepting everything),
# printing each page and box and saving a screenshot of each into
# build/example/. The walk starts with an empty drive: the updater asks for
# the disk, the walk inserts it and answers OK.
#
# Usage: tools/run-example.sh [--walk] [--docs]
#   --walk  walk even with a display
#   --docs  after a walk, copy the four wizard pictures into docs/ (the
#           README shows them)
# Everything else it makes is below build/example/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
walk_anyway=0
docs=0
for arg in "$@"; do
  case "$arg" in
    --walk) walk_anyway=1 ;;
    --docs) docs=1 walk_anyway=1 ;;
    *) echo "usage: tools/run-example.sh [--walk] [--docs]" >&2; exit 2 ;;
  esac
done

bash tools/setup.sh

source tools/windows-width.sh
wine_run() { bash tools/wine-run.sh "$@"; }

out=$root/build/example
jobs=2
mkdir -p "$out"
log=$out/logs
mkdir -p "$log"
step() { echo "== $*"; }

# ---- qk2 from the host build
step "building qk2 (host)"
cmake --preset host -B "$out/host" >"$log/configure-host.log" 2>&1 ||
  { cat "$log/configure-host.log"; exit 1; }
cmake --build "$out/host" -j "$jobs" --target qk2 >"$log/build-host.log" 2>&1 ||
  { tail -n 40 "$log/build-host.log"; exit 1; }
qk2=$out/host/qk2

# ---- the package: texts to cp932 with CRLF, as the updater reads them
# Fixed times: the installed files are older than the update's, so the
# "u" line (newer file wins) replaces GAME.DAT.
to_windows_text() { iconv -f UTF-8 -t CP932 "$1" | sed 's/$/\r/' >"$2"; }
stage() {  # stage SOURCE_DIR TARGET_DIR TIME
  rm -rf "$2"
  mkdir -p "$2"
  local f name
  for f in "$1"/*; do
    name=$(basename "$f")
    case "$name" in
      *.INI | *.TXT | *.ini | *.txt) to_windows_text "$f" "$2/$name" ;;
      *) cp "$f" "$2/$name" ;;
    esac
    touch -d "$3" "$2/$name"
  done
}
# The game's CD-ROM: files read-only, as on a disc.
stage_disk() {  # stage_disk SOURCE_DIR TARGET_DIR TIME
  rm -rf "$2"
  mkdir -p "$2"
  cp -R "$1"/. "$2"
  find "$2" -exec touch -d "$3" {} +
  find "$2" -type f -exec chmod a-w {} +
}
step "building the base updater ($windows)"
cmake --preset "$windows" -B "$out/$windows" -DUPDATER_PACKAGE= >"$log/configure-$windows.log" 2>&1 ||
  { cat "$log/configure-$windows.log"; echo "configuring the $windows build failed"; exit 1; }
cmake --build "$out/$windows" -j "$jobs" --target Updater >"$log/build-$windows.log" 2>&1 ||
  { tail -n 40 "$log/build-$windows.log"; echo "building the base updater failed"; exit 1; }
base=$out/$windows/Updater.exe

step "qk2 make-updater examples/update"
stage examples/update "$out/update" "2024-04-01 12:00:00 UTC"
updater=$out/HoshiNoTeien-1.01.exe
"$qk2" check "$out/update" || { echo "qk2 check found problems in the example"; exit 1; }
"$qk2" make-updater "$out/update" -o "$updater" --base "$base" ||
  { echo "qk2 make-updater failed"; exit 1; }
"$qk2" verify "$updater" || { echo "qk2 verify refused the example updater"; exit 1; }

# ---- a throwaway Wine prefix with the game installed and a CD-ROM drive
step "preparing a fresh Wine prefix"
prefix=$out/wineprefix
if [ -d "$prefix" ]; then
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
fi
bash tools/wine-prefix.sh "$prefix" >"$log/wine-prefix.log" 2>&1 ||
  { cat "$log/wine-prefix.log"; echo "preparing the Wine prefix failed"; exit 1; }
export WINEPREFIX=$prefix WINEDEBUG=-all LC_ALL=ja_JP.UTF-8
# Q: is a CD-ROM drive on the folder cdrom (a disc in the drive: files in
# the folder). Wine's mount manager reads the drive types when it starts, so
# the type is set before the server that the run keeps.
disk=$out/disk
cdrom=$out/cdrom
stage_disk examples/disk "$disk" "2022-12-01 12:00:00 UTC"
rm -rf "$cdrom"
mkdir -p "$cdrom"
ln -sfn "$cdrom" "$prefix/dosdevices/q:"
wine_run reg add 'HKLM\Software\Wine\Drives' /v 'q:' /d cdrom /f /reg:64 >"$log/drive.log" 2>&1 ||
  { cat "$log/drive.log"; echo "making Q: a CD-ROM drive failed"; exit 1; }
wineserver -w
game='C:\Games\HoshiNoTeien'
install_dir=$prefix/drive_c/Games/HoshiNoTeien
data_dir=$install_dir/SAVE
stage examples/install "$install_dir" "2023-01-15 12:00:00 UTC"
mkdir -p "$data_dir"
# The player's own settings: the "d" line keeps them.
printf '[Config]\r\nWindow=0\r\nVolume=50\r\nTextSpeed=5\r\n' >"$data_dir/CONFIG.INI"
key='HKCU\Software\ExampleSoft\HoshiNoTeien'
WINEDEBUG=-all wineserver -p </dev/null >/dev/null 2>&1
trap 'WINEPREFIX=$prefix wineserver -k 2>/dev/null || true' EXIT
{
  wine_run reg add "$key" /v InstPath /t REG_SZ /d "$game" /f
  wine_run reg add "$key" /v DataPath /t REG_SZ /d "$game\\SAVE" /f
  wine_run reg add "$key" /v InstMode /t REG_DWORD /d 1 /f
  wine_run reg add "$key" /v InstAdd /t REG_DWORD /d 0 /f
} >"$log/registry.log" 2>&1 || { cat "$log/registry.log"; echo "writing the game's registry key failed"; exit 1; }
echo "registry: $key -> InstPath $game, DataPath $game\\SAVE, InstMode 1"
echo "CD-ROM drive Q: on ${cdrom#"$root"/}; the game's disk 1 in ${disk#"$root"/}:"
(cd "$disk" && LC_ALL=C ls -lR --time-style=+%F . | sed 's/^/  /')
echo "installation before the update:"
LC_ALL=C ls -l --time-style=+%F "$install_dir" "$data_dir" | sed 's/^/  /'

step "qk2 preview: what the update will do to this installation"
preview=$out/preview.json
"$qk2" preview "$out/update" --install "$install_dir" --data "$data_dir" --disk 1="$disk" ||
  { echo "the preview says the updater would not finish"; exit 1; }
"$qk2" preview "$out/update" --install "$install_dir" --data "$data_dir" --disk 1="$disk" --json >"$preview"
before=$out/before
rm -rf "$before"
cp -a "$install_dir" "$before"

display_ok() { [ -n "${DISPLAY:-}" ] && xwd -root -silent >/dev/null 2>&1; }

status=0
if display_ok && [ $walk_anyway -eq 0 ]; then
  step "running the updater on $DISPLAY: the wizard is yours"
  cp -R "$disk"/. "$cdrom"
  echo "the disk is in the drive"
  bash tools/wine-run.sh "$updater" >"$log/updater.log" 2>&1 || status=$?
  echo "the updater ended with exit code $status ($([ $status -eq 1 ] && echo finished || echo not finished))"
  updater_status=$status
  [ $status -le 1 ] && status=0
else
  step "no display to show the wizard on: walking it under a private Xvfb"
  cmake --build "$out/$windows" -j "$jobs" --target updater_e2e >>"$log/build-$windows.log" 2>&1 ||
    { tail -n 40 "$log/build-$windows.log"; exit 1; }
  driver=$(find "$out/$windows" -name updater_e2e.exe | head -n 1)
  display=:$((200 + RANDOM % 100))
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$log/xvfb.log" 2>&1 &
  xvfb=$!
  export DISPLAY=$display
  for _ in $(seq 50); do xwd -root -silent >/dev/null 2>&1 && break; sleep 0.1; done
  trap 'WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
  rm -f "$out"/[0-9][0-9]-*.png
  shots=$out/shots
  rm -rf "$shots"
  mkdir -p "$shots"
  # Screenshots on the driver's request, "NAME WxH+X+Y XID+X+Y...": the
  # part of the screen with the updater's windows, and those windows' X ids
  # and places, lowest first (see tests/win32/e2e/walk.cpp). Each window is
  # taken by itself and laid over the picture of the screen, which misses a
  # message box that the wizard's thread opens.
  shoot() {  # shoot NAME GEOMETRY [XID+X+Y...]
    local name=$1 geometry=$2 parts=$shots/parts layer id args=()
    shift 2
    rm -rf "$parts"
    mkdir -p "$parts"
    xwd -root -silent | convert xwd:- "$parts/screen.png" || return 1
    for layer in "$@"; do
      id=${layer%%+*}
      xwd -id "$id" -silent 2>/dev/null | convert xwd:- "$parts/$id.png" 2>/dev/null &&
        args+=("$parts/$id.png" -geometry "+${layer#*+}" -composite)
    done
    convert "$parts/screen.png" "${args[@]}" -crop "$geometry" +repage "$out/$name.png"
  }
  (
    while [ ! -f "$shots/stop" ]; do
      if [ -f "$shots/shot.request" ]; then
        request=()
        read -r -a request <"$shots/shot.request" || true
        if [ ${#request[@]} -ge 2 ]; then
          shoot "${request[@]}" || echo "screenshot ${request[0]} failed"
        else
          echo "unreadable screenshot request: $(cat "$shots/shot.request")"
        fi
        rm -f "$shots/shot.request"
      fi
      sleep 0.1
    done
  ) &
  shooter=$!
  bash tools/wine-run.sh "$driver" --walk-example --updater="$updater" --work="$out/walk" \
    --shots="$shots" --disk="$disk" --drive="$cdrom" >"$log/walk.log" 2>&1 || status=$?
  touch "$shots/stop"
  wait $shooter || true
  cat "$log/walk.log"
  echo "screenshots:"
  ls "$out"/[0-9][0-9]-*.png 2>/dev/null | sed 's/^/  /' || echo "  (none)"
  # Every page of the wizard has its picture (with --docs, copied to docs/).
  n=0
  for page in opening-agreed ready running finished; do
    n=$((n + 1))
    picture=$(ls "$out"/[0-9][0-9]-"$page".png 2>/dev/null | head -n 1)
    [ -n "$picture" ] || { echo "no picture of the $page page"; status=1; continue; }
    if [ $docs -eq 1 ] && [ $status -eq 0 ]; then
      mkdir -p docs
      cp "$picture" "docs/wizard-$n-${page%-agreed}.png"
      echo "docs/wizard-$n-${page%-agreed}.png <- ${picture#"$root"/}"
    fi
  done
fi

# The run against the preview: each line's destination holds what the
# preview said, byte for byte (the walk finishes the wizard; a wizard left
# to the user is checked only when it was finished).
check_preview() {
  local line action destination source expected mismatches=0
  while IFS= read -r line; do
    action=$(sed -n 's/.*"action": "\([^"]*\)".*/\1/p' <<<"$line")
    destination=$(sed -n 's/.*"destination": "\([^"]*\)".*/\1/p' <<<"$line")
    source=$(sed -n 's/.*"source": "\([^"]*\)".*/\1/p' <<<"$line")
    case "$action" in
      write | copy) expected=$source ;;
      keep-newer | keep-data | skip) expected=$before${destination#"$install_dir"} ;;
      *) continue ;;
    esac
    if [ -e "$expected" ] && cmp -s "$expected" "$destination"; then
      echo "  as previewed: $action ${destination#"$prefix"/}"
    elif [ ! -e "$expected" ] && [ ! -e "$destination" ]; then
      echo "  as previewed: $action ${destination#"$prefix"/} (absent)"
    else
      echo "  NOT as previewed: $action ${destination#"$prefix"/} (expected the bytes of ${expected#"$root"/})"
      mismatches=$((mismatches + 1))
    fi
  done < <(grep '"action"' "$preview")
  return $mismatches
}
if [ $status -eq 0 ] && { [ "${updater_status:-1}" -eq 1 ]; }; then
  echo "the installation against the preview:"
  check_preview || { echo "the run did not do what the preview said"; status=1; }
fi

echo "installation after the run (the data folder is SAVE):"
(cd "$install_dir" && LC_ALL=C ls -lR --time-style=+%F . | sed 's/^/  /')
for f in "$install_dir/README.TXT" "$data_dir/CONFIG.INI" "$install_dir/MOVIE/OP.MPG"; do
  [ -f "$f" ] || continue
  echo "-- ${f#"$prefix"/}"
  iconv -f CP932 -t UTF-8 "$f" | tr -d '\r' | sed 's/^/  /'
done
exit $status
