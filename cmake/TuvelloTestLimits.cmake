# SPDX-License-Identifier: MIT
# Every test has a time limit, so that a hang fails its test instead of
# stalling the whole run. Tests that set their own TIMEOUT keep it; the test
# every_test_has_a_time_limit_and_a_short_name holds every folder to this.

# The limit for tests that name none, in seconds.
set(TUVELLO_TEST_TIMEOUT 300)

# tuvello_limit_tests(): gives every test added so far in the calling folder
# the default TIMEOUT unless it has one. Call it last in a folder that adds
# tests. GoogleTest's cases get theirs from tuvello_add_gtest.
function(tuvello_limit_tests)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test IN LISTS tests)
    get_test_property(${test} TIMEOUT limit)
    if(NOT limit)
      set_tests_properties(${test} PROPERTIES TIMEOUT ${TUVELLO_TEST_TIMEOUT})
    endif()
  endforeach()
endfunction()
