# GoogleTest from Debian's source package, built for whichever target this tree
# compiles for, so the Windows suites link a MinGW-built gtest.
set(QUORVANE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${QUORVANE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

include(GoogleTest)

# Natively every test case is its own CTest test; under Wine each suite runs as
# one test, since starting a Windows process costs far more than a test case.
function(quorvane_add_gtest target)
  target_link_libraries(${target} PRIVATE GTest::gtest_main GTest::gmock quorvane_options)
  # GoogleTest's headers cost more to read than most test files do to compile:
  # they are read once per suite (precompiled) and the suite's files compile a
  # few at a time as one unit (unity build), whose names must then not clash.
  target_precompile_headers(${target} PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target} --gtest_brief=1)
    set_tests_properties(${target} PROPERTIES TIMEOUT 600)
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endif()
endfunction()
