#!/usr/bin/env bash
# Installs what the project needs on a Debian machine (only what is missing)
# and prepares the template Wine prefix that every test run copies.
# Idempotent: a second run installs nothing and keeps the prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(
  cmake g++ make python3 git
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  zlib1g-dev libz-mingw-w64-dev libdeflate-dev googletest nlohmann-json3-dev
  wine wine64 xvfb xauth fonts-wqy-microhei
  icoutils liblnk-utils imagemagick xdotool
  tinyproxy openssl ccache nsis osslsigncode
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi

"$here/wine-prefix.sh" template
# The emulated 32-bit Wine and the template for i686 programs (cached).
"$here/wine-prefix.sh" template32
