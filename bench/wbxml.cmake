# WBXML codec: reader, tree builder and writer over a 1 MiB answer, beside memcpy.
if(TARGET common_wbxml)
  corvel_bench(NAME wbxml_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/wbxml_bench.cpp
    LIBS common_wbxml)
endif()
