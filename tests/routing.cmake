# End-to-end: request routing, web files, Basic check and forwarding against
# build/bin/corvel --headless on free loopback ports; users made with "corvel user add".
if(TARGET corvel AND TARGET server_http)
  corvel_e2e_test(NAME routing_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/routing_e2e_test.cpp
    LIBS server_http
    PROGRAMS corvel)
endif()
