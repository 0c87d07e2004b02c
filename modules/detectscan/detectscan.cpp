// [row,col,maxim,q0] = detectscan(hol,lambda,pix,w,r,z,w_prim,MapFOVx,MapFOVy,K):
// the detection-criterion map of a hologram for one particle depth and
// radius over a field of view, its largest score and where it lies.
#include "frame/frame.h"
#include "core/detection/detection_map.h"

namespace {

using namespace partiscope;

int flag_info = 0;

const frame::ModuleInfo kInfo = {
    10,
    4,
    "Usage: [row,col,maxim,q0]=detectscan(hol,lambda,pix,w,r,z,w_prim,MapFOVx,MapFOVy,K)",
    "too many outputs for detectscan",
    "Error: one or more inputs are not double or real",
    frame::LicenceShown::console,
};

// Indices of the transforms are 32-bit in FFTW's interface.
constexpr std::size_t kMaxElements = 2147483647;

// Weights are read pixel for pixel against the hologram: another shape,
// even with enough elements, would put them on the wrong pixels.
const double* grid_argument(const mxArray* a, std::size_t M, std::size_t N, const char* message) {
    if (mxGetM(a) != M || mxGetN(a) != N) throw Error(message);
    return mxGetPr(a);
}

void detectscan(frame::Results& results, const mxArray* prhs[]) {
    DetectionInput in;
    in.z = frame::read_scalar(prhs[5], "z");
    in.r = frame::read_scalar(prhs[4], "r");
    check_depth_radius(in.z, in.r);

    in.M = mxGetM(prhs[0]);
    in.N = mxGetN(prhs[0]);
    const std::size_t n = frame::element_count(prhs[0]);
    if (n > kMaxElements) throw Error("Error: hol must have fewer than 2^31 elements");
    in.hol = mxGetPr(prhs[0]);
    in.lambda = frame::read_scalar(prhs[1], "lambda");
    in.pix = frame::read_scalar(prhs[2], "pix");
    in.K = frame::read_scalar(prhs[9], "K");
    in.w = grid_argument(prhs[3], in.M, in.N, "Error: w must be the size of hol");
    in.w_prim = grid_argument(prhs[6], in.M, in.N, "Error: w_prim must be the size of hol");
    const frame::Pair fx = frame::read_pair(prhs[7], "MapFOVx");
    const frame::Pair fy = frame::read_pair(prhs[8], "MapFOVy");
    const double x[2] = {fx.first, fx.second}, y[2] = {fy.first, fy.second};
    in.fov = field_of_view(x, y, in.M, in.N);
    const unsigned planner = planner_flags(compute_context());

    double* row = mxGetPr(results.create(0, 1, 1, mxREAL));
    double* col = mxGetPr(results.create(1, 1, 1, mxREAL));
    double* maxim = mxGetPr(results.create(2, 1, 1, mxREAL));
    const std::size_t nx = in.fov.rows();
    double* q0 = mxGetPr(results.create(3, nx, in.fov.cols(), mxREAL));

    const DetectionResult best = detection_map(in, q0, planner);
    // 1-based map row and column of the winner: q0(row, col) == maxim.
    *row = static_cast<double>(best.best % nx + 1);
    *col = static_cast<double>(best.best / nx + 1);
    *maxim = best.maxim;
}

}  // namespace

PARTISCOPE_MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    frame::run_gateway(kInfo, flag_info, nlhs, plhs, nrhs, prhs, detectscan);
}
