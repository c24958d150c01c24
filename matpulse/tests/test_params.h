// Puts every run parameter back to its value before parsing, so each test starts alike.
#pragma once

#include "params.h"

inline void reset_params() {
  gemm_m = gemm_n = gemm_k = 1;
  trans_a = trans_b = false;
  data_type = kFP32;
  loop_num = 1;
  alpha = 1.0f;
  beta = 0.0f;
  allow_neg = verify_res = print_mat = normal_dis = false;
  limit_val = 0.0f;
  dev_index_list.clear();
  nthreads = 2;
  duration = 0.0;
  high_memory_usage = false;
  delay = 0;
  dev_nums = 0;
  device_type = kOtherCC;
}
