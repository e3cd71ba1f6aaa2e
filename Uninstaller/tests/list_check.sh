#!/usr/bin/env bash
# The uninstall entry read with a tool independent of the program under test:
# Wine's list of installed programs shows the product that stays installed and
# no longer the one that was removed.
#   list_check.sh WINE_ENV_DIR uninstall_tests.exe
set -euo pipefail
dir=$1
tests=$2
# shellcheck disable=SC1091
. "$dir/env"
wine "$tests" --gtest_filter='UninstallSilent.ProductLeavesTheListOfInstalledPrograms'
programs=$(wine uninstaller --list 2>/dev/null | tr -d '\r')
status=0
if ! grep -Fq "NvUn Listed Kept" <<<"$programs"; then
  echo "list_check: the installed product is missing from Wine's list:"; echo "$programs"; status=1
fi
if grep -Fq "NvUn Listed Removed" <<<"$programs"; then
  echo "list_check: the removed product is still in Wine's list:"; echo "$programs"; status=1
fi
[ $status -eq 0 ] && echo "list_check: Wine's list of installed programs as expected"
exit $status
