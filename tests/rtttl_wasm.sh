#!/bin/sh
# SPDX-License-Identifier: MIT
# The WebAssembly module, run by Node.js, converts ringtones exactly as the
# tool does: the same song text and the same warnings, for every tune of a
# file and a few malformed ringtones.
# usage: rtttl_wasm.sh TOOL NODE TUNES WORKDIR  (from the source tree)
set -eu
tool=$1 node=$2 tunes=$3 work=$4
count=0
# Each note out of reach moved alone, as version 1.1's tool does; a tool
# that knows --octave-shift is asked for it, whatever its default.
shift=
"$tool" import --octave-shift none 't:c' > /dev/null 2>&1 && shift='--octave-shift none'
check() {
  # shellcheck disable=SC2086 # $shift is two words or none
  "$tool" import $shift "$1" > "$work/native.out" 2> "$work/native.err"
  "$node" web/test/convert_rtttl.mjs --octave-shift none "$1" > "$work/wasm.out" 2> "$work/wasm.err"
  cmp "$work/native.out" "$work/wasm.out" && cmp "$work/native.err" "$work/wasm.err" ||
    { echo "differs for: $1"; exit 1; }
  count=$((count + 1))
}
grep -v -e '^#' -e '^ms ' -e '^$' "$tunes" > "$work/tunes.txt"
while IFS= read -r tune; do check "$tune"; done < "$work/tunes.txt"
check 't:d=3,o=x,b=0,l=15,,q:8z,,3c,8c..x,4,p#,8c9999999'
check 't:d=32,o=7,b=900:c,16d.,c8,c2,1p,1c'
check 'c,d'
check ''
[ "$(wc -c < "$work/native.err")" -gt 0 ] || { echo "the last ringtone gave no warning"; exit 1; }
echo "WebAssembly and native conversions identical for $count ringtones"
