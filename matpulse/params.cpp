#include "params.h"

#include <thread>

uint32_t gemm_m = 1, gemm_n = 1, gemm_k = 1;  // placeholders, replaced by set_default_params
bool trans_a = false, trans_b = false;
uint32_t data_type = kFP32;
uint32_t loop_num = 1;
float alpha = 1.0f;
float beta = 0.0f;
bool allow_neg = false;
bool verify_res = false;
bool print_mat = false;
bool normal_dis = false;
float limit_val = 0.0f;
std::vector<int> dev_index_list;
int nthreads = static_cast<int>(std::thread::hardware_concurrency());
double duration = 0.0;
bool high_memory_usage = false;
int delay = 0;
int dev_nums = 0;
uint32_t device_type = kOtherCC;

const char* const data_type_str[kNumDataTypes] = {"FP32", "FP16", "INT8", "BF16", "FP64"};
const size_t type_sizes[kNumDataTypes] = {4, 2, 1, 2, 8};
