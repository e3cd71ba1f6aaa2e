# Test registration. Host builds run test programs natively; the win64 build
# runs them under wine64 in a Wine prefix and an Xvfb display of the test run's
# own, started by the fixture "wine" and ended by its cleanup; the win32 build
# compiles and links them, and runs only the tests registered with
# nv_add_wine32_test, under the emulated 32-bit Wine (fixture "wine32").

enable_testing()
set(NV_WINE_DIR ${CMAKE_BINARY_DIR}/wine-env)
set(NV_SCRIPTS ${PROJECT_SOURCE_DIR}/scripts)
set(NV_WINE_TESTS OFF)
if(WIN32 AND NV_RUN_TESTS AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(NV_WINE_TESTS ON)
  add_test(NAME wine.start COMMAND ${NV_SCRIPTS}/wine-prefix.sh start ${NV_WINE_DIR})
  set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
  add_test(NAME wine.stop COMMAND ${NV_SCRIPTS}/wine-prefix.sh stop ${NV_WINE_DIR})
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
endif()

# The i686 product under the emulated 32-bit Wine (scripts/wine32.sh): a prefix
# of the run's own whose syswow64 is filled. Each start of a 32-bit program
# costs about a minute of emulation, so only smoke tests run this way.
option(NV_RUN_WINE32_TESTS "Register the i686 smoke tests (emulated 32-bit Wine)" ON)
set(NV_WINE32_TESTS OFF)
set(NV_WINE32_ENV ${CMAKE_BINARY_DIR}/wine32-env)
if(WIN32 AND NV_RUN_WINE32_TESTS AND CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(NV_WINE32_TESTS ON)
  add_test(NAME wine32.start COMMAND ${NV_SCRIPTS}/wine-prefix.sh start ${NV_WINE32_ENV} --i686)
  set_tests_properties(wine32.start PROPERTIES FIXTURES_SETUP wine32 TIMEOUT 900)
  add_test(NAME wine32.stop COMMAND ${NV_SCRIPTS}/wine-prefix.sh stop ${NV_WINE32_ENV})
  set_tests_properties(wine32.stop PROPERTIES FIXTURES_CLEANUP wine32)
endif()

# nv_add_test(NAME name SOURCES ... [LIBS ...] [ARGS ...] [TIMEOUT s])
# Builds a googletest program and registers it for the current build.
function(nv_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;ARGS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(NOT WIN32 AND NV_RUN_TESTS)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} ${T_ARGS})
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  elseif(NV_WINE_TESTS)
    nv_add_wine_test(NAME ${T_NAME}.wine COMMAND $<TARGET_FILE:${T_NAME}> ${T_ARGS} TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()

# nv_add_wine_test(NAME name COMMAND program.exe args... [TIMEOUT s])
# Registers a command that runs under wine64 in the test run's environment.
function(nv_add_wine_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND" ${ARGN})
  if(NOT NV_WINE_TESTS)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # wine-run.sh ends the program a little before ctest's time-out, so that
  # the output of a hanging program is still shown.
  math(EXPR run_timeout "${T_TIMEOUT} - 10")
  if(run_timeout LESS 5)
    set(run_timeout 5)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${NV_SCRIPTS}/wine-run.sh ${NV_WINE_DIR} ${T_COMMAND})
  # Wine tests share one prefix and one display: keyboard focus, the
  # foreground window and test folders would be fought over if two ran at once.
  set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wine_desktop TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "NV_WINE_DIR=${NV_WINE_DIR};NV_SOURCE_DIR=${PROJECT_SOURCE_DIR};NV_BINARY_DIR=${CMAKE_BINARY_DIR};NV_WINE_RUN_TIMEOUT=${run_timeout}")
endfunction()

# nv_add_wine32_test(NAME name COMMAND program.exe args... [HOST] [TIMEOUT s]
#                    [FIXTURES_SETUP f...] [FIXTURES_REQUIRED f...])
# Registers an i686 program of this build that runs under the emulated 32-bit
# Wine in the run's prefix (through wine-run.sh, started in the prefix's
# drive_c). With HOST, COMMAND is a host command (a script driving Windows
# programs) run as it stands; it finds the environment in NV_WINE_DIR (source
# its env file, then "wine" starts 32- and 64-bit programs alike). The tests run
# one at a time; FIXTURES_SETUP/REQUIRED order tests that build on each other.
# Default time limit: 600 s.
function(nv_add_wine32_test)
  cmake_parse_arguments(T "HOST" "NAME;TIMEOUT" "COMMAND;FIXTURES_SETUP;FIXTURES_REQUIRED" ${ARGN})
  if(NOT NV_WINE32_TESTS)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  math(EXPR run_timeout "${T_TIMEOUT} - 15")
  if(T_HOST)
    add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  else()
    add_test(NAME ${T_NAME} COMMAND ${NV_SCRIPTS}/wine-run.sh ${NV_WINE32_ENV} ${T_COMMAND})
    set_tests_properties(${T_NAME} PROPERTIES WORKING_DIRECTORY ${NV_WINE32_ENV}/prefix/drive_c)
  endif()
  # A 32-bit process that dies of a signal Wine does not handle ends with exit
  # code 0 for its parent; the emulator's report of it fails the test.
  set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED "wine32;${T_FIXTURES_REQUIRED}"
    RESOURCE_LOCK wine32_desktop TIMEOUT ${T_TIMEOUT} FAIL_REGULAR_EXPRESSION "qemu: uncaught target signal"
    ENVIRONMENT "NV_WINE_DIR=${NV_WINE32_ENV};NV_SOURCE_DIR=${PROJECT_SOURCE_DIR};NV_BINARY_DIR=${CMAKE_BINARY_DIR};NV_WINE_RUN_TIMEOUT=${run_timeout};LC_ALL=C.UTF-8")
  if(T_FIXTURES_SETUP)
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_SETUP "${T_FIXTURES_SETUP}")
  endif()
endfunction()

# nv_windows_app(target): a Unicode program with a wide entry point.
function(nv_windows_app target)
  target_link_options(${target} PRIVATE -municode)
endfunction()
