# SPDX-License-Identifier: MIT
# Sanitizer and fuzzing builds.
#
# TUVELLO_SANITIZE lists the sanitizers every target of ours is built with,
# e.g. "address;undefined" or "thread"; empty (the default) for release builds.
# They reach our targets through the INTERFACE target tuvello_sanitizers, which
# tuvello_warnings carries, never through global flags.
#
# TUVELLO_BUILD_FUZZERS (clang only) adds libFuzzer's coverage instrumentation
# to the same targets, so the fuzz targets see inside the library.

set(TUVELLO_SANITIZE "" CACHE STRING
    "Sanitizers to build with, e.g. address;undefined or thread (empty: none)")

add_library(tuvello_sanitizers INTERFACE)

# Whether the library is instrumented at all. Instrumented shared objects
# leave the runtime's symbols to the executable, so they cannot be linked
# with -z defs, and their NEEDED list is not the release one.
set(TUVELLO_SANITIZING OFF)

if(TUVELLO_SANITIZE)
  set(TUVELLO_SANITIZING ON)
  list(JOIN TUVELLO_SANITIZE "," _tuvello_sanitizers)
  # A report is a failure: never carry on after one.
  target_compile_options(tuvello_sanitizers INTERFACE
    -fsanitize=${_tuvello_sanitizers} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(tuvello_sanitizers INTERFACE -fsanitize=${_tuvello_sanitizers})
endif()

if(TUVELLO_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TUVELLO_BUILD_FUZZERS needs clang (libFuzzer); "
                        "configure with -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
  endif()
  set(TUVELLO_SANITIZING ON)
  target_compile_options(tuvello_sanitizers INTERFACE -fsanitize=fuzzer-no-link)
endif()
