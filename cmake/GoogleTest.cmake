# GoogleTest from Debian's source package, built for whichever target this tree
# compiles for, so the Windows suites link a MinGW-built gtest.
set(QUORVANE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${QUORVANE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# GoogleTest is not what is under test, and the suites spend their time in our
# code, files and Wine: at -O1 it costs a third less to compile than at -O3.
if(NOT MSVC)
  foreach(library gtest gtest_main gmock gmock_main)
    target_compile_options(${library} PRIVATE -O1)
  endforeach()
endif()

include(GoogleTest)

# Natively every test case is its own CTest test; under Wine each suite runs as
# one test, since starting a Windows process costs far more than a test case.
function(quorvane_add_gtest target)
  target_link_libraries(${target} PRIVATE GTest::gtest_main GTest::gmock quorvane_options)
  # GoogleTest's headers and templates cost more to compile than most test
  # files: a suite's files compile eight at a time as one unit (unity build),
  # so they are read and instantiated once per unit; names must then not clash.
  # (Precompiled headers cost more than they saved here, and MinGW's g++ 12
  # then warns about std::string in GoogleTest's expansions.)
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  # The suites' own code at -O1: it compiles in 60 % of the time -O3 takes, and
  # their time goes to files, processes and Wine; what they test keeps its flags.
  if(NOT MSVC)
    target_compile_options(${target} PRIVATE -O1)
  endif()
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target} --gtest_brief=1)
    set_tests_properties(${target} PROPERTIES TIMEOUT 600)
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endif()
endfunction()
