# End-to-end: seeded random schedules of two-way syncs, skiff against corvel
# --headless, both sides checked against a model after every sync.
if(TARGET sync_sides)
  corvel_e2e_test(NAME sync_random_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/sync_random_test.cpp
    LIBS sync_sides
    TIMEOUT 900)
  # Further seeds in shards, so that the test command runs a few hundred
  # schedules side by side with the other tests (the release pass only: under the
  # sanitizers a schedule takes many times as long).
  set(first 13)
  foreach(shard RANGE 1 8)
    add_test(NAME sync_random_schedules_${shard}
      COMMAND sync_random_test --gtest_filter=SyncRandom.SeededSchedulesEndWithBothSidesAsTheModelSays)
    set_tests_properties(sync_random_schedules_${shard} PROPERTIES TIMEOUT 900
      ENVIRONMENT
      "CORVEL_BIN_DIR=${CMAKE_BINARY_DIR}/bin;CORVEL_SOURCE_DIR=${CMAKE_SOURCE_DIR};SYNC_RANDOM_FIRST=${first};SYNC_RANDOM_SCHEDULES=25")
    math(EXPR first "${first} + 25")
  endforeach()
endif()
