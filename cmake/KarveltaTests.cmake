# The test programs' cases as CTest tests. Listing them runs the program, and
# under Wine (the cross-compiled suite) that start takes seconds, and about
# 12 s while the first start builds the prefix: hence the longer wait than
# GoogleTest's default of 5 s.
include(GoogleTest)

function(karvelta_discover_tests target)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 180 ${ARGN})
endfunction()
