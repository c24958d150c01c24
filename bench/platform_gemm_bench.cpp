// How much the emulated BLAS adds to the OpenBLAS call it makes: FP32 through cublasLtMatmul and
// FP64 through cublasDgemm_v2 (the calls the GEMM benchmark makes), against cblas_sgemm and
// cblas_dgemm on the same buffers and threads, rounds interleaved, best round of each kept.
// Exit code 1 when the overhead reaches 10 %.
#include <cblas.h>
#include <cublasLt.h>
#include <cublas_v2.h>
#include <cuda_runtime.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double seconds(const std::function<void()>& body, int reps)
{
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < reps; ++i)
        body();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best of `rounds` for each side, measured alternately so both see the same machine load.
void compare(const char* name, int n, int reps, const std::function<void()>& direct,
             const std::function<void()>& platform, bool* ok)
{
    double best_direct = 1e30, best_platform = 1e30;
    direct();  // warm up
    platform();
    for (int round = 0; round < 7; ++round) {
        best_direct = std::min(best_direct, seconds(direct, reps));
        best_platform = std::min(best_platform, seconds(platform, reps));
    }
    double overhead = 100.0 * (best_platform / best_direct - 1.0);
    double gflops = 2.0 * n * n * n * reps / best_platform / 1e9;
    std::printf("%-5s n=%-5d direct %8.3f ms  platform %8.3f ms  overhead %+6.2f %%  (%.1f GFLOP/s)\n",
                name, n, 1e3 * best_direct / reps, 1e3 * best_platform / reps, overhead, gflops);
    if (overhead >= 10.0)
        *ok = false;
}

template <typename T>
T* device_matrix(int n, T value)
{
    void* p = nullptr;
    if (cudaMalloc(&p, sizeof(T) * size_t(n) * n) != cudaSuccess)
        return nullptr;
    std::vector<T> host(size_t(n) * n, value);
    cudaMemcpy(p, host.data(), sizeof(T) * host.size(), cudaMemcpyHostToDevice);
    return static_cast<T*>(p);
}

}  // namespace

int main()
{
    std::printf("OpenBLAS threads: %d\n", openblas_get_num_threads());
    cublasHandle_t blas;
    cublasLtHandle_t lt;
    if (cublasCreate_v2(&blas) != CUBLAS_STATUS_SUCCESS || cublasLtCreate(&lt) != CUBLAS_STATUS_SUCCESS)
        return 2;
    bool ok = true;
    for (int n : {128, 512, 1024}) {
        int reps = n <= 128 ? 200 : n <= 512 ? 10 : 2;
        float *a = device_matrix<float>(n, 0.5f), *b = device_matrix<float>(n, 0.25f),
              *c = device_matrix<float>(n, 0.0f);
        float alpha = 1, beta = 0;
        cublasLtMatmulDesc_t desc;
        cublasLtMatrixLayout_t layout;
        cublasLtMatmulDescCreate(&desc, CUBLAS_COMPUTE_32F, CUDA_R_32F);
        cublasLtMatrixLayoutCreate(&layout, CUDA_R_32F, n, n, n);
        compare("FP32", n, reps,
                [&] { cblas_sgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, n, n, n, alpha, a, n, b, n, beta, c, n); },
                [&] { cublasLtMatmul(lt, desc, &alpha, a, layout, b, layout, &beta, c, layout, c, layout, nullptr, nullptr, 0, nullptr); },
                &ok);
        cublasLtMatrixLayoutDestroy(layout);
        cublasLtMatmulDescDestroy(desc);
        cudaFree(a), cudaFree(b), cudaFree(c);

        double *da = device_matrix<double>(n, 0.5), *db = device_matrix<double>(n, 0.25),
               *dc = device_matrix<double>(n, 0.0);
        double dalpha = 1, dbeta = 0;
        compare("FP64", n, reps,
                [&] { cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, n, n, n, dalpha, da, n, db, n, dbeta, dc, n); },
                [&] { cublasDgemm_v2(blas, CUBLAS_OP_N, CUBLAS_OP_N, n, n, n, &dalpha, da, n, db, n, &dbeta, dc, n); },
                &ok);
        cudaFree(da), cudaFree(db), cudaFree(dc);
    }
    cublasLtDestroy(lt);
    cublasDestroy_v2(blas);
    std::printf("%s\n", ok ? "overhead below 10 %: PASS" : "overhead 10 % or more: FAIL");
    return ok ? 0 : 1;
}
