#!/bin/sh
# SPDX-License-Identifier: MIT
# `cmake --install` into a scratch prefix puts exactly the release files there.
# usage: install.sh SOURCE BUILD WORK VERSION LIBDIR HAS_TOOL HAS_MAN
source=$1
version=$4
. "$source/tests/packaging/common.sh"
scratch_checkout "$1" "$2" "$3"

prefix="$3/prefix"
readme_step 'cmake --install build --prefix "$prefix"'
has_man=$7
check_installed_tree "$prefix" "$5" "$6"
