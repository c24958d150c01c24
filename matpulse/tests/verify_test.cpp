// The comparison with the reference and the matrix printing.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "conversions.h"
#include "test_params.h"
#include "verify.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

TEST(VerifyMatrix, TolerancesPerType) {
  struct Case {
    uint32_t type;
    double gpu, ref;
    bool pass;
    const char* what;
  };
  const Case cases[] = {
      {kFP32, 2.0005, 2.0, true, "relative to the GPU value above 1"},
      {kFP32, 0.5, 0.4985, false, "absolute below 1"},
      {kFP32, 0.5, 0.4995, true, "absolute below 1, within"},
      {kFP64, -3000.0, -3002.0, true, "relative, negative"},
      {kFP64, 3000.0, 3004.0, false, "relative, beyond"},
      {kBF16, 200.0, 201.0, true, "bfloat16 0.5 percent"},
      {kBF16, 200.0, 204.0, false, "bfloat16 2 percent"},
      {kFP16, 1.0, 1.0009, true, "half within"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset_params();
    data_type = c.type;
    CaptureStdout();
    bool pass = false;
    if (c.type == kFP32) {
      float g = static_cast<float>(c.gpu);
      pass = verify_matrix(&g, &c.ref, 1, 1);
    } else if (c.type == kFP64) {
      pass = verify_matrix(&c.gpu, &c.ref, 1, 1);
    } else if (c.type == kBF16) {
      bf16_t g{matpulse::double_to_bf16(c.gpu)};
      pass = verify_matrix(&g, &c.ref, 1, 1);
    } else {
      half_t g{matpulse::float_to_half(static_cast<float>(c.gpu))};
      pass = verify_matrix(&g, &c.ref, 1, 1);
    }
    std::string out = GetCapturedStdout();
    EXPECT_EQ(pass, c.pass);
    EXPECT_EQ(out.substr(out.size() - 6), c.pass ? "PASS!\n" : "FAIL!\n");
  }
}

TEST(VerifyMatrix, EveryMismatchIsPrintedWithOneBasedPositions) {
  reset_params();
  const float gpu[] = {1, 2, 3, 4, 5, 6};            // 2 x 3, column-major
  const double ref[] = {1, 2.5, 3, 4, 5, 9};
  CaptureStdout();
  EXPECT_FALSE(verify_matrix(gpu, ref, 2, 3));
  EXPECT_EQ(GetCapturedStdout(),
            "Error: result[2, 1] = 2.000000, but  ref[2, 1] = 2.500000   idx=1\n"
            "Error: result[2, 3] = 6.000000, but  ref[2, 3] = 9.000000   idx=5\n"
            "FAIL!\n");
}

TEST(VerifyMatrix, Int8IsExactAgainstTheSaturatedReference) {
  reset_params();
  data_type = kINT8;
  const int8_t gpu[] = {127, -128, 5, 6};
  const double ref[] = {127, -128, 5, 7};  // the reference of 130.7 is stored saturated
  CaptureStdout();
  EXPECT_FALSE(verify_matrix(gpu, ref, 2, 2));
  EXPECT_EQ(GetCapturedStdout(), "Error: result[2, 2] = 6, but  ref[2, 2] = 7   idx=3\nFAIL!\n");
}

TEST(PrintMatrix, FormatsByElementType) {
  const float f[] = {1, 2, 3, 4, 5, 6};  // 2 x 3 stored with leading dimension 2
  CaptureStdout();
  printMatrix_Intx("A", f, 2, 3, 2);
  EXPECT_EQ(GetCapturedStdout(), "A =\n   1.000   3.000   5.000\n   2.000   4.000   6.000\n");
  const int8_t b[] = {-1, 2, 99, 4};
  CaptureStdout();
  printMatrix_Intx("B", b, 1, 2, 2);  // first row only
  EXPECT_EQ(GetCapturedStdout(), "B =\n   -1   99\n");
  const half_t h[] = {{0x3c00}, {0xc000}};
  CaptureStdout();
  printMatrix_Intx("gemm_C_gpu", h, 2, 1, 2);
  EXPECT_EQ(GetCapturedStdout(), "gemm_C_gpu =\n   1.000\n  -2.000\n");
}

}  // namespace
