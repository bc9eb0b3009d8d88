# SPDX-License-Identifier: MIT
# The library as a WebAssembly module for the browser playground and the npm
# package: the same sources, compiled by clang for wasm32-wasi against
# Debian's wasi-libc (packages clang, lld, wasi-libc, libclang-rt-14-dev-wasm32,
# libc++-14-dev-wasm32, libc++abi-14-dev-wasm32). The module is a reactor: no
# main, an _initialize export, and the few WASI calls that assert's message
# would make are stubbed by the JavaScript loader.

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
    file(WRITE "${dir}/check.cpp" "#include <cmath>\nextern \"C\" double f(long double x) { return static_cast<double>(std::sin(x)); }\n")
    execute_process(
      COMMAND ${TUVELLO_WASM_CXX} --target=wasm32-wasi --sysroot=${TUVELLO_WASI_SYSROOT}
              -mexec-model=reactor -std=c++20 -Wl,--export=f "${dir}/check.cpp" -o "${dir}/check.wasm"
      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(rc EQUAL 0)
      set(ok ON)
    endif()
  endif()
  set(${result_var} ${ok} CACHE BOOL "Whether clang builds wasm32-wasi modules")
endfunction()

# The module exports what the version script lists.
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${PROJECT_SOURCE_DIR}/src/image/tuvello.map")

# tuvello_add_wasm_module(OUTPUT): the module at OUTPUT, exporting the public
# functions (the version script's list), the bridges and malloc/free for the
# text handed in.
function(tuvello_add_wasm_module output)
  file(STRINGS "${PROJECT_SOURCE_DIR}/src/image/tuvello.map" map_lines REGEX "TUVELLO_[A-Za-z]+;")
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
    COMMAND ${TUVELLO_WASM_CXX} --target=wasm32-wasi --sysroot=${TUVELLO_WASI_SYSROOT}
            -mexec-model=reactor -std=c++20 -O2 -DNDEBUG
            -fno-exceptions -fno-rtti -fvisibility=hidden -Wall -Wextra -Werror
            -I${PROJECT_SOURCE_DIR}/include -I${PROJECT_SOURCE_DIR}/src
            ${TUVELLO_SOURCES} ${bridge} ${exports} -Wl,--strip-debug -o "${output}"
    DEPENDS ${TUVELLO_SOURCES} ${headers} ${bridge} "${PROJECT_SOURCE_DIR}/src/image/tuvello.map"
    COMMENT "Building the WebAssembly module ${output}"
    COMMAND_EXPAND_LISTS VERBATIM)
endfunction()
