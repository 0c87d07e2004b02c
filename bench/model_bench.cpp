// The particle model on full-size sensors: the forms the modules use and
// the reference evaluation.
#include <benchmark/benchmark.h>

#include <vector>

#include "model/particle_model.h"
#include "model/reference_model.h"

namespace {

using namespace partiscope;

ModelParams sensor(double side, double K) {
    ModelParams p;
    p.x = 1.3e-5;
    p.y = -2.1e-5;
    p.z = 0.1;
    p.r = 5e-5;
    p.pix = 6.7e-6;
    p.lambda = 6.328e-7;
    p.M = side;
    p.N = side;
    p.K = K;
    return p;
}

template <bool Complex, bool Reference>
void BM_Ringform(benchmark::State& state) {
    const ModelParams p = sensor(static_cast<double>(state.range(0)), 1);
    const std::size_t n = static_cast<std::size_t>(state.range(0) * state.range(0));
    std::vector<double> a(n), b(n), jinc(n);
    GridOutputs out;
    out.real_p = a.data();
    out.complex_re = a.data();
    out.complex_im = b.data();
    out.jinc = jinc.data();
    for (auto _ : state) {
        if (Reference) reference::model_grid(p, Complex, out);
        else model_grid(p, Complex, out);
        benchmark::DoNotOptimize(a.data());
    }
}
BENCHMARK(BM_Ringform<false, false>)->Name("ringform/real")->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ringform<true, false>)->Name("ringform/complex")->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ringform<true, true>)->Name("ringform/complex/reference")->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);

}  // namespace
