#!/usr/bin/env bash
# Remakes the seed corpora in fuzz/seeds/ from the example product (examples/
# demo) and packages the builder makes of it. Needs the host build
# (cmake --build --preset host --target setup-builder demo_stage nvpe_fixtures).
#
#   fuzz/make-seeds.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
host="$root/build/host"
builder="$host/Builder/setup-builder"
fixtures="$host/Builder/pe/fixtures"
demo="$root/examples/demo"
for f in "$builder" "$fixtures/fixture32.exe" "$fixtures/fixture64.exe"; do
  [ -e "$f" ] || { echo "make-seeds.sh: $f is missing; build the host preset first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seeds="$here/seeds"
# The install journal's seeds are written by hand (seeds/journal_reader) and kept.
made=(xml_document setup_script decode_stream pe_reader pe_writer png_check utf8_text license_text command_line pack_payload)
for d in "${made[@]}"; do rm -rf "${seeds:?}/$d"; mkdir -p "$seeds/$d"; done

# Packages of the example product on the 32-bit test program, and the
# project each carries (as "setup-builder inspect" shows it).
"$builder" build "$host/examples/demo/project.xml" --runtime "$fixtures/fixture32.exe" --no-uninstaller --out "$work" --quiet
for kind in DemoAppSetup DemoAppSetupOnline; do
  "$builder" inspect "$work/$kind.exe" | sed -n '/^project:$/,$p' | tail -n +2 > "$work/$kind.project.xml"
done

# Projects: the example as written, as packed in the full package and in the
# online stub, and a small document with every construct the reader knows.
for d in xml_document setup_script; do
  cp "$demo/project.xml" "$seeds/$d/demo-project.xml"
  cp "$work/DemoAppSetup.project.xml" "$seeds/$d/full-package-project.xml"
  cp "$work/DemoAppSetupOnline.project.xml" "$seeds/$d/stub-project.xml"
done
printf '<?xml version="1.0" encoding="utf-8"?>\r\n<!-- note -->\r\n<r k="v&amp;&#x41;" j='"'"'1'"'"'>text<![CDATA[ & ]]><c/><d a="&lt;&#66;"/></r>\r\n' \
  > "$seeds/xml_document/constructs.xml"

# Payloads: the project, the agreement, the picture, a data file, empty.
for f in "$work/DemoAppSetup.project.xml" "$demo/license.txt" "$demo/icon.png" "$demo/files/data/config.ini"; do
  "$builder" encode "$f" -o "$seeds/decode_stream/$(basename "$f").payload"
done
: > "$seeds/decode_stream/empty.payload"

# Executables: the 32-bit test program, the 64-bit one without its symbols,
# the online stub. The writer's inputs end in three bytes that choose the edits.
cp "$fixtures/fixture32.exe" "$seeds/pe_reader/fixture32.exe"
x86_64-w64-mingw32-strip -o "$seeds/pe_reader/fixture64-stripped.exe" "$fixtures/fixture64.exe"
cp "$work/DemoAppSetupOnline.exe" "$seeds/pe_reader/demo-stub.exe"
for f in "$seeds"/pe_reader/*.exe; do
  name=$(basename "$f" .exe)
  { cat "$f"; printf '\x09\x20\xff'; } > "$seeds/pe_writer/$name-set.bin"    # language 9, 32*97 bytes, every edit
  { cat "$f"; printf '\x00\x05\x13'; } > "$seeds/pe_writer/$name-small.bin"
done

# Pictures: the example's.
cp "$demo/icon.png" "$seeds/png_check/demo-icon.png"

# Text: the example's agreement, characters of every UTF-8 length, invalid
# sequences (a cut sequence, an encoded surrogate, five bytes, overlong).
cp "$demo/license.txt" "$seeds/utf8_text/license.txt"
printf 'ASCII \xe4\xbb\xa3\xe7\x90\x86 \xf0\x9f\x98\x80 \xc3\xa9' > "$seeds/utf8_text/mixed.txt"
printf 'bad \xc3 \xed\xa0\x80 \xf8\x88\x80\x80\x80 \xe0\x80\xaf end' > "$seeds/utf8_text/invalid.txt"

# Agreements: the example's (no byte-order mark), UTF-16 LE with CR LF and a
# line separator, UTF-8 with a bare CR, a blank line and no final break.
cp "$demo/license.txt" "$seeds/license_text/license.txt"
printf '\xff\xfeA\x00\r\x00\n\x00B\x00(\x20C\x00' > "$seeds/license_text/utf16le.txt"
printf '\xef\xbb\xbfline one\rline two\n\nend' > "$seeds/license_text/utf8-bom.txt"

# Command lines (UTF-16 LE): a quoted program with a switch; quotes inside
# an argument, a tab, an unclosed quote.
printf '"C:\\Program Files\\Setup.exe" /Silent' | iconv -t UTF-16LE > "$seeds/command_line/silent.bin"
printf 'setup_77.exe "a b"c"" \t /Auto "' | iconv -t UTF-16LE > "$seeds/command_line/quotes.bin"
# Content for the packer (a first byte that chooses the plan): the example's
# agreement and picture, zeros, and the three of them one after the other.
{ printf '\x01'; cat "$demo/license.txt"; } > "$seeds/pack_payload/license.bin"
{ printf '\x02'; cat "$demo/icon.png"; } > "$seeds/pack_payload/icon.bin"
{ printf '\x07'; head -c 3000 /dev/zero; } > "$seeds/pack_payload/zeros.bin"
{ printf '\x0c'; cat "$demo/license.txt" "$demo/icon.png"; head -c 3000 /dev/zero; } > "$seeds/pack_payload/mixed.bin"
echo "make-seeds.sh: seeds in $seeds"
find "$seeds" -type f | sort | xargs ls -l | awk '{print "  " $5 "\t" $9}'
