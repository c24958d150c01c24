// The host matrices of one run, built once before the workers start and only read afterwards.
#pragma once

#include "matrix_layout.h"

extern MatrixLayout MA, MB, MC;  // A (M x K), B (K x N), C (M x N) in the run's element type
extern MatrixLayout FC;          // with --v: the reference result, FP64

// Builds, fills, (with --v) computes the reference, then transposes A and B as asked.
// False when a host allocation fails; whatever was built is freed again.
bool prepare_matrix();
void deconstruct_host_matrixes();
