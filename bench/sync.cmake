# Two-way sync of 12,000 items present on both sides, then 1% changed on each side:
# corvel and skiff as programs, wall time, CPU time and peak memory of each.
if(TARGET tools_store AND TARGET platform_pocketoutlook AND TARGET corvel AND TARGET skiff)
  corvel_bench(NAME sync_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/sync_bench.cpp ${PROJECT_SOURCE_DIR}/tests/sync_matrix_process.cpp
    LIBS tools_store platform_pocketoutlook)
  if(TARGET sync_bench)
    add_dependencies(sync_bench corvel skiff)
  endif()
endif()
