# End-to-end: corvel's HTTPS listener against curl and openssl s_client (Debian's
# curl and openssl packages), its own certificate, unusable certificate files.
if(TARGET corvel AND TARGET server_http)
  corvel_e2e_test(NAME tls_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tls_e2e_test.cpp
    LIBS server_http
    PROGRAMS corvel)
endif()
