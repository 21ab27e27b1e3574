# End-to-end: synchronisation over the Vantro protocol against build/bin/corvel
# --headless (day windows, device changes of tasks and appointments, folders a
# device may reach); stores seeded and inspected with corvel-store.
if(TARGET corvel AND TARGET server_vantro AND TARGET corvel-store)
  corvel_e2e_test(NAME vantro_sync_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/vantro_sync_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/vantro_client.cpp
    LIBS server_http common_wbxml SQLite::SQLite3
    PROGRAMS corvel corvel-store)
endif()
