// Fuzzing one module through our host: the fuzzer's bytes become a call
// (argument and result counts, each argument's class, shape and values),
// made the way MATLAB would make it. Every call must either return results
// of the documented shapes in the slots the host gave, or raise an error;
// the sanitizers catch any out-of-bounds access, undefined behaviour or leak.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "testhost.h"

#ifndef FUZZ_MODULE
#error "FUZZ_MODULE (the module's path) must be defined by the build"
#endif
#ifndef FUZZ_NAME
#error "FUZZ_NAME (the module's name) must be defined by the build"
#endif

namespace {

// Values a user may pass: ordinary lengths and sizes, and every awkward kind.
const double kValues[] = {
    0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 7.0, 8.0, 9.0, 16.0, 33.0, 64.0,
    -1.0, -2.5, 0.5, 1.5, 0.9, -0.9, 1e-6, 5e-7, 6.328e-7, 6.7e-6, 1e-5, 3e-5, 5e-5, 0.02, 0.1,
    std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(), 1e300, -1e300, 4e-320, 2147483648.0, -2147483649.0,
    // A bead under a microscope: the medium's index, a wavelength in water,
    // a pixel in the sample plane.
    1.33, 4e-7, 6e-8,
};
constexpr std::size_t kValueCount = sizeof kValues / sizeof kValues[0];

// Text a user may pass as an option name or value, right and wrong.
const char* const kWords[] = {"Model", "contrast", "BACKGROUND", "Offset", "Weights", "Free",
                              "Sigma", "K", "MaxIter", "Tolerance", "intensity", "Linear",
                              "free", "", "Colour", "Threshold", "minseparation", "MaxCount",
                              "PositionWeights", "MapFOVx", "MapFOVy", "MaxPasses",
                              "Coordinates", "Seed", "Photons", "Pixels", "point", "AREA",
                              "Oversampling", "Particle", "sphere", "MediumIndex", "Index",
                              "Polarization", "Margin"};
constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];

struct Bytes {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t next() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
};

testhost::Array decode_argument(Bytes& in) {
    const std::uint8_t kind = in.next() % 9;
    // Shapes up to 17 by 17: big enough for every code path, small enough
    // that a call stays fast.
    const std::size_t m = in.next() % 18, n = in.next() % 18;
    switch (kind) {
        case 0:
        case 1: {  // real or complex double
            std::vector<double> re(m * n), im(m * n);
            for (double& v : re) v = kValues[in.next() % kValueCount];
            if (kind == 0) return testhost::real(m, n, re);
            for (double& v : im) v = kValues[in.next() % kValueCount];
            return testhost::complex(m, n, re, im);
        }
        case 2: return testhost::of_class(testhost::Class::single, m, n);
        case 3: return testhost::of_class(testhost::Class::int32, m, n);
        case 4: return testhost::of_class(testhost::Class::logical, m, n);
        case 5: return testhost::of_class(testhost::Class::char_, m, n);
        case 7: {  // sparse double: storage for its nonzeros only
            std::vector<double> nz(in.next() % (m * n + 1));
            for (double& v : nz) v = kValues[in.next() % kValueCount];
            return testhost::sparse(m, n, nz);
        }
        case 8: return testhost::text(kWords[in.next() % kWordCount]);  // option names and values
        default: return testhost::real(0, 0);
    }
}

[[noreturn]] void finding(const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", FUZZ_NAME, what.c_str());
    std::abort();
}

std::size_t count(const mxArray* a) { return mxGetM(a) * mxGetN(a); }

// The documented shapes of each module's results (those the caller got).
void check_shapes(const std::string& name, const std::vector<const mxArray*>& args,
                  const testhost::CallResult& r) {
    const auto scalar_at = [&](std::size_t k) {
        if (k < r.results.size() && count(r.results[k].get()) != 1) finding("result " + std::to_string(k) + " is not 1-by-1");
    };
    if (name == "cylzero" || name == "cylone") {
        if (mxGetM(r.results[0].get()) != mxGetM(args[0]) || mxGetN(r.results[0].get()) != mxGetN(args[0]))
            finding("result shape differs from the argument's");
    } else if (name == "detectscan") {
        for (std::size_t k = 0; k < 3; ++k) scalar_at(k);
        if (r.results.size() > 3) {
            const double* x = mxGetPr(args[7]);
            const double* y = mxGetPr(args[8]);
            if (mxGetM(r.results[3].get()) != static_cast<std::size_t>(x[1] - x[0] + 1) ||
                mxGetN(r.results[3].get()) != static_cast<std::size_t>(y[1] - y[0] + 1))
                finding("map shape differs from the field of view");
        }
        const double row = mxGetPr(r.results[0].get())[0];
        if (!(row >= 1)) finding("row below 1");
    } else if (name == "precbound") {
        for (std::size_t k = 0; k < r.results.size(); ++k) scalar_at(k);
    } else if (name == "synthplate") {
        if (r.results.size() > 2) scalar_at(2);
        if (r.results.size() > 1 && mxGetN(r.results[1].get()) != 4) finding("particle table is not n-by-4");
    } else if (name == "ringfit") {
        const std::size_t n = mxGetM(args[3]);
        for (std::size_t k = 0; k < r.results.size() && k < 2; ++k) {
            if (mxGetM(r.results[k].get()) != n || mxGetN(r.results[k].get()) != 4)
                finding("table or standard errors not n-by-4");
        }
        if (r.results.size() > 2 && !testhost::field(r.results[2].get(), "message"))
            finding("info without its message");
    } else if (name == "detectstack") {
        if (mxGetN(r.results[0].get()) != 5) finding("candidates not n-by-5");
        for (std::size_t k = 2; k < r.results.size(); ++k) {
            if (mxGetM(r.results[k].get()) != mxGetM(r.results[1].get()) ||
                mxGetN(r.results[k].get()) != mxGetN(r.results[1].get()))
                finding("index map not the size of the best map");
        }
    } else if (name == "findparticles") {
        for (std::size_t k = 0; k < r.results.size() && k < 2; ++k) {
            if (mxGetN(r.results[k].get()) != 4 || mxGetM(r.results[k].get()) != mxGetM(r.results[0].get()))
                finding("table or standard errors not n-by-4");
        }
        if (r.results.size() > 2 && !testhost::field(r.results[2].get(), "message"))
            finding("info without its message");
    } else if (name == "ringform") {
        const double* size = mxGetPr(args[6]);
        const std::size_t M = static_cast<std::size_t>(size[0]), N = static_cast<std::size_t>(size[1]);
        for (const auto& a : r.results) {
            if (count(a.get()) != 1 && (mxGetM(a.get()) != M || mxGetN(a.get()) != N))
                finding("result neither 1-by-1 nor sizeH");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static testhost::Module module(FUZZ_MODULE);
    Bytes in{data, size};
    const int nlhs = in.next() % 7;
    const int nrhs = in.next() % 16;
    std::vector<testhost::Array> owned;
    std::vector<const mxArray*> args;
    for (int k = 0; k < nrhs; ++k) {
        owned.push_back(decode_argument(in));
        args.push_back(owned.back().get());
    }
    const testhost::CallResult r = module.call(nlhs, args);
    if (r.wrote_past_slots) finding("stored a result past the host's slots");
    if (r.failed) {
        if (r.error.empty()) finding("raised an empty error");
        return 0;
    }
    const std::size_t slots = static_cast<std::size_t>(nlhs > 1 ? nlhs : 1);
    if (r.results.size() != slots) finding("wrong number of result slots");
    for (const auto& a : r.results) {
        if (!a) finding("left a result slot empty");
    }
    check_shapes(FUZZ_NAME, args, r);
    return 0;
}
