# Test registration shared by the native and the Windows build.
#
# vl_add_gtest(<name> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [SERIAL]
#              [NO_THREADS | THREADED filter])
#   Builds one GoogleTest program and registers every test case with ctest. In the Windows
#   build each case runs under Wine and requires the wine fixture.
#   The ThreadSanitizer build runs only what starts threads, since it finds nothing in a single
#   thread and runs it several times slower: NO_THREADS says no case of the program starts a
#   thread (the program is not built there), THREADED names the cases that do as a gtest filter
#   (only those are registered there). A program with neither runs whole under it.
#   TIMEOUT is per case, at least five times the case's time under its slowest build on a
#   2-core machine (default 120 s). SERIAL runs each case alone (no other test beside it).
include(GoogleTest)

# Which sanitizer this build runs under.
set(VL_TSAN OFF)
set(VL_SANITIZED OFF)
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=[^ ]*thread")
  set(VL_TSAN ON)
endif()
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=")
  set(VL_SANITIZED ON)
endif()

if(CMAKE_CROSSCOMPILING)
  # GoogleTest compiled from the system's sources with the MinGW toolchain.
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(VL_GTEST_LIBS GTest::gtest_main GTest::gmock)
else()
  find_package(GTest REQUIRED)
  set(VL_GTEST_LIBS GTest::gtest_main GTest::gmock)
endif()

if(CMAKE_CROSSCOMPILING AND VL_WINE_AVAILABLE)
  add_test(NAME wine_up COMMAND ${CMAKE_BINARY_DIR}/wine-up.sh)
  set_tests_properties(wine_up PROPERTIES FIXTURES_SETUP wine TIMEOUT 120)
  add_test(NAME wine_down COMMAND ${CMAKE_BINARY_DIR}/wine-down.sh)
  set_tests_properties(wine_down PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
endif()

function(vl_add_gtest name)
  cmake_parse_arguments(T "NO_THREADS;SERIAL" "TIMEOUT;THREADED" "SOURCES;LIBS;LABELS" ${ARGN})
  if(T_NO_THREADS AND VL_TSAN)
    # Defined, so that what the caller adds to it still applies, but neither built nor run.
    add_executable(${name} EXCLUDE_FROM_ALL ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} ${VL_GTEST_LIBS})
    return()
  endif()
  set(filter)
  if(T_THREADED AND VL_TSAN)
    set(filter TEST_FILTER ${T_THREADED})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${VL_GTEST_LIBS})
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(T_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  if(CMAKE_CROSSCOMPILING)
    list(APPEND props FIXTURES_REQUIRED wine)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         TEST_PREFIX "win." PROPERTIES ${props})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${filter} PROPERTIES ${props})
  endif()
endfunction()

# vl_add_script_test(<name> COMMAND ... [LABELS ...] [TIMEOUT s] [WINE])
#   A test whose command is a script (never wrapped by the emulator). WINE makes it require
#   the wine fixture.
function(vl_add_script_test name)
  cmake_parse_arguments(T "WINE" "TIMEOUT" "COMMAND;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
  if(T_WINE)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
endfunction()
