// [p,se,info] = ringfit(hol,lambda,pix,p0,Name,Value,...): particles measured
// by a joint least-squares fit of their models to a recorded hologram.
#include <cmath>
#include <cstring>

#include "core/fit/ring_fit.h"
#include "frame/fit_options.h"
#include "frame/frame.h"

PARTISCOPE_NAME_VALUE_MODULE(ringfit, 4, 3,
                             "Usage: [p,se,info]=ringfit(hol,lambda,pix,p0,Name,Value,...)")

namespace {

using namespace partiscope;

// The options into the core's struct; the weights are copied to doubles
// when given as logicals.
void read_options(const frame::Options& opts, std::size_t M, std::size_t N, std::size_t n,
                  FitOptions& o, std::vector<double>& weights, std::vector<double>& starts) {
    optics_options(opts, n, o.medium_index, o.index, o.index_start, o.polarization, starts);
    if (const mxArray* v = opts.find("Model")) o.model = model_option(v);
    if (const mxArray* v = opts.find("Particle")) o.particle = particle_option(v);
    if (const mxArray* v = opts.find("Contrast")) contrast_option(v, o.contrast_free, o.contrast);
    if (const mxArray* v = opts.find("Background")) {
        o.background_fixed = true;
        o.background = frame::option_number(v, "Background");
    }
    if (const mxArray* v = opts.find("Offset")) {
        o.offset_fixed = true;
        o.offset = frame::option_number(v, "Offset");
    }
    if (const mxArray* v = opts.find("Weights"))
        o.weights = frame::option_grid(v, "Weights", M, N, weights);
    if (const mxArray* v = opts.find("Free")) {
        const bool logical = mxIsLogical(v);
        std::vector<bool> free;
        if (logical || (mxIsDouble(v) && !mxIsComplex(v))) {
            for (std::size_t q = 0; q < frame::element_count(v); ++q)
                free.push_back(logical ? mxGetLogicals(v)[q] != 0 : mxGetPr(v)[q] != 0.0);
        }
        set_free(o, free);
    }
    if (const mxArray* v = opts.find("Sigma")) o.sigma = frame::option_number(v, "Sigma");
    if (const mxArray* v = opts.find("K")) o.K = frame::option_number(v, "K");
    if (const mxArray* v = opts.find("MaxIter"))
        o.max_iter = kMaxIterRange.of(frame::option_number(v, "MaxIter"));
    if (const mxArray* v = opts.find("Tolerance"))
        o.tolerance = frame::option_number(v, "Tolerance");
}

void ringfit(frame::Results& results, const mxArray* prhs[], int nrhs) {
    FitInput in;
    frame::read_hologram(prhs, in);
    const char* kTable = "Error: p0 must be an n-by-4 table [x y z r] with at least one row";
    in.p0 = frame::real_values(prhs[3], kTable);
    if (mxGetN(prhs[3]) != 4) throw Error(kTable);
    in.n = mxGetM(prhs[3]);
    // The normal matrix is dense over every fitted parameter.
    if (in.n > 200)
        throw Error("Error: p0 may hold at most 200 particles; fit larger sets in groups");
    const frame::Options opts(prhs + 4, nrhs - 4,
                              {"Model", "Particle", "Contrast", "Background", "Offset", "Weights",
                               "Free", "Sigma", "K", "MaxIter", "Tolerance", "MediumIndex", "Index",
                               "Polarization"});
    FitOptions o;
    std::vector<double> weights, starts;
    read_options(opts, in.M, in.N, in.n, o, weights, starts);

    const FitResult r = ring_fit(in, o);
    double* p = mxGetPr(results.create(0, in.n, 4, mxREAL));
    double* se = mxGetPr(results.create(1, in.n, 4, mxREAL));
    std::memcpy(p, r.p.data(), r.p.size() * sizeof(double));
    std::memcpy(se, r.se.data(), r.se.size() * sizeof(double));
    results.store(2, frame::struct_of([&](auto&& field) { info_fields(r, field); }));
}

}  // namespace
