#!/bin/sh
# SPDX-License-Identifier: MIT
# Both WebAssembly modules, with SIMD and without, run by Node.js, render the
# same bytes as the native library.
# usage: identity_wasm.sh HOST LIBRARY NODE CORPUS WORKDIR  (from the source tree)
set -eu
"$1" "$2" render "$4" > "$5/images-native.bin"
size=$(wc -c < "$5/images-native.bin")
[ "$size" -gt 1000000 ] || { echo "suspiciously small output: $size bytes"; exit 1; }
for module in simd scalar; do
  "$3" web/test/render_corpus.mjs "$module" "$4" > "$5/images-wasm-$module.bin"
  cmp "$5/images-native.bin" "$5/images-wasm-$module.bin"
  echo "WebAssembly ($module) and native images identical: $size bytes over $(wc -l < "$4") texts"
done
