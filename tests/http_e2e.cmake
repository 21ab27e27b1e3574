# End-to-end tests of build/bin/corvel --headless on free loopback ports over a
# temporary data folder, one source each:
#   http_e2e_test     requests, trace port text, signals, port conflicts;
#   load_e2e_test     idle, trickling, large and deeply nested requests; its threads
#                     and peak memory read from /proc;
#   routing_e2e_test  request routing, web files, Basic check and forwarding; users
#                     made with "corvel user add";
#   tls_e2e_test      the HTTPS listener against curl and openssl s_client (Debian's
#                     curl and openssl packages), its own certificate, unusable
#                     certificate files.
if(TARGET corvel AND TARGET server_http)
  foreach(name http_e2e_test load_e2e_test routing_e2e_test tls_e2e_test)
    corvel_e2e_test(NAME ${name}
      SOURCES ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp
      LIBS server_http
      PROGRAMS corvel)
  endforeach()
endif()
