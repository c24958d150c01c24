#include "matrix_layout.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <type_traits>
#include <utility>

#include "conversions.h"
#include "params.h"

bool matrix_count_fits(uint64_t rows, uint64_t cols) {
  return rows <= INT_MAX && cols <= INT_MAX && rows * cols <= static_cast<uint64_t>(INT_MAX);
}

bool MatrixLayout::construct(uint32_t type_, int rows_, int cols_) {
  if (rows_ < 0 || cols_ < 0 || !matrix_count_fits(rows_, cols_) || type_ >= kNumDataTypes) return false;
  type = type_;
  rows = rows_;
  cols = cols_;
  count = rows_ * cols_;
  bytes = static_cast<size_t>(count) * type_sizes[type_];
  data = std::malloc(bytes ? bytes : 1);
  return data != nullptr;
}

void MatrixLayout::deconstruct() {
  std::free(data);
  data = nullptr;
}

template <typename T>
void MatrixLayout::transpose(T* dst, const T* src, int rows, int cols) {
  // Tiled so that both sides stay in cache for the default sizes' hundreds of megabytes.
  constexpr int kTile = 64;
  for (int c0 = 0; c0 < cols; c0 += kTile)
    for (int r0 = 0; r0 < rows; r0 += kTile)
      for (int c = c0; c < std::min(c0 + kTile, cols); ++c)
        for (int r = r0; r < std::min(r0 + kTile, rows); ++r)
          dst[c + static_cast<size_t>(cols) * r] = src[r + static_cast<size_t>(rows) * c];
}

template <typename Dst, typename Src>
void MatrixLayout::convert_data_type(Dst* dst, const Src* src, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if constexpr (std::is_same_v<Dst, double>)
      dst[i] = to_double(src[i]);
    else
      dst[i] = static_cast<Dst>(src[i]);
  }
}

template void MatrixLayout::transpose<float>(float*, const float*, int, int);
template void MatrixLayout::transpose<half_t>(half_t*, const half_t*, int, int);
template void MatrixLayout::transpose<int8_t>(int8_t*, const int8_t*, int, int);
template void MatrixLayout::transpose<bf16_t>(bf16_t*, const bf16_t*, int, int);
template void MatrixLayout::transpose<double>(double*, const double*, int, int);
template void MatrixLayout::convert_data_type<double, float>(double*, const float*, size_t);
template void MatrixLayout::convert_data_type<double, half_t>(double*, const half_t*, size_t);
template void MatrixLayout::convert_data_type<double, int8_t>(double*, const int8_t*, size_t);
template void MatrixLayout::convert_data_type<double, bf16_t>(double*, const bf16_t*, size_t);
template void MatrixLayout::convert_data_type<double, double>(double*, const double*, size_t);
template void MatrixLayout::convert_data_type<int32_t, int8_t>(int32_t*, const int8_t*, size_t);

void MatrixLayout::get_FP64_format(double* dst) const {
  switch (type) {
    case kFP32: convert_data_type(dst, static_cast<const float*>(data), count); break;
    case kFP16: convert_data_type(dst, static_cast<const half_t*>(data), count); break;
    case kINT8: convert_data_type(dst, static_cast<const int8_t*>(data), count); break;
    case kBF16: convert_data_type(dst, static_cast<const bf16_t*>(data), count); break;
    case kFP64: convert_data_type(dst, static_cast<const double*>(data), count); break;
  }
}

bool MatrixLayout::transpose_matrix() {
  void* fresh = std::malloc(bytes ? bytes : 1);
  if (!fresh) return false;
  switch (type) {
    case kFP32: transpose(static_cast<float*>(fresh), static_cast<const float*>(data), rows, cols); break;
    case kFP16: transpose(static_cast<half_t*>(fresh), static_cast<const half_t*>(data), rows, cols); break;
    case kINT8: transpose(static_cast<int8_t*>(fresh), static_cast<const int8_t*>(data), rows, cols); break;
    case kBF16: transpose(static_cast<bf16_t*>(fresh), static_cast<const bf16_t*>(data), rows, cols); break;
    case kFP64: transpose(static_cast<double*>(fresh), static_cast<const double*>(data), rows, cols); break;
  }
  std::swap(rows, cols);
  std::free(data);
  data = fresh;
  return true;
}
