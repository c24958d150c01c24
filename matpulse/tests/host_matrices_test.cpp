// The host side of a run: the multi-threaded fill, the layouts and the reference product.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "conversions.h"
#include "fill.h"
#include "matrices.h"
#include "reference.h"
#include "test_params.h"

namespace {

class HostMatrices : public ::testing::Test {
 protected:
  void SetUp() override { reset_params(); }
  void TearDown() override { deconstruct_host_matrixes(); }
};

// Fills `count` elements of the current data_type and returns them as doubles.
std::vector<double> fill_values(unsigned count) {
  MatrixLayout m;
  EXPECT_TRUE(m.construct(data_type, static_cast<int>(count), 1));
  fill_matrix(m.data, count);
  std::vector<double> out(count);
  m.get_FP64_format(out.data());
  m.deconstruct();
  return out;
}

TEST_F(HostMatrices, FillRangesPerTypeAndOption) {
  struct Case {
    uint32_t type;
    bool neg, nd;
    float limit;
    uint32_t dev;
    double lo, hi;  // every value in [lo, hi]
    bool integral;
    const char* what;
  };
  const double lo01 = static_cast<double>(0.1f);
  const Case cases[] = {
      {kFP32, false, false, 0, kOtherCC, lo01, 4.0, false, "FP32 default"},
      {kFP32, true, false, 0, kOtherCC, -4.0, 4.0, false, "FP32 --neg"},
      {kFP64, false, false, 0, kOtherCC, lo01, 4.0, false, "FP64 default"},
      {kBF16, true, false, 0, kOtherCC, -4.0, 4.0, false, "BF16 --neg"},
      {kFP16, true, false, 10, kOtherCC, -10.0, 10.0, false, "FP16 --limit 10 --neg"},
      {kFP32, false, false, 0.5f, kOtherCC, 0.5, 1.0, false, "--limit 0.5: between 0.5 and 1"},
      {kINT8, false, false, 0, kOtherCC, 1, 126, true, "INT8 default"},
      {kINT8, true, false, 0, kOtherCC, -128, 126, true, "INT8 --neg"},
      {kINT8, false, true, 0, kOtherCC, -128, 127, true, "INT8 --nd"},
      {kINT8, false, false, 1000, kOtherCC, 1, 127, true, "INT8 --limit 1000 saturates"},
      {kFP32, false, false, 0, kCC71, 0, 0, true, "capability 7.1: zeros"},
      {kBF16, true, false, 0, kCC71, 0, 0, true, "capability 7.1 --neg: zeros"},
      {kFP16, false, false, 3, kCC71, 1, 3, false, "capability 7.1 with --limit: uniform"},
      {kINT8, false, true, 0, kCC71, -128, 127, true, "capability 7.1 INT8 --nd: normal"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset_params();
    data_type = c.type;
    allow_neg = c.neg;
    normal_dis = c.nd;
    limit_val = c.limit;
    device_type = c.dev;
    std::vector<double> v = fill_values(20000);
    std::set<double> distinct(v.begin(), v.end());
    for (double x : v) {
      ASSERT_GE(x, c.lo);
      ASSERT_LE(x, c.hi);
      if (c.integral) {
        ASSERT_EQ(x, std::trunc(x));
      }
    }
    if (c.lo != c.hi) {
      EXPECT_GT(distinct.size(), 1u);
    }
  }
}

TEST_F(HostMatrices, FillTypesRoundTheirDraws) {
  data_type = kFP16;
  for (double x : fill_values(5000)) ASSERT_EQ(matpulse::half_to_float(matpulse::float_to_half(static_cast<float>(x))), x);
  data_type = kBF16;
  for (double x : fill_values(5000)) ASSERT_EQ(matpulse::bf16_to_float(matpulse::double_to_bf16(x)), x);
  data_type = kINT8;
  normal_dis = true;
  std::vector<double> v = fill_values(50000);
  double mean = 0, var = 0;
  for (double x : v) mean += x / v.size();
  for (double x : v) var += (x - mean) * (x - mean) / v.size();
  EXPECT_NEAR(mean, 0.0, 2.0);
  EXPECT_NEAR(std::sqrt(var), 51.0, 3.0);  // slightly less after clamping
}

TEST_F(HostMatrices, SurplusFillThreadsWriteNothing) {
  nthreads = 8;
  data_type = kFP32;
  for (unsigned count : {0u, 1u, 3u, 9u}) {
    std::vector<float> buf(count + 8, -1.0f);
    fill_matrix(buf.data(), count);
    for (unsigned i = 0; i < count; ++i) EXPECT_GE(buf[i], 0.1f) << count;
    for (unsigned i = count; i < buf.size(); ++i) EXPECT_EQ(buf[i], -1.0f) << count;
  }
}

TEST_F(HostMatrices, WorkerIsReproducibleFromItsSeed) {
  for (uint32_t type : {kFP32, kFP16, kINT8, kBF16, kFP64}) {
    data_type = type;
    std::vector<unsigned char> a(1000 * 8), b(1000 * 8), c(1000 * 8);
    fill_matrix_worker(a.data(), 10, 500, 42);
    fill_matrix_worker(b.data(), 10, 500, 42);
    fill_matrix_worker(c.data(), 10, 500, 43);
    EXPECT_EQ(a, b) << type;
    EXPECT_NE(a, c) << type;
  }
}

TEST_F(HostMatrices, PrepareTransposesAAfterTheReferenceReadItUntransposed) {
  gemm_m = 5;
  gemm_n = 3;
  gemm_k = 4;
  trans_a = true;
  verify_res = true;
  ASSERT_TRUE(prepare_matrix());
  EXPECT_EQ(MA.rows, 4);
  EXPECT_EQ(MA.cols, 5);
  EXPECT_EQ(MB.rows, 4);  // B untouched
  const float* at = static_cast<const float*>(MA.data);  // A^T: (k, m) at k + 4 * m
  const float* b = static_cast<const float*>(MB.data);
  const float* c = static_cast<const float*>(MC.data);
  const double* fc = static_cast<const double*>(FC.data);
  for (int n = 0; n < 3; ++n)
    for (int m = 0; m < 5; ++m) {
      double sum = 0.0;
      for (int k = 0; k < 4; ++k) sum = std::fma(at[k + 4 * m], b[k + 4 * n], sum);
      EXPECT_EQ(fc[m + 5 * n], double{alpha} * sum + double{beta} * c[m + 5 * n]) << m << ", " << n;
    }
}

// Reference of the run checked against a plain in-order sum; integral inputs keep every
// product and sum exact, so the comparison is exact whatever kernel runs.
TEST_F(HostMatrices, ReferenceMatchesInOrderSumForEveryThreadSplit) {
  const int rows = 37, cols = 29, depth = 300;
  std::vector<double> a(rows * depth), b(depth * cols), c0(rows * cols);
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<double>(i * 7 % 13) - 6;
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<double>(i * 5 % 11) - 5;
  for (size_t i = 0; i < c0.size(); ++i) c0[i] = static_cast<double>(i % 3);
  alpha = 2.0f;
  beta = 0.5f;
  std::vector<double> expected(c0.size());
  for (int n = 0; n < cols; ++n)
    for (int m = 0; m < rows; ++m) {
      double sum = 0;
      for (int k = 0; k < depth; ++k) sum += a[m * depth + k] * b[n * depth + k];
      expected[m + rows * n] = 2.0 * sum + 0.5 * c0[m + rows * n];
    }
  for (int threads : {1, 2, 3, 7, 64, rows * cols + 5}) {
    nthreads = threads;
    std::vector<double> c = c0;
    mul_thread_res(rows, cols, depth, a.data(), depth, b.data(), depth, c.data(), rows);
    EXPECT_EQ(c, expected) << threads << " threads";
  }
}

TEST_F(HostMatrices, ReferenceOfInt8Saturates) {
  data_type = kINT8;
  const double a[] = {100, 100, -100, -100};  // row-major 2 x 2
  const double b[] = {1, 0.3, 1, 0.3};        // column-major 2 x 2
  double c[] = {0, 0, 0, 0};
  mul_thread_res(2, 2, 2, a, 2, b, 2, c, 2);
  EXPECT_EQ(c[0], 127);   // 130
  EXPECT_EQ(c[1], -128);  // -130
}

}  // namespace
