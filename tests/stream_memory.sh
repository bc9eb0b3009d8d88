#!/bin/sh
# SPDX-License-Identifier: MIT
# Streaming a song holds no image: a 1.98 GB image (90000 notes of 500 ms)
# goes through a plain C host's 64 KiB buffer with a peak resident memory
# within the text + 4 MiB, and every byte of it arrives.
# usage: stream_memory.sh SONG_HOST LIBRARY WORKDIR
set -eu
host=$1 lib=$2 dir=$3
text="$dir/stream_memory_song.txt"
awk 'BEGIN { printf "len:500;"; for (i = 0; i < 90000; i++) printf "c;" }' > "$text"
/usr/bin/time -f '%M' -o "$dir/stream_memory_kb" "$host" "$lib" stream "$text" > "$dir/stream_memory_out"
cat "$dir/stream_memory_out"
grep -q " 1984500044 bytes streamed" "$dir/stream_memory_out"
peak_kb=$(cat "$dir/stream_memory_kb")
text_bytes=$(wc -c < "$text")
limit_kb=$(( text_bytes / 1024 + 4096 ))
echo "peak ${peak_kb} kB streaming 1984500044 bytes from a text of ${text_bytes} bytes (limit ${limit_kb} kB)"
[ "$peak_kb" -le "$limit_kb" ]
