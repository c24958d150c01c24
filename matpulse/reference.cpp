#include "reference.h"

#include <algorithm>
#include <barrier>
#include <cmath>
#include <cstddef>
#include <thread>
#include <vector>

#include "conversions.h"
#include "matrices.h"
#include "params.h"

// The reference must keep each element's additions in order k = 0, 1, 2, ... and still run
// at the speed of a BLAS, so it is blocked like one but never splits a dot product: the output
// itself holds the running sums from one k block to the next, and alpha and beta are applied
// once the last block is in. Loop order as in BLIS: a block of B is packed once per k block,
// shared by all threads, and each thread packs the blocks of A of its own rows.
namespace {

constexpr int kKC = 384;     // depth of a block: a packed B micro-panel stays in L1
constexpr int kMCRows = 192; // rows of a packed A block, which stays in L2
constexpr int kNC = 4096;    // columns of a packed B block, shared through the last level cache

// A matrix read as panels: element (i, k) is data[i * i_stride + k * k_stride].
struct PanelSource {
  uint32_t type;
  const void* data;
  int64_t i_stride, k_stride;
};

// dst[k * width + i] = src(i0 + i, k0 + k) for i < valid, 0 for valid <= i < width.
template <typename T>
void pack_typed(const PanelSource& s, int64_t i0, int valid, int64_t k0, int kc, int width, double* dst) {
  const T* base = static_cast<const T*>(s.data);
  if (s.i_stride == 1) {  // the panel's rows lie side by side: read along them
    for (int k = 0; k < kc; ++k) {
      const T* src = base + i0 + (k0 + k) * s.k_stride;
      double* d = dst + static_cast<size_t>(k) * width;
      for (int i = 0; i < valid; ++i) d[i] = to_double(src[i]);
      std::fill(d + valid, d + width, 0.0);
    }
    return;
  }
  for (int i = 0; i < valid; ++i) {
    const T* src = base + (i0 + i) * s.i_stride + k0 * s.k_stride;
    for (int k = 0; k < kc; ++k) dst[static_cast<size_t>(k) * width + i] = to_double(src[k * s.k_stride]);
  }
  for (int k = 0; k < kc; ++k) std::fill(dst + static_cast<size_t>(k) * width + valid, dst + (k + 1) * width, 0.0);
}

void pack(const PanelSource& s, int64_t i0, int valid, int64_t k0, int kc, int width, double* dst) {
  switch (s.type) {
    case kFP32: return pack_typed<float>(s, i0, valid, k0, kc, width, dst);
    case kFP16: return pack_typed<half_t>(s, i0, valid, k0, kc, width, dst);
    case kINT8: return pack_typed<int8_t>(s, i0, valid, k0, kc, width, dst);
    case kBF16: return pack_typed<bf16_t>(s, i0, valid, k0, kc, width, dst);
    default: return pack_typed<double>(s, i0, valid, k0, kc, width, dst);
  }
}

// `count` elements from i0 as panels of `width`, one after the other.
void pack_panels(const PanelSource& s, int64_t i0, int count, int64_t k0, int kc, int width, double* dst) {
  for (int p = 0; p * width < count; ++p)
    pack(s, i0 + p * width, std::min(width, count - p * width), k0, kc, width,
         dst + static_cast<size_t>(p) * width * kc);
}

double finish(double sum, double old) {
  double v = static_cast<double>(alpha) * sum + static_cast<double>(beta) * old;
  if (data_type != kINT8) return v;
  float r = rintf(static_cast<float>(v));
  double out = r > 127.0f ? 127.0 : r;
  return out < -128.0 ? -128.0 : out;
}

struct Product {
  int rows, cols, depth;
  PanelSource a, b, c;  // a by rows, b by columns, c by rows (k is then the column)
  double* out;
  int64_t ldo;
  RefKernelInfo kernel;
  int threads;
  int nc;
  std::vector<double> bpack;  // shared: one packed B block
};

// Runs the kernel on one tile, through a full-size copy where the tile sticks out of the output.
void tile_step(const Product& p, int kc, const double* a, const double* b, double* c, int nrows, int ncols,
               bool first, double* spare) {
  const int mr = p.kernel.mr, nr = p.kernel.nr;
  if (nrows == mr && ncols == nr) return p.kernel.fn(kc, a, b, c, static_cast<int>(p.ldo), first);
  for (int j = 0; j < ncols && !first; ++j) std::copy(c + j * p.ldo, c + j * p.ldo + nrows, spare + j * mr);
  p.kernel.fn(kc, a, b, spare, mr, first);
  for (int j = 0; j < ncols; ++j) std::copy(spare + j * mr, spare + j * mr + nrows, c + j * p.ldo);
}

// Thread `index` computes its share of the rows; all threads pack B together.
void run_share(Product& p, int index, std::barrier<>& sync) {
  const int mr = p.kernel.mr, nr = p.kernel.nr;
  const int mc = std::max(mr, kMCRows / mr * mr);
  int row_panels = (p.rows + mr - 1) / mr, per = (row_panels + p.threads - 1) / p.threads;
  int r0 = std::min(p.rows, index * per * mr), r1 = std::min(p.rows, (index + 1) * per * mr);
  std::vector<double> apack(static_cast<size_t>(mc) * kKC), spare(static_cast<size_t>(mr) * nr),
      old(static_cast<size_t>(r1 - r0));
  for (int jc = 0; jc < p.cols; jc += p.nc) {
    int ncur = std::min(p.nc, p.cols - jc), npanels = (ncur + nr - 1) / nr;
    for (int pc = 0; pc < p.depth; pc += kKC) {
      int kc = std::min(kKC, p.depth - pc);
      sync.arrive_and_wait();  // nobody reads the previous block any more
      for (int jp = index; jp < npanels; jp += p.threads)
        pack(p.b, jc + jp * nr, std::min(nr, ncur - jp * nr), pc, kc, nr, &p.bpack[static_cast<size_t>(jp) * nr * kc]);
      sync.arrive_and_wait();
      for (int ic = r0; ic < r1; ic += mc) {
        int mcur = std::min(mc, r1 - ic);
        pack_panels(p.a, ic, mcur, pc, kc, mr, apack.data());
        for (int jp = 0; jp < npanels; ++jp)
          for (int ip = 0; ip * mr < mcur; ++ip) {
            double* tile = p.out + ic + ip * mr + p.ldo * (jc + jp * nr);
            int ncols = std::min(nr, ncur - jp * nr), next_rows = std::min(mr, mcur - (ip + 1) * mr);
            // The sums of the next tile come from memory: ask for them while this one runs.
            for (int j = 0; j < ncols && pc > 0; ++j)
              for (int i = 0; i < next_rows; i += 8) __builtin_prefetch(tile + mr + i + p.ldo * j, 1);
            tile_step(p, kc, &apack[static_cast<size_t>(ip) * mr * kc], &p.bpack[static_cast<size_t>(jp) * nr * kc],
                      tile, std::min(mr, mcur - ip * mr), ncols, pc == 0, spare.data());
          }
      }
    }
    for (int j = jc; j < jc + ncur && r0 < r1; ++j) {
      pack(p.c, r0, r1 - r0, j, 1, r1 - r0, old.data());
      double* o = p.out + r0 + p.ldo * j;
      for (int i = 0; i < r1 - r0; ++i) o[i] = finish(p.depth > 0 ? o[i] : 0.0, old[i]);
    }
  }
}

}  // namespace

void reference_product(int rows, int cols, int depth, const RefOperand& a, const RefOperand& b, const RefOperand& c_in,
                       double* out, int ldo, int threads, RefKernel kernel) {
  if (rows <= 0 || cols <= 0) return;
  Product p{rows,
            cols,
            std::max(depth, 0),
            {a.type, a.data, a.row_stride, a.col_stride},
            {b.type, b.data, b.col_stride, b.row_stride},
            {c_in.type, c_in.data, c_in.row_stride, c_in.col_stride},
            out,
            ldo,
            ref_kernel(kernel),
            static_cast<int>(std::clamp<int64_t>(threads, 1, static_cast<int64_t>(rows) * cols)),
            0,
            {}};
  const int nr = p.kernel.nr;
  p.nc = std::min(kNC / nr * nr, (cols + nr - 1) / nr * nr);
  p.bpack.resize(static_cast<size_t>(p.nc) * std::min(kKC, std::max(p.depth, 1)));
  std::barrier<> sync(p.threads);
  std::vector<std::thread> pool;
  for (int i = 1; i < p.threads; ++i) pool.emplace_back(run_share, std::ref(p), i, std::ref(sync));
  run_share(p, 0, sync);
  for (auto& t : pool) t.join();
}

void mul_thread_res(int rows, int cols, int depth, const double* a, int lda, const double* b, int ldb,
                    double* c, int ldc) {
  if (rows <= 0 || cols <= 0) return;
  std::vector<double> old(static_cast<size_t>(rows) * cols);
  for (int j = 0; j < cols; ++j)
    std::copy(c + static_cast<size_t>(ldc) * j, c + static_cast<size_t>(ldc) * j + rows, &old[static_cast<size_t>(rows) * j]);
  reference_product(rows, cols, depth, {kFP64, a, lda, 1}, {kFP64, b, 1, ldb}, {kFP64, old.data(), 1, rows}, c, ldc,
                    nthreads);
}

void prepare_verify_res() {
  auto stored = [](const MatrixLayout& m) { return RefOperand{m.type, m.data, 1, m.rows}; };
  int m = static_cast<int>(gemm_m);
  reference_product(m, static_cast<int>(gemm_n), static_cast<int>(gemm_k), stored(MA), stored(MB), stored(MC),
                    static_cast<double*>(FC.data), m, nthreads);
}
