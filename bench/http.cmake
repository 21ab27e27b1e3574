# HTTP message core: parsing, completeness (whole and incremental), receiving.
if(TARGET common_http)
  corvel_bench(NAME http_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_bench.cpp
    LIBS common_http)
endif()
