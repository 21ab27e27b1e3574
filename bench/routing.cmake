# Request routing: URL cleaning and mapping, directory pages, message dumps.
# The side-by-side file serving benchmark against nginx is bench/web_files_bench.sh.
if(TARGET server_http)
  corvel_bench(NAME routing_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/routing_bench.cpp
    LIBS server_http)
endif()
