#!/bin/sh
# SPDX-License-Identifier: MIT
# Every tracked source file names its license in an SPDX line near its top.
# Data (corpora, test texts, images, JSON) and the license texts themselves
# carry none.
# usage: check_spdx.sh SOURCE
set -eu
cd "$1"
if ! files=$(git ls-files 2>/dev/null) || [ -z "$files" ]; then
  echo "not a git checkout: no list of tracked files to check"
  exit 77
fi
missing=0
checked=0
for file in $files; do
  case $file in
  cmake/debian/changelog.in) continue ;;
  *.c | *.h | *.cpp | *.hpp | *.py | *.sh | *.cmake | */CMakeLists.txt | CMakeLists.txt | *.in | *.mjs | *.js | *.ts | \
    *.css | *.html | *.scd | *.map | *.toml | *.bash-completion | .ci/run) ;;
  *) continue ;;
  esac
  checked=$((checked + 1))
  if ! head -n 5 "$file" | grep -q 'SPDX-License-Identifier: MIT'; then
    echo "$file: no 'SPDX-License-Identifier: MIT' line in its first 5 lines"
    missing=$((missing + 1))
  fi
done
[ "$checked" -gt 0 ] || { echo "no source files found"; exit 1; }
[ "$missing" -eq 0 ] || { echo "$missing of $checked source files lack their license line"; exit 1; }
echo "all $checked source files carry their license line"
