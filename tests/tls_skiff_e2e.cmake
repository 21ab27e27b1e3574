# End-to-end: skiff over HTTPS against build/bin/corvel --headless: trust on first
# use, a changed certificate, a test authority (made with Debian's openssl).
if(TARGET corvel AND TARGET skiff)
  corvel_e2e_test(NAME tls_skiff_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tls_skiff_e2e_test.cpp
    LIBS server_http
    PROGRAMS corvel skiff)
endif()
