#!/bin/sh
# SPDX-License-Identifier: MIT
# The README's uninstall command removes every file the install put into the
# prefix, and nothing else.
# usage: uninstall.sh SOURCE BUILD WORK PREFIX
source=$1
. "$source/tests/packaging/common.sh"
prefix=$4
scratch_checkout "$1" "$2" "$3"

[ -f build/install_manifest.txt ] || fail "no build/install_manifest.txt from the install"
mkdir -p "$prefix/bin"
echo keep > "$prefix/bin/other-program"
readme_step 'cmake --build build --target uninstall'
left=$(cd "$prefix" && find . -type f -o -type l)
[ "$left" = ./bin/other-program ] || fail "after uninstalling, the prefix holds: $left"
[ -z "$(find "$prefix" -name tuvello)" ] || fail "a directory named tuvello is left: $(find "$prefix" -name tuvello)"
echo "uninstall removed exactly the installed files from $prefix"
