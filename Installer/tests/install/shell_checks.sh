#!/usr/bin/env bash
# Install results read with tools independent of the program under test: the
# links through liblnk's lnkinfo, the uninstall entry through Wine's list of
# installed programs.
#   shell_checks.sh WINE_ENV_DIR install_tests.exe
set -euo pipefail
dir=$1
tests=$2
# shellcheck disable=SC1091
. "$dir/env"
wine "$tests" --gtest_filter='InstallShortcuts.*:UninstallRegistration.ListedAmongInstalledPrograms'

drive_c="$WINEPREFIX/drive_c"
list="$drive_c/nvtests/shortcuts/links.txt"
status=0
[ -s "$list" ] || { echo "shell_checks: no link list $list"; exit 1; }
field() { sed -n "s/^[[:space:]]*$1[[:space:]]*: //p" | head -n1 | tr -d '\r'; }
lower() { tr '[:upper:]' '[:lower:]'; }
while IFS='|' read -r link target workdir; do
  [ -n "$link" ] || continue
  rel=${link#C:\\}
  unix="$drive_c/${rel//\\//}"
  if ! info=$(lnkinfo "$unix" 2>&1); then
    echo "shell_checks: lnkinfo cannot read $unix"; echo "$info"; status=1; continue
  fi
  got_target=$(field "Local path" <<<"$info")
  got_workdir=$(field "Working directory" <<<"$info")
  if [ "$(lower <<<"$got_target")" != "$(lower <<<"$target")" ]; then
    echo "shell_checks: $link points at '$got_target', expected '$target'"; echo "$info"; status=1
  fi
  if [ "$got_workdir" != "$workdir" ]; then
    echo "shell_checks: $link works in '$got_workdir', expected '$workdir'"; echo "$info"; status=1
  fi
done <"$list"

programs=$(wine uninstaller --list 2>/dev/null | tr -d '\r')
if ! grep -Fq "NvOps Listed Product" <<<"$programs"; then
  echo "shell_checks: Wine's list of installed programs lacks the product:"; echo "$programs"; status=1
fi
[ $status -eq 0 ] && echo "shell_checks: links and program list as expected"
exit $status
