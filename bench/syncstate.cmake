# Folder sync state: change detection and snapshot over 50,000 items (1% changed),
# beside the engine's contents-table scan of the same columns.
if(TARGET server_syncstate)
  corvel_bench(NAME syncstate_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/syncstate_bench.cpp
    LIBS server_syncstate server_config server_mapi)
endif()
