# Helpers shared by the folders' CMakeLists.txt.

# corvel_library(NAME name SOURCES a.cpp ... [LIBS lib ...])
# A folder's static library. Its headers are included by their path below the
# source root, and the libraries in LIBS are part of its interface (linked PUBLIC).
function(corvel_library)
  cmake_parse_arguments(L "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_library(${L_NAME} STATIC ${L_SOURCES})
  target_include_directories(${L_NAME} PUBLIC ${PROJECT_SOURCE_DIR})
  if(L_LIBS)
    target_link_libraries(${L_NAME} PUBLIC ${L_LIBS})
  endif()
endfunction()

# corvel_folder_needs(target)
# Leaves the calling folder's CMakeLists.txt (a macro, so its return() does) when
# the target is not part of this build, e.g. a folder left out by CORVEL_ONLY_FOLDERS.
macro(corvel_folder_needs needed_target)
  if(NOT TARGET ${needed_target})
    file(RELATIVE_PATH corvel_skipped_folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    message(STATUS "${corvel_skipped_folder} skipped: ${needed_target} is not part of this build")
    return()
  endif()
endmacro()

# corvel_program(folder extraLibs NAME name SOURCES a.cpp ... LIBS lib ... [ENV ...])
# An executable written to ${CMAKE_BINARY_DIR}/<folder>, linked with the libraries,
# then extraLibs (a list, may be empty) and the thread library: the test, fuzz and
# benchmark programs below. ENV is corvel_tests' own and ignored here.
function(corvel_program folder extraLibs)
  cmake_parse_arguments(P "" "NAME" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${P_NAME} ${P_SOURCES})
  set_target_properties(${P_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder})
  target_link_libraries(${P_NAME} PRIVATE ${P_LIBS} ${extraLibs} Threads::Threads)
endfunction()

# corvel_tests(NAME name SOURCES a_test.cpp ... LIBS lib ... [ENV VAR=value ...])
# One GoogleTest program per folder, registered with CTest under its name.
function(corvel_tests)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT CORVEL_TESTS OR CORVEL_FUZZ)
    return()
  endif()
  corvel_program(tests "GTest::gtest;GTest::gtest_main;GTest::gmock" ${ARGN})
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
  corvel_program(fuzz "" ${ARGN})
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  add_dependencies(corvel_fuzz_all ${F_NAME})
endfunction()

# corvel_bench(NAME name SOURCES b.cpp ... LIBS lib ...)
function(corvel_bench)
  if(CORVEL_BENCH AND NOT CORVEL_FUZZ)
    corvel_program(bench benchmark::benchmark ${ARGN})
  endif()
endfunction()

if(CORVEL_FUZZ)
  add_custom_target(corvel_fuzz_all)
endif()
