#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# CI, after the release build and its tests: the whole suite under
# AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer, the
# concurrency tests under ThreadSanitizer, and a short run of every fuzz target.
# Each step prints a line or two; a failing step prints what went wrong.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS=${FUZZ_SECONDS:-60}
LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT

step() { printf '\n== %s\n' "$*"; }

# Runs a command with its output kept aside; shows the end of it on failure.
quietly() {
  if ! "$@" >"$LOG" 2>&1; then
    tail -n 60 "$LOG"
    echo "FAILED: $*"
    exit 1
  fi
}

# ctest with only its summary on success, and every failing test's output.
run_tests() {
  if ! ctest "$@" >"$LOG" 2>&1; then
    grep -vE '^ +Start +[0-9]+:|Passed +[0-9.]+ sec' "$LOG" | tail -n 200
    echo "FAILED: ctest $*"
    exit 1
  fi
  grep -E 'tests passed' "$LOG"
}

# fuzz NAME [DICTIONARY [CORPUS...]]: a fuzz target for FUZZ_SECONDS from the
# committed corpus (and CORPUS), with new inputs kept in the build tree; a
# crash prints libFuzzer's report and the input.
fuzz() {
  local name=$1 dict=${2:-fuzz/song.dict} work=build-fuzz/fuzz/corpus-$1
  mkdir -p "$work"
  if ! "build-fuzz/fuzz/$name" "$work" fuzz/corpus "${@:3}" -dict="$dict" \
      -max_total_time="$FUZZ_SECONDS" -timeout=25 -print_final_stats=1 \
      -artifact_prefix=build-fuzz/fuzz/ >"$LOG" 2>&1; then
    grep -vE '^#[0-9]+' "$LOG" | tail -n 80
    echo "FAILED: $name found an input that breaks it (saved under build-fuzz/fuzz/)"
    exit 1
  fi
  echo "$name: $(sed -n 's/^stat::number_of_executed_units: *//p' "$LOG") executions" \
       "in ${FUZZ_SECONDS} s, $(sed -n 's/^stat::new_units_added: *//p' "$LOG") new inputs"
}

step "AddressSanitizer + UndefinedBehaviorSanitizer: build and whole suite"
quietly cmake --preset asan
quietly cmake --build --preset asan
run_tests --preset asan

step "ThreadSanitizer: concurrency tests"
quietly cmake --preset tsan
quietly cmake --build --preset tsan
run_tests --preset tsan

step "Fuzzing (clang, libFuzzer, ${FUZZ_SECONDS} s per target)"
quietly cmake --preset fuzz
quietly cmake --build --preset fuzz
fuzz song_fuzzer
fuzz check_fuzzer
# The RTTTL import is small and fast: half the time finds as much.
FUZZ_SECONDS=$((FUZZ_SECONDS / 2)) fuzz rtttl_fuzzer fuzz/rtttl.dict fuzz/rtttl_corpus
# Song text out as RTTTL: 30 s of the default 60.
FUZZ_SECONDS=$((FUZZ_SECONDS / 2)) fuzz rtttl_export_fuzzer fuzz/song.dict
# MIDI files into song text from the test files, and song texts into MIDI files.
FUZZ_SECONDS=$((FUZZ_SECONDS / 2)) fuzz midi_fuzzer fuzz/midi.dict tests/data/midi
FUZZ_SECONDS=$((FUZZ_SECONDS / 2)) fuzz midi_export_fuzzer
