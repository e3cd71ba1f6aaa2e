#!/usr/bin/env bash
# Runs the fault tests with two drives of the prefix on small file systems of
# their own: T: a 2 MB tmpfs (an install fills it up), S: a read-only tmpfs
# holding one empty folder, S:\folder.
# Mounting needs root (or CAP_SYS_ADMIN); without it the drive tests skip.
#   fault_drives.sh WINE_ENV_DIR install_fault_tests.exe
set -uo pipefail
dir=$1
tests=$2
scripts=${NV_SCRIPTS:-$(cd "$(dirname "$0")/../../../scripts" && pwd)}
# shellcheck disable=SC1091
. "$dir/env"
mnt=$(mktemp -d "${TMPDIR:-/tmp}/nvfaults.XXXXXX")
mkdir "$mnt/full" "$mnt/ro"
dosdevices="$WINEPREFIX/dosdevices"
cleanup() {
  rm -f "$dosdevices/t:" "$dosdevices/s:"
  mountpoint -q "$mnt/full" && umount "$mnt/full"
  mountpoint -q "$mnt/ro" && umount "$mnt/ro"
  rmdir "$mnt/full" "$mnt/ro" "$mnt"
}
trap cleanup EXIT
if mount -t tmpfs -o size=2m nvfull "$mnt/full" 2>/dev/null &&
   mount -t tmpfs -o size=1m nvro "$mnt/ro" 2>/dev/null && mkdir "$mnt/ro/folder" &&
   mount -o remount,ro "$mnt/ro" 2>/dev/null; then
  ln -sfn "$mnt/full" "$dosdevices/t:"
  ln -sfn "$mnt/ro" "$dosdevices/s:"
  export NV_FAULT_DRIVES=TS
else
  echo "fault_drives: cannot mount a tmpfs here; the drive tests are skipped"
fi
shift 2
"$scripts/wine-run.sh" "$dir" "$tests" "$@"
