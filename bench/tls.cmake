# The HTTPS load client of bench/tls_bench.sh: new TLS connections per second and
# MB/s against any HTTPS server, one request per connection.
if(TARGET common_tls AND NOT CORVEL_FUZZ)
  add_executable(tls_load_client ${CMAKE_CURRENT_LIST_DIR}/tls_load_client.cpp)
  set_target_properties(tls_load_client PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  target_link_libraries(tls_load_client PRIVATE common_tls Threads::Threads)
endif()
