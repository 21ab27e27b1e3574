# vCard import beside the engine's own save of the same contacts, and the memory a
# 100 MB import takes.
if(TARGET tools_store)
  corvel_bench(NAME formats_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_bench.cpp
    LIBS tools_store)
endif()
