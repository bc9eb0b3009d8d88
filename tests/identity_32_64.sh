#!/bin/sh
# The 32-bit and 64-bit libraries render byte-identical images.
# usage: identity_32_64.sh HOST64 LIB64 HOST32 LIB32 CORPUS WORKDIR
set -eu
"$1" "$2" render "$5" > "$6/images64.bin"
"$3" "$4" render "$5" > "$6/images32.bin"
size=$(wc -c < "$6/images64.bin")
[ "$size" -gt 1000000 ] || { echo "suspiciously small output: $size bytes"; exit 1; }
cmp "$6/images64.bin" "$6/images32.bin"
echo "32-bit and 64-bit images identical: $size bytes over $(wc -l < "$5") texts"
