// The detection map on full-size sensors: FFT planning (paid on the first
// call of a size) and the computation with plans known (every later call).
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <vector>

#include "modules/detectscan/detection_map.h"

namespace {

using namespace partiscope;

struct Sensor {
    std::size_t M, N;
    std::vector<double> hol, w, w_prim, q0;
    explicit Sensor(std::size_t m, std::size_t n)
        : M(m), N(n), hol(m * n), w(m * n, 1.0), w_prim(m * n, 1.0), q0(m * n) {
        for (std::size_t k = 0; k < m * n; ++k) hol[k] = std::sin(0.001 * static_cast<double>(k));
    }
    DetectionInput input() const {
        DetectionInput in;
        in.hol = hol.data();
        in.M = M;
        in.N = N;
        in.w = w.data();
        in.w_prim = w_prim.data();
        in.lambda = 6.328e-7;
        in.pix = 6.7e-6;
        in.r = 3e-5;
        in.z = 0.1;
        in.K = 1;
        in.fov = {1, M, 1, N};
        return in;
    }
};

// The two plans a call makes, from nothing learned, at the default effort.
void BM_Planning(benchmark::State& state) {
    const int M = static_cast<int>(state.range(0)), N = static_cast<int>(state.range(1));
    fftw_complex* a = fftw_alloc_complex(static_cast<std::size_t>(M) * N);
    for (auto _ : state) {
        fftw_forget_wisdom();
        fftw_plan f = fftw_plan_dft_2d(N, M, a, a, FFTW_FORWARD, FFTW_MEASURE);
        fftw_plan b = fftw_plan_dft_2d(N, M, a, a, FFTW_BACKWARD, FFTW_MEASURE);
        fftw_destroy_plan(f);
        fftw_destroy_plan(b);
    }
    fftw_free(a);
}
BENCHMARK(BM_Planning)->Args({1024, 1024})->Args({1280, 1024})->Iterations(2)->Unit(benchmark::kMillisecond);

// A whole call once FFTW knows the size: model, seven transforms, scores.
void BM_DetectionMap(benchmark::State& state) {
    Sensor s(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    const DetectionInput in = s.input();
    detection_map(in, s.q0.data(), FFTW_MEASURE);  // learn the plans
    for (auto _ : state) benchmark::DoNotOptimize(detection_map(in, s.q0.data(), FFTW_MEASURE));
}
BENCHMARK(BM_DetectionMap)->Args({1024, 1024})->Args({1280, 1024})->Unit(benchmark::kMillisecond);

// The first call of a size: planning included.
void BM_DetectionMapFirstCall(benchmark::State& state) {
    Sensor s(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    const DetectionInput in = s.input();
    for (auto _ : state) {
        fftw_forget_wisdom();
        benchmark::DoNotOptimize(detection_map(in, s.q0.data(), FFTW_MEASURE));
    }
}
BENCHMARK(BM_DetectionMapFirstCall)->Args({1024, 1024})->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
