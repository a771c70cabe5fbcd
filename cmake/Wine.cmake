# Tests of the cross build run under Wine. Every Windows test program is started
# through cmake/wine-run.sh (the crosscompiling emulator) and needs the fixture
# "wine", which starts a persistent wineserver (and an Xvfb of its own when there
# is no display) before the first test and stops them after the last.
#
# The x86_64 build runs under the host's 64-bit Wine in a 64-bit prefix. The
# i686 build (the product) runs in the way this machine offers first
# (cmake/wine-env.sh, LARKSPAN_WINEARCH=i686): a 32-bit Wine in a 32-bit prefix
# inside the i386 root of scripts/wine32 where the machine loads 32-bit Linux
# programs, otherwise Wine's 64-bit WoW64 mode in a 64-bit prefix. Where the
# first way is the 32-bit prefix, its end-to-end tests run a second time (label
# "wow64") in the WoW64 mode's 64-bit prefix, as most users start the product,
# on 64-bit Windows. Where no way runs, every test of the i686 build prints the
# skip marker with the reason and is reported as skipped.

set(LARKSPAN_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix used by the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/cmake/wine-run.sh")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(LARKSPAN_WINEARCH win64)
else()
    set(LARKSPAN_WINEARCH i686)
endif()
set(LARKSPAN_TEST_ENV "LARKSPAN_WINEPREFIX=${LARKSPAN_WINEPREFIX};LARKSPAN_WINEARCH=${LARKSPAN_WINEARCH}")
set(LARKSPAN_WINE_SKIP "larkspan-skip: ")

add_test(NAME wine.start COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-fixture.sh" start)
add_test(NAME wine.stop COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-fixture.sh" stop)
set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${LARKSPAN_TEST_ENV}" TIMEOUT 300
    SKIP_REGULAR_EXPRESSION "${LARKSPAN_WINE_SKIP}")
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${LARKSPAN_TEST_ENV}")
if(LARKSPAN_WINEARCH STREQUAL "i686")
    set(LARKSPAN_WOW64_ENV "LARKSPAN_WINEPREFIX=${LARKSPAN_WINEPREFIX}-wow64;LARKSPAN_WINEARCH=i686-wow64")
    add_test(NAME wine_wow64.start COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-fixture.sh" start)
    add_test(NAME wine_wow64.stop COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-fixture.sh" stop)
    set_tests_properties(wine_wow64.start PROPERTIES FIXTURES_SETUP wine_wow64 ENVIRONMENT "${LARKSPAN_WOW64_ENV}"
        TIMEOUT 300 SKIP_REGULAR_EXPRESSION "${LARKSPAN_WINE_SKIP}")
    set_tests_properties(wine_wow64.stop PROPERTIES FIXTURES_CLEANUP wine_wow64 ENVIRONMENT "${LARKSPAN_WOW64_ENV}")
endif()

# larkspan_add_wine_test(<name> COMMAND <target-or-exe> [args...]
#                        [LABELS <label>...] [TIMEOUT <s>] [ENVIRONMENT <VAR=value>...] [SERIAL])
# One CTest test per Windows test program run; the program runs under Wine.
# SERIAL keeps the test away from every other SERIAL test of its prefix (tests that drive
# windows or change system settings); each prefix has its own wineserver and X server.
function(larkspan_add_wine_test name)
    cmake_parse_arguments(T "SERIAL" "TIMEOUT;WORKING_DIRECTORY" "COMMAND;LABELS;ENVIRONMENT" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    if(NOT T_WORKING_DIRECTORY)
        set(T_WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}")
    endif()
    add_test(NAME ${name} COMMAND ${T_COMMAND} WORKING_DIRECTORY "${T_WORKING_DIRECTORY}")
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wine
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "${LARKSPAN_TEST_ENV};${T_ENVIRONMENT}"
        SKIP_REGULAR_EXPRESSION "${LARKSPAN_WINE_SKIP}")
    # The label i686 counts the i686 build's tests that ran in its first way (scripts/test).
    set(labels ${T_LABELS})
    if(LARKSPAN_WINEARCH STREQUAL "i686")
        list(APPEND labels i686)
    endif()
    if(labels)
        set_tests_properties(${name} PROPERTIES LABELS "${labels}")
    endif()
    if(T_SERIAL)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_desktop)
    endif()
    # The second run of an end-to-end test, in the WoW64 mode's 64-bit prefix.
    if(LARKSPAN_WINEARCH STREQUAL "i686" AND "e2e" IN_LIST T_LABELS)
        add_test(NAME ${name}.wow64 COMMAND ${T_COMMAND} WORKING_DIRECTORY "${T_WORKING_DIRECTORY}")
        set_tests_properties(${name}.wow64 PROPERTIES
            FIXTURES_REQUIRED wine_wow64
            TIMEOUT ${T_TIMEOUT}
            LABELS "${T_LABELS};wow64"
            ENVIRONMENT "${LARKSPAN_WOW64_ENV};${T_ENVIRONMENT}"
            SKIP_REGULAR_EXPRESSION "${LARKSPAN_WINE_SKIP}")
        if(T_SERIAL)
            set_tests_properties(${name}.wow64 PROPERTIES RESOURCE_LOCK wine_wow64_desktop)
        endif()
    endif()
endfunction()

# larkspan_add_gtest(<target> SOURCES <src>... LIBRARIES <lib>... [ARGS <arg>...] [LABELS ...] [TIMEOUT s] [SERIAL])
# A GoogleTest program of the cross build, registered as one Wine test.
function(larkspan_add_gtest target)
    cmake_parse_arguments(T "SERIAL" "TIMEOUT" "SOURCES;LIBRARIES;LABELS;ENVIRONMENT;ARGS" ${ARGN})
    add_executable(${target} ${T_SOURCES})
    target_link_libraries(${target} PRIVATE ${T_LIBRARIES} GTest::gtest_main)
    set(extra)
    if(T_TIMEOUT)
        list(APPEND extra TIMEOUT ${T_TIMEOUT})
    endif()
    if(T_LABELS)
        list(APPEND extra LABELS ${T_LABELS})
    endif()
    if(T_ENVIRONMENT)
        list(APPEND extra ENVIRONMENT ${T_ENVIRONMENT})
    endif()
    if(T_SERIAL)
        list(APPEND extra SERIAL)
    endif()
    larkspan_add_wine_test(${target} COMMAND ${target} ${T_ARGS} ${extra})
    # Wine ends a program that overflows its stack with exit code 0: only a
    # run that reached GoogleTest's closing summary, with no failure, passes.
    set(runs ${target})
    if(TEST ${target}.wow64)
        list(APPEND runs ${target}.wow64)
    endif()
    set_tests_properties(${runs} PROPERTIES
        PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ tests?\\."
        FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
endfunction()
