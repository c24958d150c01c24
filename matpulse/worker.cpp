#include "worker.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <gpu_compat.h>

#include "matrices.h"
#include "params.h"
#include "verify.h"

namespace {

// Library type codes per element type.
struct GemmTypes {
  int compute, scale, ab, c;
};
constexpr GemmTypes gemm_gpu_types[kNumDataTypes] = {
    {CUDA_R_32F, CUDA_R_32F, CUDA_R_32F, CUDA_R_32F},      // FP32
    {CUDA_R_32F, CUDA_R_32F, CUDA_R_16F, CUDA_R_16F},      // FP16
    {CUDA_R_32I, CUDA_R_32F, CUDA_R_8I, CUDA_R_8I},        // INT8
    {CUDA_R_32F, CUDA_R_32F, CUDA_R_16BF, CUDA_R_16BF},    // BF16
    {CUDA_R_64F, CUDA_R_64F, CUDA_R_64F, CUDA_R_64F},      // FP64
};

// NVIDIA recommends this much for the split-K and stream-K kernels on recent GPUs.
constexpr size_t kWorkspaceBytes = 32u << 20;

// Everything one worker holds; release() frees it in any state.
struct Worker {
  bool int_path = false;  // INT8 on capability 7.0: 32-bit C, integer scale
  bool lt_product = false;  // issued through cublasLtMatmul
  GemmTypes types{};
  cublasLtHandle_t lt = nullptr;
  cublasHandle_t blas = nullptr;
  void* host[3] = {};
  void* dev[3] = {};  // A, B, C (the product is computed in place into C)
  int rows[3] = {}, cols[3] = {};  // A, B, C as uploaded
  void* workspace = nullptr;
  cublasLtMatmulAlgo_t algo{};
  cublasOperation_t op_a = CUBLAS_OP_N, op_b = CUBLAS_OP_N;
  cublasLtMatmulDesc_t desc = nullptr;
  cublasLtMatrixLayout_t layout[3] = {};
  float alpha_f = 0, beta_f = 0;
  int32_t alpha_i = 0, beta_i = 0;
  double alpha_d = 0, beta_d = 0;
  void* extra = nullptr;
  cublasStatus_t status = CUBLAS_STATUS_SUCCESS;

  void release() {
    if (lt) cublasLtDestroy(lt), lt = nullptr;
    if (blas) cublasDestroy_v2(blas), blas = nullptr;
    for (auto& l : layout)
      if (l) cublasLtMatrixLayoutDestroy(l), l = nullptr;
    if (desc) cublasLtMatmulDescDestroy(desc), desc = nullptr;
    for (auto& h : host) std::free(h), h = nullptr;
    for (auto& d : dev)
      if (d) cudaFree(d), d = nullptr;
    if (workspace) cudaFree(workspace), workspace = nullptr;
    if (extra) cudaFree(extra), extra = nullptr;
  }
};

void report_status(Worker& w, cublasStatus_t status) {
  w.release();
  std::printf("cuBLAS API failed with status %d\n", static_cast<int>(status));
}

cublasStatus_t issue_product(const Worker& w) {
  int m = static_cast<int>(gemm_m), n = static_cast<int>(gemm_n), k = static_cast<int>(gemm_k);
  switch (data_type) {
    case kBF16:
      return cublasGemmEx(w.blas, w.op_a, w.op_b, m, n, k, &w.alpha_f, w.dev[0],
                          static_cast<cudaDataType>(w.types.ab), MA.rows, w.dev[1],
                          static_cast<cudaDataType>(w.types.ab), MB.rows, &w.beta_f, w.dev[2],
                          static_cast<cudaDataType>(w.types.c), MC.rows, gpu_compute_type(w.types.compute),
                          CUBLAS_GEMM_DEFAULT);
    case kFP64:
      return cublasDgemm_v2(w.blas, w.op_a, w.op_b, m, n, k, &w.alpha_d, static_cast<const double*>(w.dev[0]),
                            MA.rows, static_cast<const double*>(w.dev[1]), MB.rows, &w.beta_d,
                            static_cast<double*>(w.dev[2]), MC.rows);
    default: {
      const void* a = w.int_path ? static_cast<const void*>(&w.alpha_i) : &w.alpha_f;
      const void* b = w.int_path ? static_cast<const void*>(&w.beta_i) : &w.beta_f;
      return cublasLtMatmul(w.lt, w.desc, a, w.dev[0], w.layout[0], w.dev[1], w.layout[1], b, w.dev[2],
                            w.layout[2], w.dev[2], w.layout[2], &w.algo, w.workspace, kWorkspaceBytes, nullptr);
    }
  }
}

// The operation flags and the uploaded shapes. INT8 goes up as A^T (K x M) and B (K x N).
void plan_layout(Worker& w) {
  const MatrixLayout* src[3] = {&MA, &MB, &MC};
  for (int i = 0; i < 3; ++i) w.rows[i] = src[i]->rows, w.cols[i] = src[i]->cols;
  w.op_a = trans_a ? CUBLAS_OP_T : CUBLAS_OP_N;
  w.op_b = trans_b ? CUBLAS_OP_T : CUBLAS_OP_N;
  if (data_type != kINT8) return;
  int m = static_cast<int>(gemm_m), n = static_cast<int>(gemm_n), k = static_cast<int>(gemm_k);
  w.op_a = CUBLAS_OP_T, w.op_b = CUBLAS_OP_N;
  w.rows[0] = k, w.cols[0] = m;
  w.rows[1] = k, w.cols[1] = n;
}

bool copy_host(Worker& w) {
  const MatrixLayout* src[3] = {&MA, &MB, &MC};
  for (int i = 0; i < 3; ++i) {
    w.host[i] = std::malloc(src[i]->bytes ? src[i]->bytes : 1);
    if (!w.host[i]) return false;
    // INT8 uploads A transposed and B as it is: a copy stored the other way round is transposed.
    bool flip = data_type == kINT8 && ((i == 0 && !trans_a) || (i == 1 && trans_b));
    if (flip)
      MatrixLayout::transpose(static_cast<int8_t*>(w.host[i]), static_cast<const int8_t*>(src[i]->data),
                              src[i]->rows, src[i]->cols);
    else
      std::memcpy(w.host[i], src[i]->data, src[i]->bytes);
  }
  return true;
}

// Device buffers and the uploads; false when an allocation fails.
bool upload(Worker& w) {
  size_t c_bytes = w.int_path ? 4 * static_cast<size_t>(MC.count) : MC.bytes;
  if (cudaMalloc(&w.dev[0], MA.bytes) != cudaSuccess || cudaMalloc(&w.dev[1], MB.bytes) != cudaSuccess ||
      cudaMalloc(&w.dev[2], c_bytes) != cudaSuccess ||
      (w.lt_product && cudaMalloc(&w.workspace, kWorkspaceBytes) != cudaSuccess))
    return false;
  cudaMemcpy(w.dev[0], w.host[0], MA.bytes, cudaMemcpyHostToDevice);
  cudaMemcpy(w.dev[1], w.host[1], MB.bytes, cudaMemcpyHostToDevice);
  if (w.int_path) {
    std::vector<int32_t> wide(static_cast<size_t>(MC.count));
    MatrixLayout::convert_data_type(wide.data(), static_cast<const int8_t*>(MC.data), wide.size());
    cudaMemcpy(w.dev[2], wide.data(), c_bytes, cudaMemcpyHostToDevice);
    cudaDeviceSynchronize();
  } else {
    cudaMemcpy(w.dev[2], w.host[2], MC.bytes, cudaMemcpyHostToDevice);
  }
  return true;
}

// The matmul descriptor and the three layouts; the status of the first failing call.
cublasStatus_t describe(Worker& w) {
  int32_t scale = w.types.scale, op_a = w.op_a, op_b = w.op_b;
  cublasStatus_t s = gpu_lt_desc_create(&w.desc, w.types.compute, w.types.scale);
  if (s == CUBLAS_STATUS_SUCCESS)
    s = cublasLtMatmulDescSetAttribute(w.desc, CUBLASLT_MATMUL_DESC_SCALE_TYPE, &scale, sizeof scale);
  if (s == CUBLAS_STATUS_SUCCESS)
    s = cublasLtMatmulDescSetAttribute(w.desc, CUBLASLT_MATMUL_DESC_TRANSA, &op_a, sizeof op_a);
  if (s == CUBLAS_STATUS_SUCCESS)
    s = cublasLtMatmulDescSetAttribute(w.desc, CUBLASLT_MATMUL_DESC_TRANSB, &op_b, sizeof op_b);
  for (int i = 0; i < 3 && s == CUBLAS_STATUS_SUCCESS; ++i)
    s = cublasLtMatrixLayoutCreate(&w.layout[i], static_cast<cudaDataType>(i < 2 ? w.types.ab : w.types.c),
                                   static_cast<uint64_t>(w.rows[i]), static_cast<uint64_t>(w.cols[i]), w.rows[i]);
  return s;
}

// The library's best algorithm for this product within the workspace, chosen once per worker.
cublasStatus_t choose_algorithm(Worker& w, int* found) {
  cublasLtMatmulPreference_t pref = nullptr;
  uint64_t max_workspace = kWorkspaceBytes;
  cublasLtMatmulHeuristicResult_t best{};
  *found = 0;
  cublasStatus_t s = cublasLtMatmulPreferenceCreate(&pref);
  if (s == CUBLAS_STATUS_SUCCESS)
    s = cublasLtMatmulPreferenceSetAttribute(pref, CUBLASLT_MATMUL_PREF_MAX_WORKSPACE_BYTES, &max_workspace,
                                             sizeof max_workspace);
  if (s == CUBLAS_STATUS_SUCCESS)
    s = cublasLtMatmulAlgoGetHeuristic(w.lt, w.desc, w.layout[0], w.layout[1], w.layout[2], w.layout[2], pref, 1,
                                       &best, found);
  if (pref) cublasLtMatmulPreferenceDestroy(pref);
  if (s == CUBLAS_STATUS_SUCCESS && *found > 0) w.algo = best.algo;
  return s;
}

// Ends the worker after a failed product: no figure comes from failed calls.
bool product_failed(Worker& w) {
  report_status(w, w.status);
  return false;
}

// Kernels report their faults only when waited for.
bool execution_failed(Worker& w, int device, cudaError_t status) {
  w.release();
  std::printf("GPU execution failed on device %d: %s\n", device, cudaGetErrorString(status));
  return false;
}

double elapsed_ms(std::chrono::steady_clock::time_point since) {
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - since);
  return static_cast<double>(ns.count()) / 1e6;
}

}  // namespace

void get_high_memory_usage(void** extra) {
  size_t free_bytes = 0, total_bytes = 0;
  if (cudaMemGetInfo(&free_bytes, &total_bytes) != cudaSuccess) return;
  for (size_t reserve = 2000000000; reserve <= total_bytes; reserve += 1000000000) {
    if (free_bytes <= reserve) break;
    if (cudaMalloc(extra, free_bytes - reserve) == cudaSuccess) return;
    *extra = nullptr;
  }
}

int check_product_fits() {
  if (data_type != kINT8 || !gpu_int8_needs_multiple_of_4() || (gemm_m % 4 == 0 && gemm_k % 4 == 0)) return 0;
  std::printf("INT8 products on this GPU need M and K to be multiples of 4 (M = %u, K = %u): choose other sizes.\n",
              gemm_m, gemm_k);
  return 1;
}

bool test_gemm_worker(int device, double* elapsed) {
  Worker w;
  cudaSetDevice(device);
  cublasStatus_t lt_status = cublasLtCreate(&w.lt);
  cublasStatus_t blas_status = cublasCreate_v2(&w.blas);
  if (lt_status != CUBLAS_STATUS_SUCCESS || blas_status != CUBLAS_STATUS_SUCCESS) {
    if (lt_status != CUBLAS_STATUS_SUCCESS) w.lt = nullptr;
    if (blas_status != CUBLAS_STATUS_SUCCESS) w.blas = nullptr;
    w.release();
    std::printf("Error: cannot init BLASLt lib. Device idx: %d\n", device);
    return false;
  }

  w.types = gemm_gpu_types[data_type];
  w.int_path = data_type == kINT8 && device_type == kCC70;
  if (w.int_path) w.types.scale = w.types.c = CUDA_R_32I;
  w.lt_product = data_type != kBF16 && data_type != kFP64;
  plan_layout(w);

  if (!copy_host(w)) {
    w.release();
    std::printf("Host memory allocation error.\n");
    return false;
  }
  if (!upload(w)) {
    w.release();
    std::printf("GPU memory allocation error.\n");
    return false;
  }
  if (cublasStatus_t s = describe(w); s != CUBLAS_STATUS_SUCCESS) return report_status(w, s), false;
  if (w.lt_product) {
    int found = 0;
    cublasStatus_t s = choose_algorithm(w, &found);
    if (s != CUBLAS_STATUS_SUCCESS || found == 0) {
      w.release();
      std::printf("cuBLASLt found no algorithm for this product on device %d (status %d).\n", device,
                  static_cast<int>(s));
      return false;
    }
  }

  w.alpha_f = alpha;
  w.beta_f = beta;
  w.alpha_i = static_cast<int32_t>(alpha);
  w.beta_i = static_cast<int32_t>(beta);
  w.alpha_d = alpha;
  w.beta_d = beta;
  if (high_memory_usage) get_high_memory_usage(&w.extra);
  w.status = CUBLAS_STATUS_SUCCESS;

  // Power phase: load only, never measured; it ends at the first failed product.
  if (duration > 0) {
    auto start = std::chrono::steady_clock::now();
    double limit = 3.6e6 * duration;
    do {
      if ((w.status = issue_product(w)) != CUBLAS_STATUS_SUCCESS) return product_failed(w);
      if (delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
    } while (elapsed_ms(start) <= limit);
  }

  w.status = issue_product(w);  // warm-up keeps one-time setup out of the timing
  cudaError_t done = cudaDeviceSynchronize();
  if (w.status != CUBLAS_STATUS_SUCCESS) return product_failed(w);
  if (done != cudaSuccess) return execution_failed(w, device, done);

  auto start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < loop_num && w.status == CUBLAS_STATUS_SUCCESS; ++i) w.status = issue_product(w);
  done = cudaDeviceSynchronize();
  double ms = elapsed_ms(start);
  if (w.status != CUBLAS_STATUS_SUCCESS) return product_failed(w);
  if (done != cudaSuccess) return execution_failed(w, device, done);
  *elapsed = ms;
  if (verify_res) verify_results(w.dev[2]);

  cublasStatus_t s = cublasLtDestroy(w.lt);
  w.lt = nullptr;
  if (s != CUBLAS_STATUS_SUCCESS) return report_status(w, s), true;
  s = cublasDestroy_v2(w.blas);
  w.blas = nullptr;
  if (s != CUBLAS_STATUS_SUCCESS) return report_status(w, s), true;
  w.release();
  return true;
}
