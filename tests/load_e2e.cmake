# End-to-end: corvel --headless under idle, trickling, large and deeply nested
# requests; its threads and peak memory read from /proc.
if(TARGET corvel AND TARGET server_http)
  corvel_e2e_test(NAME load_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/load_e2e_test.cpp
    LIBS server_http
    PROGRAMS corvel)
endif()
