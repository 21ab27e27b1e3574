# Waiting connections: corvel --headless held by 10,000 idle and 300 trickling
# connections while clients fetch a small file; latency, threads and memory.
if(TARGET corvel AND TARGET server_http)
  corvel_bench(NAME load_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/load_bench.cpp
    LIBS server_http server_config)
  if(TARGET load_bench)
    add_dependencies(load_bench corvel)
  endif()
endif()
