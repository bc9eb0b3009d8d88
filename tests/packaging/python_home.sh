#!/bin/sh
# SPDX-License-Identifier: MIT
# The README's install into ~/.local (with a scratch HOME), then python3
# imports the module and renders with nothing set: no PYTHONPATH, no
# LD_LIBRARY_PATH. The module lands where python3 imports packages from under
# the prefix, and loads the library installed beside it, not another. Debian's
# python3 is asked the same and gets a directory it imports from.
# usage: python_home.sh SOURCE BUILD WORK LIBDIR
source=$1
. "$source/tests/packaging/common.sh"
libdir=$4
scratch_checkout "$1" "$2" "$3"
unset TUVELLO_LIBRARY PYTHONPATH LD_LIBRARY_PATH PYTHONNOUSERSITE PYTHONUSERBASE
export PYTHONDONTWRITEBYTECODE=1
HOME="$PWD/home"
mkdir "$HOME"
# This install must not take the place of the build tree's last one, which
# the uninstall test removes.
manifest=build/install_manifest.txt
[ ! -f "$manifest" ] || cp "$manifest" manifest.saved
trap '[ ! -f manifest.saved ] || cp manifest.saved "$manifest"' EXIT

readme_step 'prefix="$HOME/.local"'
readme_step 'cmake --install build --prefix "$prefix"' > install.log || { cat install.log; fail "cmake --install failed"; }
seconds=$(readme_step "python3 -c 'import tuvello; print(tuvello.duration(\"len:200;vol:80;c;e;g;p;c\"))'")
[ "$(echo "$seconds" | tail -n 1)" = 1.0 ] || fail "python3 printed '$seconds', expected 1.0"
where=$(cd / && python3 -c 'import tuvello; print(tuvello.__file__); print(tuvello.library_path())')
case $(echo "$where" | head -n 1) in
"$prefix"/lib/python3*/site-packages/tuvello/__init__.py) ;;
*) fail "python3 imports the module from $(echo "$where" | head -n 1), not from $prefix" ;;
esac
[ "$(echo "$where" | tail -n 1)" = "$prefix/$libdir/libtuvello.so.1" ] ||
  fail "the module loads $(echo "$where" | tail -n 1), not $prefix/$libdir/libtuvello.so.1 beside it"

# Debian's python3 (its default scheme puts packages under local/ and in
# dist-packages, which no prefix but /usr wants): for ~/.local it gets the
# directory it imports from, and for /usr and /usr/local the ones it searches.
if [ -x /usr/bin/python3 ]; then
  module=$(dirname "$(echo "$where" | head -n 1)")
  directory=$(/usr/bin/python3 "$source/cmake/tuvello_python_dir.py" "$prefix")
  if [ ! -d "$prefix/$directory/tuvello" ]; then
    mkdir -p "$prefix/$directory"
    cp -r "$module" "$prefix/$directory/"
  fi
  [ "$(cd / && /usr/bin/python3 -c 'import tuvello; print(tuvello.__file__, tuvello.duration("c"))')" = "$prefix/$directory/tuvello/__init__.py 0.1" ] ||
    fail "Debian's python3 does not import the module from $prefix/$directory"
  for system in /usr /usr/local; do
    directory=$(/usr/bin/python3 "$source/cmake/tuvello_python_dir.py" "$system")
    /usr/bin/python3 -c 'import site, sys; sys.exit(sys.argv[1] not in site.getsitepackages())' "$system/$directory" ||
      fail "Debian's python3 does not search $system/$directory"
  done
  [ "$(/usr/bin/python3 "$source/cmake/tuvello_python_dir.py" /usr)" = lib/python3/dist-packages ] ||
    fail "a module for /usr does not go to Debian's lib/python3/dist-packages"
fi
echo "python3 imports the module installed into ~/.local, with the library beside it"
