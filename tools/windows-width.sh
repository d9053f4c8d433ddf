# Sourced by tools/test.sh and tools/run-example.sh: which Windows build runs
# here. The product is 32-bit and runs under 32-bit Wine. A machine whose
# kernel cannot execute 32-bit programs (some virtual machines) runs the
# 64-bit build of the same sources under 64-bit Wine instead; tools/wine-run.sh
# follows UPDATER_WINE64. Sets `windows` to the preset to run.
windows=win32
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  windows=win64
  export UPDATER_WINE64=1
  echo "== this machine cannot run 32-bit programs: the Windows programs run from the 64-bit build (win64)"
fi
