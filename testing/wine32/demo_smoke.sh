#!/usr/bin/env bash
# The example product as customers get it: its full package built with the
# i686 Setup.exe and Uninstall.exe, installed with "/Silent" by that Setup.exe
# and removed with "Uninstall.exe /SILENT", under the emulated 32-bit Wine.
#   demo_smoke.sh install BUILDER STAGE SETUP.exe UNINSTALL.exe
#       build the package from the staged example (STAGE/project.xml), install
#       it, check files, registry values, uninstall entry, shortcuts and the
#       started program
#   demo_smoke.sh uninstall
#       remove that install and check that nothing of it is left
# With NV_DEMO_SHORTCUTS=0 the example is built without its shortcuts: under
# qemu-i386 the emulator dies inside shell32 while saving a shortcut in some
# runs, and the rest of the install is what this test is for.
# The environment is NV_WINE_DIR (wine-prefix.sh start DIR --i686).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scripts=$(cd "$here/../../scripts" && pwd)
mode=${1:-}
dir=${NV_WINE_DIR:?NV_WINE_DIR names the test environment}
# shellcheck disable=SC1091
. "$dir/env"
export LC_ALL=C.UTF-8

guid='{6C1D3F0E-5A7B-4E29-9D84-2B1F7A3C9E51}'
drive_c="$WINEPREFIX/drive_c"
app_win='C:\Program Files (x86)\NvDemo\演示程序'
app="$drive_c/Program Files (x86)/NvDemo/演示程序"
work="$dir/demo"
failures=0
shortcuts=${NV_DEMO_SHORTCUTS:-1}

fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
check() { local what=$1; shift; if "$@"; then ok "$what"; else fail "$what"; fi; }

# "i386" or "amd64" from a PE file's machine field.
pe_machine() {
  local off machine
  off=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$off" ] || { echo none; return; }
  machine=$(od -An -t x2 -j $((off + 4)) -N 2 "$1" | tr -d ' ')
  case $machine in 014c) echo i386 ;; 8664) echo amd64 ;; *) echo "$machine" ;; esac
}

# A registry key as text (reg export writes UTF-16; non-ASCII names and data
# stay exact that way, where reg query prints "?"). Empty when missing.
reg_text() {
  local file="$work/reg.$$.reg"
  rm -f "$file"
  if wine reg export "$1" "$(winepath -w "$file" 2>/dev/null)" /y >/dev/null 2>&1 && [ -s "$file" ]; then
    iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r'
  fi
  rm -f "$file"
}
# reg_has KEY LINE: the exported key holds exactly that line.
reg_has() { reg_text "$1" | grep -qxF -- "$2"; }

uninstall_key="HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${guid}_lm"
product_key='HKLM\Software\Wow6432Node\NvDemo'
user_key='HKCU\Software\NvDemo'
links() {
  find "$drive_c/ProgramData/Microsoft/Windows/Start Menu" "$drive_c/users" \
    \( -name '演示程序.lnk' -o -name '使用说明.lnk' \) 2>/dev/null | sort
}
# A running copy of the installed program: a process of this prefix whose
# command line names it (an emulated one names it as the emulator's argument).
demo_running() {
  local p
  for p in /proc/[0-9]*; do
    tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    tr '\0' ' ' 2>/dev/null <"$p/cmdline" | grep -qi 'DemoApp\.exe' && return 0
  done
  return 1
}

# Runs a program of the prefix with the current folder inside drive_c; prints
# its output and the time it took. Sets rc. A 32-bit process that dies of a
# signal Wine does not handle ends with exit code 0 for its parent: the
# emulator's report of it counts as a crash (rc 139).
run_timed() {
  local start=$SECONDS
  (cd "$drive_c" && "$scripts/wine-run.sh" "$dir" "$@") 2>&1 | tee "$work/run.log"
  rc=${PIPESTATUS[0]}
  echo "($1 $2: exit code $rc after $((SECONDS - start)) s)"
  if grep -q '^qemu: uncaught target signal' "$work/run.log"; then
    echo "($1 crashed: $(grep -m1 '^qemu: uncaught target signal' "$work/run.log"))"
    rc=139
  fi
}

install() {
  local builder=$1 stage=$2 setup=$3 uninstaller=$4
  if [ ! -x "$builder" ]; then
    echo "demo_smoke: no host setup-builder at $builder (build the preset host first)"
    return 1
  fi
  [ -f "$stage/project.xml" ] || { echo "demo_smoke: the example is not staged in $stage"; return 1; }
  rm -rf "$work"
  mkdir -p "$work"
  local project="$stage/project.xml"
  if [ "$shortcuts" = 0 ]; then
    project="$stage/project-noshortcuts.xml"
    grep -v '<TSetupShortCut ' "$stage/project.xml" >"$project"
  fi
  "$builder" build "$project" --runtime "$setup" --uninstaller "$uninstaller" --out "$work/pkg" --quiet ||
    { echo "demo_smoke: the package did not build"; return 1; }
  local package="$work/pkg/DemoAppSetup.exe"
  check "the package carries the i686 runtime" [ "$(pe_machine "$package")" = i386 ]
  check "the runtime is the i686 build" [ "$(pe_machine "$setup")" = i386 ]
  check "the example's program is i686" [ "$(pe_machine "$stage/bin/DemoApp.exe")" = i386 ]
  mkdir -p "$drive_c/nvdemo"
  cp "$package" "$drive_c/nvdemo/"
  check "nothing of the product before the install" [ ! -e "$app" ]

  run_timed 'C:\nvdemo\DemoAppSetup.exe' /Silent
  check "DemoAppSetup.exe /Silent exits with 0" [ "$rc" -eq 0 ]

  local f rel
  while IFS= read -r f; do
    rel=${f#"$stage/files/"}
    check "installed $rel" cmp -s "$f" "$app/$rel"
  done < <(find "$stage/files" -type f | sort)
  check "installed DemoApp.exe" cmp -s "$stage/bin/DemoApp.exe" "$app/DemoApp.exe"
  check "installed Uninstall.exe (i686)" [ "$(pe_machine "$app/Uninstall.exe")" = i386 ]
  check "installed Uninstall.da1" [ -s "$app/Uninstall.da1" ]
  check "installed Uninstall.da2" [ -s "$app/Uninstall.da2" ]
  check "installed Uninstall.jnl" [ -s "$app/Uninstall.jnl" ]

  local app_reg=${app_win//\\/\\\\}
  check "HKLM NvDemo\\演示程序 InstallDir (32-bit view)" reg_has "$product_key" "\"InstallDir\"=\"$app_reg\\\\\""
  check "HKLM NvDemo\\演示程序 Version" reg_has "$product_key" '"Version"="1.2.0.0"'
  check "HKLM NvDemo\\演示程序 AppID" reg_has "$product_key" '"AppID"=dword:00002731'
  check "HKCU NvDemo\\演示程序 FirstRun" reg_has "$user_key" '"FirstRun"=dword:00000001'
  check "the uninstall entry's UninstallString" reg_has "$uninstall_key" "\"UninstallString\"=\"\\\"$app_reg\\\\Uninstall.exe\\\"\""
  check "the uninstall entry's QuietUninstallString" \
    reg_has "$uninstall_key" "\"QuietUninstallString\"=\"\\\"$app_reg\\\\Uninstall.exe\\\" /SILENT\""

  local count=0 link target
  while IFS= read -r link; do
    count=$((count + 1))
    target=$(lnkinfo "$link" 2>/dev/null | sed -n 's/^[[:space:]]*Local path[[:space:]]*: //p' | head -n1 | tr -d '\r')
    case $link in
      */使用说明.lnk) check "shortcut ${link#"$drive_c/"} points at readme.txt" [ "$target" = "$app_win\\readme.txt" ] ;;
      *) check "shortcut ${link#"$drive_c/"} points at DemoApp.exe" [ "$target" = "$app_win\\DemoApp.exe" ] ;;
    esac
  done < <(links)
  if [ "$shortcuts" = 0 ]; then
    check "no shortcuts (built without them), found $count" [ "$count" -eq 0 ]
  else
    check "three shortcuts (two in the group, one on the desktop), found $count" [ "$count" -eq 3 ]
  fi

  # The run entry: DemoApp.exe, a 32-bit program started by the 32-bit setup
  # (its emulated start takes a while; the process is listed early).
  local waited=0
  [ "$rc" -eq 0 ] || waited=120
  until demo_running || [ "$waited" -ge 120 ]; do sleep 5; waited=$((waited + 5)); done
  check "the run entry started DemoApp.exe" demo_running
}

uninstall() {
  check "the product is installed" [ -f "$app/Uninstall.exe" ]
  run_timed "$app_win\\Uninstall.exe" /SILENT
  check "Uninstall.exe /SILENT exits with 0" [ "$rc" -eq 0 ]
  check "the install folder is gone" [ ! -e "$app" ]
  check "the product's registry values are gone" [ -z "$(reg_text "$product_key" | grep -F '演示程序')" ]
  check "the user's values are gone" [ -z "$(reg_text "$user_key" | grep -F '演示程序')" ]
  check "the uninstall entry is gone" [ -z "$(reg_text "$uninstall_key")" ]
  check "the shortcuts are gone" [ -z "$(links)" ]
  check "the Start-menu group is gone" [ -z "$(find "$drive_c/ProgramData/Microsoft/Windows/Start Menu" -name '演示程序' 2>/dev/null)" ]
  check "DemoApp.exe no longer runs" eval '! demo_running'
}

case $mode in
  install) shift; install "$@" || failures=$((failures + 1)) ;;
  uninstall) uninstall ;;
  *) echo "usage: $0 install BUILDER STAGE SETUP.exe UNINSTALL.exe | uninstall" >&2; exit 2 ;;
esac
echo "demo_smoke $mode: $failures failed"
[ "$failures" -eq 0 ]
