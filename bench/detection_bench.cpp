// The detection map on full-size sensors: planning (paid by the first call
// of a size), the first call, every later call, the reference computation,
// and the seven complex transforms of that size alone.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/detection/detection_map.h"
#include "core/detection/detection_stack.h"

namespace {

using namespace partiscope;

struct Sensor {
    std::size_t M, N;
    std::vector<double> hol, w, w_prim, q0;
    explicit Sensor(const benchmark::State& s)
        : M(static_cast<std::size_t>(s.range(0))), N(static_cast<std::size_t>(s.range(1))),
          hol(M * N), w(M * N, 1.0), w_prim(M * N, 1.0), q0(M * N) {
        for (std::size_t k = 0; k < M * N; ++k) hol[k] = std::sin(0.001 * static_cast<double>(k));
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

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({1024, 1024})->Args({1280, 1024})->Args({2048, 2048})->Unit(benchmark::kMillisecond);
}

// The two real plans a call makes, from nothing learned, with its bound on
// planning time.
void BM_Planning(benchmark::State& state) {
    const int M = static_cast<int>(state.range(0)), N = static_cast<int>(state.range(1));
    const std::size_t half = static_cast<std::size_t>(M / 2 + 1) * static_cast<std::size_t>(N);
    double* r = fftw_alloc_real(static_cast<std::size_t>(M) * static_cast<std::size_t>(N));
    fftw_complex* c = fftw_alloc_complex(half);
    for (auto _ : state) {
        fftw_forget_wisdom();
        fftw_set_timelimit(0.9);
        fftw_plan f = fftw_plan_dft_r2c_2d(N, M, r, c, FFTW_MEASURE);
        fftw_plan b = fftw_plan_dft_c2r_2d(N, M, c, r, FFTW_MEASURE);
        fftw_destroy_plan(f);
        fftw_destroy_plan(b);
    }
    fftw_free(r);
    fftw_free(c);
}
BENCHMARK(BM_Planning)->Name("detectscan/planning")->Apply(sizes)->Iterations(1);

void BM_FirstCall(benchmark::State& state) {
    Sensor s(state);
    const DetectionInput in = s.input();
    for (auto _ : state) {
        fftw_forget_wisdom();
        benchmark::DoNotOptimize(detection_map(in, s.q0.data(), FFTW_MEASURE));
    }
}
BENCHMARK(BM_FirstCall)->Name("detectscan/first_call")->Apply(sizes)->Iterations(1);

template <bool Reference>
void BM_Steady(benchmark::State& state) {
    Sensor s(state);
    const DetectionInput in = s.input();
    const auto run = [&] {
        return Reference ? reference::detection_map(in, s.q0.data(), FFTW_MEASURE)
                         : detection_map(in, s.q0.data(), FFTW_MEASURE);
    };
    run();  // learn the plans
    for (auto _ : state) benchmark::DoNotOptimize(run());
}
BENCHMARK(BM_Steady<false>)->Name("detectscan/steady")->Apply(sizes);
BENCHMARK(BM_Steady<true>)->Name("detectscan/steady/reference")->Apply(sizes);

// A stack of 20 (depth, radius) pairs in one call against 20 single-pair
// maps, the pairs of the stack: 5 depths by 4 radii.
constexpr int kPairs = 20;
const std::vector<double> kDepths = {0.06, 0.08, 0.10, 0.12, 0.14}, kRadii = {2e-5, 3e-5, 4e-5, 5e-5};

void BM_StackOfPairs(benchmark::State& state) {
    Sensor s(state);
    StackInput in;
    in.hol = s.hol.data();
    in.M = s.M;
    in.N = s.N;
    in.lambda = 6.328e-7;
    in.pix = 6.7e-6;
    in.K = 1;
    in.depths = kDepths.data();
    in.nz = kDepths.size();
    in.radii = kRadii.data();
    in.nr = kRadii.size();
    in.fov = {1, s.M, 1, s.N};
    std::vector<std::int32_t> pair(s.M * s.N);
    detection_stack(in, {s.q0.data(), pair.data()}, FFTW_MEASURE);  // learn the plans
    for (auto _ : state)
        benchmark::DoNotOptimize(detection_stack(in, {s.q0.data(), pair.data()}, FFTW_MEASURE));
}
BENCHMARK(BM_StackOfPairs)->Name("detectstack/20_pairs")->Apply(sizes);

void BM_SinglePairMaps(benchmark::State& state) {
    Sensor s(state);
    DetectionInput in = s.input();
    detection_map(in, s.q0.data(), FFTW_MEASURE);
    for (auto _ : state) {
        for (double r : kRadii) {
            for (double z : kDepths) {
                in.r = r;
                in.z = z;
                benchmark::DoNotOptimize(detection_map(in, s.q0.data(), FFTW_MEASURE));
            }
        }
    }
}
BENCHMARK(BM_SinglePairMaps)->Name("detectscan/20_calls")->Apply(sizes);

// Seven in-place complex transforms of the size, one thread, MEASURE plans.
void BM_SevenComplexTransforms(benchmark::State& state) {
    const int M = static_cast<int>(state.range(0)), N = static_cast<int>(state.range(1));
    const std::size_t n = static_cast<std::size_t>(M) * static_cast<std::size_t>(N);
    fftw_complex* a = fftw_alloc_complex(n);
    fftw_set_timelimit(FFTW_NO_TIMELIMIT);  // a full MEASURE plan
    fftw_plan p = fftw_plan_dft_2d(N, M, a, a, FFTW_FORWARD, FFTW_MEASURE);
    std::vector<double> start(2 * n);
    for (std::size_t k = 0; k < 2 * n; ++k) start[k] = 1e-3 * static_cast<double>(k % 1000);
    for (auto _ : state) {
        // Fresh values each round (unnormalised transforms would overflow),
        // copied outside the timed part.
        std::memcpy(a, start.data(), 2 * n * sizeof(double));
        const auto t0 = std::chrono::steady_clock::now();
        for (int t = 0; t < 7; ++t) fftw_execute(p);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        benchmark::DoNotOptimize(a);
    }
    fftw_destroy_plan(p);
    fftw_free(a);
}
BENCHMARK(BM_SevenComplexTransforms)->Name("detectscan/seven_complex_ffts")->Apply(sizes)->UseManualTime();

}  // namespace
