#!/bin/sh
# SPDX-License-Identifier: MIT
# A binary carries the hardening of a release build: a relocation table made
# read-only and bound at load time, the stack protector, and on x86 an endbr
# landing pad at FUNCTION's entry (-fcf-protection). With --fortified it also
# calls glibc's checked variants (_FORTIFY_SOURCE), which only code that copies
# into buffers of known size gets.
# usage: check_hardening.sh [--fortified] FILE FUNCTION
set -eu
fortified=0
if [ "$1" = --fortified ]; then
  fortified=1
  shift
fi
file=$1
function=$2
status=0
fail() {
  echo "$file: $*"
  status=1
}

dynamic=$(readelf -dW "$file")
echo "$dynamic" | grep -q '(FLAGS).*BIND_NOW' || echo "$dynamic" | grep -q '(FLAGS_1).*NOW' ||
  fail "not linked with -z now (no BIND_NOW)"
readelf -lW "$file" | grep -q GNU_RELRO || fail "not linked with -z relro (no GNU_RELRO segment)"
imports=$(nm -D --undefined-only "$file")
echo "$imports" | grep -q ' __stack_chk_fail' || fail "no stack protector (__stack_chk_fail not called)"
if [ $fortified = 1 ] && ! echo "$imports" | grep -q ' __[a-z]*_chk@'; then
  fail "not built with _FORTIFY_SOURCE (no __*_chk function called)"
fi
case $(readelf -hW "$file" | sed -n 's/^ *Machine: *//p') in
*X86-64* | *80386*)
  entry=$(objdump -d --no-show-raw-insn "$file" | sed -n "/<$function>:\$/{n;p;q}")
  case $entry in
  *endbr*) ;;
  *) fail "$function does not start with endbr (no -fcf-protection): $entry" ;;
  esac
  ;;
esac
[ $status -eq 0 ] && echo "$file: BIND_NOW, RELRO, stack protector$([ $fortified = 1 ] && echo ', fortified'), CET landing pads"
exit $status
