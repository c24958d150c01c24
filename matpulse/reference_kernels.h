// The micro-kernels of the host reference, one per vector unit, chosen at run time.
#pragma once

enum class RefKernel { kBest, kPortable, kAvx2, kAvx512 };

// c (mr x nr, column-major, leading dimension ldc) holds running sums; the kernel adds
// a[k * mr + i] * b[k * nr + j] for k = 0 .. kc-1 in that order, one fused multiply-add each,
// starting from +0 instead of c when `first`. a and b are packed panels.
using RefKernelFn = void (*)(int kc, const double* a, const double* b, double* c, int ldc, bool first);

struct RefKernelInfo {
  RefKernelFn fn = nullptr;
  int mr = 0, nr = 0;  // tile shape
};

// Whether this machine can run `kind` (kBest and kPortable always).
bool ref_kernel_available(RefKernel kind);
// The kernel of `kind`; kBest is the widest this machine has.
RefKernelInfo ref_kernel(RefKernel kind);
