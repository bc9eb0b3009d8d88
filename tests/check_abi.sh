#!/bin/sh
# SPDX-License-Identifier: MIT
# The shared object needs glibc alone and exports exactly the public functions.
# usage: check_abi.sh LIBRARY
set -eu
lib=$1
needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ')
status=0
if [ "$needed" != "libc.so.6 libm.so.6 " ]; then
  echo "NEEDED is '$needed', expected 'libc.so.6 libm.so.6 '"
  status=1
fi
want="TUVELLO_CloseSong TUVELLO_ConvertMidi TUVELLO_ConvertRtttl TUVELLO_ConvertRtttlEx \
TUVELLO_CreateSong TUVELLO_ExportMidi TUVELLO_ExportRtttl TUVELLO_ForEachNote \
TUVELLO_ForEachWarning TUVELLO_FreeSong TUVELLO_GetSongDuration TUVELLO_GetSongLenght \
TUVELLO_GetSongSize TUVELLO_GetVersion TUVELLO_MeasureSong TUVELLO_OpenSong TUVELLO_ReadSong \
TUVELLO_RtttlName \
TUVELLO_SeekSong "
if [ "$exported" != "$want" ]; then
  echo "exports are '$exported', expected '$want'"
  status=1
fi
[ $status -eq 0 ] && echo "$lib: needs only libc and libm, exports the 18 public functions"
exit $status
