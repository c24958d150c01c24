# Peers of matpulse and xferclock on a real GPU (scripts/gpu_check.sh runs them beside the
# programs): bare cuBLASLt and cudaMemcpyAsync loops, built only against the CUDA toolkit.
if(QUELVAN_REAL_GPU)
  add_executable(gemm_peer ${CMAKE_CURRENT_LIST_DIR}/gemm_peer.cpp)
  target_link_libraries(gemm_peer PRIVATE CUDA::cudart CUDA::cublasLt)
  add_executable(memcpy_peer ${CMAKE_CURRENT_LIST_DIR}/memcpy_peer.cpp)
  target_link_libraries(memcpy_peer PRIVATE CUDA::cudart)
endif()
