# SPDX-License-Identifier: MIT
# Shared by the packaging tests; sourced, not run.
#
# The tests run the README's commands word for word: each one is looked up in
# README.md before it runs, so the README cannot drift from what is tested.
# They run in a scratch directory laid out like a checkout after the README's
# build step: examples/ and python/ are the sources, build/ is the build tree.

set -eu

# scratch_checkout SOURCE BUILD DIR: a fresh DIR laid out as above; cd into it.
scratch_checkout() {
  rm -rf "$3"
  mkdir -p "$3"
  ln -s "$1/examples" "$3/examples"
  ln -s "$1/python" "$3/python"
  ln -s "$2" "$3/build"
  readme="$1/README.md"
  cd "$3"
}

# readme_step COMMAND: run COMMAND, which README.md must show on a line of its own.
# The README shows the default layout, libraries in $prefix/lib; when this
# build installs them elsewhere ($libdir), the command runs with that instead.
readme_step() {
  if ! grep -qxF -- "$1" "$readme"; then
    echo "README.md no longer shows this command: $1" >&2
    exit 1
  fi
  command=$1
  if [ "${libdir:-lib}" != lib ]; then
    command=$(printf '%s\n' "$1" | sed "s|\\\$prefix/lib|\\\$prefix/$libdir|g")
  fi
  printf '+ %s\n' "$command"
  eval "$command"
}

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# check_installed_tree PREFIX LIBDIR HAS_TOOL: exactly the files of an install
# (no 32-bit library, nothing from the tests), the soname links, and a shared
# object that still needs only glibc and exports only the public functions.
check_installed_tree() {
  prefix=$1
  libdir=$2
  has_tool=$3
  # The Python module goes where python3 imports packages from under the
  # prefix, or to its prefix scheme's directory (lib/python3.X/site-packages).
  python_dir=$(cd "$prefix" && find . -path '*/tuvello/__init__.py' | sed 's|^\./||; s|/tuvello/__init__\.py$||')
  case $python_dir in
  lib/python3*/site-packages | lib/python3*/dist-packages) ;;
  *) fail "the Python module went to '$python_dir' in $prefix" ;;
  esac
  {
    if [ "$has_tool" = 1 ]; then
      echo "bin/tuvello"
      echo "share/bash-completion/completions/tuvello"
      [ "${has_man:-1}" = 1 ] && echo "share/man/man1/tuvello.1.gz"
    fi
    echo "include/tuvello.h"
    echo "$libdir/cmake/tuvello/tuvelloConfig.cmake"
    echo "$libdir/cmake/tuvello/tuvelloConfigVersion.cmake"
    echo "$libdir/cmake/tuvello/tuvelloTargets-CONFIG.cmake"
    echo "$libdir/cmake/tuvello/tuvelloTargets.cmake"
    echo "$libdir/libtuvello.a"
    echo "$libdir/libtuvello.so"
    echo "$libdir/libtuvello.so.1"
    echo "$libdir/libtuvello.so.$version"
    echo "$libdir/pkgconfig/tuvello.pc"
    for file in __init__.py _convert.py _files.py _format.py _loading.py _native.py _signals.py _songfile.py _version.py py.typed; do
      echo "$python_dir/tuvello/$file"
    done
  } | sort > "$prefix.expected"
  (cd "$prefix" && find . -type f -o -type l) | sed 's|^\./||' |
    sed 's|tuvelloTargets-[a-z]*\.cmake$|tuvelloTargets-CONFIG.cmake|' | sort > "$prefix.found"
  if ! diff -u "$prefix.expected" "$prefix.found"; then
    fail "installed files differ from the expected list (- expected, + found)"
  fi

  lib="$prefix/$libdir"
  [ "$(readlink "$lib/libtuvello.so")" = libtuvello.so.1 ] || fail "libtuvello.so does not point to libtuvello.so.1"
  [ "$(readlink "$lib/libtuvello.so.1")" = "libtuvello.so.$version" ] ||
    fail "libtuvello.so.1 does not point to libtuvello.so.$version"
  [ -f "$lib/libtuvello.so.$version" ] && [ ! -L "$lib/libtuvello.so.$version" ] ||
    fail "libtuvello.so.$version is not a regular file"
  soname=$(readelf -d "$lib/libtuvello.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [ "$soname" = libtuvello.so.1 ] || fail "soname is '$soname', expected libtuvello.so.1"
  sh "$source/tests/check_abi.sh" "$lib/libtuvello.so.1"
  grep -qx "Version: $version" "$lib/pkgconfig/tuvello.pc" || fail "tuvello.pc does not say Version: $version"
  # The module loads the library installed beside it, before the system's.
  [ "$(cd / && env -u LD_LIBRARY_PATH -u TUVELLO_LIBRARY PYTHONPATH="$prefix/$python_dir" python3 -c 'import tuvello; print(tuvello.__version__, tuvello.library_path())')" = "$version $lib/libtuvello.so.1" ] ||
    fail "the installed Python module's __version__ is not $version, or it does not load $lib/libtuvello.so.1"

  if [ "$has_tool" = 1 ]; then
    [ -x "$prefix/bin/tuvello" ] || fail "bin/tuvello is not executable"
    tool_version=$("$prefix/bin/tuvello" --version)
    [ "$tool_version" = "tuvello $version" ] || fail "tool says '$tool_version', expected 'tuvello $version'"
  fi
  echo "installed tree under $prefix is complete"
}
