# Seeded random sync schedules by the thousand: schedules per second, failing seeds.
if(TARGET sync_sides)
  corvel_bench(NAME sync_random_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/sync_random_bench.cpp
    LIBS sync_sides)
endif()
