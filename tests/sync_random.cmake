# End-to-end: seeded random schedules of two-way syncs, skiff against corvel
# --headless, both sides checked against a model after every sync.
if(TARGET sync_sides)
  corvel_e2e_test(NAME sync_random_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/sync_random_test.cpp
    LIBS sync_sides
    TIMEOUT 900)
endif()
