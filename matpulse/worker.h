// One GPU worker: uploads the host matrices, runs the power phase, the warm-up and the timed
// loop on one device, and optionally verifies the result.
//
// INT8 is always given to cuBLASLt in the "TN" form (A transposed, B not), the only form NVIDIA's
// integer tensor-core kernels take on column-major data: the worker's private host copies are
// transposed as needed before the upload, while the product, the banner and the verification stay
// those of the requested flags.
#pragma once

// Stores the timed loop's milliseconds through `elapsed` and returns true when every product
// succeeded; otherwise leaves it untouched and returns false. Every failure prints one line and
// ends this worker only.
bool test_gemm_worker(int device, double* elapsed);
// 0 when the product fits the GPU library; otherwise prints why not and returns 1. Runs before
// anything is allocated.
int check_product_fits();
// Occupies most of the remaining device memory, or leaves *extra null.
void get_high_memory_usage(void** extra);
