// [p,se,info] = ringfit(hol,lambda,pix,p0,Name,Value,...): particles measured
// by a joint least-squares fit of their models to a recorded hologram.
#include <cmath>
#include <cstring>

#include "frame/frame.h"
#include "modules/ringfit/ring_fit.h"

namespace {

using namespace partiscope;

int flag_info = 0;

const frame::ModuleInfo kInfo = {
    4,
    3,
    "Usage: [p,se,info]=ringfit(hol,lambda,pix,p0,Name,Value,...)",
    "too many outputs for ringfit",
    nullptr,
    frame::LicenceShown::console,
    true,
};

// A real double matrix argument (not empty).
const double* matrix_argument(const mxArray* a, const char* message) {
    if (!mxIsDouble(a) || mxIsComplex(a) || frame::element_count(a) == 0) throw Error(message);
    return mxGetPr(a);
}

// The options into the core's struct; the weights are copied to doubles
// when given as logicals.
void read_options(const frame::Options& opts, std::size_t M, std::size_t N, FitOptions& o,
                  std::vector<double>& weights) {
    if (const mxArray* v = opts.find("Model")) {
        const std::string m = frame::lower(frame::is_text(v) ? frame::option_text(v, "Model") : "");
        if (m == "intensity")
            o.model = FitModel::intensity;
        else if (m == "linear")
            o.model = FitModel::linear;
        else
            throw Error("Error: Model must be 'intensity' or 'linear'");
    }
    if (const mxArray* v = opts.find("Contrast")) {
        if (frame::is_text(v)) {
            if (frame::lower(frame::option_text(v, "Contrast")) != "free")
                throw Error("Error: Contrast must be a finite non-zero number or 'free'");
            o.contrast_free = true;
        } else {
            o.contrast = frame::option_number(v, "Contrast");
        }
    }
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
        if ((!logical && (!mxIsDouble(v) || mxIsComplex(v))) || frame::element_count(v) != 4)
            throw Error("Error: Free must have four elements (x, y, z, r), true where fitted");
        for (int q = 0; q < 4; ++q)
            o.free[q] = logical ? mxGetLogicals(v)[q] != 0 : mxGetPr(v)[q] != 0.0;
    }
    if (const mxArray* v = opts.find("Sigma")) {
        o.sigma = frame::option_number(v, "Sigma");
        if (!(o.sigma > 0.0)) throw Error("Error: Sigma must be a positive finite number");
    }
    if (const mxArray* v = opts.find("K")) o.K = frame::option_number(v, "K");
    if (const mxArray* v = opts.find("MaxIter")) {
        const double m = frame::option_number(v, "MaxIter");
        if (!(m >= 0.0 && m <= 10000.0) || m != std::floor(m))
            throw Error("Error: MaxIter must be a whole number from 0 to 10000");
        o.max_iter = static_cast<int>(m);
    }
    if (const mxArray* v = opts.find("Tolerance"))
        o.tolerance = frame::option_number(v, "Tolerance");
}

// The Windows host takes 32-bit counts; a table's rows are far fewer.
#ifdef _WIN32
using Count = int;
#else
using Count = std::size_t;
#endif

mxArray* column(const std::vector<double>& v) {
    mxArray* a = mxCreateDoubleMatrix(static_cast<Count>(v.size()), 1, mxREAL);
    for (std::size_t k = 0; k < v.size(); ++k) mxGetPr(a)[k] = v[k];
    return a;
}

mxArray* scalar(double v) {
    mxArray* a = mxCreateDoubleMatrix(1, 1, mxREAL);
    *mxGetPr(a) = v;
    return a;
}

// The info struct: every field the fit reports.
mxArray* info_struct(const FitResult& r) {
    const char* names[] = {"background",     "background_se", "offset",      "offset_se",
                           "sigma",          "chi2",          "iterations",  "converged",
                           "zr_correlation", "contrast",      "contrast_se", "pixels_ignored",
                           "message"};
    mxArray* s = mxCreateStructMatrix(1, 1, sizeof names / sizeof names[0], names);
    mxSetField(s, 0, "background", scalar(r.background));
    mxSetField(s, 0, "background_se", scalar(r.background_se));
    mxSetField(s, 0, "offset", scalar(r.offset));
    mxSetField(s, 0, "offset_se", scalar(r.offset_se));
    mxSetField(s, 0, "sigma", scalar(r.sigma));
    mxSetField(s, 0, "chi2", scalar(r.chi2));
    mxSetField(s, 0, "iterations", scalar(r.iterations));
    mxArray* converged = mxCreateLogicalMatrix(static_cast<Count>(r.converged.size()), 1);
    for (std::size_t k = 0; k < r.converged.size(); ++k)
        mxGetLogicals(converged)[k] = r.converged[k];
    mxSetField(s, 0, "converged", converged);
    mxSetField(s, 0, "zr_correlation", column(r.zr_correlation));
    mxSetField(s, 0, "contrast", column(r.contrast));
    mxSetField(s, 0, "contrast_se", column(r.contrast_se));
    mxSetField(s, 0, "pixels_ignored", scalar(static_cast<double>(r.pixels_ignored)));
    mxSetField(s, 0, "message", mxCreateString(r.message.c_str()));
    return s;
}

void ringfit(frame::Results& results, const mxArray* prhs[], int nrhs) {
    FitInput in;
    in.hol = matrix_argument(prhs[0], "Error: hol must be a non-empty real double matrix");
    in.M = mxGetM(prhs[0]);
    in.N = mxGetN(prhs[0]);
    in.lambda = frame::read_scalar(prhs[1], "lambda");
    in.pix = frame::read_scalar(prhs[2], "pix");
    const char* kTable = "Error: p0 must be an n-by-4 table [x y z r] with at least one row";
    in.p0 = matrix_argument(prhs[3], kTable);
    if (mxGetN(prhs[3]) != 4) throw Error(kTable);
    in.n = mxGetM(prhs[3]);
    // The normal matrix is dense over every fitted parameter.
    if (in.n > 200)
        throw Error("Error: p0 may hold at most 200 particles; fit larger sets in groups");
    const frame::Options opts(prhs + 4, nrhs - 4,
                              {"Model", "Contrast", "Background", "Offset", "Weights", "Free",
                               "Sigma", "K", "MaxIter", "Tolerance"});
    FitOptions o;
    std::vector<double> weights;
    read_options(opts, in.M, in.N, o, weights);

    const FitResult r = ring_fit(in, o);
    double* p = mxGetPr(results.create(0, in.n, 4, mxREAL));
    double* se = mxGetPr(results.create(1, in.n, 4, mxREAL));
    std::memcpy(p, r.p.data(), r.p.size() * sizeof(double));
    std::memcpy(se, r.se.data(), r.se.size() * sizeof(double));
    results.store(2, info_struct(r));
}

}  // namespace

PARTISCOPE_MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    frame::run_gateway(
        kInfo, flag_info, nlhs, plhs, nrhs, prhs,
        [nrhs](frame::Results& results, const mxArray* args[]) { ringfit(results, args, nrhs); });
}
