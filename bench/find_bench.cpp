// Finding particles on simulated plates, as a user's recorded holograms
// would be (the background level kept, noise of SNR 3): how many are found
// within 2 pixels and 5 mm, how many detections are false, whether the
// reported standard errors hold, and the time a plate. Then noise-only
// plates: the largest detection score of each (the threshold's calibration)
// and the false detections of the whole search.
//
//   build/bench/find_bench [plates] [noise plates] [particles]   (defaults 20, 100, 20)
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/find/find_particles.h"
#include "core/synthesis/plate_synthesis.h"

namespace {

using namespace partiscope;

// synthplate's plates are of the toolbox's model: fitted with it.
FindOptions toolbox_find() {
    FindOptions o;
    o.particle = ParticleKind::toolbox;
    return o;
}

constexpr double kPix = 6.7e-6, kLambda = 632.8e-9;
constexpr std::size_t kSide = 1024;

double seconds_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Search {
    std::vector<double> depths, radii;
    FindInput input(const std::vector<double>& hol) const {
        FindInput in;
        in.hol = hol.data();
        in.M = in.N = kSide;
        in.lambda = kLambda;
        in.pix = kPix;
        in.depths = depths.data();
        in.nz = depths.size();
        in.radii = radii.data();
        in.nr = radii.size();
        return in;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int plates = argc > 1 ? std::atoi(argv[1]) : 20;
    const int noise_plates = argc > 2 ? std::atoi(argv[2]) : 100;
    const int count = argc > 3 ? std::atoi(argv[3]) : 20;
    Search search;
    for (int k = 0; k <= 10; ++k) search.depths.push_back(0.05 + 0.01 * k);
    search.radii = {20e-6, 40e-6, 60e-6};
    const unsigned planner = FFTW_MEASURE;
    // A fourth argument "free" fits every particle's contrast (default: 1,
    // the plates' own).
    FindOptions options = toolbox_find();
    if (argc > 4 && std::string(argv[4]) == "free") options.contrast_free = true;

    std::printf("%dx%d, pitch 6.7 um, 632.8 nm, %d particles anywhere, z 5-15 cm, r 20-60 um,\n"
                "SNR 3, background level kept; scan: 11 depths x 3 radii; threshold %.1f;\n"
                "contrast %s\n\n",
                static_cast<int>(kSide), static_cast<int>(kSide), count, options.threshold,
                options.contrast_free ? "free" : "fixed at 1");
    int truth_total = 0, matched = 0, false_total = 0, unconverged = 0;
    double seconds = 0, worst = 0;
    std::vector<double> z2[4], se_sum(4, 0.0);
    double zr_sum = 0;
    for (int t = 0; t < plates; ++t) {
        SynthParams s;
        s.n = count;
        s.lambda = kLambda;
        s.pix = kPix;
        s.sX = s.sY = kSide;
        s.I0 = 1;
        s.SNR = 3;
        s.rangeZ[0] = 0.05;
        s.rangeZ[1] = 0.15;
        s.rangeR[0] = 20e-6;
        s.rangeR[1] = 60e-6;
        s.random_coordinates = 1;
        s.meanh = 1;
        std::vector<double> hol(kSide * kSide), noise(kSide * kSide), truth(4 * count);
        double mean = 0;
        synthesize_plate(s, 1000 + t, {hol.data(), truth.data(), &mean, noise.data()});
        const double t0 = seconds_now();
        const FindResult r = find_particles(search.input(hol), options, planner);
        const double dt = seconds_now() - t0;
        seconds += dt;
        worst = std::max(worst, dt);
        // Each true particle takes the nearest unclaimed detection within
        // 2 pixels and 5 mm.
        std::vector<bool> claimed(r.n, false);
        int found = 0;
        for (int k = 0; k < count; ++k) {
            int best = -1;
            double best_d = 1e300;
            for (std::size_t j = 0; j < r.n; ++j) {
                const double d = std::hypot(r.p[j] - truth[k], r.p[j + r.n] - truth[k + count]);
                if (claimed[j] || d > 2.0 || std::fabs(r.p[j + 2 * r.n] - truth[k + 2 * count]) > 5e-3)
                    continue;
                if (d < best_d) {
                    best_d = d;
                    best = static_cast<int>(j);
                }
            }
            if (best < 0) continue;
            claimed[static_cast<std::size_t>(best)] = true;
            ++found;
            const std::size_t j = static_cast<std::size_t>(best);
            if (!r.converged[j]) ++unconverged;
            for (int q = 0; q < 4; ++q) {
                const double e = (r.p[j + q * r.n] - truth[k + q * count]) / r.se[j + q * r.n];
                z2[q].push_back(e * e);
                se_sum[q] += r.se[j + q * r.n];
            }
            zr_sum += std::fabs(r.zr_correlation[j]);
        }
        const int false_here = static_cast<int>(r.n) - found;
        truth_total += count;
        matched += found;
        false_total += false_here;
        std::printf("plate %2d: found %2d of %d, %d false, %d passes, %.1f s\n", t + 1, found, count,
                    false_here, r.passes, dt);
        std::fflush(stdout);
    }
    if (plates > 0) {
        std::printf("\n%-44s %10s %10s\n", "", "measured", "target");
        std::printf("%-44s %9.1f%% %10s\n", "particles found (within 2 px and 5 mm)",
                    100.0 * matched / truth_total, ">= 98%");
        std::printf("%-44s %10.2f %10s\n", "false detections a plate",
                    static_cast<double>(false_total) / plates, "<= 0.1");
        const char* names[4] = {"x", "y", "z", "r"};
        for (int q = 0; q < 4; ++q) {
            double s = 0;
            for (double v : z2[q]) s += v;
            std::printf("RMS error / reported SE, %-19s %10.2f %10s\n", names[q],
                        std::sqrt(s / std::max<std::size_t>(1, z2[q].size())), "<= 1.3");
        }
        std::printf("%-44s %10d\n", "found particles whose fit did not converge", unconverged);
        std::printf("%-44s %10.3f\n", "mean |correlation of z and r|", zr_sum / std::max(1, matched));
        std::printf("mean SE: x %.4f px, y %.4f px, z %.2f um, r %.3f um\n", se_sum[0] / matched,
                    se_sum[1] / matched, 1e6 * se_sum[2] / matched, 1e6 * se_sum[3] / matched);
        std::printf("%-44s %10.2f %10s\n", "seconds a plate (mean)", seconds / plates, "<= 10");
        std::printf("%-44s %10.2f\n", "seconds a plate (slowest)", worst);
        std::printf("(%d plates, %d particles)\n", plates, truth_total);
    }

    // Noise-only plates: a level of 1 with noise of standard deviation 1/3.
    if (noise_plates > 0) {
        std::mt19937_64 g(20261209);
        std::normal_distribution<double> noise(1.0, 1.0 / 3.0);
        std::vector<double> tops;
        int false_plates = 0, false_count = 0;
        for (int t = 0; t < noise_plates; ++t) {
            std::vector<double> hol(kSide * kSide);
            for (double& v : hol) v = noise(g);
            // The largest score of the first scan: what a threshold must stay above.
            StackInput si;
            std::vector<double> res = hol;
            double mean = 0;
            for (double v : res) mean += v;
            mean /= static_cast<double>(res.size());
            for (double& v : res) v -= mean;
            si.hol = res.data();
            si.M = si.N = kSide;
            si.lambda = kLambda;
            si.pix = kPix;
            si.depths = search.depths.data();
            si.nz = search.depths.size();
            si.radii = search.radii.data();
            si.nr = search.radii.size();
            si.fov = {1, kSide, 1, kSide};
            std::vector<double> best(kSide * kSide);
            std::vector<std::int32_t> pair(best.size());
            StackOptions so;
            so.threshold = 0.0;
            so.max_count = 1;
            const StackDetection d = detect_stack(si, so, {best.data(), pair.data()}, planner);
            tops.push_back(d.candidates.empty() ? 0.0 : d.candidates[0].score);
            if (tops.back() >= options.threshold) {
                const FindResult r = find_particles(search.input(hol), options, planner);
                false_count += static_cast<int>(r.n);
                false_plates += r.n > 0;
            }
        }
        std::sort(tops.begin(), tops.end());
        const auto quantile = [&](double q) {
            return tops[std::min(tops.size() - 1, static_cast<std::size_t>(q * tops.size()))];
        };
        std::printf("\nnoise-only plates: %d; largest score a plate: median %.2f, 90%% %.2f, "
                    "99%% %.2f, max %.2f\n",
                    noise_plates, quantile(0.5), quantile(0.9), quantile(0.99), tops.back());
        std::printf("plates with a false detection at threshold %.1f: %d (%d detections)\n",
                    options.threshold, false_plates, false_count);
    }
    return 0;
}
