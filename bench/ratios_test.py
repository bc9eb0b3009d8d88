#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""bench/ratios.py on the output of a processor without AVX-512: the runs of
that sample loop are skipped with an error, which the report must show as
n/a for every ratio that needs them, and still report the rest."""
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def run(name, rep=0, error=False, **counters):
    b = {"name": name, "run_name": name, "run_type": "iteration", "repetition_index": rep,
         "real_time": 1.0, "cpu_time": 1.0, "time_unit": "ms", "iterations": 1}
    if error:
        b.update(error_occurred=True, error_message="not supported on this processor")
    b.update(counters)
    return b


def main():
    benchmarks = []
    for rep in range(2):
        benchmarks += [run("SampleLoop/kernel:1", rep, ns_per_sample=1.2),
                       run("SampleLoop/kernel:2", rep, error=True),
                       run("WholeCall/notes:13/kernel:1", rep, ns_per_sample=1.3),
                       run("WholeCall/notes:13/kernel:2", rep, error=True),
                       run("Seek/way:0", rep, us_per_seek=40.0),
                       run("Seek/way:1", rep, us_per_seek=12000.0)]
        for way in range(3):
            benchmarks += [run(f"BigImage/way:{way}/kernel:1", rep, ns_per_sample=[1.0, 0.9, 0.7][way]),
                           run(f"BigImage/way:{way}/kernel:2", rep, error=True)]
        for text in range(2):
            for way in range(5):
                benchmarks.append(run(f"TextWalk/text:{text}/way:{way}", rep,
                                      bytes_per_second=[70e6, 410e6, 320e6, 160e6, 20e6][way]))
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "bench.json")
        with open(path, "w") as f:
            json.dump({"context": {"num_cpus": 2}, "benchmarks": benchmarks}, f)
        out = subprocess.run([sys.executable, os.path.join(HERE, "ratios.py"), path],
                             capture_output=True, text=True)
    print(out.stdout, out.stderr)
    assert "Traceback" not in out.stderr, "ratios.py failed"
    assert "88 MB song, AVX-512: n/a" in out.stdout
    assert "88 MB song, AVX2: " in out.stdout and "0.90x" in out.stdout
    assert "13 notes of 500 ms: 1.300 ns/sample, 1.08x" in out.stdout
    assert "AVX-512, 13 notes" not in out.stdout
    assert "seek back near the end of a 4 MB text: 40.0 us" in out.stdout
    assert "MeasureSong: 410 MB/s, 5.9x the reference walk (meets >= 400 MB/s)" in out.stdout
    return 0


if __name__ == "__main__":
    sys.exit(main())
