#include "options.h"

#include <cuda_runtime.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "matrices.h"
#include "matrix_layout.h"
#include "params.h"
#include "results.h"
#include "worker.h"

namespace {

// Defaults by [device type][element type].
constexpr uint32_t dft_gemm_m[4][kNumDataTypes] = {
    {3072, 3072, 2048, 3072, 3072}, {3072, 2048, 2048, 2048, 3072},
    {3072, 3072, 2048, 3072, 3072}, {3072, 3072, 2048, 3072, 3072}};
constexpr uint32_t dft_gemm_n[4][kNumDataTypes] = {
    {4096, 4096, 2048, 4096, 4096}, {4096, 2048, 2048, 2048, 4096},
    {4096, 4096, 2048, 4096, 4096}, {4096, 4096, 2048, 4096, 4096}};
constexpr uint32_t dft_gemm_k[4][kNumDataTypes] = {
    {30176, 30176, 16384, 30176, 30176}, {30176, 8192, 16384, 8192, 30176},
    {30176, 30176, 16384, 30176, 30176}, {30176, 30176, 16384, 30176, 30176}};
constexpr bool dft_trans_a[4][kNumDataTypes] = {
    {1, 1, 1, 1, 0}, {1, 1, 1, 1, 0}, {1, 1, 1, 1, 0}, {1, 1, 1, 1, 0}};
constexpr bool dft_trans_b[4][kNumDataTypes] = {
    {1, 1, 1, 1, 1}, {1, 0, 1, 0, 1}, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}};

int hardware_threads() { return static_cast<int>(std::thread::hardware_concurrency()); }

}  // namespace

void app_add_option(CLI::App& app) {
  // Options of the empty group are left out of the help listing. An option group with an empty
  // name would do the same, but CLI11 also takes an empty argument for that group's name and
  // then parses the rest of the command line forever.
  app.add_option("--m", gemm_m, "Specify GEMM M size.");
  app.add_option("--n", gemm_n, "Specify GEMM N size.");
  app.add_option("--k", gemm_k, "Specify GEMM K size.");
  app.add_option("--ta", trans_a, "Specify whether transpose matrix A.");
  app.add_option("--tb", trans_b, "Specify whether transpose matrix B.");
  app.add_option("--d", data_type,
                 "Specify data type of input matricies. 0 for FP32, 1 for FP16, 2 for INT8, 3 for BF16, 4 for "
                 "FP64 \033[33m(check the environment supports FP64)\033[0m.");
  app.add_option("--l", loop_num, "Specify number of loops calculating GEMM.");
  app.add_flag("--neg", allow_neg, "Allow negative numbers for inputs.")->group("");
  app.add_flag("--v", verify_res, "Verify the result of GEMM.")->group("");
  app.add_flag("--prt", print_mat, "Print matrixs.")->group("");
  app.add_option("--alpha", alpha, "Specify alpha of D = alpha*(A*B) + beta*C ")->group("");
  app.add_flag("--nd", normal_dis, "Use normal distribution to generate matrices, default using uniform distribuition");
  app.add_option("--limit", limit_val, "Use limit value to set the fixed range, by default it is 0");
  app.add_option("--i", dev_index_list, "Specify devices with index, 0,1,2..., -1 means all devices")->delimiter(',');
  app.add_option("--nthreads", nthreads, "Use nthreads to generate random inputs and calculate verify result.")->group("");
  app.add_option("--dur", duration, "Specify test hours for long time power test.")->group("");
  app.add_flag("--high_memory_usage", high_memory_usage, "Set this will make GPU memory at a high usage.")->group("");
  app.add_option("--delay", delay, "Each gemm kernel will be sent after delaying us.")->group("");
}

int check_params() {
  if (data_type >= kNumDataTypes) {
    std::printf("Unknown data type: %d\n", static_cast<int>(data_type));
    return 1;
  }
  int count = 0;
  if (cudaGetDeviceCount(&count) != cudaSuccess) count = 0;
  dev_nums = static_cast<int>(dev_index_list.size());
  if (dev_index_list.empty()) {
    std::printf("No device is specified with --i\n");
    return 1;
  }
  if (dev_index_list.size() == 1 && dev_index_list[0] == -1) {
    if (count <= 0) {
      std::printf("No GPU found, --i -1 selects no device.\n");
      return 1;
    }
    dev_index_list.clear();
    for (int i = 0; i < count; ++i) dev_index_list.push_back(i);
    dev_nums = count;
  }
  // One worker, thread and result slot per entry, at most kMaxDevices of them.
  if (dev_nums > kMaxDevices) {
    std::printf("Too many devices specified with --i: %d, at most %d.\n", dev_nums, kMaxDevices);
    return 1;
  }
  for (int index : dev_index_list) {
    if (index < 0 || index >= count) {
      std::printf("Only %d devices. Specified device with index: %d does not exit.\n", count, index);
      return 1;
    }
  }
  if (gemm_m == 0 || gemm_n == 0 || gemm_k == 0) {
    std::printf("Invalid M = %d, N = %d, K = %d\n", static_cast<int>(gemm_m), static_cast<int>(gemm_n),
                static_cast<int>(gemm_k));
    return 1;
  }
  if (nthreads < 1 || nthreads > hardware_threads()) {
    nthreads = hardware_threads();
    if (nthreads < 1) nthreads = 16;
  }
  if (duration > 0)
    std::printf("Test will continue %f hours, these operations will not be calculated into results.\n", duration);
  return 0;
}

int check_matrix_sizes() {
  if (matrix_count_fits(gemm_m, gemm_k) && matrix_count_fits(gemm_k, gemm_n) && matrix_count_fits(gemm_m, gemm_n))
    return 0;
  std::printf("Invalid M = %u, N = %u, K = %u: a matrix may hold at most 2147483647 elements.\n", gemm_m, gemm_n,
              gemm_k);
  return 1;
}

int get_device_type(int index) {
  cudaSetDevice(index);
  cudaDeviceProp prop{};
  if (cudaGetDeviceProperties(&prop, index) != cudaSuccess) return kOtherCC;
  if (prop.major == 7 && prop.minor == 0) return kCC70;
  if (prop.major == 7 && prop.minor == 1) return kCC71;
  if (prop.major == 8 && prop.minor == 0) return kCC80;
  return kOtherCC;
}

void set_default_params(const CLI::App& app) {
  if (app.count("--m") == 0) gemm_m = dft_gemm_m[device_type][data_type];
  if (app.count("--n") == 0) gemm_n = dft_gemm_n[device_type][data_type];
  if (app.count("--k") == 0) gemm_k = dft_gemm_k[device_type][data_type];
  if (app.count("--ta") == 0) trans_a = dft_trans_a[device_type][data_type];
  if (app.count("--tb") == 0) trans_b = dft_trans_b[device_type][data_type];
}

void print_benchmark_info() {
  std::printf("Benchmarking GEMM: M = %u N = %u K = %u Transpose A: %d Transpose B: %d LOOPS: %u  Data type: %s\n",
              gemm_m, gemm_n, gemm_k, trans_a ? 1 : 0, trans_b ? 1 : 0, loop_num, data_type_str[data_type]);
  std::string devices = "Specified device:";
  for (int index : dev_index_list) devices += " " + std::to_string(index);
  std::printf("%s\n", devices.c_str());
}

int run_matpulse(const CLI::App& app) {
  if (check_params() != 0) return 0;
  device_type = static_cast<uint32_t>(get_device_type(dev_index_list[0]));
  set_default_params(app);
  if (check_matrix_sizes() != 0 || check_product_fits() != 0) return 0;
  print_benchmark_info();
  if (!prepare_matrix()) {
    std::printf("Host memory allocation error.\n");
    return 0;
  }
  std::vector<std::thread> test_threads;
  for (int i = 0; i < dev_nums; ++i)
    test_threads.emplace_back([i] { elapse_measured[i] = test_gemm_worker(dev_index_list[i], &elapse_time[i]); });
  for (auto& t : test_threads) t.join();
  print_results();
  deconstruct_host_matrixes();
  return 0;
}
