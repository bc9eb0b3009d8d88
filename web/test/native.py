#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# The native library's conversions, for the package's tests to compare with:
# reads a JSON list of calls on standard input, each [function, input as
# base64, arguments...], and prints, for each, [output as base64, warnings
# as [command, offset, length, kind, message]].
# usage: native.py LIBRARY < calls.json
#   ["rtttl", RINGTONE, MODE, OCTAVES]          TUVELLO_ConvertRtttlEx
#   ["export_rtttl", TEXT, NAME]                TUVELLO_ExportRtttl
#   ["midi", FILE, TRACK, CHANNEL, OVERLAP, VELOCITY]  TUVELLO_ConvertMidi
#   ["export_midi", TEXT]                       TUVELLO_ExportMidi
import base64
import ctypes
import json
import sys

lib = ctypes.CDLL(sys.argv[1])


class Warning(ctypes.Structure):
    _fields_ = [('struct_size', ctypes.c_uint32), ('command', ctypes.c_int32),
                ('text_offset', ctypes.c_int64), ('text_length', ctypes.c_int64),
                ('kind', ctypes.c_int32), ('message', ctypes.c_char_p)]


Visitor = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(Warning), ctypes.c_void_p)
for name in ('TUVELLO_ConvertRtttlEx', 'TUVELLO_ExportRtttl', 'TUVELLO_ConvertMidi',
             'TUVELLO_ExportMidi'):
    getattr(lib, name).restype = ctypes.c_int64
I32, I64, P = ctypes.c_int32, ctypes.c_int64, ctypes.c_char_p


class RtttlOptions(ctypes.Structure):
    _fields_ = [('struct_size', ctypes.c_uint32), ('octave_shift', I32), ('octaves', I32)]


class MidiOptions(ctypes.Structure):
    _fields_ = [('struct_size', ctypes.c_uint32), ('track', I32), ('channel', I32),
                ('overlap', I32), ('velocity', I32)]


def run(call, data, args):
    """Measures with the warnings, then writes: the library's two calls."""
    warnings = []

    def keep(w, _):
        w = w.contents
        warnings.append([w.command, w.text_offset, w.text_length, w.kind, w.message.decode()])
        return 0

    n = call(None, 0, Visitor(keep))
    assert n >= 0, n
    out = ctypes.create_string_buffer(n + 1)
    assert call(out, n + 1, Visitor(0)) == n
    return [base64.b64encode(out.raw[:n]).decode(), warnings]


def convert(request):
    function, data, *args = request
    data = base64.b64decode(data)
    if function == 'rtttl':
        options = RtttlOptions(ctypes.sizeof(RtttlOptions), *args)
        return run(lambda out, cap, visit: lib.TUVELLO_ConvertRtttlEx(
            P(data), out, I64(cap), ctypes.byref(options), visit, None), data, args)
    if function == 'export_rtttl':
        return run(lambda out, cap, visit: lib.TUVELLO_ExportRtttl(
            P(data), P(args[0].encode()), out, I64(cap), visit, None), data, args)
    if function == 'midi':
        options = MidiOptions(ctypes.sizeof(MidiOptions), *args)
        return run(lambda out, cap, visit: lib.TUVELLO_ConvertMidi(
            P(data), I64(len(data)), ctypes.byref(options), out, I64(cap), visit, None),
            data, args)
    if function == 'export_midi':
        # The file is written only when it fits whole: its size, not one more.
        return run(lambda out, cap, visit: lib.TUVELLO_ExportMidi(
            P(data), out, I64(cap), visit, None), data, args)
    raise ValueError(function)


json.dump([convert(r) for r in json.load(sys.stdin)], sys.stdout)
