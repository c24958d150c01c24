#include "verify.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include <cuda_runtime.h>

#include "conversions.h"
#include "matrices.h"
#include "params.h"

namespace {

double tolerance() {
  switch (data_type) {
    case kBF16: return 0.01;
    case kINT8: return 0.0;
    default: return 0.001;
  }
}

// The largest finite value of each floating element type.
template <typename T>
double largest_finite() {
  if constexpr (std::is_same_v<T, half_t>)
    return 65504.0;
  else if constexpr (std::is_same_v<T, bf16_t>)
    return 3.3895313892515355e38;
  else
    return std::numeric_limits<T>::max();
}

template <typename T>
bool verify_and_print(const void* gpu_c) {
  const T* gpu = static_cast<const T*>(gpu_c);
  if (print_mat) pirntMatrices(gpu);
  return verify_matrix(gpu, static_cast<const double*>(FC.data), static_cast<int>(gemm_m), static_cast<int>(gemm_n));
}

}  // namespace

template <typename T>
bool verify_matrix(const T* gpu, const double* ref, int rows, int cols) {
  bool pass = true;
  bool overflow = false;  // a value beyond the element type's range
  const double tol = tolerance();
  for (int i = 0; i < cols; ++i) {
    for (int j = 0; j < rows; ++j) {
      int idx = j + rows * i;
      double r = ref[idx];
      if constexpr (std::is_same_v<T, int8_t>) {
        if (gpu[idx] != static_cast<int>(r)) {
          std::printf("Error: result[%d, %d] = %d, but  ref[%d, %d] = %d   idx=%d\n", j + 1, i + 1, gpu[idx], j + 1,
                      i + 1, static_cast<int>(r), idx);
          pass = false;
        }
      } else {
        double g = to_double(gpu[idx]);
        double d = std::fabs(g) > 1 ? g : 1.0;
        // A comparison with NaN is false: an infinite or NaN result must fail by itself.
        bool lost = !std::isfinite(g) && std::isfinite(r);
        if (!std::isfinite(g) || std::fabs(r) > largest_finite<T>()) overflow = true;
        if (lost || std::fabs((g - r) / d) > tol) {
          std::printf("Error: result[%d, %d] = %f, but  ref[%d, %d] = %f   idx=%d\n", j + 1, i + 1, g, j + 1, i + 1, r,
                      idx);
          pass = false;
        }
      }
    }
  }
  if (!pass && overflow)
    std::printf("The results overflow %s (largest finite value %g): use --limit to choose a smaller input range.\n",
                data_type_str[data_type], largest_finite<T>());
  std::printf(pass ? "PASS!\n" : "FAIL!\n");
  return pass;
}

template <typename T>
void printMatrix_Intx(const char* name, const T* data, int rows, int cols, int ld) {
  std::string text = std::string(name) + " =\n";
  char cell[64];
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      const T& v = data[r + static_cast<size_t>(ld) * c];
      if constexpr (std::is_same_v<T, int8_t>)
        std::snprintf(cell, sizeof cell, " %4d", v);
      else
        std::snprintf(cell, sizeof cell, " %7.3f", to_double(v));
      text += cell;
    }
    text += "\n";
  }
  std::fputs(text.c_str(), stdout);
}

template <typename T>
void pirntMatrices(const T* gpu_c) {
  printMatrix_Intx("A", static_cast<const T*>(MA.data), MA.rows, MA.cols, MA.rows);
  printMatrix_Intx("B", static_cast<const T*>(MB.data), MB.rows, MB.cols, MB.rows);
  int m = static_cast<int>(gemm_m), n = static_cast<int>(gemm_n);
  printMatrix_Intx("gemm_C_gpu", gpu_c, m, n, m);
  printMatrix_Intx("gemm_C_cpu", static_cast<const double*>(FC.data), m, n, m);
}

#define MATPULSE_VERIFY_TYPES(T)                                             \
  template bool verify_matrix<T>(const T*, const double*, int, int);       \
  template void pirntMatrices<T>(const T*);                                 \
  template void printMatrix_Intx<T>(const char*, const T*, int, int, int);
MATPULSE_VERIFY_TYPES(float)
MATPULSE_VERIFY_TYPES(half_t)
MATPULSE_VERIFY_TYPES(int8_t)
MATPULSE_VERIFY_TYPES(bf16_t)
MATPULSE_VERIFY_TYPES(double)
#undef MATPULSE_VERIFY_TYPES

void verify_results(void* device_c) {
  std::vector<unsigned char> result(MC.bytes ? MC.bytes : 1);
  cudaError_t copied;
  if (data_type == kINT8 && device_type == kCC70) {
    std::vector<int32_t> wide(static_cast<size_t>(MC.count));
    copied = cudaMemcpy(wide.data(), device_c, wide.size() * sizeof(int32_t), cudaMemcpyDeviceToHost);
    if (copied == cudaSuccess) copied = cudaDeviceSynchronize();
    int8_t* narrow = reinterpret_cast<int8_t*>(result.data());
    for (size_t i = 0; i < wide.size(); ++i)
      narrow[i] = static_cast<int8_t>(wide[i] > 127 ? 127 : wide[i] < -128 ? -128 : wide[i]);
  } else {
    copied = cudaMemcpy(result.data(), device_c, MC.bytes, cudaMemcpyDeviceToHost);
    if (copied == cudaSuccess) copied = cudaDeviceSynchronize();
  }
  // Comparing a buffer the copy never filled would list every element as a mismatch.
  if (copied != cudaSuccess) {
    std::printf("Cannot copy the result from the GPU: %s\nFAIL!\n", cudaGetErrorString(copied));
    return;
  }
  switch (data_type) {
    case kFP32: verify_and_print<float>(result.data()); break;
    case kFP16: verify_and_print<half_t>(result.data()); break;
    case kINT8: verify_and_print<int8_t>(result.data()); break;
    case kBF16: verify_and_print<bf16_t>(result.data()); break;
    case kFP64: verify_and_print<double>(result.data()); break;
  }
}
