# Vantro protocol path: 10,000 contacts of 30 fields added in one request and sent
# back by one GetData, answered by corvel --headless, beside the store engine's own
# create and read of the same items; peak memory of the server.
if(TARGET corvel AND TARGET server_itemconv AND TARGET server_mapi AND TARGET common_wbxml)
  corvel_bench(NAME vantro_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/vantro_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/vantro_bench_util.cpp
    LIBS server_itemconv server_mapi server_config server_http common_wbxml)
  if(TARGET vantro_bench)
    add_dependencies(vantro_bench corvel corvel-store)
  endif()
endif()

# A large attachment stored by corvel-store and downloaded from corvel: times and
# peak memory of both.
if(TARGET corvel AND TARGET server_config AND TARGET common_wbxml AND TARGET corvel-store)
  corvel_bench(NAME attachment_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/attachment_bench.cpp
      ${CMAKE_CURRENT_LIST_DIR}/vantro_bench_util.cpp
    LIBS server_config server_http common_wbxml)
  if(TARGET attachment_bench)
    add_dependencies(attachment_bench corvel corvel-store)
  endif()
endif()
