// [hologram,particles,noise] = discplate(n,lambda,pix,sX,sY,I0,SNR,rangeZ,rangeR,Name,Value,...):
// a recorded hologram of opaque discs by exact scalar diffraction.
#include <cmath>
#include <random>
#include <string>

#include "core/optics/disc_plate.h"
#include "frame/frame.h"

PARTISCOPE_NAME_VALUE_MODULE(
    discplate, 9, 3,
    "Usage: [hologram,particles,noise]=discplate(n,lambda,pix,sX,sY,I0,SNR,rangeZ,rangeR,"
    "Name,Value,...)")

namespace {

using namespace partiscope;

void discplate(frame::Results& results, const mxArray* prhs[], int nrhs) {
    for (int k = 0; k < kInfo.nrhs; ++k) {
        if (mxIsComplex(prhs[k])) throw Error("Error: n to rangeR must be real doubles");
    }
    DiscPlateInput in;
    in.n = disc_count(frame::read_scalar(prhs[0], "n"));
    in.lambda = frame::read_scalar(prhs[1], "lambda");
    in.pix = frame::read_scalar(prhs[2], "pix");
    const frame::Pair size = frame::checked_sizes(
        frame::read_scalar(prhs[3], "sX"), frame::read_scalar(prhs[4], "sY"),
        "Error: sX and sY must be non-negative finite sizes within the array limits");
    in.M = static_cast<std::size_t>(size.first);
    in.N = static_cast<std::size_t>(size.second);
    DiscPlateOptions o;
    o.I0 = frame::read_scalar(prhs[5], "I0");
    o.snr = frame::read_scalar(prhs[6], "SNR");

    const frame::Options opts(
        prhs + 9, nrhs - 9, {"Coordinates", "Seed", "Sigma", "Photons", "Pixels", "Oversampling"});
    if (const mxArray* v = opts.find("Sigma")) o.sigma = frame::option_number(v, "Sigma");
    if (const mxArray* v = opts.find("Photons")) o.photons = frame::option_number(v, "Photons");
    if (const mxArray* v = opts.find("Pixels")) {
        const std::string kind = frame::lower(frame::option_text(v, "Pixels"));
        if (kind != "area" && kind != "point")
            throw Error("Error: Pixels must be 'area' or 'point'");
        o.area_pixels = kind == "area";
    }
    if (const mxArray* v = opts.find("Oversampling"))
        o.oversampling = static_cast<int>(frame::option_whole(v, "Oversampling", 1, 8));
    std::mt19937_64 rng(opts.find("Seed") ? static_cast<std::uint64_t>(frame::option_whole(
                                                opts.find("Seed"), "Seed", 0, 9007199254740992.0))
                                          : std::random_device()());

    check_plate_setup(in, o);  // before the results are made: a huge size is refused first
    double* particles = mxGetPr(results.create(1, in.n, 4, mxREAL));
    if (const mxArray* table = opts.find("Coordinates")) {
        if (!mxIsDouble(table) || mxIsComplex(table) || mxGetM(table) != in.n || mxGetN(table) != 4)
            throw Error("Error: Coordinates must be an n-by-4 table [x y z r] (n rows)");
        const double* given = mxGetPr(table);
        for (std::size_t k = 0; k < 4 * in.n; ++k) particles[k] = given[k];
    } else if (in.n > 0) {
        const frame::Pair z = frame::read_pair(prhs[7], "rangeZ");
        const frame::Pair r = frame::read_pair(prhs[8], "rangeR");
        const double rangeZ[2] = {z.first, z.second}, rangeR[2] = {r.first, r.second};
        draw_discs(in.n, in.M, in.N, rangeZ, rangeR, rng, particles);
    }
    in.particles = particles;
    double* hologram = mxGetPr(results.create(0, in.M, in.N, mxREAL));
    double* noise = mxGetPr(results.create(2, in.M, in.N, mxREAL));
    disc_plate(in, o, rng, hologram, noise);
}

}  // namespace
