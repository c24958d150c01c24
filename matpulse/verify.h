// Comparison of a GPU result with the host reference (FC), and the --prt printing.
#pragma once

// Copies the product back from `device_c`, prints the matrices with --prt, and prints one line
// per mismatching element and then "PASS!" or "FAIL!". True for PASS.
bool verify_results(void* device_c);

// gpu: rows x cols in the run's element type, ref: doubles, both column-major.
template <typename T>
bool verify_matrix(const T* gpu, const double* ref, int rows, int cols);

// Prints A and B as stored, the GPU result and the reference.
template <typename T>
void pirntMatrices(const T* gpu_c);
template <typename T>
void printMatrix_Intx(const char* name, const T* data, int rows, int cols, int ld);
