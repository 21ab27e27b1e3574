# End-to-end: build/bin/corvel --headless on free loopback ports over a temporary
# data folder; requests, trace port text, signals, port conflicts.
if(TARGET corvel AND TARGET server_http)
  corvel_e2e_test(NAME http_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_e2e_test.cpp
    LIBS server_http
    PROGRAMS corvel)
endif()
