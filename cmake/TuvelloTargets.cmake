# SPDX-License-Identifier: MIT
# Build settings shared by every variant of the library.

# The source tree, also when a smaller project (tests/cross) includes this file.
get_filename_component(TUVELLO_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

# A 32-bit x86 build as an i386 distribution makes one: no SSE2, x87
# arithmetic (the compiler's default for -m32). The library is exact anyway.
set(TUVELLO_32BIT_FLAGS -m32)

include(${CMAKE_CURRENT_LIST_DIR}/TuvelloTestLimits.cmake)

# Warnings and language level for everything we compile.
add_library(tuvello_warnings INTERFACE)
target_compile_options(tuvello_warnings INTERFACE -Wall -Wextra -Werror)
target_compile_features(tuvello_warnings INTERFACE cxx_std_20)

# Sanitizers, when asked for, go wherever the warnings go.
include(${CMAKE_CURRENT_LIST_DIR}/TuvelloSanitizers.cmake)
target_link_libraries(tuvello_warnings INTERFACE tuvello_sanitizers)

# Hardening for ELF builds, what Debian's dpkg-buildflags gives under
# hardening=+all: stack protector, fortified libc calls (optimised builds
# only, and not under sanitizers, which replace those calls), control-flow
# protection on x86, and a read-only relocation table bound at load time.
# Every binary we build links it, through tuvello_warnings or directly.
option(TUVELLO_HARDENING "Build with stack protector, _FORTIFY_SOURCE, -fcf-protection and full RELRO" ON)
add_library(tuvello_hardening INTERFACE)
if(TUVELLO_HARDENING AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  include(CheckCXXCompilerFlag)
  target_compile_options(tuvello_hardening INTERFACE -fstack-protector-strong)
  check_cxx_compiler_flag(-fcf-protection TUVELLO_HAVE_CF_PROTECTION)
  if(TUVELLO_HAVE_CF_PROTECTION)
    target_compile_options(tuvello_hardening INTERFACE -fcf-protection)
  endif()
  if(NOT TUVELLO_SANITIZE AND NOT TUVELLO_BUILD_FUZZERS)
    target_compile_options(tuvello_hardening INTERFACE
      $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2>)
  endif()
  target_link_options(tuvello_hardening INTERFACE LINKER:-z,relro LINKER:-z,now)
endif()
target_link_libraries(tuvello_warnings INTERFACE tuvello_hardening)

# The public header and the internal source tree.
add_library(tuvello_headers INTERFACE)
target_include_directories(tuvello_headers INTERFACE
  $<BUILD_INTERFACE:${TUVELLO_ROOT}/include>
  $<BUILD_INTERFACE:${TUVELLO_ROOT}/src>)

set(TUVELLO_SOURCES
  src/api/convert_midi.cpp
  src/api/convert_rtttl.cpp
  src/api/export_midi.cpp
  src/api/exports.cpp
  src/export/midi_export.cpp
  src/image/block_allocator.cpp
  src/image/create_song.cpp
  src/image/song_image.cpp
  src/image/song_stream.cpp
  src/import/midi.cpp
  src/import/midi_file.cpp
  src/import/rtttl.cpp
  src/import/rtttl_export.cpp
  src/synth/note_block.cpp
  src/synth/sample.cpp
  src/synth/sine_kernels.cpp
  src/text/diagnostics.cpp
  src/text/integer_parse.cpp
  src/text/interpreter.cpp)
list(TRANSFORM TUVELLO_SOURCES PREPEND "${TUVELLO_ROOT}/")

# Library code: no exceptions or RTTI (nothing may cross the C boundary and
# the shared object must not need libstdc++), hidden unless exported.
function(tuvello_library_flags target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    POSITION_INDEPENDENT_CODE ON)
  target_link_libraries(${target} PRIVATE tuvello_warnings)
  target_link_libraries(${target} PUBLIC tuvello_headers)
endfunction()

# tuvello_add_library(NAME EXTRA_FLAGS): an object library NAME_objects and
# the shared object NAME built from it, with EXTRA_FLAGS on compile and link.
function(tuvello_add_library name extra_flags)
  add_library(${name}_objects OBJECT ${TUVELLO_SOURCES})
  tuvello_library_flags(${name}_objects)
  target_compile_options(${name}_objects PRIVATE ${extra_flags})

  add_library(${name} SHARED $<TARGET_OBJECTS:${name}_objects>)
  target_link_libraries(${name} PUBLIC tuvello_headers)
  target_link_options(${name} PRIVATE ${extra_flags}
    # Only the public functions are exported. Linked as C, so nothing of
    # libstdc++ comes along; -z defs proves nothing of it is needed.
    "-Wl,--version-script=${TUVELLO_ROOT}/src/api/tuvello.map"
    -static-libgcc -Wl,--as-needed)
  if(NOT TUVELLO_SANITIZING)
    target_link_options(${name} PRIVATE -Wl,-z,defs)
  endif()
  target_link_libraries(${name} PRIVATE m tuvello_sanitizers tuvello_hardening)
  set_target_properties(${name} PROPERTIES
    LINKER_LANGUAGE C
    OUTPUT_NAME ${name}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    LINK_DEPENDS "${TUVELLO_ROOT}/src/api/tuvello.map")
endfunction()

# Whether the compiler can build and link 32-bit x86 code here; if so,
# TUVELLO_32BIT_RUNNER is what runs it: nothing where the kernel runs 32-bit
# programs, qemu-i386 where it does not (some virtual machines), NOTFOUND
# when neither works.
function(tuvello_check_32bit result_var)
  if(DEFINED CACHE{${result_var}} AND DEFINED CACHE{TUVELLO_32BIT_RUNNER})
    return()
  endif()
  set(dir "${CMAKE_BINARY_DIR}/check-32bit")
  file(WRITE "${dir}/check.cpp" "#include <cmath>\nint main() { return static_cast<int>(std::sin(0.0L)); }\n")
  try_compile(ok "${dir}/build" SOURCES "${dir}/check.cpp"
    COMPILE_DEFINITIONS ${TUVELLO_32BIT_FLAGS}
    LINK_OPTIONS ${TUVELLO_32BIT_FLAGS}
    LINK_LIBRARIES m
    COPY_FILE "${dir}/check32")
  set(runner NOTFOUND)
  if(ok)
    execute_process(COMMAND "${dir}/check32" RESULT_VARIABLE native OUTPUT_QUIET ERROR_QUIET)
    if(native EQUAL 0)
      set(runner "")
    else()
      find_program(TUVELLO_QEMU_I386 qemu-i386)
      if(TUVELLO_QEMU_I386)
        set(runner "${TUVELLO_QEMU_I386}")
      endif()
    endif()
  endif()
  set(${result_var} ${ok} CACHE BOOL "Whether -m32 builds work")
  set(TUVELLO_32BIT_RUNNER "${runner}" CACHE STRING "What runs 32-bit x86 programs here (empty: the kernel)")
endfunction()
