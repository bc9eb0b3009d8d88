#!/bin/sh
# SPDX-License-Identifier: MIT
# The README's Debian package commands: a build for /usr, `cpack` making the
# four packages, each with its files, fields and dependencies, stripped, and
# passing lintian without errors. With TUVELLO_TEST_APT_INSTALL=1 (CI, as
# root) the packages are also installed with apt, used from C, CMake, the
# tool, its man page and Python (the system's and a virtual environment's),
# and purged again.
# usage: deb.sh SOURCE BUILD WORK VERSION HAS_TOOL HAS_MAN
source=$1
version=$4
has_tool=$5
has_man=$6
. "$source/tests/packaging/common.sh"
scratch_checkout "$1" "$2" "$3"
# The package build configures the checkout itself.
for entry in "$source"/*; do
  [ -e "$(basename "$entry")" ] || ln -s "$entry" .
done

readme_step 'cmake -S . -B build-deb -DCMAKE_INSTALL_PREFIX=/usr && cmake --build build-deb -j2 && cpack --config build-deb/CPackConfig.cmake -B build-deb/deb'
[ ! -e build-deb/install_manifest.txt ] || fail "cpack wrote the build tree's install_manifest.txt"

arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
packages="libtuvello1 libtuvello-dev python3-tuvello"
[ "$has_tool" = 1 ] && packages="$packages tuvello"
set -- build-deb/deb/*.deb
[ $# -eq "$(echo $packages | wc -w)" ] || fail "expected packages $packages, found: $*"

deb_of() {
  case $1 in
  python3-tuvello) echo "build-deb/deb/${1}_${version}_all.deb" ;;
  *) echo "build-deb/deb/${1}_${version}_$arch.deb" ;;
  esac
}

# expected_files PACKAGE: the files (and links) PACKAGE holds, without /usr/share/doc.
expected_files() {
  lib=usr/lib/$multiarch
  case $1 in
  libtuvello1) printf '%s\n' "$lib/libtuvello.so.1" "$lib/libtuvello.so.$version" ;;
  libtuvello-dev)
    printf '%s\n' usr/include/tuvello.h "$lib/libtuvello.so" "$lib/libtuvello.a" "$lib/pkgconfig/tuvello.pc" \
      "$lib/cmake/tuvello/tuvelloConfig.cmake" "$lib/cmake/tuvello/tuvelloConfigVersion.cmake" \
      "$lib/cmake/tuvello/tuvelloTargets-release.cmake" "$lib/cmake/tuvello/tuvelloTargets.cmake"
    ;;
  tuvello)
    printf '%s\n' usr/bin/tuvello usr/share/bash-completion/completions/tuvello
    [ "$has_man" = 1 ] && echo usr/share/man/man1/tuvello.1.gz
    ;;
  python3-tuvello)
    printf 'usr/lib/python3/dist-packages/tuvello/%s\n' __init__.py _convert.py _files.py _format.py _loading.py \
      _native.py _signals.py _songfile.py _version.py py.typed
    ;;
  esac
}

for package in $packages; do
  deb=$(deb_of $package)
  [ -f "$deb" ] || fail "no $deb"
  field() { dpkg-deb -f "$deb" "$1"; }
  [ "$(field Package)" = $package ] || fail "$deb: Package is '$(field Package)'"
  [ "$(field Version)" = "$version" ] || fail "$package: Version is '$(field Version)', expected $version"
  [ "$(field Maintainer)" = "tuvello authors <tuvello@example.org>" ] ||
    fail "$package: Maintainer is '$(field Maintainer)'"

  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | grep -v '^usr/share/doc/' | sort > $package.found
  expected_files $package | sort > $package.expected
  diff -u $package.expected $package.found || fail "$package: files differ from the expected list (- expected, + found)"
  for doc in copyright changelog.gz; do
    dpkg-deb -c "$deb" | grep -q " \./usr/share/doc/$package/$doc\$" || fail "$package: no /usr/share/doc/$package/$doc"
  done

  rm -rf root-$package
  dpkg-deb -x "$deb" root-$package
  # Binaries stripped, and each library a binary needs comes from a package
  # it depends on.
  depends=$(field Depends)
  for file in $(find root-$package -type f); do
    [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
    readelf -SW "$file" | grep -qE ' \.(symtab|debug_info) ' && fail "${file#root-$package} is not stripped"
    for needed in $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
      path=$(ldconfig -p | sed -n "s|^\t$needed (libc6,x86-64[^)]*) => ||p; s|^\t$needed (libc6[^,)]*) => ||p" | head -n 1)
      # With merged /usr, dpkg may know the file under /usr only.
      provider=$( (dpkg -S "$path" || dpkg -S "/usr$path") 2>/dev/null | head -n 1 | cut -d: -f1)
      [ -n "$provider" ] || fail "${file#root-$package}: no package found for $needed"
      echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/[ :].*//' | grep -qx "$provider" ||
        fail "${file#root-$package} needs $needed ($provider) but $package's Depends is '$depends'"
    done
  done
  echo "$package: Depends: $depends"
done

[ "$(dpkg-deb -f "$(deb_of libtuvello-dev)" Depends)" = "libtuvello1 (= $version)" ] ||
  fail "libtuvello-dev does not depend on exactly this libtuvello1"
dpkg-deb -f "$(deb_of python3-tuvello)" Depends | grep -q "libtuvello1 (>= $version)" ||
  fail "python3-tuvello does not depend on libtuvello1"
[ "$(dpkg-deb -f "$(deb_of python3-tuvello)" Architecture)" = all ] || fail "python3-tuvello is not Architecture: all"
control=$(mktemp -d)
dpkg-deb -e "$(deb_of libtuvello1)" "$control"
[ "$(cat "$control/shlibs")" = "libtuvello 1 libtuvello1 (>= $version)" ] || fail "libtuvello1's shlibs is '$(cat "$control/shlibs")'"
grep -qx 'activate-noawait ldconfig' "$control/triggers" || fail "libtuvello1 has no ldconfig trigger"
rm -rf "$control"
# python3-tuvello byte-compiles its module when installed and removes all
# bytecode beside it before it is removed, so that a purge leaves nothing.
control=$(mktemp -d)
dpkg-deb -e "$(deb_of python3-tuvello)" "$control"
grep -qx '  py3compile -p python3-tuvello' "$control/postinst" || fail "python3-tuvello's postinst does not run py3compile"
grep -qx '  py3clean -p python3-tuvello' "$control/prerm" || fail "python3-tuvello's prerm does not run py3clean"
for script in postinst prerm; do
  [ "$(stat -c %a "$control/$script")" = 755 ] || fail "python3-tuvello's $script is not mode 755"
done
rm -rf "$control"

# lintian: errors fail; warnings are listed (the README says why each remains).
if command -v lintian > /dev/null; then
  lintian --fail-on error build-deb/deb/*.deb > lintian.log 2>&1 ||
    { cat lintian.log; fail "lintian reports errors"; }
  cat lintian.log
else
  fail "lintian is not installed (Debian package lintian)"
fi
echo "the Debian packages are complete and pass lintian"

if [ "${TUVELLO_TEST_APT_INSTALL:-0}" != 1 ]; then
  echo "not installing them (set TUVELLO_TEST_APT_INSTALL=1, as CI does, to install them with apt)"
  exit 0
fi

# ---- Install with apt, use, purge -----------------------------------------
for package in $packages; do
  if dpkg-query -W -f '${Status}' $package 2>/dev/null | grep -q installed; then
    fail "$package is already installed on this machine; not touching it"
  fi
done
purge() { apt-get purge -y -qq $packages > apt-purge.log 2>&1 || { cat apt-purge.log; fail "apt-get purge failed"; }; }
trap 'purge' EXIT
readme_step 'apt-get install -y ./build-deb/deb/*.deb'

# C through pkg-config, against the installed library (no paths given).
# Bytecode is written as on any Debian system (root imports write it).
unset PKG_CONFIG_PATH LD_LIBRARY_PATH TUVELLO_LIBRARY PYTHONPATH PYTHONDONTWRITEBYTECODE PYTHONPYCACHEPREFIX
[ "$(pkg-config --modversion tuvello)" = "$version" ] || fail "pkg-config finds no tuvello $version"
cc examples/c-pkgconfig/song.c $(pkg-config --cflags --libs tuvello) -o song-system
./song-system
ldd ./song-system | grep -q "lib/$multiarch/libtuvello.so.1 " || fail "song is not linked against the installed libtuvello.so.1"
# And statically, with libtuvello.a.
pkg-config --static --libs tuvello | grep -q -- '-lm' || fail "pkg-config --static does not add -lm"
cc examples/c-pkgconfig/song.c $(pkg-config --cflags tuvello) "/usr/lib/$multiarch/libtuvello.a" -lm -o song-static
./song-static
ldd ./song-static | grep -q libtuvello && fail "song-static still needs libtuvello.so"

# CMake, from the default search path.
cmake -S examples/cpp-cmake -B build-example-system > cmake-example.log 2>&1 || { cat cmake-example.log; fail "find_package(tuvello) failed"; }
cmake --build build-example-system > /dev/null
./build-example-system/song
[ "$(sed -n 's/^tuvello_DIR:PATH=//p' build-example-system/CMakeCache.txt)" = "/usr/lib/$multiarch/cmake/tuvello" ] ||
  fail "find_package did not use /usr/lib/$multiarch/cmake/tuvello"

# The tool, its man page and completion.
if [ "$has_tool" = 1 ]; then
  [ "$(tuvello --version)" = "tuvello $version" ] || fail "tuvello --version says '$(tuvello --version)'"
  tuvello demo -q -o demo-system.wav
  [ "$(head -c 4 demo-system.wav)" = RIFF ] || fail "tuvello demo wrote no WAV file"
  if [ "$has_man" = 1 ]; then
    MANWIDTH=80 man tuvello 2>/dev/null | grep -q 'EXIT STATUS' || fail "man tuvello does not render"
  fi
  [ -f /usr/share/bash-completion/completions/tuvello ] || fail "no bash completion installed"
fi

# Python: the system's python3 finds the module and, by its soname, the library.
python_dir=/usr/lib/python3/dist-packages/tuvello
ls "$python_dir/__pycache__/__init__.cpython-"*.pyc > /dev/null || fail "the module was not byte-compiled on installation"
rm -rf "$python_dir/__pycache__" # and an import writes it again
[ "$(cd / && /usr/bin/python3 -c 'import tuvello; print(tuvello.__version__, tuvello.duration("len:200;vol:80;c;e;g;p;c"))')" = "$version 1.0" ] ||
  fail "the system's python3 cannot render with the package's module"
ls "$python_dir/__pycache__/__init__.cpython-"*.pyc > /dev/null || fail "importing as root wrote no bytecode"

# pip into a virtual environment, offline; renders with the installed library.
rm -rf build/venv
readme_step '/usr/bin/python3 -m venv --system-site-packages build/venv && build/venv/bin/pip install --no-build-isolation --no-index ./python'
[ "$(cd / && "$OLDPWD/build/venv/bin/python" -c 'import tuvello; print(tuvello.__file__)')" = "$PWD/build/venv/lib/$(ls build/venv/lib)/site-packages/tuvello/__init__.py" ] ||
  fail "the virtual environment does not use its own copy of the module"
[ "$(cd / && "$OLDPWD/build/venv/bin/python" -c 'import tuvello; print(tuvello.__version__, tuvello.duration("len:200;vol:80;c;e;g;p;c"))')" = "$version 1.0" ] ||
  fail "the pip-installed module cannot render"

trap - EXIT
purge
for package in $packages; do
  dpkg-query -W -f '${Status}' $package 2>/dev/null | grep -q 'installed' && fail "$package is still installed"
done
[ ! -e "/usr/lib/$multiarch/libtuvello.so.1" ] || fail "purging left /usr/lib/$multiarch/libtuvello.so.1"
[ ! -e "$python_dir" ] || fail "purging left $python_dir: $(find "$python_dir" | tr '\n' ' ')"
echo "the packages installed with apt, worked from C, CMake, the tool and Python, and were purged"
