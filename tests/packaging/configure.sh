#!/bin/sh
# SPDX-License-Identifier: MIT
# Configuring: a plain configure makes no test or benchmark targets; asking for
# the tests on a machine without GoogleTest, Google Benchmark or a 32-bit
# toolchain (or ALSA's library, for 'tuvello play') still configures, names
# what is missing and leaves out what needs it.
# usage: configure.sh SOURCE WORK
set -eu
source=$1
work=$2
rm -rf "$work"
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

cmake -S "$source" -B "$work/plain" > "$work.plain.log" 2>&1 || { cat "$work.plain.log"; fail "plain configure failed"; }
targets=$(cmake --build "$work/plain" --target help)
for target in tuvello tuvello_cli; do
  echo "$targets" | grep -q "\.\.\. $target\$" || fail "plain configure has no target $target"
done
for target in image_test song_bench tuvello32 exactness_check; do
  echo "$targets" | grep -q "\.\.\. $target\$" && fail "plain configure builds $target"
done

cmake -S "$source" -B "$work/bare" -DTUVELLO_BUILD_TESTS=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON -DTUVELLO_CAN_BUILD_32BIT=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_ALSA=ON > "$work.bare.log" 2>&1 ||
  { cat "$work.bare.log"; fail "configure without GoogleTest, Google Benchmark and multilib failed"; }
grep -q "built without 'tuvello play'" "$work.plain.log" && fail "configure with ALSA leaves out tuvello play"
for missing in 'GoogleTest not found' 'Google Benchmark not found' 'No working -m32 toolchain' \
  "built without 'tuvello play'"; do
  tr '\n' ' ' < "$work.bare.log" | sed 's/  */ /g' | grep -q "$missing" || fail "configure does not say: $missing"
done
targets=$(cmake --build "$work/bare" --target help)
echo "$targets" | grep -q '\.\.\. exactness_check$' || fail "the tests that need no GoogleTest are left out too"
for target in image_test song_bench tuvello32; do
  echo "$targets" | grep -q "\.\.\. $target\$" && fail "configure without its tools still makes $target"
done
echo "configure leaves out exactly what lacks its tools, and says so"
