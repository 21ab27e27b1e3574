# End-to-end: recurring appointments between corvel --headless and skiff, the
# desktop side seeded and read with corvel-store; skiff's occurrences compared with
# python3-dateutil's expander; a refused Recurrence block over the protocol;
# series from iCalendar files imported on either side, against libical's expansion.
if(TARGET corvel AND TARGET skiff AND TARGET corvel-store AND TARGET server_itemconv)
  corvel_e2e_test(NAME recurrence_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/recurrence_e2e_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/recurrence_occurrences_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/recurrence_protocol_test.cpp ${CMAKE_CURRENT_LIST_DIR}/vantro_client.cpp
      ${CMAKE_CURRENT_LIST_DIR}/recurrence_import_e2e_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/recurrence_sides.cpp
      ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_json.cpp ${CMAKE_CURRENT_LIST_DIR}/sync_matrix_process.cpp
    LIBS server_itemconv server_http common_wbxml common_formats
    PROGRAMS corvel skiff corvel-store
    TIMEOUT 1800)
endif()
