// [hologram,particles,Mean,noise] = synthplate(n,lambda,pix,sX,sY,I0,SNR,rangeZ,rangeR,
//                                              random_coordinates,coordinates,meanh,K):
// a simulated noisy in-line hologram of n spherical particles.
#include <cmath>

#include "frame/frame.h"
#include "core/synthesis/plate_synthesis.h"

namespace {

using namespace partiscope;

int flag_info = 0;

const frame::ModuleInfo kInfo = {
    13,
    4,
    "Usage: [hologram,particles,Mean,noise]=synthplate(n,lambda,pix,sX,sY,I0,SNR,rangeZ,rangeR,"
    "random_coordinates,coordinates,meanh,K)",
    "too many outputs for synthplate",
    nullptr,
    frame::LicenceShown::console,
};

// A count or switch argument, truncated toward zero to an int.
int read_int(const mxArray* a, const char* name, const char* message) {
    const double v = std::trunc(frame::read_scalar(a, name));
    if (!(v >= -2147483648.0 && v <= 2147483647.0)) throw Error(message);
    return static_cast<int>(v);
}

void synthplate(frame::Results& results, const mxArray* prhs[]) {
    SynthParams p;
    p.n = particle_count(frame::read_scalar(prhs[0], "n"));
    p.lambda = frame::read_scalar(prhs[1], "lambda");
    p.pix = frame::read_scalar(prhs[2], "pix");
    const frame::Pair size = frame::checked_sizes(frame::read_scalar(prhs[3], "sX"),
                                                  frame::read_scalar(prhs[4], "sY"),
                                                  "Error: sX and sY must be non-negative finite "
                                                  "sizes within the array limits");
    // Non-whole sizes are truncated once, for the arrays and the loops alike.
    p.sX = static_cast<std::size_t>(size.first);
    p.sY = static_cast<std::size_t>(size.second);
    p.I0 = frame::read_scalar(prhs[5], "I0");
    p.SNR = frame::read_scalar(prhs[6], "SNR");
    p.random_coordinates = read_int(prhs[9], "random_coordinates",
                                    "Error: random_coordinates must be a finite number");
    if (p.random_coordinates == 1) {
        const frame::Pair z = frame::read_pair(prhs[7], "rangeZ");
        const frame::Pair r = frame::read_pair(prhs[8], "rangeR");
        p.rangeZ[0] = z.first;
        p.rangeZ[1] = z.second;
        p.rangeR[0] = r.first;
        p.rangeR[1] = r.second;
    } else {
        const mxArray* table = prhs[10];
        if (!mxIsDouble(table))
            throw Error("Error: coordinates must hold at least 4*n doubles (x, y, z, r of each particle)");
        p.coordinate_rows = coordinate_table_rows(p.n, mxGetM(table), mxGetN(table));
        p.coordinates = mxGetPr(table);
    }
    p.meanh = read_int(prhs[11], "meanh", "Error: meanh must be a finite number");
    p.K = frame::read_scalar(prhs[12], "K");

    PlateOutputs out;
    out.hologram = mxGetPr(results.create(0, p.sX, p.sY, mxREAL));
    out.particles = mxGetPr(results.create(1, static_cast<std::size_t>(p.n), 4, mxREAL));
    out.Mean = mxGetPr(results.create(2, 1, 1, mxREAL));
    out.noise = mxGetPr(results.create(3, p.sX, p.sY, mxREAL));
    synthesize_plate(p, next_call_seed(), out);
}

}  // namespace

PARTISCOPE_MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    frame::run_gateway(kInfo, flag_info, nlhs, plhs, nrhs, prhs, synthplate);
}
