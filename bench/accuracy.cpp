// Monte-Carlo accuracy of the fit against its own standard errors: noisy
// plates from the simulation with known particles, fitted from perturbed
// starts. Prints, per parameter, the RMS error, the mean reported standard
// error, their ratio, the mean error (bias) in standard errors, and the RMS
// of the errors each divided by its own standard error (1 when the reported
// errors are right).
//
//   build/bench/accuracy [plates] [pair plates]     (defaults 200 and 100)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

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
constexpr std::size_t kSide = 512;

struct Tally {
    std::vector<double> err[4], se[4];
    int failed = 0, count = 0;
    double seconds = 0;

    void add(const FitResult& r, const std::vector<double>& truth, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) {
            ++count;
            if (!r.converged[k]) {
                ++failed;
                continue;
            }
            for (int q = 0; q < 4; ++q) {
                err[q].push_back(r.p[k + q * n] - truth[k + q * n]);
                se[q].push_back(r.se[k + q * n]);
            }
        }
    }

    void print(const char* title, double rms_target) const {
        std::printf("\n%s: %d particles, %d not converged, %.0f ms a particle\n", title, count,
                    failed, 1e3 * seconds / (count > 0 ? count : 1));
        std::printf("%-4s %12s %12s %9s %11s %12s %14s\n", "", "RMS error", "mean SE", "RMS/SE",
                    "bias/SE", "spread/SE", "RMS(err/SE)");
        const char* names[4] = {"x", "y", "z", "r"};
        for (int q = 0; q < 4; ++q) {
            const std::size_t m = err[q].size();
            double s2 = 0, mean = 0, mse = 0, z2 = 0;
            for (std::size_t i = 0; i < m; ++i) {
                s2 += err[q][i] * err[q][i];
                mean += err[q][i];
                mse += se[q][i];
                z2 += (err[q][i] / se[q][i]) * (err[q][i] / se[q][i]);
            }
            const double rms = std::sqrt(s2 / m), bias = mean / m, sebar = mse / m;
            const double spread = std::sqrt(s2 / m - bias * bias);
            std::printf("%-4s %12.4g %12.4g %8.3f%s %11.3f %12.3f %14.3f\n", names[q], rms, sebar,
                        rms / sebar, rms / sebar <= rms_target ? " " : "!", bias / sebar,
                        spread / sebar, std::sqrt(z2 / m));
        }
        std::printf("(x, y in pixels, z and r in metres; ! marks RMS/SE above %.1f)\n", rms_target);
    }
};

struct Plate {
    std::vector<double> hologram, particles, noise;
    double Mean = 0;
};

Plate render(const std::vector<double>& table, std::uint32_t seed) {
    SynthParams s;
    s.n = static_cast<int>(table.size() / 4);
    s.lambda = kLambda;
    s.pix = kPix;
    s.sX = s.sY = kSide;
    s.I0 = 1;
    s.SNR = 3;
    s.coordinates = table.data();
    s.meanh = 0;
    Plate p;
    p.hologram.resize(kSide * kSide);
    p.noise.resize(kSide * kSide);
    p.particles.resize(table.size());
    synthesize_plate(s, seed, {p.hologram.data(), p.particles.data(), &p.Mean, p.noise.data()});
    return p;
}

double seconds_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    const int plates = argc > 1 ? std::atoi(argv[1]) : 200;
    const int pairs = argc > 2 ? std::atoi(argv[2]) : 100;
    std::mt19937_64 g(20261209);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * unit(g); };
    const auto sign = [&] { return unit(g) < 0.5 ? -1.0 : 1.0; };

    // Start: about a pixel off in x and y, 1% in z, 10% in r, signs at random.
    const auto start_of = [&](const std::vector<double>& t) {
        std::vector<double> s = t;
        const std::size_t n = t.size() / 4;
        for (std::size_t k = 0; k < n; ++k) {
            s[k] += sign() * uniform(0.5, 1.0);
            s[k + n] += sign() * uniform(0.5, 1.0);
            s[k + 2 * n] *= 1 + sign() * 0.01;
            s[k + 3 * n] *= 1 + sign() * 0.1;
        }
        return s;
    };
    const auto fit = [&](const Plate& p, const std::vector<double>& start, Tally& tally) {
        FitInput in;
        in.hol = p.hologram.data();
        in.M = in.N = kSide;
        in.lambda = kLambda;
        in.pix = kPix;
        in.p0 = start.data();
        in.n = start.size() / 4;
        const double t0 = seconds_now();
        const FitResult r = ring_fit(in, toolbox_fit());
        tally.seconds += seconds_now() - t0;
        tally.add(r, p.particles, in.n);
    };

    std::printf(
        "512x512, pitch 6.7 um, 632.8 nm, z 5-15 cm, r 20-60 um, SNR 3; starts 0.5-1 px,\n"
        "1%% in z and 10%% in r off; intensity model, b and c fitted, contrast 1\n");
    Tally single;
    for (int t = 0; t < plates; ++t) {
        const std::vector<double> table = {uniform(-100, 100), uniform(-100, 100),
                                           uniform(0.05, 0.15), uniform(20e-6, 60e-6)};
        const Plate p = render(table, static_cast<std::uint32_t>(1000 + t));
        fit(p, start_of(p.particles), single);
    }
    single.print("isolated particle", 1.1);

    Tally pair;
    for (int t = 0; t < pairs; ++t) {
        const double d = uniform(30, 80), a = uniform(0, 2 * 3.141592653589793);
        const double x = uniform(-60, 60), y = uniform(-60, 60);
        const std::vector<double> table = {x,
                                           x + d * std::cos(a),
                                           y,
                                           y + d * std::sin(a),
                                           uniform(0.05, 0.15),
                                           uniform(0.05, 0.15),
                                           uniform(20e-6, 60e-6),
                                           uniform(20e-6, 60e-6)};
        const Plate p = render(table, static_cast<std::uint32_t>(5000 + t));
        fit(p, start_of(p.particles), pair);
    }
    pair.print("overlapping pair (centres 30-80 px apart), fitted jointly", 1.3);
    return 0;
}
