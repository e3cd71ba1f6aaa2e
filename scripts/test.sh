#!/usr/bin/env bash
# Sets up the machine, builds all presets and runs every test.
# The run must leave the host's home folder as it found it: anything new there
# (a shortcut or .desktop file from an install under test, a stray Wine
# prefix) fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
for preset in host host-asan win64 win32; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
stamp=$(mktemp)
status=0
# win32: the i686 product's smoke tests under the emulated 32-bit Wine.
for preset in host host-asan win64 win32; do
  echo "== test $preset"
  start=$SECONDS
  ctest --preset "$preset" || status=1
  echo "== test $preset: $((SECONDS - start)) s"
done
# Caches (the template prefix, ccache) and the tools of the machine itself
# (an editor's or package client's own folders) may change.
new_in_home=$(find "$HOME" \( -path "$HOME/.cache" -o -path "$HOME/.ccache" -o -path "$HOME/.config/ccache" -o -path "$HOME/.claude" -o -path "$HOME/.npm" \) -prune \
  -o \( -type f -o -type l \) -newer "$stamp" -print 2>/dev/null | head -n 20)
rm -f "$stamp"
if [ -n "$new_in_home" ]; then
  echo "== the test run wrote into the home folder $HOME:"
  echo "$new_in_home"
  status=1
fi
exit $status
