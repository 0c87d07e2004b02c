#include "find_particles.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "model/particle_model.h"
#include "numerics/error.h"

namespace partiscope {
namespace {

constexpr double kTakenTogether = 0.5;
// At most this many new particles a scan: each joins a joint fit, whose
// cost grows with the square of its parameters.
constexpr std::size_t kMostAPass = 25;
// A genuine pattern summed directly around its centre scores about as well
// as in the map (better, at its refined depth); a ghost of the wrap-around
// scores a fraction.
constexpr double kGhost = 0.5;

// What one particle's start needs from the scan.
struct Start {
    double x, y, z, r, score;
    double a = 1.0;        // contrast
    bool settled = false;  // fitted in an earlier pass
};

// The criterion of the stack at one pixel, summed directly over a square
// window of half-width H around it (no wrap-around): the squared weighted
// inner product of residual and template over the template's weighted
// variance. quad is scratch for the template's (H + 1)^2 quadrant.
double window_score(const std::vector<double>& res, const std::vector<double>& w, std::size_t M,
                    std::size_t N, std::size_t row, std::size_t col, std::size_t H, double z,
                    double r, const FindInput& in, double K, std::vector<double>& quad) {
    ModelParams p;
    p.z = z;
    p.r = r;
    p.pix = in.pix;
    p.lambda = in.lambda;
    p.K = K;
    quad.resize((H + 1) * (H + 1));
    model_calc_quadrant(quad.data(), H + 1, H + 1, p);
    const std::size_t i0 = row > H ? row - H : 0, i1 = std::min(M - 1, row + H);
    const std::size_t j0 = col > H ? col - H : 0, j1 = std::min(N - 1, col + H);
    double sw = 0, swm = 0, swm2 = 0, swdm = 0;
    for (std::size_t j = j0; j <= j1; ++j) {
        const double* Q = quad.data() + (j > col ? j - col : col - j) * (H + 1);
        for (std::size_t i = i0; i <= i1; ++i) {
            const std::size_t k = i + j * M;
            const double m = Q[i > row ? i - row : row - i], wk = w[k];
            sw += wk;
            swm += wk * m;
            swm2 += wk * m * m;
            swdm += wk * res[k] * m;
        }
    }
    const double variance = swm2 - swm * swm / sw;
    return variance > 0.0 ? swdm * swdm / variance : 0.0;
}

// The best of `count` evenly spaced values of one parameter over [lo, hi]
// (the others held), then of as many between its two neighbours: a
// resolution of a few hundredths of the interval, inside the fit's reach.
template <class Score>
double scan(double lo, double hi, int count, Score score) {
    double best_v = lo, best_q = -1.0;
    for (int round = 0; round < 2; ++round) {
        const double step = (hi - lo) / (count - 1);
        for (int k = 0; k < count; ++k) {
            const double v = lo + step * k;
            const double q = score(v);
            if (q > best_q) {
                best_q = q;
                best_v = v;
            }
        }
        lo = best_v - step;
        hi = best_v + step;
    }
    return best_v;
}

// The neighbours of a grid value: the interval the scan's winner stands
// for (a tenth either side at the grid's ends or for a single value).
void bracket(const double* grid, std::size_t count, std::size_t k, double& lo, double& hi) {
    lo = k > 0 ? grid[k - 1] : grid[k] * 0.9;
    hi = k + 1 < count ? grid[k + 1] : grid[k] * 1.1;
    if (count == 1) {
        lo = grid[0] * 0.9;
        hi = grid[0] * 1.1;
    }
}

// The sub-pixel offset of a peak from its values at -1, 0, +1 (a parabola),
// within half a pixel.
double vertex(double minus, double centre, double plus) {
    const double curvature = minus - 2.0 * centre + plus;
    if (!(curvature < 0.0) || !std::isfinite(minus) || !std::isfinite(plus)) return 0.0;
    return std::clamp(0.5 * (minus - plus) / curvature, -0.5, 0.5);
}

// The fitted hologram over the whole sensor, without its noise.
void render(const FindInput& in, const FindOptions& o, const FitResult& f, std::size_t n,
            std::vector<double>& model) {
    const std::size_t M = in.M, N = in.N;
    std::vector<ModelParams> particles(n);
    for (std::size_t k = 0; k < n; ++k) {
        ModelParams& p = particles[k];
        p.x = f.p[k] * in.pix;
        p.y = f.p[k + n] * in.pix;
        p.z = f.p[k + 2 * n];
        p.r = f.p[k + 3 * n];
        p.pix = in.pix;
        p.lambda = in.lambda;
        p.M = static_cast<double>(M);
        p.N = static_cast<double>(N);
        p.K = pixel_width(o.particle, o.K);
    }
    std::vector<double> re(M * N), im(M * N);
    particle_field(o.particle, particles, f.contrast, M, N, re.data(), im.data());
    model.resize(M * N);
    for (std::size_t k = 0; k < M * N; ++k) {
        model[k] = o.model == FitModel::intensity
                       ? f.background * ((1.0 - re[k]) * (1.0 - re[k]) + im[k] * im[k]) + f.offset
                       : f.offset + f.background * (1.0 - 2.0 * re[k]);
    }
}

}  // namespace

void drop_overlaps(const std::vector<double>& p, const std::vector<double>& se,
                   const std::vector<double>& score, double pix, std::vector<char>& keep) {
    const std::size_t n = score.size();
    for (std::size_t k = 0; k < n; ++k) {
        for (std::size_t j = 0; j < n && keep[k]; ++j) {
            const bool stronger = score[j] > score[k] || (score[j] == score[k] && j < k);
            if (j == k || !keep[j] || !stronger) continue;
            const double reach = p[j + 3 * n] + p[k + 3 * n];
            const double lateral = std::hypot(p[j] - p[k], p[j + n] - p[k + n]) * pix;
            const double depth_error = 3.0 * std::hypot(se[j + 2 * n], se[k + 2 * n]);
            keep[k] = !(lateral < reach && std::fabs(p[j + 2 * n] - p[k + 2 * n]) < reach + depth_error);
        }
    }
}

void validate(const FindOptions& o) {
    // Noise alone scores like the magnitude of a normal variable at every
    // position: below 3 a search would take noise peaks by the hundred.
    if (!(o.threshold >= 3.0)) throw Error("Error: Threshold must be at least 3");
    kMaxCountRange.of(static_cast<double>(o.max_count));
    kMaxPassesRange.of(o.max_passes);
    if (!(o.sigma >= 0.0) || !std::isfinite(o.sigma))
        throw Error("Error: Sigma must be a positive finite number");
    FitOptions fit;
    fit.contrast_free = o.contrast_free;
    fit.contrast = o.contrast;
    fit.K = o.K;
    fit.max_iter = o.max_iter;
    fit.tolerance = o.tolerance;
    validate(fit);
}

FindResult find_particles(const FindInput& in, const FindOptions& o, unsigned planner_flags) {
    const std::size_t M = in.M, N = in.N, npix = M * N;
    StackInput s;
    s.M = M;
    s.N = N;
    s.lambda = in.lambda;
    s.pix = in.pix;
    s.K = pixel_width(o.particle, o.K);
    s.depths = in.depths;
    s.nz = in.nz;
    s.radii = in.radii;
    s.nr = in.nr;
    s.fov = {1, M, 1, N};
    StackOptions so;
    so.threshold = o.threshold;
    so.min_separation = o.min_separation;
    so.sigma = o.sigma;
    {
        StackInput check = s;
        check.hol = in.hol;
        check.w = o.weights;
        check_stack_input(check, so);
    }
    validate(o);
    const double K = pixel_width(o.particle, o.K);

    // Weights: the user's, with every non-finite pixel masked.
    std::vector<double> w(npix), data(npix);
    FindResult result;
    double sw = 0.0, swd = 0.0;
    for (std::size_t k = 0; k < npix; ++k) {
        const double wk = o.weights ? o.weights[k] : 1.0;
        if (!std::isfinite(wk)) throw Error("Error: Weights must be finite and non-negative");
        const bool usable = wk > 0.0 && std::isfinite(in.hol[k]);
        w[k] = usable ? wk : 0.0;
        data[k] = usable ? in.hol[k] : 0.0;
        if (!usable) ++result.pixels_ignored;
        sw += w[k];
        swd += w[k] * data[k];
    }
    if (!(sw > 0.0)) throw Error("Error: hol has no pixel with a finite value and non-zero weight");
    const double level = swd / sw;
    // The first residual: the data less its weighted mean (the criterion
    // has no offset term of its own).
    std::vector<double> res(npix);
    for (std::size_t k = 0; k < npix; ++k) res[k] = w[k] > 0.0 ? data[k] - level : 0.0;

    std::vector<Start> found, rejected;
    FitResult fit;
    bool fitted = false;
    std::vector<double> best(npix), model, quad;
    std::vector<std::int32_t> pair(npix);
    s.hol = res.data();
    s.w = w.data();
    // The fit of every particle found so far. hold: those fitted before are
    // held at their values (the new ones are fitted among their patterns);
    // otherwise all are fitted jointly from where they are.
    bool held_any = false;
    const double radius_floor = 0.5 * in.radii[0];
    const double hM = static_cast<double>(M / 2), hN = static_cast<double>(N / 2);
    const auto fit_found = [&](bool hold) {
        for (;;) {
            const std::size_t n = found.size();
            std::vector<double> p0(4 * n), a(n);
            std::unique_ptr<bool[]> held(new bool[n]);
            bool all_settled = true;
            for (std::size_t k = 0; k < n; ++k) {
                p0[k] = found[k].x;
                p0[k + n] = found[k].y;
                p0[k + 2 * n] = found[k].z;
                p0[k + 3 * n] = found[k].r;
                a[k] = found[k].a;
                // Those near a new particle are fitted again with it: an
                // overlap the earlier fit did not know of moves them.
                bool overlapped = false;
                for (const Start& f : found) {
                    overlapped = overlapped ||
                                 (!f.settled && std::hypot(f.x - found[k].x, f.y - found[k].y) <
                                                    std::sqrt(4.0 * in.lambda * f.z) / in.pix);
                }
                held[k] = hold && found[k].settled && !overlapped;
                held_any = held_any || held[k];
                all_settled = all_settled && found[k].settled;
            }
            FitInput fi;
            fi.hol = data.data();
            fi.M = M;
            fi.N = N;
            fi.lambda = in.lambda;
            fi.pix = in.pix;
            fi.p0 = p0.data();
            fi.n = n;
            FitOptions fo;
            fo.model = o.model;
            fo.particle = o.particle;
            fo.contrast_free = o.contrast_free;
            fo.contrast = o.contrast;
            fo.weights = w.data();
            fo.K = o.K;
            fo.max_iter = o.max_iter;
            // Pass by pass the fit only has to leave a clean residual for the
            // next scan: a standard error is close enough there, and the joint
            // fit at the end converges the rest.
            fo.tolerance = hold ? std::max(o.tolerance, 1.0) : o.tolerance;
            fo.held = held.get();
            fo.contrast_start = a.data();
            fo.settled = !hold && all_settled;
            fit = ring_fit(fi, fo);
            fitted = true;
            // A candidate that was only a side lobe of a stronger pattern
            // fits with a contrast indistinguishable from none, or leaves
            // the volume (which leaves the information matrix singular): it
            // is dropped and the rest refitted.
            const auto inside = [&](std::size_t k) {
                const double z = fit.p[k + 2 * n];
                return std::fabs(fit.p[k]) <= hM && std::fabs(fit.p[k + n]) <= hN &&
                       z >= 0.5 * in.depths[0] && z <= 2.0 * in.depths[in.nz - 1];
            };
            // A row that only absorbs the misfit of a neighbour's pattern
            // shrinks towards r = 0, where the data no longer determine it:
            // a radius below half the smallest scanned one, or a standard
            // error that is not finite, is no particle. It is dropped and
            // the rest refitted.
            const auto measured = [&](std::size_t k) {
                bool finite = true;
                for (int q = 0; q < 4; ++q) finite = finite && std::isfinite(fit.se[k + q * n]);
                return finite && fit.p[k + 3 * n] >= radius_floor;
            };
            bool strayed = false;
            for (std::size_t k = 0; k < n; ++k) strayed = strayed || (!held[k] && !inside(k));
            std::vector<char> keep(n);
            for (std::size_t k = 0; k < n; ++k) {
                keep[k] = held[k] || (inside(k) && measured(k));
                if (o.contrast_free && keep[k] && !held[k] && !strayed)
                    keep[k] = !(std::fabs(fit.contrast[k]) < 0.5 * o.threshold * fit.contrast_se[k]);
            }
            std::vector<double> scores(n);
            for (std::size_t k = 0; k < n; ++k) scores[k] = found[k].score;
            drop_overlaps(fit.p, fit.se, scores, in.pix, keep);
            std::vector<Start> kept;
            for (std::size_t k = 0; k < n; ++k) {
                if (keep[k])
                    kept.push_back({fit.p[k], fit.p[k + n], fit.p[k + 2 * n], fit.p[k + 3 * n],
                                    found[k].score, fit.contrast[k], true});
                else
                    rejected.push_back(found[k]);
            }
            const bool changed = kept.size() != n;
            found = kept;
            if (!changed || found.empty()) break;
        }
    };
    result.message = "no candidate reaches the threshold";
    for (int pass = 0; pass < o.max_passes && found.size() < o.max_count; ++pass) {
        result.passes = pass + 1;
        const double sigma = o.sigma > 0.0 ? o.sigma : noise_sigma(res.data(), w.data(), M, N);
        result.sigma = sigma;
        detection_stack(s, {best.data(), pair.data()}, planner_flags);
        CandidateOptions co = so;
        co.max_count = o.max_count - found.size();
        std::vector<Candidate> cands = stack_candidates(s, {best.data(), pair.data()}, sigma, co);
        // A strong pattern scores well away from its centre too, against
        // templates of other depths (up to about 40% of its own score): only
        // candidates within half of the strongest are taken in one scan; the
        // rest come back, if they are particles, once the strong ones are
        // subtracted.
        while (!cands.empty() && (cands.back().score < kTakenTogether * cands.front().score ||
                                  cands.size() > kMostAPass))
            cands.pop_back();
        std::vector<Start> fresh;
        for (const Candidate& c : cands) {
            const double x = static_cast<double>(c.row) - hM, y = static_cast<double>(c.col) - hN;
            const std::size_t t = c.row + c.col * M;
            const std::size_t iz = static_cast<std::size_t>(c.pair) % in.nz,
                              ir = static_cast<std::size_t>(c.pair) / in.nz;
            double zlo, zhi, rlo, rhi;
            bracket(in.depths, in.nz, iz, zlo, zhi);
            bracket(in.radii, in.nr, ir, rlo, rhi);
            // A residual peak on a particle already fitted (or dropped), at its
            // depth, is what its fit left; a particle straight behind another
            // one, at another depth, is new.
            const double zc = in.depths[iz];
            const double reach = 1.5 * std::max(zc - zlo, zhi - zc);
            bool near = false;
            for (const std::vector<Start>* list : {&found, &rejected}) {
                for (const Start& f : *list)
                    near = near || (std::hypot(f.x - x, f.y - y) < std::max(o.min_separation, 2.0) &&
                                    std::fabs(f.z - zc) <= reach);
            }
            if (near) continue;
            // Close to a stronger candidate of this scan, a peak may be a side
            // lobe of its pattern: it waits for the next scan, on the residual
            // with that pattern subtracted. Side lobes lie within the central
            // Fresnel zones of the pattern that casts them (four here).
            bool shadowed = false;
            for (const Start& f : fresh)
                shadowed = shadowed ||
                           std::hypot(f.x - x, f.y - y) < std::sqrt(4.0 * in.lambda * f.z) / in.pix;
            if (shadowed) continue;
            Start st{x, y, in.depths[iz], in.radii[ir], c.score};
            // Sub-pixel centre from the best map around the peak.
            if (c.row > 0 && c.row + 1 < M) st.x += vertex(best[t - 1], best[t], best[t + 1]);
            if (c.col > 0 && c.col + 1 < N) st.y += vertex(best[t - M], best[t], best[t + M]);
            // The stack's grid is coarse: depth, then radius, then depth
            // again, each by a fine scan of the criterion at the peak.
            // Beyond the sensor a window has nothing to sum.
            const std::size_t H = static_cast<std::size_t>(
                std::min(static_cast<double>(std::max(M, N)),
                         std::max(24.0, std::sqrt(16.0 * in.lambda * st.z) / in.pix)));
            const auto by_z = [&](double z) {
                return window_score(res, w, M, N, c.row, c.col, H, z, st.r, in, K, quad);
            };
            const auto by_r = [&](double r) {
                return window_score(res, w, M, N, c.row, c.col, H, st.z, r, in, K, quad);
            };
            st.z = scan(zlo, zhi, 17, by_z);
            st.r = scan(rlo, rhi, 9, by_r);
            const double dz = (zhi - zlo) / 16;
            st.z = scan(st.z - dz, st.z + dz, 9, by_z);
            // The map is a circular correlation: a pattern near one edge also
            // scores at the opposite one. Summed without wrap-around, such a
            // ghost has nothing to correlate with.
            if (std::sqrt(by_z(st.z)) < std::max(o.threshold, kGhost * c.score) * sigma) {
                rejected.push_back(st);
                continue;
            }
            fresh.push_back(st);
        }
        if (fresh.empty()) {
            result.message = found.empty() ? "no candidate reaches the threshold"
                                            : "no further candidate reaches the threshold";
            break;
        }
        found.insert(found.end(), fresh.begin(), fresh.end());

        fit_found(true);
        if (found.empty()) {
            fitted = false;
            for (std::size_t k = 0; k < npix; ++k) res[k] = w[k] > 0.0 ? data[k] - level : 0.0;
            continue;
        }
        render(in, o, fit, found.size(), model);
        for (std::size_t k = 0; k < npix; ++k) res[k] = w[k] > 0.0 ? data[k] - model[k] : 0.0;
        result.message = found.size() >= o.max_count ? "MaxCount particles found"
                                                     : "MaxPasses scans made";
    }

    // The particles fitted pass by pass among the earlier ones, held: now all
    // together, each from its optimum, for the joint estimate and its errors.
    if (fitted && held_any && !found.empty()) fit_found(false);
    fitted = fitted && !found.empty();
    const std::size_t n = fitted ? found.size() : 0;
    result.n = n;
    if (n == 0) {
        // Without a particle, the level alone: its offset is not separable.
        result.background = level;
        result.background_se = result.sigma / std::sqrt(sw);
        return result;
    }
    result.p = fit.p;
    result.se = fit.se;
    for (const Start& f : found) result.score.push_back(f.score);
    result.contrast = fit.contrast;
    result.contrast_se = fit.contrast_se;
    result.converged = fit.converged;
    result.zr_correlation = fit.zr_correlation;
    result.background = fit.background;
    result.background_se = fit.background_se;
    result.offset = fit.offset;
    result.offset_se = fit.offset_se;
    if (!fit.message.empty() && fit.converged.size() == n &&
        std::find(fit.converged.begin(), fit.converged.end(), false) != fit.converged.end())
        result.message += "; the last fit: " + fit.message;
    return result;
}

}  // namespace partiscope
