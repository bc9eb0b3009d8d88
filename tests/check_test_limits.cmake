# SPDX-License-Identifier: MIT
# Fails when a test of the build tree BUILD has no TIMEOUT, or a name that is
# long or carries raw values: names are for ctest -R, and a hung test must not
# stall the run. Run as: cmake -DCTEST=ctest -DBUILD=dir -P this-file
execute_process(COMMAND ${CTEST} --test-dir ${BUILD} --show-only=json-v1
                OUTPUT_VARIABLE json RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "ctest --show-only failed")
endif()

string(JSON count LENGTH "${json}" tests)
math(EXPR last "${count} - 1")
set(faults "")
foreach(i RANGE ${last})
  string(JSON name GET "${json}" tests ${i} name)
  # GoogleTest's stand-in for a test program not built yet (a partial build).
  if(name MATCHES "_NOT_BUILT$")
    continue()
  endif()
  string(LENGTH "${name}" length)
  if(length GREATER 100)
    list(APPEND faults "longer than 100 characters: ${name}")
  endif()
  # Letters, digits and _ / . - only: no spaces, quotes, escapes or addresses.
  if(NOT name MATCHES "^[A-Za-z0-9_./-]+$" OR name MATCHES "0x[0-9a-fA-F]")
    list(APPEND faults "not a plain name: ${name}")
  endif()
  set(limited FALSE)
  string(JSON has ERROR_VARIABLE none GET "${json}" tests ${i} properties)
  if(NOT none)
    string(JSON properties LENGTH "${json}" tests ${i} properties)
    math(EXPR plast "${properties} - 1")
    foreach(p RANGE ${plast})
      string(JSON property GET "${json}" tests ${i} properties ${p} name)
      if(property STREQUAL "TIMEOUT")
        set(limited TRUE)
      endif()
    endforeach()
  endif()
  if(NOT limited)
    list(APPEND faults "no TIMEOUT: ${name}")
  endif()
endforeach()

if(faults)
  list(JOIN faults "\n  " listed)
  message(FATAL_ERROR "Of ${count} tests:\n  ${listed}")
endif()
message(STATUS "${count} tests, each with a TIMEOUT and a plain name")
