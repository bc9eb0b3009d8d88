#!/bin/sh
# SPDX-License-Identifier: MIT
# The tool, the Python module, the web parts and the examples use the library
# as any host does: no source file in cli/, python/, web/ or examples/
# includes a file of src/, and no CMake file there links an internal target.
# usage: check_public_includes.sh SOURCE_DIR
set -eu
root=$1
status=0
cd "$root"
files=$(find cli python web examples -path '*/node_modules' -prune -o \
  -type f \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) -print)
[ -n "$files" ] || { echo "no sources found under $root"; exit 1; }
checked=0
for file in $files; do
  dir=$(dirname "$file")
  for name in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]\([^">]*\)[">].*/\1/p' "$file"); do
    checked=$((checked + 1))
    # Found beside the file or in include/: public or the part's own.
    [ -e "$dir/$name" ] || [ -e "include/$name" ] && continue
    if [ -e "src/$name" ]; then
      echo "$file includes src/$name, an internal file of the library"
      status=1
    fi
  done
done
for file in $(find cli python web examples -name CMakeLists.txt -not -path '*/node_modules/*'); do
  if grep -nE 'tuvello_internal|tuvello_objects|tuvello_fault_injection' "$file"; then
    echo "$file: links the library's internals (above)"
    status=1
  fi
done
[ $status -eq 0 ] && echo "$checked includes in $(echo "$files" | wc -l) files: none from src/"
exit $status
