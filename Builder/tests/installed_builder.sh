#!/usr/bin/env bash
# The installed builder: the Debian package that cpack makes of the host
# build, unpacked into a scratch root, builds the example product with no
# --runtime and no --uninstaller: its own 32-bit Setup.exe and Uninstall.exe.
# Usage: installed_builder.sh BUILD_DIR STAGED_EXAMPLE RUNTIME_BUILD_DIR
# Exit 77 (skipped) when the win32 runtime has not been built.
set -euo pipefail
build=$1 stage=$2 runtime=$3
if [ ! -f "$runtime/Installer/Setup.exe" ] || [ ! -f "$runtime/Uninstaller/Uninstall.exe" ]; then
  echo "skipped: no win32 runtime in $runtime (build the win32 preset)"
  exit 77
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/pkg/setup-builder_*_amd64.deb)
echo "package: $(basename "$deb")"
dpkg-deb -c "$deb" | awk '{print $6}' | grep -E 'bin/setup-builder$|runtime/(Setup|Uninstall)\.exe$'
dpkg-deb -x "$deb" "$scratch/root"
cp -r "$stage" "$scratch/example"
"$scratch/root/usr/bin/setup-builder" build "$scratch/example/project.xml" --out "$scratch/out" --quiet
# (outputs taken whole first: "grep -q" would end a pipe early, and pipefail the script)
inspected=$("$scratch/root/usr/bin/setup-builder" inspect "$scratch/out/DemoAppSetup.exe")
grep -q '^kind: full' <<<"$inspected"
listed=$("$scratch/root/usr/bin/setup-builder" list "$scratch/out/DemoAppSetup.exe")
grep -F '{app}\Uninstall.exe' <<<"$listed"
# The package carries the installed runtime, with the project's face: the same
# machine type as the product's 32-bit Setup.exe (PE machine 0x14c).
machine() { python3 -c 'import struct,sys; b=open(sys.argv[1],"rb").read(); o=struct.unpack_from("<I",b,60)[0]; print(hex(struct.unpack_from("<H",b,o+4)[0]))' "$1"; }
[ "$(machine "$scratch/out/DemoAppSetup.exe")" = 0x14c ]
echo "built with the installed runtime: $(machine "$scratch/out/DemoAppSetup.exe")"
