#!/usr/bin/env bash
# The main job: set up the machine, build what the demo uses (the runtime and
# the uninstaller of the 32-bit product and of its 64-bit twin, the host
# builder and the example), build the example's full package and online stub
# with setup-builder, install the full package
# under Wine with "/Silent", showing what it installed, then install again
# through the online stub, which downloads the full package from a local
# HTTP server (the address the example's project names: 127.0.0.1:8080) and
# first removes the earlier installation with its uninstaller, and finally
# uninstall the product with "Uninstall.exe /SILENT", showing that nothing of
# it is left.
#
# Packages for customers use the 32-bit runtime (build/win32); this machine
# runs 32-bit code only under emulation (about a minute per program start;
# ctest --preset win32 installs the example that way), so the install shown
# here uses its 64-bit twin.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
./scripts/setup.sh

# Only the demo's targets: the test programs and fuzz targets are built by
# ./scripts/test.sh.
build() {
  local preset=$1
  shift
  echo "== build $preset: $*"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target "$@"
}
build win32 Setup Uninstall
build win64 Setup Uninstall
build host setup-builder demo_stage

builder=build/host/Builder/setup-builder
stage=build/host/examples/demo
out=build/demo
rm -rf "$out"
mkdir -p "$out/product" "$out/twin"

# With NV_SIGN_PKCS12 (a PKCS#12 file; its password in NV_SIGN_PASSWORD) the
# product's packages and their uninstaller are signed with osslsigncode.
sign=()
if [ -n "${NV_SIGN_PKCS12:-}" ]; then
  sign=(--sign "osslsigncode sign -pkcs12 '$NV_SIGN_PKCS12' -pass \"\${NV_SIGN_PASSWORD:-}\" -h sha256 -in {file} -out {file}.signed && mv {file}.signed {file}")
fi
# No --runtime: the builder's default is the product's 32-bit Setup.exe and
# Uninstall.exe (here those of build/win32; an installed builder has its own).
echo "== packages with the product runtime (32-bit)"
"$builder" build "$stage/project.xml" --out "$out/product" "${sign[@]}"
echo "== packages with the 64-bit twin, for the install under Wine"
"$builder" build "$stage/project.xml" --runtime build/win64/Installer/Setup.exe \
  --uninstaller build/win64/Uninstaller/Uninstall.exe --out "$out/twin" --quiet
echo "== what the full package installs (setup-builder list)"
"$builder" list "$out/product/DemoAppSetup.exe"

env_dir="$root/$out/wine-env"
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  ./scripts/wine-prefix.sh stop "$env_dir"
}
./scripts/wine-prefix.sh start "$env_dir"
trap cleanup EXIT
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
[ "$code" -eq 0 ] || exit "$code"

echo "== online stub: DemoAppSetupOnline.exe /Silent (the full package served on 127.0.0.1:8080)"
ls -l "$out/twin/DemoAppSetupOnline.exe" "$out/twin/DemoAppSetup.exe"
python3 -m http.server 8080 --bind 127.0.0.1 --directory "$out/twin" >"$out/http.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  if python3 -c 'import socket; socket.create_connection(("127.0.0.1", 8080), 1).close()' 2>/dev/null; then break; fi
  sleep 0.1
done
# The stub's setup runs the first install's "QuietUninstallString" (its
# Uninstall.exe /SILENT) and waits for it before it writes its own files.
set +e
./scripts/wine-run.sh "$env_dir" "$out/twin/DemoAppSetupOnline.exe" /Silent
code=$?
set -e
echo "exit code: $code"
echo "== requests the server answered"
grep -o '"GET [^"]*" [0-9]*' "$out/http.log" || true
echo "== installed again in C:\\Program Files (x86)\\NvDemo\\演示程序"
(cd "$app" && find . -type f | sort | xargs -d '\n' ls -l)
[ "$code" -eq 0 ] || exit "$code"

echo "== uninstall: Uninstall.exe /SILENT"
guid='{6C1D3F0E-5A7B-4E29-9D84-2B1F7A3C9E51}'
uninstall_key="HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${guid}_lm"
product_key='HKLM\Software\Wow6432Node\NvDemo\演示程序'
drive_c="$WINEPREFIX/drive_c"
links() {
  find "$drive_c/ProgramData/Microsoft/Windows/Start Menu" "$drive_c/users" \( -name '演示程序.lnk' -o -name '使用说明.lnk' \) \
    2>/dev/null | sort
}
# Each thing the install made: "present" or "gone"; the count of present ones.
product_state() {
  local present=0
  item() { if eval "$2"; then echo "  present: $1"; present=$((present + 1)); else echo "  gone:    $1"; fi; }
  item "the install folder C:\\Program Files (x86)\\NvDemo\\演示程序" '[ -e "$app" ]'
  item "the uninstall entry" 'wine reg query "$uninstall_key" >/dev/null 2>&1'
  item "the product key $product_key" 'wine reg query "$product_key" >/dev/null 2>&1'
  item "the user key $user_key" 'wine reg query "$user_key" >/dev/null 2>&1'
  item "the shortcuts ($(links | wc -l))" '[ -n "$(links)" ]'
  item "the entry in Wine's list of installed programs" 'wine uninstaller --list 2>/dev/null | grep -Fq "$guid"'
  return "$present"
}
user_key='HKCU\Software\NvDemo\演示程序'
echo "before:"
set +e
product_state
before=$?
./scripts/wine-run.sh "$env_dir" "$app/Uninstall.exe" /SILENT
code=$?
echo "exit code: $code"
echo "after:"
product_state
after=$?
set -e
echo "kept (not the product's own): the company folder and key, empty:"
ls -la "$drive_c/Program Files (x86)/NvDemo" 2>/dev/null | sed 's/^/  /' || true
echo "the uninstaller's own file, deleted at the next restart:"
wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null \
  | tr -d '\r' | grep -o '~nvuninst-[^\\]*\.tmp' | sed 's/^/  /' || true
[ "$code" -eq 0 ] || exit "$code"
if [ "$before" -ne 6 ] || [ "$after" -ne 0 ]; then
  echo "demo: the uninstall did not remove everything the install made" >&2
  exit 1
fi
