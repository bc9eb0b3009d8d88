#!/bin/bash
# SPDX-License-Identifier: MIT
# The man page and the bash completion against the tool's help, which the
# tool builds from its one table of commands and options (cli/command.hpp):
# the same commands, each command's usage line word for word in the SYNOPSIS,
# each option listed for exactly the commands that take it, and a man page
# that renders without warnings.
# usage: check_docs.sh TOOL MAN_SOURCE MAN_PAGE COMPLETION
set -euo pipefail
# Lists are searched as here-strings, not through pipes: under pipefail, grep
# -q leaving at its match could fail the printf writing into it.
tool=$1 man_source=$2 man_page=$3 completion=$4
status=0
fail() {
  echo "$*"
  status=1
}

commands=$("$tool" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][-a-z0-9]*\) .*/\1/p')
[ -n "$commands" ] || fail "no commands found in '$tool --help'"

# Options as the help lists them: "  -f, --file FILE" or "  --strict".
options_of() {
  "$tool" ${1:+"$1"} --help | grep -E '^  -' | grep -oE '(^|[ ,])--?[a-zA-Z0-9][-a-zA-Z0-9]*' | tr -d ' ,'
}

. "$completion"
complete_words() {
  COMP_WORDS=("$tool" "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _tuvello
  printf '%s\n' "${COMPREPLY[@]}"
}
completed_commands=$(complete_words "")

for command in $commands; do
  grep -qF -- "*$command*" "$man_source" || fail "man page: no command '$command'"
  grep -qx -- "$command" <<<"$completed_commands" || fail "completion: no command '$command'"
  # 'help' takes a command name, not options of its own.
  [ "$command" = help ] && continue
  completed=$(complete_words "$command" -)
  for option in $(options_of "$command"); do
    grep -qF -- "*$option*" "$man_source" || fail "man page: no option '$option' (of '$command')"
    grep -qx -- "$option" <<<"$completed" || fail "completion: no option '$option' after '$command'"
  done
done
# SYNOPSIS lines, markup removed, against each command's usage line.
synopsis=$(sed -n '/^# SYNOPSIS/,/^# DESCRIPTION/p' "$man_source" | tr -d '*_' | sed -n 's/^tuvello //p')
man_commands=$(sed -n '/^# COMMANDS/,/^# OPTIONS/s/^\*\([a-z]*\)\*.*/\1/p' "$man_source")
[ "$(echo $man_commands)" = "$(echo $commands)" ] ||
  fail "man page: COMMANDS lists '$(echo $man_commands)', the tool '$(echo $commands)'"
for command in $commands; do
  [ "$command" = help ] && continue
  usage=$("$tool" "$command" --help | sed -n '1,/^$/p' | tr -s ' \n' ' ' | sed 's/^Usage: tuvello //; s/ $//')
  grep -qxF -- "$usage" <<<"$synopsis" || fail "man page: SYNOPSIS lacks '$usage'"
done

# Each option of the OPTIONS section names, in parentheses at its end, the
# commands that take it: exactly those whose help lists it.
man_options=$(sed -n '/^# OPTIONS/,/^# EXIT STATUS/p' "$man_source" |
  awk '/^\*-/ { if (name) print name "|" body; name = $0; body = ""; next }
       /^[^\t]/ { if (name) print name "|" body; name = ""; next }
       name { body = body " " $0 }
       END { if (name) print name "|" body }')
while IFS='|' read -r names body; do
  option=$(printf '%s' "$names" | grep -oE -- '--[a-z][-a-z]*' | head -1)
  listed=$(printf '%s' "$body" | tr -s ' \t' '  ' | sed 's/ *$//' |
    { grep -oE '\((\*[a-z]+\*(, )?)+\)\.?$' || true; } | { grep -oE '[a-z]+' || true; } |
    sort | tr '\n' ' ')
  [ -n "$listed" ] || continue
  taking=$(for command in $commands; do
    [ "$command" = help ] && continue
    if grep -qx -- "$option" <<<"$(options_of "$command")"; then echo "$command"; fi
  done | sort | tr '\n' ' ')
  [ "$listed" = "$taking" ] || fail "man page: $option is for '$listed', the tool's help says '$taking'"
done <<<"$man_options"

for option in $(options_of ""); do
  grep -qF -- "*$option*" "$man_source" || fail "man page: no option '$option'"
done
grep -qF -- '# EXIT STATUS' "$man_source" || fail "man page: no EXIT STATUS section"

# File names after -f and -o.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
touch "$dir/tune.txt"
[ "$(complete_words render -f "$dir/tu")" = "$dir/tune.txt" ] || fail "completion: no file name after -f"
[ "$(complete_words demo --output "$dir/tu")" = "$dir/tune.txt" ] || fail "completion: no file name after --output"

warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$man_page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page: warnings when rendered: $warnings"
LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$man_page" 2>/dev/null | grep -q 'EXIT STATUS' || fail "man page does not render"

[ $status -eq 0 ] && echo "the man page and the completion cover: $(echo $commands)"
exit $status
