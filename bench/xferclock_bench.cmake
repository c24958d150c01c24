# xferclock's reported 4 KiB latency on the emulated platform against a bare memcpy loop.
if(TARGET quelvan_sim_gpu AND TARGET xferclock_options)
  add_executable(xferclock_bench ${CMAKE_CURRENT_LIST_DIR}/xferclock_bench.cpp
                 ${CMAKE_SOURCE_DIR}/xferclock/xferclock.cpp)
  target_include_directories(xferclock_bench PRIVATE ${CMAKE_SOURCE_DIR}/xferclock)
  target_link_libraries(xferclock_bench PRIVATE quelvan_sim_gpu)
endif()
