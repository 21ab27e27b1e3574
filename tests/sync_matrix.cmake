# End-to-end: the two-way sync matrix, skiff against build/bin/corvel --headless with
# both sides driven through skiff pim and corvel-store.
if(TARGET corvel AND TARGET skiff AND TARGET corvel-store AND CORVEL_TESTS AND NOT CORVEL_FUZZ)
  # The two sides of a sync as programs (also used by the randomized sync test and
  # its benchmark).
  add_library(sync_sides STATIC
    ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_json.cpp ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_process.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_proxy.cpp ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_sides.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sync_random_model.cpp ${CMAKE_CURRENT_LIST_DIR}/sync_random_schedule.cpp)
  target_link_libraries(sync_sides PUBLIC server_http Threads::Threads)
  add_dependencies(sync_sides corvel skiff corvel-store)
  # Every row starts a server and runs the programs some hundred times.
  corvel_e2e_test(NAME sync_matrix_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_test.cpp ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_harness_test.cpp
    LIBS sync_sides
    TIMEOUT 3600)
endif()
