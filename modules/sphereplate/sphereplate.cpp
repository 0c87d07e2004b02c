// [hologram,noise] = sphereplate(spheres,sX,sY,lambda,pix,Name,Value,...):
// a recorded hologram of spheres under a microscope by the Lorenz-Mie series.
#include <random>

#include "core/optics/sphere_plate.h"
#include "frame/frame.h"

PARTISCOPE_NAME_VALUE_MODULE(sphereplate, 5, 2,
                             "Usage: [hologram,noise]=sphereplate(spheres,sX,sY,lambda,pix,Name,"
                             "Value,...)")

namespace {

using namespace partiscope;

void sphereplate(frame::Results& results, const mxArray* prhs[], int nrhs) {
    const char* kTable = "Error: spheres must be an n-by-5 table [x y z a n_p]";
    SpherePlateInput in;
    if (!mxIsDouble(prhs[0]) || mxIsComplex(prhs[0])) throw Error(kTable);
    in.n = frame::element_count(prhs[0]) > 0 ? mxGetM(prhs[0]) : 0;  // [] or 0-by-5: none
    if (in.n > 0 && mxGetN(prhs[0]) != 5) throw Error(kTable);
    in.particles = in.n > 0 ? mxGetPr(prhs[0]) : nullptr;
    const frame::Pair size = frame::checked_sizes(
        frame::read_scalar(prhs[1], "sX"), frame::read_scalar(prhs[2], "sY"),
        "Error: sX and sY must be non-negative finite sizes within the array limits");
    in.M = static_cast<std::size_t>(size.first);
    in.N = static_cast<std::size_t>(size.second);
    in.lambda = frame::read_scalar(prhs[3], "lambda");
    in.pix = frame::read_scalar(prhs[4], "pix");
    const frame::Options opts(prhs + 5, nrhs - 5,
                              {"MediumIndex", "Polarization", "Contrast", "I0", "Sigma", "Photons",
                               "Subpixels", "Seed"});
    SpherePlateOptions o;
    if (const mxArray* v = opts.find("MediumIndex"))
        o.medium_index = frame::option_number(v, "MediumIndex");
    if (const mxArray* v = opts.find("Polarization"))
        o.polarization = frame::option_number(v, "Polarization");
    if (const mxArray* v = opts.find("Contrast")) o.contrast = frame::option_number(v, "Contrast");
    if (const mxArray* v = opts.find("I0")) o.I0 = frame::option_number(v, "I0");
    if (const mxArray* v = opts.find("Sigma")) o.sigma = frame::option_number(v, "Sigma");
    if (const mxArray* v = opts.find("Photons")) o.photons = frame::option_number(v, "Photons");
    if (const mxArray* v = opts.find("Subpixels"))
        o.subpixels = static_cast<int>(frame::option_whole(v, "Subpixels", 1, 16));
    std::mt19937_64 rng(opts.find("Seed") ? static_cast<std::uint64_t>(frame::option_whole(
                                                opts.find("Seed"), "Seed", 0, 9007199254740992.0))
                                          : std::random_device()());
    check_sphere_plate(in, o);  // before the results are made
    double* hologram = mxGetPr(results.create(0, in.M, in.N, mxREAL));
    double* noise = mxGetPr(results.create(1, in.M, in.N, mxREAL));
    sphere_plate(in, o, rng, hologram, noise);
}

}  // namespace
