// [cand,best,zidx,ridx] = detectstack(hol,lambda,pix,depths,radii,Name,Value,...):
// the detection criterion over a stack of depths and radii, the best score
// at every position with the pair that gave it, and the candidates.
#include <cmath>
#include <cstring>

#include "core/detection/detection_stack.h"
#include "frame/frame.h"

PARTISCOPE_NAME_VALUE_MODULE(
    detectstack, 5, 4,
    "Usage: [cand,best,zidx,ridx]=detectstack(hol,lambda,pix,depths,radii,Name,Value,...)")

namespace {

using namespace partiscope;

void detectstack(frame::Results& results, const mxArray* prhs[], int nrhs) {
    StackInput in;
    frame::read_scan(prhs, in);

    const frame::Options opts(prhs + 5, nrhs - 5,
                              {"Weights", "PositionWeights", "MapFOVx", "MapFOVy", "K", "Threshold",
                               "MinSeparation", "MaxCount", "Sigma"});
    std::vector<double> weights, position_weights;
    if (const mxArray* v = opts.find("Weights"))
        in.w = frame::option_grid(v, "Weights", in.M, in.N, weights);
    if (const mxArray* v = opts.find("PositionWeights"))
        in.w_prim = frame::option_grid(v, "PositionWeights", in.M, in.N, position_weights);
    double x[2] = {1.0, static_cast<double>(in.M)}, y[2] = {1.0, static_cast<double>(in.N)};
    if (const mxArray* v = opts.find("MapFOVx")) {
        const frame::Pair p = frame::read_pair(v, "MapFOVx");
        x[0] = p.first;
        x[1] = p.second;
    }
    if (const mxArray* v = opts.find("MapFOVy")) {
        const frame::Pair p = frame::read_pair(v, "MapFOVy");
        y[0] = p.first;
        y[1] = p.second;
    }
    if (in.M > 0 && in.N > 0) in.fov = field_of_view(x, y, in.M, in.N);
    if (const mxArray* v = opts.find("K")) in.K = frame::option_number(v, "K");
    StackOptions o;
    if (const mxArray* v = opts.find("Threshold"))
        o.threshold = frame::option_number(v, "Threshold");
    if (const mxArray* v = opts.find("MinSeparation"))
        o.min_separation = frame::option_number(v, "MinSeparation");
    if (const mxArray* v = opts.find("MaxCount"))
        o.max_count =
            static_cast<std::size_t>(kStackMaxCountRange.of(frame::option_number(v, "MaxCount")));
    if (const mxArray* v = opts.find("Sigma")) o.sigma = frame::option_number(v, "Sigma");
    const unsigned planner = planner_flags(compute_context());

    const std::size_t nx = in.fov.rows(), ny = in.fov.cols();
    std::vector<std::int32_t> pair(nx * ny);
    StackMaps maps;
    maps.best = mxGetPr(results.create(1, nx, ny, mxREAL));
    maps.pair = pair.data();
    const StackDetection d = detect_stack(in, o, maps, planner);

    const std::size_t n = d.candidates.size();
    double* cand = mxGetPr(results.create(0, n, 5, mxREAL));
    if (n > 0) std::memcpy(cand, d.table.data(), d.table.size() * sizeof(double));
    double* zidx = mxGetPr(results.create(2, nx, ny, mxREAL));
    double* ridx = mxGetPr(results.create(3, nx, ny, mxREAL));
    const double nan = std::nan("");
    for (std::size_t t = 0; t < nx * ny; ++t) {
        const std::int32_t p = pair[t];
        const std::size_t u = static_cast<std::size_t>(p);
        zidx[t] = p < 0 ? nan : static_cast<double>(u % in.nz + 1);
        ridx[t] = p < 0 ? nan : static_cast<double>(u / in.nz + 1);
    }
}

}  // namespace
