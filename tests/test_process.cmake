# The child process and loopback helpers of the end-to-end tests.
if(TARGET server_http)
  corvel_tests(NAME test_process_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_process_test.cpp
    LIBS server_http)
endif()
