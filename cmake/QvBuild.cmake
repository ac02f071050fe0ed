# Compiler settings shared by every target of ours.

option(QV_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QV_FUZZ "Build libFuzzer targets (needs clang)" OFF)

if(QV_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "QV_FUZZ needs clang: configure with -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
endif()

# Our own code: strict warnings, warnings are errors. Applied per target so that third-party code is untouched.
function(qv_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wshadow -Wnon-virtual-dtor
                                           -Wno-missing-field-initializers)
endfunction()

# The sanitizer build exists to find faults, not to be fast: -Og with line tables only compiles in less than half
# the time of -O2 -g, and its reports still name file and line.
if(QV_SANITIZE AND CMAKE_BUILD_TYPE STREQUAL "RelWithDebInfo")
  set(CMAKE_C_FLAGS_RELWITHDEBINFO "-Og -g1 -DNDEBUG")
  set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-Og -g1 -DNDEBUG")
endif()

set(QV_SANITIZER_FLAGS "")
if(QV_SANITIZE OR QV_FUZZ)
  set(QV_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
endif()
if(QV_FUZZ)
  list(APPEND QV_SANITIZER_FLAGS -fsanitize=fuzzer-no-link)
endif()
if(QV_SANITIZER_FLAGS)
  add_compile_options(${QV_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # A C program that links our C++ libraries needs the C++ part of the runtime too (vptr checks), and that
    # part needs the C++ library.
    add_link_options("$<$<LINK_LANGUAGE:C>:-fsanitize-link-c++-runtime>" "$<$<LINK_LANGUAGE:C>:-lstdc++>")
  endif()
endif()

# Link option of shared libraries that must resolve every symbol when they are linked. With clang's
# sanitizers the runtime belongs to the executable only and a shared library leaves its symbols undefined
# (gcc links its shared runtime into the library instead), so there the check is left out.
set(QV_NO_UNDEFINED -Wl,--no-undefined)
if(QV_SANITIZER_FLAGS AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(QV_NO_UNDEFINED "")
endif()

# A fuzz target:  qv_fuzz_target(name source... [LIBS library...])
# With QV_FUZZ (clang) it is a libFuzzer program; scripts/fuzz.sh fuzzes with it and scripts/fuzz-replay.sh
# replays its seeds. In the sanitizer build (QV_SANITIZE, gcc) it is linked with a replay main instead and a
# ctest entry runs it over its seeds (fuzz/corpus/<name>), so every seed is replayed under ASan and UBSan with
# the tests. Otherwise it is not built.
function(qv_fuzz_target name)
  if(NOT QV_FUZZ AND NOT QV_SANITIZE)
    return()
  endif()
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  add_executable(${name} ${F_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  qv_strict(${name})
  if(QV_FUZZ)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz/support/replay_main.cpp)
    add_test(NAME FuzzSeeds.${name} COMMAND ${name} ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
    set_tests_properties(FuzzSeeds.${name} PROPERTIES ENVIRONMENT LC_ALL=C)
  endif()
  # fuzz_all builds every target; scripts/fuzz-replay.sh reads the list from build-fuzz/fuzz/targets.txt.
  if(NOT TARGET fuzz_all)
    add_custom_target(fuzz_all)
  endif()
  add_dependencies(fuzz_all ${name})
  set_property(GLOBAL APPEND PROPERTY QV_FUZZ_TARGETS ${name})
endfunction()

# A GoogleTest program registered with ctest, one ctest entry per test case.
#   qv_test(name SOURCES ... LIBS ... [PROPERTIES prop value ...])
# Tests run with LC_ALL=C; tests/support/qv_test_paths.h tells them where the build and source trees are.
find_package(GTest REQUIRED)
include(GoogleTest)
function(qv_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  qv_strict(${name})
  target_compile_definitions(${name} PRIVATE QV_BUILD_TREE="${CMAKE_BINARY_DIR}" QV_SOURCE_TREE="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ENVIRONMENT LC_ALL=C ${T_PROPERTIES})
endfunction()
