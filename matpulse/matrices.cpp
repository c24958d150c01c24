#include "matrices.h"

#include "fill.h"
#include "params.h"
#include "reference.h"

MatrixLayout MA, MB, MC;
MatrixLayout FA, FB, FC;

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
    ok = FA.construct(kFP64, m, k) && FB.construct(kFP64, k, n) && FC.construct(kFP64, m, n);
    if (ok) {
      MA.get_FP64_format(static_cast<double*>(FA.data));
      MB.get_FP64_format(static_cast<double*>(FB.data));
      ok = FA.FP64_col_major_2_row_major();
    }
    if (!ok) {
      deconstruct_host_matrixes();
      return false;
    }
    MC.get_FP64_format(static_cast<double*>(FC.data));
    prepare_verify_res();
  }
  if ((trans_a && !MA.transpose_matrix()) || (trans_b && !MB.transpose_matrix())) {
    deconstruct_host_matrixes();
    return false;
  }
  return true;
}

void deconstruct_host_matrixes() {
  for (MatrixLayout* m : {&MA, &MB, &MC, &FA, &FB, &FC}) m->deconstruct();
}
