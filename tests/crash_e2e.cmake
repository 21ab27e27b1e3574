# End-to-end: corvel killed in the middle of a large request from skiff, started
# again, and skiff's next sync; the store inspected with corvel-store.
if(TARGET corvel AND TARGET skiff AND TARGET corvel-store AND TARGET platform_pocketoutlook)
  corvel_e2e_test(NAME crash_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/crash_e2e_test.cpp
    LIBS server_http platform_pocketoutlook
    PROGRAMS corvel skiff corvel-store)
endif()
