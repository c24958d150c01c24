// Run parameters of one benchmark run. They are plain globals: the parser, check_params and
// set_default_params write them before any worker thread starts; afterwards they are only read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int kMaxDevices = 256;

enum DataType : uint32_t { kFP32 = 0, kFP16 = 1, kINT8 = 2, kBF16 = 3, kFP64 = 4, kNumDataTypes = 5 };

extern uint32_t gemm_m, gemm_n, gemm_k;
extern bool trans_a, trans_b;
extern uint32_t data_type;
extern uint32_t loop_num;
extern float alpha;
extern float beta;
extern bool allow_neg;
extern bool verify_res;
extern bool print_mat;
extern bool normal_dis;
extern float limit_val;
extern std::vector<int> dev_index_list;
extern int nthreads;
extern double duration;
extern bool high_memory_usage;
extern int delay;
extern int dev_nums;
extern uint32_t device_type;

extern const char* const data_type_str[kNumDataTypes];
extern const size_t type_sizes[kNumDataTypes];

// Device classes by compute capability: 7.0, 7.1, 8.0, anything else.
enum DeviceType : uint32_t { kCC70 = 0, kCC71 = 1, kCC80 = 2, kOtherCC = 3 };
