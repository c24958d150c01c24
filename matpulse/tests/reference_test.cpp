// The blocked, threaded reference against a naive in-order sum, for every element type, every
// kernel this machine runs, edge shapes, leading dimensions and thread counts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "conversions.h"
#include "reference.h"
#include "test_params.h"

namespace {

// A column-major matrix of one element type with a leading dimension larger than its rows.
struct Stored {
  uint32_t type;
  int rows, cols, ld;
  std::vector<unsigned char> bytes;

  double at(int r, int c) const {
    size_t i = static_cast<size_t>(r) + static_cast<size_t>(ld) * c;
    switch (type) {
      case kFP32: return to_double(reinterpret_cast<const float*>(bytes.data())[i]);
      case kFP16: return to_double(reinterpret_cast<const half_t*>(bytes.data())[i]);
      case kINT8: return to_double(reinterpret_cast<const int8_t*>(bytes.data())[i]);
      case kBF16: return to_double(reinterpret_cast<const bf16_t*>(bytes.data())[i]);
      default: return reinterpret_cast<const double*>(bytes.data())[i];
    }
  }
  RefOperand operand() const { return {type, bytes.data(), 1, ld}; }
};

Stored random_matrix(uint32_t type, int rows, int cols, std::mt19937& gen) {
  Stored m{type, rows, cols, rows + 3, {}};
  size_t count = static_cast<size_t>(m.ld) * std::max(cols, 1);
  m.bytes.resize(count * type_sizes[type]);
  std::uniform_real_distribution<double> dist(-4.0, 4.0);
  for (size_t i = 0; i < count; ++i) {
    double v = dist(gen);
    unsigned char* p = m.bytes.data() + i * type_sizes[type];
    switch (type) {
      case kFP32: *reinterpret_cast<float*>(p) = static_cast<float>(v); break;
      case kFP16: reinterpret_cast<half_t*>(p)->bits = matpulse::float_to_half(static_cast<float>(v)); break;
      case kINT8: *reinterpret_cast<int8_t*>(p) = static_cast<int8_t>(v * 30); break;
      case kBF16: reinterpret_cast<bf16_t*>(p)->bits = matpulse::double_to_bf16(v); break;
      default: *reinterpret_cast<double*>(p) = v;
    }
  }
  return m;
}

// The previous reference, one element at a time: fused multiply-adds in increasing k from 0.
std::vector<double> naive(const Stored& a, const Stored& b, const Stored& c) {
  std::vector<double> out(static_cast<size_t>(a.rows) * b.cols);
  for (int n = 0; n < b.cols; ++n)
    for (int m = 0; m < a.rows; ++m) {
      double sum = 0.0;
      for (int k = 0; k < a.cols; ++k) sum = std::fma(a.at(m, k), b.at(k, n), sum);
      double v = static_cast<double>(alpha) * sum + static_cast<double>(beta) * c.at(m, n);
      if (data_type == kINT8) {
        float r = rintf(static_cast<float>(v));
        v = r > 127.0f ? 127.0 : r < -128.0 ? -128.0 : r;
      }
      out[m + static_cast<size_t>(a.rows) * n] = v;
    }
  return out;
}

class Reference : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_params();
    alpha = 1.5f;
    beta = -0.75f;
  }
};

TEST_F(Reference, EqualsTheInOrderSumForEveryTypeKernelShapeAndThreadCount) {
  struct Shape {
    int m, n, k;
  };
  // Partial tiles, several k blocks, several column blocks, an empty depth.
  const Shape shapes[] = {{1, 1, 1}, {50, 19, 777}, {25, 9, 385}, {3, 4100, 5}, {7, 5, 0}};
  std::mt19937 gen(7);
  for (uint32_t type : {kFP32, kFP16, kINT8, kBF16, kFP64}) {
    data_type = type;
    for (const Shape& s : shapes) {
      Stored a = random_matrix(type, s.m, s.k, gen), b = random_matrix(type, s.k, s.n, gen),
             c = random_matrix(type, s.m, s.n, gen);
      std::vector<double> expected = naive(a, b, c);
      for (RefKernel kernel : {RefKernel::kPortable, RefKernel::kAvx2, RefKernel::kAvx512}) {
        if (!ref_kernel_available(kernel)) continue;
        for (int threads : {1, 2, 3, s.m + 2}) {
          const int ldo = s.m + 1;
          std::vector<double> out(static_cast<size_t>(ldo) * s.n, -1.0);
          reference_product(s.m, s.n, s.k, a.operand(), b.operand(), c.operand(), out.data(), ldo, threads, kernel);
          int bad = 0;
          for (int n = 0; n < s.n; ++n)
            for (int m = 0; m < s.m; ++m)
              bad += out[m + static_cast<size_t>(ldo) * n] != expected[m + static_cast<size_t>(s.m) * n];
          for (int n = 0; n < s.n; ++n) bad += out[s.m + static_cast<size_t>(ldo) * n] != -1.0;  // padding untouched
          EXPECT_EQ(bad, 0) << "type " << type << ", " << s.m << "x" << s.n << "x" << s.k << ", kernel "
                            << static_cast<int>(kernel) << ", " << threads << " threads";
        }
      }
    }
  }
}

}  // namespace
