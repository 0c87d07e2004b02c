// The precision bound over a 1024-by-1024 sensor, and cylone over 10^7
// elements.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/bound/precision_bound.h"
#include "numerics/cylinder.h"

namespace {

template <bool Reference>
void BM_PrecisionBounds(benchmark::State& state) {
    partiscope::BoundParams p;
    p.x = 1.3e-5;
    p.y = -2.1e-5;
    p.z = 0.1;
    p.r = 5e-5;
    p.pix = 6.7e-6;
    p.lambda = 6.328e-7;
    p.M = 1024;
    p.N = 1024;
    p.sigm = 0.1;
    p.n = static_cast<double>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Reference ? partiscope::reference::precision_bounds(p)
                                           : partiscope::precision_bounds(p));
    }
}
BENCHMARK(BM_PrecisionBounds<false>)->Name("precbound/1024")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrecisionBounds<true>)->Name("precbound/1024/reference")->Arg(0)->Unit(benchmark::kMillisecond);

void BM_Cylone(benchmark::State& state) {
    const std::size_t n = 10000000;
    std::vector<double> x(n), y(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = 1e-5 * static_cast<double>(i);
    for (auto _ : state) {
        partiscope::cylone_elements(x.data(), y.data(), n);
        benchmark::DoNotOptimize(y.data());
    }
}
BENCHMARK(BM_Cylone)->Name("cylone/1e7")->Unit(benchmark::kMillisecond);

}  // namespace
