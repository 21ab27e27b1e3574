# End-to-end: sync identity and field-level changes against build/bin/corvel
# --headless (repeated requests, a kill between store commit and answer, pairing of
# twins, acknowledgements, cleared fields, both-side edits); stores seeded and
# inspected with corvel-store.
if(TARGET corvel AND TARGET server_vantro AND TARGET corvel-store)
  corvel_e2e_test(NAME vantro_exchange_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/vantro_exchange_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/vantro_client.cpp
    LIBS server_http common_wbxml
    PROGRAMS corvel corvel-store)
endif()
