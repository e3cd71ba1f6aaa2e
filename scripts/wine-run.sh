#!/usr/bin/env bash
# Runs a Windows program in the test environment DIR made by wine-prefix.sh start.
#   wine-run.sh DIR PROGRAM.exe [ARGS...]
# The program's output goes to a file that is printed when it ends: a process
# it leaves running (a started product, a browser) would otherwise keep the
# caller's output pipe open, and ctest would wait for it until its time-out.
# With NV_WINE_RUN_TIMEOUT (seconds) the program is ended after that time, so
# that its output is still printed before ctest's own time-out strikes.
# Exit status: the program's; 124 when it was ended for taking too long or
# the script was interrupted.
set -uo pipefail
dir=$1; shift
if [ ! -f "$dir/env" ]; then
  echo "wine-run: no running environment in $dir (wine-prefix.sh start)" >&2
  exit 2
fi
# shellcheck disable=SC1091
. "$dir/env"
mkdir -p "$dir/runs"
out=$(mktemp "$dir/runs/out.XXXXXX")
if [ -n "${NV_WINE_RUN_TIMEOUT:-}" ]; then
  timeout -k 5 "$NV_WINE_RUN_TIMEOUT" wine "$@" </dev/null >"$out" 2>&1 &
else
  wine "$@" </dev/null >"$out" 2>&1 &
fi
pid=$!
finish() {
  cat "$out"
  rm -f "$out"
}
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; finish; echo "wine-run: interrupted" >&2; exit 124' TERM INT HUP
wait "$pid"
rc=$?
trap - TERM INT HUP
finish
if [ "$rc" -eq 124 ] && [ -n "${NV_WINE_RUN_TIMEOUT:-}" ]; then
  echo "wine-run: $1 ended after ${NV_WINE_RUN_TIMEOUT} s" >&2
fi
exit $rc
