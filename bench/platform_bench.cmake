# Emulated GEMM through the platform against the same OpenBLAS call made directly.
if(TARGET quelvan_sim_gpu)
  add_executable(platform_gemm_bench ${CMAKE_CURRENT_LIST_DIR}/platform_gemm_bench.cpp)
  target_link_libraries(platform_gemm_bench PRIVATE quelvan_sim_gpu ${QUELVAN_OPENBLAS_LIB})
  target_include_directories(platform_gemm_bench SYSTEM PRIVATE ${QUELVAN_CBLAS_INCLUDE})
endif()
