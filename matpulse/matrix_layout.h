// One host matrix, column-major: element (r, c) is element r + rows * c of the buffer.
#pragma once

#include <cstddef>
#include <cstdint>

class MatrixLayout {
 public:
  int rows = 0;
  int cols = 0;
  int count = 0;
  void* data = nullptr;  // owned; C allocator
  size_t bytes = 0;
  uint32_t type = 0;

  // Allocates rows x cols elements of `type` (contents undefined); false when the allocation
  // fails or the element count does not fit a signed 32-bit integer.
  bool construct(uint32_t type, int rows, int cols);
  void deconstruct();

  void get_FP64_format(double* dst) const;
  // Replaces the buffer; false (matrix unchanged) when the new buffer cannot be allocated.
  bool transpose_matrix();

  // dst[c + cols * r] = src[r + rows * c]
  template <typename T>
  static void transpose(T* dst, const T* src, int rows, int cols);
  template <typename Dst, typename Src>
  static void convert_data_type(Dst* dst, const Src* src, size_t count);
};

// True when rows x cols elements fit a signed 32-bit count.
bool matrix_count_fits(uint64_t rows, uint64_t cols);
