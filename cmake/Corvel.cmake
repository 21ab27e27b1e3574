# Helpers shared by the folders' CMakeLists.txt.

# corvel_program(name folder SOURCES a.cpp ... LIBS lib ...)
# An executable written to ${CMAKE_BINARY_DIR}/<folder>, linked with the libraries
# and the thread library (the test, fuzz and benchmark programs below).
function(corvel_program name folder)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder})
  target_link_libraries(${name} PRIVATE ${P_LIBS} Threads::Threads)
endfunction()

# corvel_tests(NAME name SOURCES a_test.cpp ... LIBS lib ...)
# One GoogleTest program per folder, registered with CTest under its name.
function(corvel_tests)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT CORVEL_TESTS OR CORVEL_FUZZ)
    return()
  endif()
  corvel_program(${T_NAME} tests SOURCES ${T_SOURCES}
    LIBS ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT
    "CORVEL_BIN_DIR=${CMAKE_BINARY_DIR}/bin;CORVEL_SOURCE_DIR=${CMAKE_SOURCE_DIR};${T_ENV}")
endfunction()

# corvel_fuzz(NAME name SOURCES f.cpp ... LIBS lib ...)
# A libFuzzer target, built only in the fuzz build (clang, CORVEL_FUZZ=ON).
function(corvel_fuzz)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT CORVEL_FUZZ)
    return()
  endif()
  corvel_program(${F_NAME} fuzz SOURCES ${F_SOURCES} LIBS ${F_LIBS})
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  add_dependencies(corvel_fuzz_all ${F_NAME})
endfunction()

# corvel_bench(NAME name SOURCES b.cpp ... LIBS lib ...)
function(corvel_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT CORVEL_BENCH OR CORVEL_FUZZ)
    return()
  endif()
  corvel_program(${B_NAME} bench SOURCES ${B_SOURCES} LIBS ${B_LIBS} benchmark::benchmark)
endfunction()

if(CORVEL_FUZZ)
  add_custom_target(corvel_fuzz_all)
endif()
