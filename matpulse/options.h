// Command line, parameter checks, defaults and the run sequence.
#pragma once

#include <CLI/CLI.hpp>

void app_add_option(CLI::App& app);
// 0 when the run may proceed, 1 (after printing the reason) when it must not.
int check_params();
// 1 when a matrix of the final sizes holds more elements than a signed 32-bit count.
int check_matrix_sizes();
// 0..3 by the compute capability of GPU `index`.
int get_device_type(int index);
void set_default_params(const CLI::App& app);
void print_benchmark_info();
int run_matpulse(const CLI::App& app);
