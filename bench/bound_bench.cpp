// The precision bound over a 1024-by-1024 sensor.
#include <benchmark/benchmark.h>

#include "modules/precbound/precision_bound.h"

namespace {

void BM_PrecisionBounds(benchmark::State& state) {
    partiscope::BoundParams p;
    p.x = 1.3e-5;
    p.y = -2.1e-5;
    p.z = 0.1;
    p.r = 5e-5;
    p.pix = 6.7e-6;
    p.lambda = 6.328e-7;
    p.W = 1024;
    p.H = 1024;
    p.sigm = 0.1;
    p.n = static_cast<double>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(partiscope::precision_bounds(p));
}
BENCHMARK(BM_PrecisionBounds)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
