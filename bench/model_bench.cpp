// The particle model on a 1024-by-1024 sensor, in each of its forms.
#include <benchmark/benchmark.h>

#include <vector>

#include "model/particle_model.h"

namespace {

using namespace partiscope;

ModelParams sensor(double K) {
    ModelParams p;
    p.x = 1.3e-5;
    p.y = -2.1e-5;
    p.z = 0.1;
    p.r = 5e-5;
    p.pix = 6.7e-6;
    p.lambda = 6.328e-7;
    p.M = 1024;
    p.N = 1024;
    p.K = K;
    return p;
}

constexpr std::size_t kPixels = 1024 * 1024;

void BM_ModelGridReal(benchmark::State& state) {
    const ModelParams p = sensor(static_cast<double>(state.range(0)));
    std::vector<double> real(kPixels), jinc(kPixels);
    GridOutputs out;
    out.real_p = real.data();
    out.jinc = jinc.data();
    for (auto _ : state) {
        model_grid(p, false, out);
        benchmark::DoNotOptimize(real.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(kPixels));
}
BENCHMARK(BM_ModelGridReal)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ModelGridComplex(benchmark::State& state) {
    const ModelParams p = sensor(static_cast<double>(state.range(0)));
    std::vector<double> re(kPixels), im(kPixels), jinc(kPixels);
    GridOutputs out;
    out.complex_re = re.data();
    out.complex_im = im.data();
    out.jinc = jinc.data();
    for (auto _ : state) {
        model_grid(p, true, out);
        benchmark::DoNotOptimize(re.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(kPixels));
}
BENCHMARK(BM_ModelGridComplex)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FresnelKernel(benchmark::State& state) {
    ModelParams p = sensor(0);
    p.r = 0;
    std::vector<double> re(kPixels), im(kPixels);
    GridOutputs out;
    out.complex_re = re.data();
    out.complex_im = im.data();
    for (auto _ : state) {
        model_grid(p, true, out);
        benchmark::DoNotOptimize(re.data());
    }
}
BENCHMARK(BM_FresnelKernel)->Unit(benchmark::kMillisecond);

void BM_DetectionTemplate(benchmark::State& state) {
    const ModelParams p = sensor(1);
    std::vector<double> out(kPixels);
    for (auto _ : state) {
        model_calc(out.data(), p);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_DetectionTemplate)->Unit(benchmark::kMillisecond);

void BM_AccumulateParticle(benchmark::State& state) {
    const ModelParams p = sensor(1);
    std::vector<double> re(kPixels), im(kPixels);
    for (auto _ : state) {
        model_calc(re.data(), im.data(), p);
        benchmark::DoNotOptimize(re.data());
    }
}
BENCHMARK(BM_AccumulateParticle)->Unit(benchmark::kMillisecond);

}  // namespace
