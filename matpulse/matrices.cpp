#include "matrices.h"

#include "fill.h"
#include "params.h"
#include "reference.h"

MatrixLayout MA, MB, MC;
MatrixLayout FC;

bool prepare_matrix() {
  int m = static_cast<int>(gemm_m), n = static_cast<int>(gemm_n), k = static_cast<int>(gemm_k);
  bool ok = MA.construct(data_type, m, k) && MB.construct(data_type, k, n) && MC.construct(data_type, m, n);
  if (!ok) {
    deconstruct_host_matrixes();
    return false;
  }
  fill_matrix(MA.data, static_cast<unsigned>(MA.count));
  fill_matrix(MB.data, static_cast<unsigned>(MB.count));
  fill_matrix(MC.data, static_cast<unsigned>(MC.count));
  if (verify_res) {
    // The reference reads A, B and C as stored, so no double-precision copies of them are made.
    if (!FC.construct(kFP64, m, n)) {
      deconstruct_host_matrixes();
      return false;
    }
    prepare_verify_res();
  }
  if ((trans_a && !MA.transpose_matrix()) || (trans_b && !MB.transpose_matrix())) {
    deconstruct_host_matrixes();
    return false;
  }
  return true;
}

void deconstruct_host_matrixes() {
  for (MatrixLayout* m : {&MA, &MB, &MC, &FC}) m->deconstruct();
}
