# Skiff: building the request, walking the answer (keys, items, deletions), the change scan and a whole run
# over loopback for 5,000 contacts.
if(TARGET client)
  corvel_bench(NAME client_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/client_bench.cpp
    LIBS client)
endif()
