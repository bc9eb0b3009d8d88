#!/bin/sh
# SPDX-License-Identifier: MIT
# The WebAssembly module, run by Node.js, renders the same bytes as the native
# library.
# usage: identity_wasm.sh HOST LIBRARY NODE CORPUS WORKDIR  (from the source tree)
set -eu
"$1" "$2" render "$4" > "$5/images-native.bin"
"$3" web/test/render_corpus.mjs "$4" > "$5/images-wasm.bin"
size=$(wc -c < "$5/images-native.bin")
[ "$size" -gt 1000000 ] || { echo "suspiciously small output: $size bytes"; exit 1; }
cmp "$5/images-native.bin" "$5/images-wasm.bin"
echo "WebAssembly and native images identical: $size bytes over $(wc -l < "$4") texts"
