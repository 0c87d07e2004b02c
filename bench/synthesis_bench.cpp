// A 100-particle plate on a 1024-by-1024 sensor, with noise.
#include <benchmark/benchmark.h>

#include <vector>

#include "modules/synthplate/plate_synthesis.h"

namespace {

void BM_SynthesizePlate(benchmark::State& state) {
    partiscope::SynthParams p;
    p.n = static_cast<int>(state.range(0));
    p.lambda = 6.328e-7;
    p.pix = 6.7e-6;
    p.sX = 1024;
    p.sY = 1024;
    p.I0 = 1;
    p.SNR = 10;
    p.rangeZ[0] = 0.05;
    p.rangeZ[1] = 0.15;
    p.rangeR[0] = 2e-5;
    p.rangeR[1] = 6e-5;
    p.random_coordinates = 1;
    std::vector<double> hologram(1024 * 1024), noise(1024 * 1024), particles(4 * p.n);
    double mean = 0;
    for (auto _ : state) {
        partiscope::synthesize_plate(p, 2024, {hologram.data(), particles.data(), &mean, noise.data()});
        benchmark::DoNotOptimize(hologram.data());
    }
}
BENCHMARK(BM_SynthesizePlate)->Arg(1)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
