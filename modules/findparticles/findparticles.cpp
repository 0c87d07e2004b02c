// [p,se,info] = findparticles(hol,lambda,pix,depths,radii,Name,Value,...):
// every particle of a recorded hologram found and measured.
#include <cstring>

#include "core/detection/detection_map.h"
#include "core/find/find_particles.h"
#include "frame/fit_options.h"
#include "frame/frame.h"

PARTISCOPE_NAME_VALUE_MODULE(
    findparticles, 5, 3,
    "Usage: [p,se,info]=findparticles(hol,lambda,pix,depths,radii,Name,Value,...)")

namespace {

using namespace partiscope;

void findparticles(frame::Results& results, const mxArray* prhs[], int nrhs) {
    FindInput in;
    frame::read_scan(prhs, in);

    const frame::Options opts(
        prhs + 5, nrhs - 5,
        {"Model", "Particle", "Contrast", "Weights", "K", "Threshold", "MinSeparation", "MaxCount",
         "Sigma", "MaxPasses", "MaxIter", "Tolerance", "MediumIndex", "Index", "Polarization",
         "Margin"});
    FindOptions o;
    std::vector<double> weights, starts;
    const double* no_starts = nullptr;
    // One index: the middle of the beads' scan.
    optics_options(opts, 1, o.medium_index, o.index, no_starts, o.polarization, starts);
    if (const mxArray* v = opts.find("Model")) o.model = model_option(v);
    if (const mxArray* v = opts.find("Particle")) o.particle = particle_option(v);
    if (const mxArray* v = opts.find("Contrast")) contrast_option(v, o.contrast_free, o.contrast);
    if (const mxArray* v = opts.find("Weights"))
        o.weights = frame::option_grid(v, "Weights", in.M, in.N, weights);
    if (const mxArray* v = opts.find("K")) o.K = frame::option_number(v, "K");
    if (const mxArray* v = opts.find("Threshold"))
        o.threshold = frame::option_number(v, "Threshold");
    if (const mxArray* v = opts.find("MinSeparation"))
        o.min_separation = frame::option_number(v, "MinSeparation");
    if (const mxArray* v = opts.find("MaxCount"))
        o.max_count =
            static_cast<std::size_t>(kMaxCountRange.of(frame::option_number(v, "MaxCount")));
    if (const mxArray* v = opts.find("Sigma")) o.sigma = frame::option_number(v, "Sigma");
    if (const mxArray* v = opts.find("MaxPasses"))
        o.max_passes = kMaxPassesRange.of(frame::option_number(v, "MaxPasses"));
    if (const mxArray* v = opts.find("MaxIter"))
        o.max_iter = kMaxIterRange.of(frame::option_number(v, "MaxIter"));
    if (const mxArray* v = opts.find("Tolerance"))
        o.tolerance = frame::option_number(v, "Tolerance");
    if (const mxArray* v = opts.find("Margin")) o.margin = frame::option_number(v, "Margin");

    const FindResult r = find_particles(in, o, planner_flags(compute_context()));
    double* p = mxGetPr(results.create(0, r.n, 4, mxREAL));
    double* se = mxGetPr(results.create(1, r.n, 4, mxREAL));
    if (r.n > 0) {
        std::memcpy(p, r.p.data(), r.p.size() * sizeof(double));
        std::memcpy(se, r.se.data(), r.se.size() * sizeof(double));
    }
    results.store(2, frame::struct_of([&](auto&& field) { info_fields(r, field); }));
}

}  // namespace
