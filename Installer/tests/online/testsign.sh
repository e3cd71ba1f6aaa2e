#!/bin/sh
# Signs an executable for the online tests as "setup-builder build --sign"
# runs it under Wine, where cmd.exe starts this host script:
#   testsign.sh CERT.pem KEY.pem FILE
# FILE is a Windows path ("C:\...\Setup.exe"), reached through the prefix's
# drive links; CERT and KEY are host paths. Wine does not wait for a host
# program: FILE.signed-done tells the Windows side that it has finished
# (the probe's "waitfile" waits for it).
set -u
cert=$1 key=$2 file=$3
letter=$(printf '%s' "$file" | cut -c1 | tr 'A-Z' 'a-z')
rest=$(printf '%s' "$file" | cut -c3- | tr '\\' '/')
unix="${WINEPREFIX:-$HOME/.wine}/dosdevices/$letter:$rest"
if osslsigncode sign -certs "$cert" -key "$key" -h sha256 -in "$unix" -out "$unix.signed" >/dev/null 2>&1; then
  mv "$unix.signed" "$unix"
fi
touch "$unix.signed-done"
