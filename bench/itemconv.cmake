# Item conversion: HTML rendering and the recurrence blob and block.
if(TARGET server_itemconv)
  corvel_bench(NAME bench_itemconv
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/itemconv_bench.cpp
    LIBS server_itemconv)
endif()
