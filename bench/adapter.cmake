# MAPI adapter: property writes one at a time, batched and raw; bodies through the
# stream; key text.
if(TARGET server_mapi)
  corvel_bench(NAME adapter_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/adapter_bench.cpp
    LIBS server_mapi)
endif()
