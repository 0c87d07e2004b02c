// A 100-particle plate on a 1024-by-1024 sensor, with and without noise.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/synthesis/plate_synthesis.h"

namespace {

template <bool Reference>
void BM_SynthesizePlate(benchmark::State& state) {
    partiscope::SynthParams p;
    p.n = 100;
    p.lambda = 6.328e-7;
    p.pix = 6.7e-6;
    p.sX = 1024;
    p.sY = 1024;
    p.I0 = 1;
    p.SNR = static_cast<double>(state.range(0));
    p.rangeZ[0] = 0.05;
    p.rangeZ[1] = 0.15;
    p.rangeR[0] = 2e-5;
    p.rangeR[1] = 6e-5;
    p.random_coordinates = 1;
    std::vector<double> hologram(1024 * 1024), noise(1024 * 1024), particles(4 * 100);
    double mean = 0;
    const partiscope::PlateOutputs out{hologram.data(), particles.data(), &mean, noise.data()};
    for (auto _ : state) {
        if (Reference) partiscope::reference::synthesize_plate(p, 2024, out);
        else partiscope::synthesize_plate(p, 2024, out);
        benchmark::DoNotOptimize(hologram.data());
    }
}
// The argument is the SNR: 0 draws no noise.
BENCHMARK(BM_SynthesizePlate<false>)->Name("synthplate/100")->Arg(10)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SynthesizePlate<true>)->Name("synthplate/100/reference")->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
