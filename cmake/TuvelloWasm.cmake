# SPDX-License-Identifier: MIT
# The library as a WebAssembly module for the browser playground and the npm
# package: the same sources, compiled by clang for wasm32-wasi against
# Debian's wasi-libc (packages clang, lld, wasi-libc, libclang-rt-14-dev-wasm32,
# libc++-14-dev-wasm32, libc++abi-14-dev-wasm32). The module is a reactor: no
# main, an _initialize export, and the few WASI calls that assert's message
# would make are stubbed by the JavaScript loader. It is built twice: with
# WebAssembly's 128-bit vectors (-msimd128, the sample loop of
# src/synth/sine_kernel_simd128.hpp), which every current browser and Node.js
# run, and without, for engines that reject them; the loader picks one.

find_program(TUVELLO_WASM_CXX NAMES clang++-14 clang++ DOC "clang++ that targets wasm32-wasi")
set(TUVELLO_WASI_SYSROOT /usr CACHE PATH "Root holding include/wasm32-wasi and lib/wasm32-wasi")

# Whether TUVELLO_WASM_CXX can compile and link C++ for wasm32-wasi here.
function(tuvello_check_wasm result_var)
  if(DEFINED CACHE{${result_var}})
    return()
  endif()
  set(ok OFF)
  if(TUVELLO_WASM_CXX)
    set(dir "${CMAKE_BINARY_DIR}/check-wasm")
    file(WRITE "${dir}/check.cpp" "#include <cmath>\n#include <wasm_simd128.h>\nextern \"C\" double f(long double x) { return wasm_f64x2_extract_lane(wasm_f64x2_splat(static_cast<double>(std::sin(x))), 0); }\n")
    execute_process(
      COMMAND ${TUVELLO_WASM_CXX} --target=wasm32-wasi --sysroot=${TUVELLO_WASI_SYSROOT}
              -mexec-model=reactor -std=c++20 -msimd128 -Wl,--export=f "${dir}/check.cpp"
              -o "${dir}/check.wasm"
      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(rc EQUAL 0)
      set(ok ON)
    endif()
  endif()
  set(${result_var} ${ok} CACHE BOOL "Whether clang builds wasm32-wasi modules")
endfunction()

# The module exports what the version script lists.
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${PROJECT_SOURCE_DIR}/src/api/tuvello.map")

# The flags both modules and the wasm test programs are compiled with.
set(TUVELLO_WASM_FLAGS --target=wasm32-wasi --sysroot=${TUVELLO_WASI_SYSROOT} -std=c++20 -O2
    -DNDEBUG -fno-exceptions -fno-rtti -Wall -Wextra -Werror
    -I${PROJECT_SOURCE_DIR}/include -I${PROJECT_SOURCE_DIR}/src)

# tuvello_add_wasm_module(OUTPUT [SIMD]): the module at OUTPUT, exporting the
# public functions (the version script's list), the bridges and malloc/free
# for the text handed in; with SIMD, built for WebAssembly's 128-bit vectors.
function(tuvello_add_wasm_module output)
  cmake_parse_arguments(PARSE_ARGV 1 arg "SIMD" "" "")
  set(simd_flags)
  if(arg_SIMD)
    set(simd_flags -msimd128)
  endif()
  file(STRINGS "${PROJECT_SOURCE_DIR}/src/api/tuvello.map" map_lines REGEX "TUVELLO_[A-Za-z]+;")
  set(exports malloc free tuvello_web_notes tuvello_web_check tuvello_web_rtttl)
  # The visitors of the note map and of the warnings (of song texts and of
  # ringtones), which JavaScript cannot pass as function pointers.
  set(bridge "${PROJECT_SOURCE_DIR}/web/wasm/bridge.cpp")
  foreach(line IN LISTS map_lines)
    string(REGEX MATCH "TUVELLO_[A-Za-z]+" name "${line}")
    list(APPEND exports ${name})
  endforeach()
  list(TRANSFORM exports PREPEND "-Wl,--export=")

  file(GLOB_RECURSE headers CONFIGURE_DEPENDS
    "${PROJECT_SOURCE_DIR}/src/*.hpp" "${PROJECT_SOURCE_DIR}/include/*.h")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${TUVELLO_WASM_CXX} ${TUVELLO_WASM_FLAGS} ${simd_flags} -mexec-model=reactor
            -fvisibility=hidden ${TUVELLO_SOURCES} ${bridge} ${exports} -Wl,--strip-debug
            -o "${output}"
    DEPENDS ${TUVELLO_SOURCES} ${headers} ${bridge} "${PROJECT_SOURCE_DIR}/src/api/tuvello.map"
    COMMENT "Building the WebAssembly module ${output}"
    COMMAND_EXPAND_LISTS VERBATIM)
endfunction()

# tuvello_add_wasm_program(OUTPUT SOURCE...): a WASI program (with a main) of
# the library's sources and SOURCE (which may include tests/), built with
# 128-bit vectors, so that it runs both sample loops of the modules; Node.js
# runs it with tests/run_wasi.mjs.
function(tuvello_add_wasm_program output)
  set(sources ${ARGN})
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS
    "${PROJECT_SOURCE_DIR}/src/*.hpp" "${PROJECT_SOURCE_DIR}/tests/*.hpp")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${TUVELLO_WASM_CXX} ${TUVELLO_WASM_FLAGS} -msimd128 -I${PROJECT_SOURCE_DIR}/tests
            ${TUVELLO_SOURCES} ${sources} -o "${output}"
    DEPENDS ${TUVELLO_SOURCES} ${sources} ${headers}
    COMMENT "Building the WebAssembly program ${output}"
    COMMAND_EXPAND_LISTS VERBATIM)
endfunction()
