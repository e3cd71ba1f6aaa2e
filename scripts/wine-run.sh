#!/usr/bin/env bash
# Runs a Windows program in the test environment DIR made by wine-prefix.sh start.
#   wine-run.sh DIR PROGRAM.exe [ARGS...]
set -euo pipefail
dir=$1; shift
# shellcheck disable=SC1091
. "$dir/env"
exec wine "$@"
