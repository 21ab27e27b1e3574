# End-to-end: skiff synchronising with build/bin/corvel --headless over loopback; the
# store inspected with corvel-store, the requests read from the server's trace.
if(TARGET corvel AND TARGET skiff AND TARGET corvel-store)
  corvel_tests(NAME skiff_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/skiff_e2e_test.cpp
    LIBS server_http)
  if(TARGET skiff_e2e_test)
    add_dependencies(skiff_e2e_test corvel skiff corvel-store)
  endif()
endif()
