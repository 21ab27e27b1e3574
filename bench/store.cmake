# Message store engine beside raw SQLite on the same schema.
if(TARGET platform_mapi)
  corvel_bench(NAME store_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/store_bench.cpp LIBS platform_mapi SQLite::SQLite3)
endif()
