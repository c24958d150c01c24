// The host reference of the product, in double precision, spread over `nthreads` threads.
#pragma once

// FC = alpha * (FA * FB) + beta * FC for the run's M, N, K.
void prepare_verify_res();
// c (column-major rows x cols, leading dimension ldc) = alpha * a * b + beta * c, where a is
// row-major rows x depth (leading dimension lda) and b column-major depth x cols (ldb).
// Every element sums its products in increasing k from 0; INT8 runs saturate the result.
void mul_thread_res(int rows, int cols, int depth, const double* a, int lda, const double* b, int ldb,
                    double* c, int ldc);
// Output elements index*chunk up to min((index+1)*chunk, rows*cols), column-major order.
void res_worker(int chunk, int index, int rows, int cols, int depth, const double* a, int lda,
                const double* b, int ldb, double* c, int ldc);
