# End-to-end: skiff synchronising with build/bin/corvel --headless over loopback; the
# store inspected with corvel-store, the requests read from the server's trace.
if(TARGET corvel AND TARGET skiff AND TARGET corvel-store)
  corvel_e2e_test(NAME skiff_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/skiff_e2e_test.cpp
    LIBS server_http
    PROGRAMS corvel skiff corvel-store)
endif()
