// The fit's cost against the model's: one particle on a 512x512 plate, and
// ten fitted jointly on 1024x1024, from starts a pixel, 1% in depth and 10%
// in radius off; beside them one real-model evaluation of the same sensor.
#include <benchmark/benchmark.h>

#include <vector>

#include "model/particle_model.h"
#include "core/fit/ring_fit.h"
#include "core/synthesis/plate_synthesis.h"

namespace {

using namespace partiscope;

// synthplate's plates are of the toolbox's model: fitted with it.
FitOptions toolbox_fit() {
    FitOptions o;
    o.particle = ParticleKind::toolbox;
    return o;
}

constexpr double kPix = 6.7e-6, kLambda = 632.8e-9;

struct Plate {
    std::vector<double> hologram, particles, noise, start;
    double Mean = 0;
};

// n particles drawn over the sensor's middle, z 5-15 cm, r 20-60 um, SNR 3.
Plate plate(std::size_t side, int n) {
    SynthParams s;
    s.n = n;
    s.lambda = kLambda;
    s.pix = kPix;
    s.sX = s.sY = side;
    s.I0 = 1;
    s.SNR = 3;
    s.rangeZ[0] = 0.05;
    s.rangeZ[1] = 0.15;
    s.rangeR[0] = 2e-5;
    s.rangeR[1] = 6e-5;
    s.random_coordinates = 1;
    s.meanh = 0;
    Plate p;
    p.hologram.resize(side * side);
    p.noise.resize(side * side);
    p.particles.resize(4 * static_cast<std::size_t>(n));
    synthesize_plate(s, 2026, {p.hologram.data(), p.particles.data(), &p.Mean, p.noise.data()});
    p.start = p.particles;
    const std::size_t m = static_cast<std::size_t>(n);
    for (std::size_t k = 0; k < m; ++k) {
        p.start[k] += k % 2 ? 1.0 : -1.0;
        p.start[k + m] += 0.8;
        p.start[k + 2 * m] *= k % 2 ? 1.01 : 0.99;
        p.start[k + 3 * m] *= k % 2 ? 0.9 : 1.1;
    }
    return p;
}

void BM_RealModel(benchmark::State& state) {
    const std::size_t side = static_cast<std::size_t>(state.range(0));
    ModelParams p;
    p.x = 3 * kPix;
    p.z = 0.1;
    p.r = 4e-5;
    p.pix = kPix;
    p.lambda = kLambda;
    p.M = p.N = static_cast<double>(side);
    std::vector<double> real(side * side), jinc(side * side);
    GridOutputs out;
    out.real_p = real.data();
    out.jinc = jinc.data();
    for (auto _ : state) {
        model_grid(p, false, out);
        benchmark::DoNotOptimize(real.data());
    }
}
BENCHMARK(BM_RealModel)
    ->Name("ringform/real")
    ->Arg(512)
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Fit(benchmark::State& state) {
    const std::size_t side = static_cast<std::size_t>(state.range(0));
    const int n = static_cast<int>(state.range(1));
    const Plate p = plate(side, n);
    FitInput in;
    in.hol = p.hologram.data();
    in.M = in.N = side;
    in.lambda = kLambda;
    in.pix = kPix;
    in.p0 = p.start.data();
    in.n = static_cast<std::size_t>(n);
    int iterations = 0;
    for (auto _ : state) {
        const FitResult r = ring_fit(in, toolbox_fit());
        iterations = r.iterations;
        benchmark::DoNotOptimize(r.p.data());
    }
    state.counters["iterations"] = iterations;
}
BENCHMARK(BM_Fit)
    ->Name("ringfit")
    ->Args({512, 1})
    ->Args({1024, 10})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
