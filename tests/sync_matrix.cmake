# End-to-end: the two-way sync matrix, skiff against build/bin/corvel --headless with
# both sides driven through skiff pim and corvel-store.
if(TARGET corvel AND TARGET skiff AND TARGET corvel-store)
  corvel_tests(NAME sync_matrix_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_test.cpp ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_harness_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_json.cpp ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_process.cpp
      ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_proxy.cpp ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_sides.cpp
    LIBS server_http)
  if(TARGET sync_matrix_test)
    add_dependencies(sync_matrix_test corvel skiff corvel-store)
    # Every row starts a server and runs the programs some hundred times.
    set_tests_properties(sync_matrix_test PROPERTIES TIMEOUT 3600)
  endif()
endif()
