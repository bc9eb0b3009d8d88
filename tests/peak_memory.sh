#!/bin/sh
# SPDX-License-Identifier: MIT
# Rendering a song holds little beyond its text and its image: the peak
# resident memory of a plain C host stays within image + text + 2 MiB.
# usage: peak_memory.sh SONG_HOST LIBRARY WORKDIR
set -eu
host=$1 lib=$2 dir=$3
text="$dir/peak_memory_song.txt"
# 200000 short decaying notes: an image of 176 MB from a text of 400 kB.
awk 'BEGIN { printf "len:20;vol:90;dec:1;"; for (i = 0; i < 200000; i++) printf "%s;", substr("cegpah", i % 6 + 1, 1) }' > "$text"
/usr/bin/time -f '%M' -o "$dir/peak_memory_kb" "$host" "$lib" file "$text" "$dir/peak_memory_song.wav"
peak_kb=$(cat "$dir/peak_memory_kb")
image=$(wc -c < "$dir/peak_memory_song.wav")
text_bytes=$(wc -c < "$text")
rm -f "$dir/peak_memory_song.wav"
limit_kb=$(( (image + text_bytes) / 1024 + 2048 ))
echo "peak ${peak_kb} kB for an image of ${image} bytes and a text of ${text_bytes} bytes (limit ${limit_kb} kB)"
[ "$peak_kb" -le "$limit_kb" ]
