# matpulse's host work: the double-precision reference against OpenBLAS dgemm on the same
# sizes and threads, and the fill against a bare loop of the same generator and distribution.
if(TARGET matpulse_core_sim)
  find_library(MATPULSE_OPENBLAS_LIB NAMES openblas REQUIRED)
  find_path(MATPULSE_CBLAS_INCLUDE cblas.h PATH_SUFFIXES openblas-pthread openblas REQUIRED)
  add_executable(matpulse_reference_bench ${CMAKE_CURRENT_LIST_DIR}/matpulse_reference_bench.cpp)
  target_link_libraries(matpulse_reference_bench PRIVATE matpulse_core_sim ${MATPULSE_OPENBLAS_LIB})
  target_include_directories(matpulse_reference_bench SYSTEM PRIVATE ${MATPULSE_CBLAS_INCLUDE})
  add_executable(matpulse_fill_bench ${CMAKE_CURRENT_LIST_DIR}/matpulse_fill_bench.cpp)
  target_link_libraries(matpulse_fill_bench PRIVATE matpulse_core_sim)
endif()
