#!/usr/bin/env bash
# The main job: set up the machine, build everything, build the example's
# full package and online stub with setup-builder, and install the full
# package under Wine with "/Silent", showing what it installed.
#
# Packages for customers use the 32-bit runtime (build/win32); this machine
# cannot run 32-bit code, so the install shown here uses its 64-bit twin.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
./scripts/setup.sh

for preset in win32 win64 host; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

builder=build/host/Builder/setup-builder
stage=build/host/examples/demo
out=build/demo
rm -rf "$out"
mkdir -p "$out/product" "$out/twin"

echo "== packages with the product runtime (32-bit)"
"$builder" build "$stage/project.xml" --runtime build/win32/Installer/Setup.exe --out "$out/product"
echo "== packages with the 64-bit twin, for the install under Wine"
"$builder" build "$stage/project.xml" --runtime build/win64/Installer/Setup.exe --out "$out/twin" --quiet
"$builder" inspect "$out/product/DemoAppSetup.exe" | head -n 20

env_dir="$root/$out/wine-env"
./scripts/wine-prefix.sh start "$env_dir"
trap './scripts/wine-prefix.sh stop "$env_dir"' EXIT
echo "== install: DemoAppSetup.exe /Silent"
set +e
./scripts/wine-run.sh "$env_dir" "$out/twin/DemoAppSetup.exe" /Silent
code=$?
set -e
echo "exit code: $code"
# shellcheck disable=SC1091
. "$env_dir/env"
app="$WINEPREFIX/drive_c/Program Files (x86)/NvDemo/演示程序"
echo "== installed in C:\\Program Files (x86)\\NvDemo\\演示程序"
(cd "$app" && find . -type f | sort | xargs -d '\n' ls -l)
# (reg query prints non-ASCII text as "?"; the values themselves are UTF-16.)
echo "== uninstall entry (the 32-bit view)"
wine reg query 'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{6C1D3F0E-5A7B-4E29-9D84-2B1F7A3C9E51}_lm' | tr -d '\r'
exit "$code"
