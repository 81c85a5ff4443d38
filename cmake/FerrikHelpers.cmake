# SPDX-FileCopyrightText: 2026 Ferrik maintainers
# SPDX-License-Identifier: Apache-2.0
# Per-target build helpers: warnings, sanitizers and test registration.

function(ferrik_enable_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    # GCC 12 at -O3 warns about its own inlined std::string concatenation ("literal" + string&&)
    # with impossible sizes: a known false positive of that compiler, fixed in GCC 13.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
    # clang checks the locking annotations of OVLCommon/ThreadAnnotations.h (the `clang` preset).
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        target_compile_options(${target} PRIVATE -Wthread-safety)
    endif()
    if(FERRIK_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# Sanitizers are applied globally so that every library a test links is instrumented alike.
if(FERRIK_ASAN AND FERRIK_TSAN)
    message(FATAL_ERROR "FERRIK_ASAN and FERRIK_TSAN exclude each other")
endif()
if(FERRIK_ASAN)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
# The libFuzzer build instruments every library for coverage, so that a fuzz target links the
# libraries it drives (each once) instead of compiling their sources in; the fuzz targets add the
# fuzzer's main with -fsanitize=fuzzer.
if(FERRIK_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "FERRIK_FUZZ needs clang (CC=clang CXX=clang++)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
if(FERRIK_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    # g++ warns that ThreadSanitizer does not model the atomic_thread_fence calls in Boost.Asio;
    # the fences sit beside real atomics, which it does model.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        add_compile_options(-Wno-tsan)
    endif()
    add_link_options(-fsanitize=thread)
endif()

# ferrik_add_gtest(NAME SOURCES <files> LIBS <targets> [MAIN <target>] [LAUNCHER <command>...]
#                  [TSAN] [TIMEOUT <s>] [LABELS <labels>] [ENVIRONMENT <k=v>...])
# Builds one GoogleTest executable and registers it with CTest as one test. MAIN names the target
# that provides main() (default GTest::gtest_main; the Qt tests pass their own, which makes the
# QApplication). LAUNCHER runs the test through a command (xvfb-run for the X11 tests). TSAN marks
# a test whose subject is threaded: the ThreadSanitizer build (target tsan_tests) builds and runs it.
function(ferrik_add_gtest name)
    cmake_parse_arguments(ARG "TSAN" "TIMEOUT;MAIN" "SOURCES;LIBS;LABELS;ENVIRONMENT;LAUNCHER" ${ARGN})
    if(NOT ARG_MAIN)
        set(ARG_MAIN GTest::gtest_main)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${ARG_MAIN} GTest::gtest)
    ferrik_enable_warnings(${name})
    add_test(NAME ${name} COMMAND ${ARG_LAUNCHER} $<TARGET_FILE:${name}>)
    set(labels ${ARG_LABELS})
    if(ARG_TSAN)
        list(APPEND labels tsan)
        add_dependencies(tsan_tests ${name})
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
    if(labels)
        set_tests_properties(${name} PROPERTIES LABELS "${labels}")
    endif()
    if(ARG_ENVIRONMENT)
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
    endif()
endfunction()
