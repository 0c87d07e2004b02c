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

// The whole module: its usage text, its once-per-load notice and its entry
// point, applying apply (a function of (in, out, count)).
#define PARTISCOPE_ELEMENTWISE_MODULE(name, apply)                                            \
    namespace {                                                                                \
    int flag_info = 0;                                                                         \
    const partiscope::frame::ModuleInfo kInfo = {                                              \
        1, 1, "Usage: J=" #name "(X)\n", "Too many outputs!\n",                                \
        partiscope::kElementwiseTypeMessage, partiscope::frame::LicenceShown::console};        \
    }                                                                                          \
    PARTISCOPE_MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs,                \
                                           const mxArray* prhs[]) {                            \
        partiscope::elementwise_gateway(kInfo, flag_info, nlhs, plhs, nrhs, prhs, apply);      \
    }
