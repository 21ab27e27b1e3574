# Item conversion over a real store: MessageToXML and XMLtoMessage for 10,000
# contacts of 30 fields, beside the engine's own bulk create and read of the same
# items.
if(TARGET server_itemconv AND TARGET server_mapi)
  corvel_bench(NAME items_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/items_bench.cpp
    LIBS server_itemconv)
endif()
