# End-to-end: request routing, web files, Basic check and forwarding against
# build/bin/corvel --headless on free loopback ports; users made with "corvel user add".
if(TARGET corvel AND TARGET server_http)
  corvel_tests(NAME routing_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/routing_e2e_test.cpp
    LIBS server_http)
  if(TARGET routing_e2e_test)
    add_dependencies(routing_e2e_test corvel)
  endif()
endif()
