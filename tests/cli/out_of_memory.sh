#!/bin/bash
# SPDX-License-Identifier: MIT
# The tool under address-space limits just above the least it starts with:
# memory runs out at every step of its work in turn, and each run must end
# with exit status 0, or 1 and "out of memory" on standard error, never a
# signal; an old output file is kept whole or replaced whole, and no
# temporary file is left behind.
# usage: out_of_memory.sh TOOL
set -uo pipefail
tool=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# A song text of some 300 KB (few notes: a short image) and a ringtone, so
# that reading, checking and converting allocate more than starting does.
{
  printf 'len:20;c;e;g;p;'
  for ((i = 0; i < 4000; i++)); do printf 'vol:80;vol:70;vol:60;vol:50;vol:40;vol:30;vol:20;vol:10;vol:9;'; done
  printf 'c;e;g'
} >song.txt
echo 'tune:d=8,o=5,b=150:c,e,g,p,c6,e6,g6,x,32c7,c4' >tune.rtttl
printf '# tunes\nOne:d=8,o=5,b=150:c,e,g\n\nTwo:d=4,o=6,b=90:c,e,x,g7\n' >tunes.rtttl
mkdir each

# The least limit, to 64 KiB, under which the tool starts at all.
low=1024 high=262144
while ((high - low > 64)); do
  middle=$(((low + high) / 2))
  if prlimit --as=$((middle * 1024)) "$tool" --version >/dev/null 2>&1; then
    high=$middle
  else
    low=$middle
  fi
done

status=0 failed_for_memory=0 succeeded=0
fail() {
  echo "$*"
  status=1
}
for ((k = low - 64; k <= high + 512; k += 8)); do
  for command in render import check each; do
    printf 'old' >out.wav
    printf 'old' >out.txt
    case $command in
    render) args=(render -f song.txt -o out.wav) ;;
    import) args=(import -f tune.rtttl -o out.txt) ;;
    check) args=(check -f song.txt) ;;
    each) args=(import --each tunes.rtttl -d each --wav) ;;
    esac
    prlimit --as=$((k * 1024)) "$tool" "${args[@]}" >/dev/null 2>err.txt
    rc=$?
    # Below what the program loader needs, the tool never runs (the tool
    # itself never exits 127).
    if ((rc == 127)); then continue; fi
    case $rc in
    0) ((succeeded++)) ;;
    1)
      ((failed_for_memory++))
      grep -q 'out of memory' err.txt || fail "$command at ${k}K: exit 1 without 'out of memory': $(head -c 300 err.txt)"
      ;;
    *) fail "$command at ${k}K: exit $rc: $(head -c 300 err.txt)" ;;
    esac
    for f in out.wav out.txt; do
      # Old, or whole: a WAV image starts RIFF, a song text ends its line.
      if [ "$(head -c 4 "$f")" != old ] && ! { [ "$f" = out.wav ] && [ "$(head -c 4 "$f")" = RIFF ]; } &&
        ! { [ "$f" = out.txt ] && [ "$(tail -c 1 "$f" | od -An -c | tr -d ' ')" = '\n' ]; }; then
        fail "$command at ${k}K: $f is neither the old file nor a whole new one"
      fi
    done
    stray=$(find . each -maxdepth 1 -name '.*' ! -name . | head -3)
    [ -z "$stray" ] || fail "$command at ${k}K: temporary files left: $stray"
    rm -f each/*
  done
done
echo "limits from $((low - 64))K to $((high + 512))K: $succeeded runs succeeded, $failed_for_memory ran out of memory"
((failed_for_memory > 0)) || fail "no run ran out of memory: the sweep missed the tool's work"
((succeeded > 0)) || fail "no run succeeded: the sweep never reached enough memory"
exit $status
