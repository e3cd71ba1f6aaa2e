#!/usr/bin/env bash
# The benchmark against NSIS in one command on a fresh machine: set up, build
# the host builder and both runtimes, then run bench/bench.py (options are
# passed on, e.g. --quick or --rounds 7).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
for preset in host win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
exec python3 bench/bench.py "$@"
