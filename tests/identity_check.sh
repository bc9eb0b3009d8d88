#!/bin/sh
# SPDX-License-Identifier: MIT
# Another build of the library renders byte-identical images to the x86-64 one.
# usage: identity_check.sh CORPUS WORKDIR LABEL HOST64 LIB64 HOST LIB [RUNNER...]
#   RUNNER runs HOST when this machine cannot (qemu-i386, qemu-aarch64 -L ...)
set -eu
corpus=$1 work=$2 label=$3 host64=$4 lib64=$5 host=$6 lib=$7
shift 7
"$host64" "$lib64" render "$corpus" > "$work/images-$label-x86_64.bin"
"$@" "$host" "$lib" render "$corpus" > "$work/images-$label.bin"
size=$(wc -c < "$work/images-$label-x86_64.bin")
[ "$size" -gt 1000000 ] || { echo "suspiciously small output: $size bytes"; exit 1; }
cmp "$work/images-$label-x86_64.bin" "$work/images-$label.bin"
echo "$label and x86-64 images identical: $size bytes over $(wc -l < "$corpus") texts"
