#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Ratios from one run of song_bench, medians over its repetitions.

usage:
  build/bench/song_bench --benchmark_repetitions=5 --benchmark_out=bench.json \
      --benchmark_out_format=json
  python3 bench/ratios.py bench.json [wasm.json]

wasm.json, if given, is what `node bench/wasm_bench.mjs --json wasm.json` wrote:
the WebAssembly module with SIMD against the native library, in Node.js and
Chromium, which that script measured (see its comment).

Prints, per note benchmark, ns per sample of the fast path and of the
extended-precision reference and their ratio; per mode the median ratio;
the interpreter's MB/s and how its time grows from 10 to 100 MB; how
whole-song time grows with the number of notes; TUVELLO_MeasureSong's MB/s;
the text walks (MeasureSong, ForEachNote and ForEachWarning without a
visitor) over realistic text and over ";" against the reference walk; a
reader's seek back near the end of a 4 MB text against a walk of the whole
text; and, for each sample loop (AVX2, AVX-512), the whole CreateSong call on
small and mid-size images against the sample loop alone, and an 88 MB song
made by TUVELLO_CreateSong and read through a 64 KiB buffer, both against
malloc + memset of its size. A sample loop the processor lacks shows as n/a.
Exits 1 when a target is missed.
"""
import json
import statistics
import sys
from collections import defaultdict

MODES = {"0": "plain", "1": "pipe", "2": "decay"}
TARGET_RATIO = {"plain": 100.0, "pipe": 50.0, "decay": 100.0}
TARGET_NS = {"plain": 1.0, "decay": 1.0}


KERNELS = {1: "AVX2", 2: "AVX-512"}


def runs(path):
    with open(path) as f:
        data = json.load(f)
    by_name = defaultdict(dict)
    for b in data["benchmarks"]:
        # Skipped runs (a sample loop this processor lacks) carry no figures.
        if b.get("run_type") != "iteration" or b.get("error_occurred"):
            continue
        by_name[b["run_name"]][b.get("repetition_index", 0)] = b
    return data.get("context", {}), by_name


def median_of(by_name, name, key):
    """The median of a counter over the repetitions, or None without runs."""
    values = [r[key] for r in by_name.get(name, {}).values() if key in r]
    return statistics.median(values) if values else None


def paired_ratio(by_name, name, base, key):
    """The median over repetitions of name's key / base's key, paired by
    repetition (both measured in the same round); None without both."""
    a, b = by_name.get(name, {}), by_name.get(base, {})
    ratios = [a[i][key] / b[i][key] for i in a if i in b and b[i].get(key)]
    return statistics.median(ratios) if ratios else None


def shown(value, fmt):
    return "n/a" if value is None else format(value, fmt)


def field(name, key):
    return dict(part.split(":") for part in name.split("/")[1:])[key]


def main(path):
    context, by_name = runs(path)
    print(f"machine: {context.get('num_cpus')} CPUs at {context.get('mhz_per_cpu')} MHz, "
          f"run {context.get('date')}")
    ok = True
    per_mode = defaultdict(list)
    per_mode_ns = defaultdict(list)
    print(f"{'note benchmark':44} {'fast ns':>8} {'ref ns':>8} {'ratio':>8}")
    for name in sorted(n for n in by_name if n.startswith("FastNote/")):
        ref = by_name.get(name.replace("FastNote/", "ReferenceNote/"), {})
        fast = by_name[name]
        ratios = [ref[i]["ns_per_sample"] / fast[i]["ns_per_sample"] for i in fast if i in ref]
        if not ratios:
            continue
        fast_ns = statistics.median(r["ns_per_sample"] for r in fast.values())
        ref_ns = statistics.median(r["ns_per_sample"] for r in ref.values())
        ratio = statistics.median(ratios)
        mode = MODES[field(name, "mode")]
        per_mode[mode].append(ratio)
        per_mode_ns[mode].append(fast_ns)
        print(f"{name[len('FastNote/'):]:44} {fast_ns:8.3f} {ref_ns:8.1f} {ratio:7.1f}x")
    for mode, ratios in per_mode.items():
        ratio = statistics.median(ratios)
        ns = statistics.median(per_mode_ns[mode])
        met = ratio >= TARGET_RATIO[mode] and ns <= TARGET_NS.get(mode, float("inf"))
        ok &= met
        print(f"{mode:6}: median {ns:.3f} ns/sample, {ratio:.1f}x the reference"
              f" ({'meets' if met else 'MISSES'} >= {TARGET_RATIO[mode]:.0f}x"
              + (f", <= {TARGET_NS[mode]} ns" if mode in TARGET_NS else "") + ")")

    def median_time(name):
        return statistics.median(r["real_time"] for r in by_name[name].values())

    interp = {mb: f"Interpreter/MB:{mb}" for mb in (1, 10, 100)}
    if all(n in by_name for n in interp.values()):
        mbps = statistics.median(r["bytes_per_second"] for r in by_name[interp[100]].values()) / 2**20
        growth = median_time(interp[100]) / median_time(interp[10])
        met = mbps >= 200 and growth <= 12
        ok &= met
        print(f"interpreter: {mbps:.0f} MB/s on 100 MB; 10x the text takes {growth:.2f}x the time"
              f" ({'meets' if met else 'MISSES'} >= 200 MB/s, <= 12x)")
    songs = {n: f"WholeSong/notes:{n}" for n in (1000, 10000, 100000)}
    if all(n in by_name for n in songs.values()):
        t = {n: median_time(name) for n, name in songs.items()}
        print(f"whole songs: 1k notes {t[1000]:.3f} ms, 10k {t[10000]:.2f} ms ({t[10000]/t[1000]:.1f}x),"
              f" 100k {t[100000]:.1f} ms ({t[100000]/t[10000]:.1f}x)")
    for kernel, label in KERNELS.items():
        big = {way: f"BigImage/way:{way}/kernel:{kernel}" for way in (0, 1, 2)}
        if big[0] not in by_name:
            print(f"88 MB song, {label}: n/a (not run, or not supported on this processor)")
            continue
        ns = {way: median_of(by_name, n, "ns_per_sample") for way, n in big.items()}
        create = paired_ratio(by_name, big[1], big[0], "ns_per_sample")
        reader = paired_ratio(by_name, big[2], big[0], "ns_per_sample")
        met = create is not None and reader is not None and create <= 1.0 and reader <= 0.8
        ok &= met
        print(f"88 MB song, {label}: malloc+memset {shown(ns[0], '.3f')} ns/sample,"
              f" CreateSong {shown(ns[1], '.3f')} ({shown(create, '.2f')}x),"
              f" reader into 64 KiB {shown(ns[2], '.3f')} ({shown(reader, '.2f')}x)"
              f" ({'meets' if met else 'MISSES'} <= 1.0x, <= 0.8x)")
        loop = median_of(by_name, f"SampleLoop/kernel:{kernel}", "ns_per_sample")
        for notes in (13, 130, 1300):
            call = median_of(by_name, f"WholeCall/notes:{notes}/kernel:{kernel}", "ns_per_sample")
            if call is None or loop is None:
                continue
            ratio = call / loop
            line = (f"whole CreateSong call, {label}, {notes} notes of 500 ms: {call:.3f} ns/sample,"
                    f" {ratio:.2f}x the sample loop's {loop:.3f}")
            if notes == 13:
                met = ratio <= 1.15
                ok &= met
                line += f" ({'meets' if met else 'MISSES'} <= 1.15x)"
            print(line)
    texts = {0: "realistic text", 1: "5 MB of ';'"}
    ways = {1: ("MeasureSong", {0: 400, 1: 200}), 2: ("ForEachNote without a visitor", {0: 300}),
            3: ("ForEachWarning without a visitor", {0: 150, 1: 150}),
            4: ("ForEachWarning with a counting visitor", {})}
    for text, label in texts.items():
        reference = median_of(by_name, f"TextWalk/text:{text}/way:0", "bytes_per_second")
        if reference is None:
            continue
        print(f"{label}: reference walk {reference / 1e6:.0f} MB/s")
        for way, (name, goals) in ways.items():
            mbps = median_of(by_name, f"TextWalk/text:{text}/way:{way}", "bytes_per_second")
            if mbps is None:
                continue
            ratio = paired_ratio(by_name, f"TextWalk/text:{text}/way:{way}",
                                 f"TextWalk/text:{text}/way:0", "bytes_per_second")
            line = f"  {name}: {mbps / 1e6:.0f} MB/s, {shown(ratio, '.1f')}x the reference walk"
            if text in goals:
                met = mbps / 1e6 >= goals[text]
                ok &= met
                line += f" ({'meets' if met else 'MISSES'} >= {goals[text]} MB/s)"
            print(line)
    seek = median_of(by_name, "Seek/way:0", "us_per_seek")
    walk = median_of(by_name, "Seek/way:1", "us_per_seek")
    if seek is not None and walk is not None:
        met = seek <= 1000
        ok &= met
        print(f"seek back near the end of a 4 MB text: {seek:.1f} us with the index, a whole walk"
              f" {walk:.0f} us ({seek / walk:.3f}x) ({'meets' if met else 'MISSES'} <= 1 ms)")
    if "Measure/MB:100" in by_name:
        mbps = statistics.median(r["bytes_per_second"] for r in by_name["Measure/MB:100"].values()) / 2**20
        met = mbps >= 200
        ok &= met
        print(f"measure: {mbps:.0f} MB/s of setting-only text ({'meets' if met else 'MISSES'} >= 200 MB/s)")
    return 0 if ok else 1


def wasm_summary(path):
    """The browser line: render() with the SIMD module against TUVELLO_CreateSong."""
    with open(path) as f:
        data = json.load(f)
    tone = next(iter(data["render"]))
    native = data["render"][tone]["native"]["cpu"]
    ratios = {host: data["render"][tone][f"{host} simd"]["cpu"] / native for host in ("node", "chromium")}
    met = all(r <= 2.5 for r in ratios.values())
    print(f"WebAssembly (SIMD), {tone}: Node.js {ratios['node']:.2f}x, Chromium {ratios['chromium']:.2f}x"
          f" native CreateSong ({native:.2f} ns/sample, {data['nativeLoop']} loop, {data['cpu']})"
          f" ({'meets' if met else 'MISSES'} <= 2.5x)")
    return 0 if met else 1


if __name__ == "__main__":
    status = main(sys.argv[1] if len(sys.argv) > 1 else "bench.json")
    if len(sys.argv) > 2:
        status |= wasm_summary(sys.argv[2])
    sys.exit(status)
