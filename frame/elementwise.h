// The gateway shared by the two cylinder-quotient modules: one real double
// matrix in, the quotient of every element out, in a matrix of the same shape.
#pragma once

#include "frame/frame.h"

namespace partiscope {

inline constexpr const char* kElementwiseTypeMessage =
    "Error: Wrong input type!\n Input should be areal scala or a real valued matrix\n";

template <class Apply>
void elementwise_gateway(const frame::ModuleInfo& info, int& flag_info, int nlhs,
                         mxArray* plhs[], int nrhs, const mxArray* prhs[], Apply apply) {
    frame::run_gateway(info, flag_info, nlhs, plhs, nrhs, prhs,
                       [&](frame::Results& results, const mxArray* args[]) {
                           const mxArray* X = args[0];
                           mxArray* J = results.create(0, mxGetM(X), mxGetN(X), mxREAL);
                           apply(mxGetPr(X), mxGetPr(J), frame::element_count(X));
                       });
}

}  // namespace partiscope
