#!/usr/bin/env bash
# Runs a command (the emulator and a Windows program) with its output going
# to a file, then prints the file and passes the exit code on.
#
# Wine's background processes (services.exe and its companions, the virtual
# desktop's explorer.exe) inherit the Unix output of the program that first
# needed them, and with a persistent wineserver they outlive it. Were that
# output ctest's pipe, ctest would wait for them until its timeout.
#
# Usage: logged-run.sh LOGFILE COMMAND [ARGS...]
set -u
log=$1
shift
"$@" >"$log" 2>&1
rc=$?
cat "$log"
exit $rc
