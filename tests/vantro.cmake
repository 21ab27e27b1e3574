# End-to-end: the Vantro protocol against build/bin/corvel --headless, stores seeded
# and inspected with corvel-store; requests built by the test client.
if(TARGET corvel AND TARGET server_vantro AND TARGET corvel-store)
  corvel_e2e_test(NAME vantro_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/vantro_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/vantro_client.cpp
      ${CMAKE_CURRENT_LIST_DIR}/vantro_client_test.cpp ${CMAKE_CURRENT_LIST_DIR}/tls_vantro_e2e_test.cpp
    LIBS server_http common_wbxml
    PROGRAMS corvel corvel-store)
endif()
