#include "worker.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gpu_compat.h>

#include "matrices.h"
#include "params.h"
#include "results.h"
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

// Everything one worker holds; release() frees it in any state.
struct Worker {
  bool int_path = false;  // INT8 on capability 7.0: 32-bit C, integer scale
  GemmTypes types{};
  cublasLtHandle_t lt = nullptr;
  cublasHandle_t blas = nullptr;
  void* host[3] = {};
  void* dev[3] = {};  // A, B, C (the product is computed in place into C)
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
    if (extra) cudaFree(extra), extra = nullptr;
  }
};

void report_status(Worker& w, cublasStatus_t status, WorkerOutcome* outcome) {
  w.release();
  std::printf("cuBLAS API failed with status %d\n", static_cast<int>(status));
  if (outcome) outcome->error = "cuBLAS API failed with status " + std::to_string(static_cast<int>(status));
}

void report_error(Worker& w, const std::string& message, WorkerOutcome* outcome) {
  w.release();
  std::printf("%s\n", message.c_str());
  if (outcome) outcome->error = message;
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
                            w.layout[2], w.dev[2], w.layout[2], nullptr, nullptr, 0, nullptr);
    }
  }
}

bool copy_host(Worker& w) {
  const MatrixLayout* src[3] = {&MA, &MB, &MC};
  for (int i = 0; i < 3; ++i) {
    w.host[i] = std::malloc(src[i]->bytes ? src[i]->bytes : 1);
    if (!w.host[i]) return false;
    std::memcpy(w.host[i], src[i]->data, src[i]->bytes);
  }
  return true;
}

// Device buffers and the uploads; false when an allocation fails.
bool upload(Worker& w) {
  size_t c_bytes = w.int_path ? 4 * static_cast<size_t>(MC.count) : MC.bytes;
  if (cudaMalloc(&w.dev[0], MA.bytes) != cudaSuccess || cudaMalloc(&w.dev[1], MB.bytes) != cudaSuccess ||
      cudaMalloc(&w.dev[2], c_bytes) != cudaSuccess)
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
  const MatrixLayout* src[3] = {&MA, &MB, &MC};
  for (int i = 0; i < 3 && s == CUBLAS_STATUS_SUCCESS; ++i)
    s = cublasLtMatrixLayoutCreate(&w.layout[i], static_cast<cudaDataType>(i < 2 ? w.types.ab : w.types.c),
                                   static_cast<uint64_t>(src[i]->rows), static_cast<uint64_t>(src[i]->cols),
                                   src[i]->rows);
  return s;
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

void test_gemm_worker(int device, double* elapsed, WorkerOutcome* outcome) {
  Worker w;
  cudaSetDevice(device);
  cublasStatus_t lt_status = cublasLtCreate(&w.lt);
  cublasStatus_t blas_status = cublasCreate_v2(&w.blas);
  if (lt_status != CUBLAS_STATUS_SUCCESS || blas_status != CUBLAS_STATUS_SUCCESS) {
    if (lt_status != CUBLAS_STATUS_SUCCESS) w.lt = nullptr;
    if (blas_status != CUBLAS_STATUS_SUCCESS) w.blas = nullptr;
    return report_error(w, "Error: cannot init BLASLt lib. Device idx: " + std::to_string(device), outcome);
  }

  w.types = gemm_gpu_types[data_type];
  w.int_path = data_type == kINT8 && device_type == kCC70;
  if (w.int_path) w.types.scale = w.types.c = CUDA_R_32I;
  w.op_a = trans_a ? CUBLAS_OP_T : CUBLAS_OP_N;
  w.op_b = trans_b ? CUBLAS_OP_T : CUBLAS_OP_N;

  if (!copy_host(w)) return report_error(w, "Host memory allocation error.", outcome);
  if (!upload(w)) return report_error(w, "GPU memory allocation error.", outcome);
  if (cublasStatus_t s = describe(w); s != CUBLAS_STATUS_SUCCESS) return report_status(w, s, outcome);

  w.alpha_f = alpha;
  w.beta_f = beta;
  w.alpha_i = static_cast<int32_t>(alpha);
  w.beta_i = static_cast<int32_t>(beta);
  w.alpha_d = alpha;
  w.beta_d = beta;
  if (high_memory_usage) get_high_memory_usage(&w.extra);
  w.status = CUBLAS_STATUS_SUCCESS;

  // Power phase: load only, never measured.
  if (duration > 0) {
    auto start = std::chrono::steady_clock::now();
    double limit = 3.6e6 * duration;
    do {
      w.status = issue_product(w);
      if (delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
    } while (elapsed_ms(start) <= limit);
  }

  w.status = issue_product(w);  // warm-up keeps one-time setup out of the timing
  cudaDeviceSynchronize();

  auto start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < loop_num; ++i) w.status = issue_product(w);
  cudaDeviceSynchronize();
  *elapsed = elapsed_ms(start);

  if (w.status != CUBLAS_STATUS_SUCCESS) return report_status(w, w.status, outcome);
  if (outcome) outcome->measured = true;
  if (verify_res) {
    const bool pass = verify_results(w.dev[2]);
    if (outcome) outcome->verified = pass;
  }

  cublasStatus_t s = cublasLtDestroy(w.lt);
  w.lt = nullptr;
  if (s != CUBLAS_STATUS_SUCCESS) return report_status(w, s, outcome);
  s = cublasDestroy_v2(w.blas);
  w.blas = nullptr;
  if (s != CUBLAS_STATUS_SUCCESS) return report_status(w, s, outcome);
  w.release();
}
